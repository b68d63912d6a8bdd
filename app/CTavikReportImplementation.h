// The library's host report object: writes detection texts into the per-channel
// host rings and turns captured samples into the per-channel level records that
// getAudioLevels hands to the host (app/HostInterface.h).
#pragma once

#include <cstdint>
#include <string>

#include "app/CTavikReportCallback.h"

class CTavikReportImplementation : public CTavikReportCallback {
public:
    // Number of channels the level meter keeps state for; only channels below
    // kReportChannels (6) have a level record the host can read.
    static constexpr int kMeterChannels = 8;
    // Samples between two level reports: a report is made on the 4801st sample
    // since the previous one.
    static constexpr uint32_t kMeterReportInterval = 4800;

    // Prints "CTavikReport is created." on standard output.
    CTavikReportImplementation();
    // Prints "CTavikReport is deleted." on standard output.
    ~CTavikReportImplementation() override;

    CTavikReportImplementation(const CTavikReportImplementation&) = delete;
    CTavikReportImplementation& operator=(const CTavikReportImplementation&) = delete;

    // See CTavikReportCallback::setAudioCodes. Single writer per channel.
    void setAudioCodes(unsigned int channel, std::string* text) override;

    // Writes `text` and a newline to standard output (a null text prints nothing).
    void LogCallbackMessage(int level, char* text) override;

    // Level meter over `count` 16-bit signed samples of `channel`.
    // Per sample: magnitude |s| (-32768 counts as 32767, 0 counts as 1) updates
    // the channel's peak and the call's 64-bit sum; on every sample whose
    // per-channel counter was already at kMeterReportInterval before counting it,
    // a report is made:
    //   peak level    = trunc(20 * log10f(peak / 32767.0f))   (dBFS, at most 0)
    //   running avg   = (running avg + sum / (i + 1)) / 2, 0 becomes 1
    //   average level = trunc(20.0 * logf(running avg / 32767.0f))  (natural log)
    // the levels are published for channels 0..5 (getAudioLevels), and peak,
    // counter and running average restart from 0. After the last sample the
    // running average becomes (running avg + sum / count) / 2. Integer divisions
    // truncate toward zero; the sum covers the whole call.
    // Null samples, count <= 0 or channel outside 0..7 do nothing.
    // Called from the decoder thread only.
    void calculateMeterLevel(void* samples, int count, int channel) override;

private:
    int16_t peak_[kMeterChannels] = {};
    int32_t runningAverage_[kMeterChannels] = {};
    uint32_t sampleCount_[kMeterChannels] = {};
};
