// The host report object as the decoders see it: the one way detection texts,
// log lines and audio levels leave the library towards the host.
#pragma once

#include <string>

class CTavikReportCallback {
public:
    // Queues one detection text for the host on ring `channel` (0..5). The text is
    // copied; the caller keeps ownership. A null text, a channel of 6 or above or
    // a full ring drops the report (a full ring also posts the diagnostic
    // "Overwrite in setAudioCodes"). Called from the decoder thread only.
    virtual void setAudioCodes(unsigned int channel, std::string* text) = 0;

    // Writes `text` and a newline to standard output; `level` is not used.
    virtual void LogCallbackMessage(int level, char* text) = 0;

    // Feeds `count` 16-bit signed samples of audio channel `channel` (0..7) to the
    // level meter; channels 0..5 publish their levels to the host.
    virtual void calculateMeterLevel(void* samples, int count, int channel) = 0;

    virtual ~CTavikReportCallback() = default;
};
