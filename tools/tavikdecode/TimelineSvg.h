// Draws the codes found in one file as an SVG timeline: one row per channel and
// family, time running left to right over the whole file, one mark per code
// whose <title> (shown as a tooltip) names family, layer, identifier and time.
#pragma once

#include <string>
#include <vector>

#include "tools/tavikdecode/CFileReport.h"

class TimelineSvg {
public:
    // title: shown above the rows (the file name). seconds: length of the file.
    // channels: the channels that were decoded; families: the families decoded
    // ("TESK6", "TESK2", "ZELT"), one row each per channel even when empty.
    // Returns false with a reason in *error when the file cannot be written.
    static bool Write(const std::string& path, const std::string& title, double seconds,
                      const std::vector<unsigned>& channels,
                      const std::vector<std::string>& families,
                      const std::vector<CFileReport::Detection>& detections, std::string* error);

    // Text with &, <, >, " and ' replaced by XML entities.
    static std::string Escape(const std::string& text);
};
