// Host report object of the file decoder. The meter's report callbacks hand it
// every code exactly as a host would receive it from getAudioCodes; it prints
// each one as a line {"channel":N,"detection":<text>} on its output stream,
// counts the codes per channel and family, and keeps them for the timeline.
#pragma once

#include <cstdint>
#include <cstdio>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/CTavikReportCallback.h"

class CFileReport : public CTavikReportCallback {
public:
    // One code as delivered, with what the timeline needs from it.
    struct Detection {
        unsigned channel = 0;
        std::string family;      // "TESK6", "TESK2", "ZELT" (the text's one key), "?" otherwise
        std::string layer;       // "PROG", "COMM_STD", "COMM_RS", or the ZELT layer number
        std::string identifier;  // "sid 4660 (0x1234)", "commId 0x...", "id 0x1234"
        double seconds = 0;      // position in the file
        std::string text;        // the detection text as delivered
    };

    // `out` receives the JSON lines (not owned; flushed by the caller).
    explicit CFileReport(std::FILE* out) : out_(out) {}

    // Starts a new file: clears counts and kept detections.
    void BeginFile();
    // Audio time (seconds) fed to `channel` so far; used as a code's position
    // when its text carries no usable "elapsedTime".
    void SetPosition(unsigned channel, double seconds) { position_[channel] = seconds; }

    // Prints one line; a text that is not JSON is written as a JSON string.
    // Null texts are ignored.
    void setAudioCodes(unsigned int channel, std::string* text) override;
    // Diagnostics of the decoders go to standard error.
    void LogCallbackMessage(int level, char* text) override;
    // The file decoder shows no levels.
    void calculateMeterLevel(void*, int, int) override {}

    // Codes per (channel, family) of the current file.
    const std::map<std::pair<unsigned, std::string>, uint64_t>& Counts() const { return counts_; }
    const std::vector<Detection>& Detections() const { return detections_; }

    // Reads family, layer, identifier and position from a detection text.
    // Returns false when the text is not a JSON object with one of the three keys.
    static bool Describe(const std::string& text, Detection* d);

private:
    std::FILE* out_;
    std::map<unsigned, double> position_;
    std::map<std::pair<unsigned, std::string>, uint64_t> counts_;
    std::vector<Detection> detections_;
};
