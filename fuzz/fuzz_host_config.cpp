// The host configuration string: setConfiguration's parser and checks, and the
// diagnostics it posts. An accepted string must leave settings the driver can
// use; every diagnostic must fit the host's buffer.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "app/HostInterface.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);  // ends at a NUL
    parseInts(text.c_str());
    const int before = uiConfiguration.configured.load();
    const int configured = hostSetConfiguration(text.c_str());
    if (configured != 0) {
        if (uiConfiguration.channelCount.load() > kReportChannels) abort();
        for (int s = 0; s < kStreamCount; ++s) {
            const int16_t d = uiConfiguration.device[s].load();
            if (d < kDeviceDefaultInput && d != kDeviceNotUsed) abort();
        }
    } else if (before != 0) {
        abort();  // a configured library never becomes unconfigured
    }
    char buffer[kDiagTextSize + 64];
    while (hostGetDiagMessage(buffer, sizeof buffer) == 1) {
        if (std::string(buffer).size() >= kDiagTextSize) abort();
    }
    return 0;
}
