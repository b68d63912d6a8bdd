#include "app/HostInterface.h"

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <iostream>
#include <stdexcept>
#include <thread>

#include "app/CTavikReportImplementation.h"

uiConfiguration_t uiConfiguration;
pReportedChannel reportedChannel[kReportChannels];
pDiagMessage diagMessage;
audioLevel_t reportedAudioLevelChannel[kReportChannels];

std::atomic<bool> ReportZelt{true};
std::atomic<bool> ReportT2{true};
std::atomic<bool> ReportTw{true};
std::atomic<bool> bZeltRawOutput{true};
std::atomic<bool> bT2RawOutput{true};
std::atomic<bool> bTwRawOutput{true};

thread_local std::string sDiagMessage;

namespace {

// Diagnostics come from the decoder thread, the sound library's callback threads
// and the host thread (setConfiguration), while the ring takes one writer at a
// time. Posting is rare and short, so a spin lock on the writing side is enough;
// the host's reading side stays lock-free.
std::atomic_flag diagWriterBusy = ATOMIC_FLAG_INIT;

void vpostDiag(const char* format, va_list args) {
    char text[kDiagTextSize];
    std::vsnprintf(text, sizeof text, format, args);
    std::string message(text);
    setDiagMessage(&message);
}

void postDiag(const char* format, ...) __attribute__((format(printf, 1, 2)));
void postDiag(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vpostDiag(format, args);
    va_end(args);
}

}  // namespace

void audioLevel_t::publish(int32_t average, int32_t peak) {
    const uint32_t a = static_cast<uint32_t>(average < 0 ? average : 0);
    const uint32_t p = static_cast<uint32_t>(peak < 0 ? peak : 0);
    levels.store((static_cast<uint64_t>(a) << 32) | p, std::memory_order_release);
}

bool audioLevel_t::take(int32_t* average, int32_t* peak) {
    const uint64_t packed = levels.exchange(kNoLevels, std::memory_order_acq_rel);
    if (packed == kNoLevels) {
        return false;
    }
    *average = static_cast<int32_t>(static_cast<uint32_t>(packed >> 32));
    *peak = static_cast<int32_t>(static_cast<uint32_t>(packed));
    return true;
}

void setDiagMessage(std::string* text) {
    if (text == nullptr) {
        return;
    }
    while (diagWriterBusy.test_and_set(std::memory_order_acquire)) {
        std::this_thread::yield();
    }
    diagMessage.push(*text);  // a full ring drops this message
    diagWriterBusy.clear(std::memory_order_release);
}

void postDiagMessage(const char* format, ...) {
    va_list args;
    va_start(args, format);
    vpostDiag(format, args);
    va_end(args);
}

std::vector<int> parseInts(const char* text) {
    std::vector<int> values;
    if (text == nullptr) {
        return values;
    }
    const char* p = text;
    for (;;) {
        char* end = nullptr;
        errno = 0;
        const long value = std::strtol(p, &end, 10);
        if (end == p) {
            break;
        }
        if (value > INT_MAX) {
            values.push_back(INT_MAX);
        } else if (value < INT_MIN) {
            values.push_back(INT_MIN);
        } else {
            values.push_back(static_cast<int>(value));
        }
        p = end;
        if (*p == '\0') {
            break;
        }
        ++p;  // exactly one separator character, whatever it is
    }
    return values;
}

int hostStartDecoding(int argc, char** argv) { return startDecodingWith(runDecoder, argc, argv); }

int startDecodingWith(DecoderRunner runner, int argc, char** argv) {
    uiConfiguration.configured.store(0, std::memory_order_release);
    // One host report object per process, never deleted: report callbacks keep
    // pointers to it for as long as the process runs.
    static CTavikReportImplementation* const report = new CTavikReportImplementation();
    try {
        if (runner != nullptr) {
            runner(argc, argv, report);
        }
    } catch (const std::invalid_argument& e) {
        std::cerr << "Invalid argument: " << e.what() << std::endl;
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "AudioSDK exception caught" << std::endl << e.what() << std::endl;
        return 1;
    }
    return 0;
}

namespace {

struct StreamName {
    const char* update;  // format of the update message
    const char* name;    // name in rejection messages
};

constexpr StreamName kStreamNames[kStreamCount] = {
    {"\nUpdating L and R sound card settings to %d device", "L and R"},
    {"\nUpdating C and LFE sound card settings to %d device", "C and LFE"},
    {"\nUpdating Ls Rs sound card settings to %d device", "Ls Rs"},
};

bool validDevice(int device) {
    return device == kDeviceNotUsed || (device >= kDeviceDefaultInput && device <= INT16_MAX);
}

}  // namespace

int hostSetConfiguration(const char* text) {
    uiConfiguration_t& config = uiConfiguration;
    if (text == nullptr) {
        postDiag("\nConfiguration rejected: no configuration text");
        return config.configured.load(std::memory_order_acquire);
    }
    const std::vector<int> values = parseInts(text);
    postDiag("\nRequest to update to %s configuration", text);

    // Check everything before changing anything.
    if (values.size() < 5) {
        postDiag("\nConfiguration rejected: five integers expected, %zu found", values.size());
        return config.configured.load(std::memory_order_acquire);
    }
    const int channelCount = values[1];
    if (channelCount < 0 || channelCount > static_cast<int>(kReportChannels)) {
        postDiag("\nConfiguration rejected: channel count %d is outside 0..%u", channelCount,
                 kReportChannels);
        return config.configured.load(std::memory_order_acquire);
    }
    for (int s = 0; s < kStreamCount; ++s) {
        if (!validDevice(values[2 + s])) {
            postDiag("\nConfiguration rejected: %s device %d is not a device number",
                     kStreamNames[s].name, values[2 + s]);
            return config.configured.load(std::memory_order_acquire);
        }
    }

    const uint16_t mode = static_cast<uint16_t>(values[0]);
    config.mode.store(mode);

    bool changed = false;
    if (config.channelCount.load() != channelCount) {
        config.channelCount.store(static_cast<uint16_t>(channelCount));
        changed = true;
    }
    for (int s = 0; s < kStreamCount; ++s) {
        const int16_t device = static_cast<int16_t>(values[2 + s]);
        if (config.device[s].load() != device) {
            config.device[s].store(device);
            config.deviceChannels[s].store(2);
            changed = true;
            postDiag(kStreamNames[s].update, device);
        }
    }
    const bool wasConfigured = config.configured.load(std::memory_order_acquire) != 0;
    if (changed && wasConfigured) {
        config.reconfigure.store(1, std::memory_order_release);
    }

    switch (mode & kModeFamilyMask) {
        case 0:
            ReportT2 = true;
            ReportTw = true;
            ReportZelt = false;
            postDiag("\nDecoding for TESK2 and TESK6 codes\n");
            break;
        case 1:
            ReportZelt = true;
            ReportT2 = false;
            ReportTw = false;
            postDiag("\nDecoding for ZELT codes\n");
            break;
        default:
            ReportZelt = true;
            ReportT2 = true;
            ReportTw = true;
            postDiag("\nDecoding TESK2, TESK6 and ZELT codes\n");
            break;
    }
    const bool raw = (mode & kModeRawDisplay) != 0;
    bZeltRawOutput = raw;
    bT2RawOutput = raw;
    bTwRawOutput = raw;
    postDiag(raw ? "Raw code display selected" : "Filtered code display selected");

    // Last, so a driver that sees the flag also sees every setting above.
    config.configured.store(1, std::memory_order_release);
    return 1;
}

int hostGetAudioCodes(unsigned int channel, char* buffer, unsigned int length) {
    if (channel >= kReportChannels) {
        return 0;
    }
    return reportedChannel[channel].pop(buffer, length);
}

int hostGetAudioLevels(unsigned int channel, int* average, int* peak) {
    if (channel >= kReportChannels || average == nullptr || peak == nullptr) {
        return 0;
    }
    int32_t a = 0;
    int32_t p = 0;
    if (!reportedAudioLevelChannel[channel].take(&a, &p)) {
        return 0;
    }
    *average = a;
    *peak = p;
    return 1;
}

int hostGetDiagMessage(char* buffer, unsigned int length) {
    return diagMessage.pop(buffer, length);
}
