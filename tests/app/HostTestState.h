// Helpers for tests of the host boundary: put the process-wide host state back to
// its load-time values, read the diagnostic ring, and look for texts in order.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CTavikReportImplementation.h"
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

// Position of the first text at or after `from` that contains `text`, or -1.
inline int findText(const std::vector<std::string>& texts, const std::string& text, int from = 0) {
    for (int i = from; i < static_cast<int>(texts.size()); ++i) {
        if (texts[i].find(text) != std::string::npos) return i;
    }
    return -1;
}

// Every one of `wanted` appears in `texts`, in this order, from `at` on; returns
// the position after the last one, or -1 after reporting the first one missing
// (with `context`).
inline int expectInOrder(const std::vector<std::string>& texts,
                         const std::vector<std::string>& wanted, int at = 0,
                         const std::string& context = "") {
    for (const std::string& text : wanted) {
        const int found = findText(texts, text, at);
        EXPECT_GE(found, 0) << "missing or out of order: " << text << "\n" << context;
        if (found < 0) return -1;
        at = found + 1;
    }
    return at;
}

// A fresh host state and a report object (its creation notice kept off the output).
class HostReportTest : public ::testing::Test {
protected:
    void SetUp() override {
        resetHostState();
        ::testing::internal::CaptureStdout();
        report = new CTavikReportImplementation();
    }
    void TearDown() override {
        delete report;
        ::testing::internal::GetCapturedStdout();
        resetHostState();
    }
    CTavikReportImplementation* report = nullptr;
};
