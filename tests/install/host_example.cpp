// A tiny host program built against an installed libtavik3 (through pkg-config
// and through the CMake package). It links all five host functions, and checks
// what a host sees without starting the decoder: empty queues, the
// configuration messages in order, a rejected configuration, a truncated take.
// Prints "host ok" and exits 0, or names the first difference and exits 1.
#include <tavik3.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static int failures = 0;

static void check(bool ok, const std::string& what) {
    if (!ok) {
        std::fprintf(stderr, "host: %s\n", what.c_str());
        ++failures;
    }
}

// Every diagnostic waiting now, in order.
static std::vector<std::string> takeDiagnostics() {
    std::vector<std::string> texts;
    char buffer[240];
    while (getDiagMessage(buffer, sizeof buffer) == 1) texts.push_back(buffer);
    return texts;
}

static void expectDiagnostics(const std::vector<std::string>& expected, const char* after) {
    const std::vector<std::string> got = takeDiagnostics();
    check(got == expected, std::string("diagnostics after ") + after + " differ; got:");
    if (got != expected)
        for (const std::string& text : got) std::fprintf(stderr, "  [%s]\n", text.c_str());
}

int main() {
    // All five are linked; startDecoding would run the decoder, so only its
    // address is taken.
    int (*volatile start)(int, char**) = &startDecoding;
    check(start != nullptr, "startDecoding not linked");

    char buffer[64];
    std::memset(buffer, 'x', sizeof buffer);
    check(getDiagMessage(buffer, sizeof buffer) == 0, "a diagnostic before any call");
    check(getAudioCodes(0, buffer, sizeof buffer) == 0, "a code before decoding");
    check(getAudioCodes(6, buffer, sizeof buffer) == 0, "channel 6 answered");
    check(buffer[0] == 'x', "an empty take wrote into the buffer");
    int average = 1, peak = 1;
    check(getAudioLevels(0, &average, &peak) == 0 && average == 1 && peak == 1,
          "levels before decoding");

    char first[] = "2,2,-1,-99,-99";
    check(setConfiguration(first) == 1, "accepted configuration did not return 1");
    expectDiagnostics({"\nRequest to update to 2,2,-1,-99,-99 configuration",
                       "\nUpdating L and R sound card settings to -1 device",
                       "\nUpdating C and LFE sound card settings to -99 device",
                       "\nUpdating Ls Rs sound card settings to -99 device",
                       "\nDecoding TESK2, TESK6 and ZELT codes\n", "Filtered code display selected"},
                      "the first configuration");

    char rejected[] = "1,7,-1,-99,-99";
    check(setConfiguration(rejected) == 1, "configured state lost by a rejected text");
    expectDiagnostics({"\nRequest to update to 1,7,-1,-99,-99 configuration",
                       "\nConfiguration rejected: channel count 7 is outside 0..6"},
                      "a rejected configuration");

    char raw[] = "5 2 -1 -99 -99";
    check(setConfiguration(raw) == 1, "second configuration");
    char small[8];
    check(getDiagMessage(small, sizeof small) == 1 && std::strcmp(small, "\nReques") == 0,
          "a short buffer does not get the first 7 bytes");
    expectDiagnostics({"\nDecoding for ZELT codes\n", "Raw code display selected"},
                      "a raw ZELT configuration");

    if (failures == 0) std::printf("host ok\n");
    return failures == 0 ? 0 : 1;
}
