// Helpers for tests of the host boundary: put the process-wide host state back to
// its load-time values and read the diagnostic ring.
#pragma once

#include <string>
#include <vector>

#include "app/HostInterface.h"

inline void resetHostState() {
    uiConfiguration.mode = 0;
    uiConfiguration.channelCount = 0;
    for (int s = 0; s < kStreamCount; ++s) {
        uiConfiguration.device[s] = 0;
        uiConfiguration.deviceChannels[s] = 0;
    }
    uiConfiguration.configured = 0;
    uiConfiguration.reconfigure = 0;
    for (auto& ring : reportedChannel) ring.reset();
    diagMessage.reset();
    for (auto& level : reportedAudioLevelChannel) {
        level.levels = audioLevel_t::kNoLevels;
    }
    ReportZelt = ReportT2 = ReportTw = true;
    bZeltRawOutput = bT2RawOutput = bTwRawOutput = true;
}

// Every diagnostic waiting in the ring, oldest first.
inline std::vector<std::string> takeDiagnostics() {
    std::vector<std::string> texts;
    char buffer[kDiagTextSize];
    while (hostGetDiagMessage(buffer, sizeof buffer) == 1) texts.emplace_back(buffer);
    return texts;
}
