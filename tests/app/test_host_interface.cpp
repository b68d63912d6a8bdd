#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "HostTestState.h"
#include "app/HostInterface.h"

namespace {

using Texts = std::vector<std::string>;
const char* const kTesk = "\nDecoding for TESK2 and TESK6 codes\n";
const char* const kFiltered = "Filtered code display selected";

class HostInterface : public ::testing::Test {
protected:
    void SetUp() override { resetHostState(); }
    void TearDown() override { resetHostState(); }

    static void expectSwitches(bool zelt, bool tesk, bool raw) {
        EXPECT_EQ(ReportZelt.load(), zelt);
        EXPECT_EQ(ReportT2.load(), tesk);
        EXPECT_EQ(ReportTw.load(), tesk);
        EXPECT_EQ(bZeltRawOutput.load(), raw);
        EXPECT_EQ(bT2RawOutput.load(), raw);
        EXPECT_EQ(bTwRawOutput.load(), raw);
    }
};

TEST(ParseInts, SplitsOnAnySingleSeparator) {
    EXPECT_EQ(parseInts("4;2 -99x-1/17"), (std::vector<int>{4, 2, -99, -1, 17}));
    EXPECT_EQ(parseInts("1,2,"), (std::vector<int>{1, 2}));
    EXPECT_EQ(parseInts("1,,2"), (std::vector<int>{1}));     // a second separator ends the list
    EXPECT_EQ(parseInts("1, 2"), (std::vector<int>{1, 2}));  // strtol skips the blank
    EXPECT_TRUE(parseInts("abc").empty());
    EXPECT_TRUE(parseInts(nullptr).empty());
    EXPECT_EQ(parseInts("99999999999,-99999999999"), (std::vector<int>{INT_MAX, INT_MIN}));
}

TEST_F(HostInterface, FirstRepeatedAndChangedConfiguration) {
    EXPECT_EQ(hostSetConfiguration("0,6,1,2,3"), 1);
    EXPECT_EQ(takeDiagnostics(),
              (Texts{"\nRequest to update to 0,6,1,2,3 configuration",
                     "\nUpdating L and R sound card settings to 1 device",
                     "\nUpdating C and LFE sound card settings to 2 device",
                     "\nUpdating Ls Rs sound card settings to 3 device", kTesk, kFiltered}));
    EXPECT_EQ(uiConfiguration.configured.load(), 1);
    EXPECT_EQ(uiConfiguration.channelCount.load(), 6);
    for (int s = 0; s < kStreamCount; ++s) {
        EXPECT_EQ(uiConfiguration.device[s].load(), s + 1);
        EXPECT_EQ(uiConfiguration.deviceChannels[s].load(), 2);
    }
    expectSwitches(false, true, false);
    // The first configuration never asks for a reopen, though it changed things.
    EXPECT_EQ(uiConfiguration.reconfigure.load(), 0);

    // The same string again: no update messages, no reopen request.
    EXPECT_EQ(hostSetConfiguration("0,6,1,2,3"), 1);
    EXPECT_EQ(takeDiagnostics(),
              (Texts{"\nRequest to update to 0,6,1,2,3 configuration", kTesk, kFiltered}));
    EXPECT_EQ(uiConfiguration.reconfigure.load(), 0);

    // A changed device asks the driver to reopen the streams.
    EXPECT_EQ(hostSetConfiguration("0,6,1,-1,3"), 1);
    EXPECT_EQ(takeDiagnostics(),
              (Texts{"\nRequest to update to 0,6,1,-1,3 configuration",
                     "\nUpdating C and LFE sound card settings to -1 device", kTesk, kFiltered}));
    EXPECT_EQ(uiConfiguration.reconfigure.load(), 1);
    EXPECT_EQ(uiConfiguration.device[kStreamCLfe].load(), -1);

    // So does a changed channel count alone.
    uiConfiguration.reconfigure = 0;
    hostSetConfiguration("0,2,1,-1,3");
    EXPECT_EQ(uiConfiguration.reconfigure.load(), 1);
    EXPECT_EQ(uiConfiguration.channelCount.load(), 2);
}

TEST_F(HostInterface, UnchangedDeviceKeepsItsChannelCount) {
    // Device 0 equals the load-time value: no update, channel count stays 0.
    hostSetConfiguration("0,6,0,-99,5");
    EXPECT_EQ(takeDiagnostics(),
              (Texts{"\nRequest to update to 0,6,0,-99,5 configuration",
                     "\nUpdating C and LFE sound card settings to -99 device",
                     "\nUpdating Ls Rs sound card settings to 5 device", kTesk, kFiltered}));
    EXPECT_EQ(uiConfiguration.deviceChannels[kStreamLR].load(), 0);
    EXPECT_EQ(uiConfiguration.deviceChannels[kStreamCLfe].load(), 2);
    EXPECT_EQ(uiConfiguration.device[kStreamCLfe].load(), kDeviceNotUsed);
}

TEST_F(HostInterface, ModeWordsZeroToSeven) {
    const char* zelt = "\nDecoding for ZELT codes\n";
    const char* all = "\nDecoding TESK2, TESK6 and ZELT codes\n";
    const struct {
        bool zelt, tesk;
        const char* family;
    } cases[4] = {{false, true, kTesk}, {true, false, zelt}, {true, true, all}, {true, true, all}};
    for (int mode = 0; mode < 8; ++mode) {
        SCOPED_TRACE(mode);
        const bool raw = mode >= 4;
        EXPECT_EQ(hostSetConfiguration((std::to_string(mode) + ",6,1,2,3").c_str()), 1);
        expectSwitches(cases[mode % 4].zelt, cases[mode % 4].tesk, raw);
        EXPECT_EQ(uiConfiguration.mode.load(), mode);
        const Texts texts = takeDiagnostics();
        ASSERT_GE(texts.size(), 3u);
        EXPECT_EQ(texts[texts.size() - 2], cases[mode % 4].family);
        EXPECT_EQ(texts.back(), raw ? "Raw code display selected" : kFiltered);
    }
}

TEST_F(HostInterface, RejectedConfigurationsChangeNothing) {
    const char* const cases[][2] = {
        {"1,6,1,2", "five integers expected, 4 found"},
        {"", "five integers expected, 0 found"},
        {"1,7,1,2,3", "channel count 7 is outside 0..6"},
        {"1,-2,1,2,3", "channel count -2 is outside 0..6"},
        {"1,6,-2,2,3", "L and R device -2 is not a device number"},
        {"1,6,1,-100,3", "C and LFE device -100 is not a device number"},
        {"1,6,1,2,40000", "Ls Rs device 40000 is not a device number"},
    };
    // Before and after a first configuration: the flag comes back unchanged.
    for (int configured = 0; configured < 2; ++configured) {
        if (configured) {
            hostSetConfiguration("0,4,1,2,3");
            takeDiagnostics();
        }
        for (const auto& c : cases) {
            SCOPED_TRACE(c[0]);
            EXPECT_EQ(hostSetConfiguration(c[0]), configured);
            EXPECT_EQ(takeDiagnostics(),
                      (Texts{std::string("\nRequest to update to ") + c[0] + " configuration",
                             std::string("\nConfiguration rejected: ") + c[1]}));
            EXPECT_EQ(uiConfiguration.configured.load(), configured);
            EXPECT_EQ(uiConfiguration.reconfigure.load(), 0);
            EXPECT_EQ(uiConfiguration.mode.load(), 0);
            EXPECT_EQ(uiConfiguration.channelCount.load(), configured ? 4 : 0);
            EXPECT_EQ(uiConfiguration.device[kStreamLR].load(), configured ? 1 : 0);
            expectSwitches(!configured, true, !configured);
        }
    }
    EXPECT_EQ(hostSetConfiguration(nullptr), 1);
    EXPECT_EQ(takeDiagnostics(), (Texts{"\nConfiguration rejected: no configuration text"}));
}

void throwInvalidArgument(int, char**, CTavikReportCallback* report) {
    if (report != nullptr) throw std::invalid_argument("bad channel selection");
}
void throwRuntimeError(int, char**, CTavikReportCallback*) { throw std::runtime_error("no meter"); }

TEST_F(HostInterface, StartDecodingClearsTheFlagAndPrintsWhatEndedTheRun) {
    hostSetConfiguration("0,6,1,2,3");
    using ::testing::internal::CaptureStderr;
    using ::testing::internal::CaptureStdout;
    using ::testing::internal::GetCapturedStderr;
    using ::testing::internal::GetCapturedStdout;
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(startDecodingWith(throwInvalidArgument, 0, nullptr), 1);
    EXPECT_EQ(GetCapturedStdout(), "CTavikReport is created.\n");
    EXPECT_EQ(GetCapturedStderr(), "Invalid argument: bad channel selection\n");
    // The driver must wait for a new configuration; the old values are kept.
    EXPECT_EQ(uiConfiguration.configured.load(), 0);
    EXPECT_EQ(uiConfiguration.channelCount.load(), 6);

    // The report object is made once per process.
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(startDecodingWith(throwRuntimeError, 0, nullptr), 1);
    EXPECT_EQ(GetCapturedStdout(), "");
    EXPECT_EQ(GetCapturedStderr(), "AudioSDK exception caught\nno meter\n");
}

TEST_F(HostInterface, DiagnosticRingDropsTheNewestAndBoundsItsTexts) {
    for (int i = 0; i < 60; ++i) postDiagMessage("message %d", i);
    const Texts texts = takeDiagnostics();
    ASSERT_EQ(texts.size(), 49u);
    for (int i = 0; i < 49; ++i) EXPECT_EQ(texts[i], "message " + std::to_string(i));
    setDiagMessage(nullptr);
    EXPECT_TRUE(takeDiagnostics().empty());

    const std::string longText(300, 'd');
    postDiagMessage("%s", longText.c_str());
    sDiagMessage = longText;
    setDiagMessage(&sDiagMessage);
    char buffer[kDiagTextSize + 16];
    ASSERT_EQ(hostGetDiagMessage(buffer, sizeof buffer), 1);
    EXPECT_EQ(std::strlen(buffer), kDiagTextSize - 1);  // cut by the formatting buffer
    ASSERT_EQ(hostGetDiagMessage(buffer, 100), 1);
    EXPECT_EQ(std::strlen(buffer), 99u);  // cut by the host's buffer
    EXPECT_EQ(hostGetDiagMessage(buffer, sizeof buffer), 0);
}

// ---- detection rings and level meter ----

class ReportRings : public HostReportTest {
protected:
    void put(unsigned int channel, std::string text) { report->setAudioCodes(channel, &text); }
    static std::string take(unsigned int channel) {
        char buffer[512];
        return hostGetAudioCodes(channel, buffer, sizeof buffer) == 1 ? buffer : "<none>";
    }
    void feed(int16_t value, int count, int channel) {
        std::vector<int16_t> samples(count, value);
        report->calculateMeterLevel(samples.data(), count, channel);
    }
    int average = 0;
    int peak = 0;
    bool levels(unsigned int channel) { return hostGetAudioLevels(channel, &average, &peak) == 1; }
};

TEST_F(ReportRings, WrapAroundKeepsOrderAndChannelsApart) {
    // 130 reports in bursts of 7 pass the wrap from slot 49 to 0 several times.
    int written = 0;
    for (int read = 0; read < 130;) {
        for (int k = 0; k < 7 && written < 130; ++k, ++written) {
            put(3, "code " + std::to_string(written));
            put(4, "other " + std::to_string(written));
        }
        for (; read < written; ++read) {
            ASSERT_EQ(take(3), "code " + std::to_string(read));
            ASSERT_EQ(take(4), "other " + std::to_string(read));
        }
        EXPECT_EQ(take(3), "<none>");
    }
    EXPECT_EQ(take(0), "<none>");
    EXPECT_TRUE(takeDiagnostics().empty());
}

TEST_F(ReportRings, FullRingKeepsItsUnreadReports) {
    for (int i = 0; i < 49; ++i) put(0, "r" + std::to_string(i));
    EXPECT_TRUE(takeDiagnostics().empty());
    put(0, "r49");  // the fiftieth unread report has no room
    put(0, "r50");
    EXPECT_EQ(takeDiagnostics(),
              (Texts{"Overwrite in setAudioCodes", "Overwrite in setAudioCodes"}));
    for (int i = 0; i < 49; ++i) ASSERT_EQ(take(0), "r" + std::to_string(i));
    EXPECT_EQ(take(0), "<none>");
    put(0, "after");  // room again after reading
    EXPECT_EQ(take(0), "after");
}

TEST_F(ReportRings, EmptyRingsBoundedCopiesAndChannelsChecked) {
    // Before any report every poll answers 0 and writes nothing.
    char buffer[8] = "untouc";
    average = 7;
    peak = 8;
    for (unsigned int c = 0; c < kReportChannels; ++c) {
        EXPECT_EQ(hostGetAudioCodes(c, buffer, sizeof buffer), 0);
        EXPECT_FALSE(levels(c));
    }
    EXPECT_EQ(hostGetDiagMessage(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "untouc");
    EXPECT_EQ(average, 7);
    EXPECT_EQ(peak, 8);

    put(1, "ABCDEFGH");
    put(1, "second");
    std::memset(buffer, 'x', sizeof buffer);
    // Null buffer or zero length: nothing taken, nothing written.
    EXPECT_EQ(hostGetAudioCodes(1, nullptr, 8), 0);
    EXPECT_EQ(hostGetAudioCodes(1, buffer, 0), 0);
    EXPECT_EQ(buffer[0], 'x');
    // Length 5: four characters and a NUL; the rest of the text is dropped.
    EXPECT_EQ(hostGetAudioCodes(1, buffer, 5), 1);
    EXPECT_STREQ(buffer, "ABCD");
    EXPECT_EQ(buffer[5], 'x');
    EXPECT_EQ(hostGetAudioCodes(1, buffer, 1), 1);
    EXPECT_STREQ(buffer, "");
    EXPECT_EQ(take(1), "<none>");

    // Channels 6 and above touch nothing; a null text is no report.
    put(6, "x");
    put(UINT_MAX, "x");
    report->setAudioCodes(0, nullptr);
    EXPECT_EQ(hostGetAudioCodes(6, buffer, sizeof buffer), 0);
    EXPECT_EQ(hostGetAudioCodes(UINT_MAX, buffer, sizeof buffer), 0);
    EXPECT_EQ(hostGetAudioLevels(6, &average, &peak), 0);
    EXPECT_EQ(hostGetAudioLevels(0, nullptr, &peak), 0);
    for (unsigned int c = 0; c < kReportChannels; ++c) EXPECT_EQ(take(c), "<none>");
    EXPECT_TRUE(takeDiagnostics().empty());
}

TEST_F(ReportRings, LevelMeterSilenceReportsOnThe4801stSample) {
    feed(0, 4800, 2);
    EXPECT_FALSE(levels(2));
    feed(0, 1, 2);
    ASSERT_TRUE(levels(2));
    EXPECT_EQ(peak, -90);      // 20 log10(1/32767) = -90.3
    EXPECT_EQ(average, -207);  // 20 ln(1/32767) = -207.9
    EXPECT_FALSE(levels(2));   // taken once only
}

TEST_F(ReportRings, LevelMeterReportPointsInBlocksOf480) {
    // 4801 samples make a report: inside the 11th block of 480, then again 4801
    // samples later, inside the 21st.
    for (int block = 1; block <= 21; ++block) {
        feed(1000, 480, 0);
        EXPECT_EQ(levels(0), block == 11 || block == 21) << block;
    }
    // Steady running average 1000: 20 ln(999/32767) = -69.8, 20 log10(1000/32767) = -30.3.
    EXPECT_EQ(average, -69);
    EXPECT_EQ(peak, -30);
}

TEST_F(ReportRings, LevelMeterFullScaleAndChannelsOutOfRange) {
    feed(-32768, 4801, 1);
    ASSERT_TRUE(levels(1));
    EXPECT_EQ(peak, 0);
    EXPECT_EQ(average, -13);  // running average (0 + 32767) / 2: 20 ln(16383/32767) = -13.9
    // One large call: reports every 4801 samples, the latest one is kept.
    feed(32767, 4801 * 5, 1);
    ASSERT_TRUE(levels(1));
    EXPECT_EQ(peak, 0);

    // Channels 6 and above or below 0, null or empty input: nothing published.
    for (int channel = 6; channel < 9; ++channel) feed(500, 9000, channel);
    feed(500, 9000, -1);
    report->calculateMeterLevel(nullptr, 480, 0);
    feed(500, 0, 0);
    for (unsigned int c = 0; c < kReportChannels; ++c) EXPECT_FALSE(levels(c));
}

}  // namespace
