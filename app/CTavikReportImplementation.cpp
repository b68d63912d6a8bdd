#include "app/CTavikReportImplementation.h"

#include <cmath>
#include <cstdio>

#include "app/HostInterface.h"

CTavikReportImplementation::CTavikReportImplementation() { std::puts("CTavikReport is created."); }

CTavikReportImplementation::~CTavikReportImplementation() { std::puts("CTavikReport is deleted."); }

void CTavikReportImplementation::setAudioCodes(unsigned int channel, std::string* text) {
    if (channel >= kReportChannels || text == nullptr) {
        return;
    }
    // A full ring keeps the reports the host has not read yet; this one is lost.
    if (!reportedChannel[channel].push(*text)) {
        std::string message("Overwrite in setAudioCodes");
        setDiagMessage(&message);
    }
}

void CTavikReportImplementation::LogCallbackMessage(int /*level*/, char* text) {
    if (text == nullptr) {
        return;
    }
    std::printf("%s\n", text);
}

void CTavikReportImplementation::calculateMeterLevel(void* samples, int count, int channel) {
    if (samples == nullptr || count <= 0 || channel < 0 || channel >= kMeterChannels) {
        return;
    }
    const int16_t* pcm = static_cast<const int16_t*>(samples);
    int16_t& peak = peak_[channel];
    int32_t& average = runningAverage_[channel];
    uint32_t& counter = sampleCount_[channel];

    int64_t sum = 0;
    for (int i = 0; i < count; ++i) {
        int32_t magnitude = pcm[i] < 0 ? -static_cast<int32_t>(pcm[i]) : pcm[i];
        if (magnitude > 32767) {
            magnitude = 32767;  // -32768 has no positive 16-bit counterpart
        }
        if (magnitude == 0) {
            magnitude = 1;  // keeps the logarithms finite
        }
        if (magnitude > peak) {
            peak = static_cast<int16_t>(magnitude);
        }
        sum += magnitude;
        if (counter++ < kMeterReportInterval) {
            continue;
        }
        if (peak == 0) {
            peak = 1;
        }
        const int32_t peakLevel = static_cast<int32_t>(20.0f * std::log10(peak / 32767.0f));
        average = static_cast<int32_t>((average + static_cast<int32_t>(sum / (i + 1))) / 2);
        if (average == 0) {
            average = 1;
        }
        const int32_t averageLevel =
            static_cast<int32_t>(20.0 * static_cast<double>(std::log(average / 32767.0f)));
        if (channel < static_cast<int>(kReportChannels)) {
            reportedAudioLevelChannel[channel].publish(averageLevel, peakLevel);
        }
        peak = 0;
        counter = 0;
        average = 0;
    }
    average = static_cast<int32_t>((average + static_cast<int32_t>(sum / count)) / 2);
}
