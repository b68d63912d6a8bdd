#include "tools/tavikdecode/TimelineSvg.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>

namespace {

constexpr double kLeft = 150;  // room for the row labels
constexpr double kRight = 20;
constexpr double kTop = 50;  // title and time axis
constexpr double kRowHeight = 28;
constexpr double kPlotWidth = 1000;

const char* ColourOf(const std::string& family) {
    if (family == "TESK6") return "#1f77b4";
    if (family == "TESK2") return "#d62728";
    if (family == "ZELT") return "#2ca02c";
    return "#7f7f7f";
}

// A tick spacing giving about ten ticks over the file.
double TickStep(double seconds) {
    static const double kSteps[] = {0.1, 0.2, 0.5, 1,   2,   5,    10,  15,
                                    30,  60,  120, 300, 600, 1800, 3600};
    for (double s : kSteps) {
        if (seconds / s <= 12) return s;
    }
    return 7200;
}

}  // namespace

std::string TimelineSvg::Escape(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            case '\'':
                out += "&apos;";
                break;
            default:
                // Control characters are not allowed in XML 1.0 text.
                if (static_cast<unsigned char>(c) >= 0x20 || c == '\t' || c == '\n') out += c;
                break;
        }
    }
    return out;
}

bool TimelineSvg::Write(const std::string& path, const std::string& title, double seconds,
                        const std::vector<unsigned>& channels,
                        const std::vector<std::string>& families,
                        const std::vector<CFileReport::Detection>& detections, std::string* error) {
    // Rows: every decoded channel x family, plus rows for codes of an unknown
    // family should any arrive.
    std::vector<std::string> rowFamilies = families;
    for (const auto& d : detections) {
        if (std::find(rowFamilies.begin(), rowFamilies.end(), d.family) == rowFamilies.end())
            rowFamilies.push_back(d.family);
    }
    std::map<std::pair<unsigned, std::string>, size_t> rowOf;
    std::vector<std::pair<unsigned, std::string>> rows;
    std::vector<unsigned> allChannels = channels;
    for (const auto& d : detections) {
        if (std::find(allChannels.begin(), allChannels.end(), d.channel) == allChannels.end())
            allChannels.push_back(d.channel);
    }
    for (unsigned c : allChannels) {
        for (const auto& f : rowFamilies) {
            rowOf[{c, f}] = rows.size();
            rows.emplace_back(c, f);
        }
    }

    const double length = seconds > 0 ? seconds : 1.0;
    const double width = kLeft + kPlotWidth + kRight;
    const double height = kTop + kRowHeight * static_cast<double>(rows.size()) + 30;
    auto xOf = [&](double t) {
        return kLeft + kPlotWidth * std::min(std::max(t, 0.0), length) / length;
    };

    std::FILE* f = std::fopen(path.c_str(), "w");
    if (f == nullptr) {
        *error = "cannot write " + path;
        return false;
    }
    std::fprintf(f, "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n");
    std::fprintf(f,
                 "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%.0f\" height=\"%.0f\" "
                 "viewBox=\"0 0 %.0f %.0f\" font-family=\"sans-serif\" font-size=\"12\">\n",
                 width, height, width, height);
    std::fprintf(f, "<title>%s</title>\n", Escape(title).c_str());
    std::fprintf(f, "<rect width=\"100%%\" height=\"100%%\" fill=\"white\"/>\n");
    std::fprintf(f, "<text x=\"%.0f\" y=\"18\" font-size=\"14\">%s: %zu codes over %.1f s</text>\n",
                 kLeft, Escape(title).c_str(), detections.size(), seconds);

    // Time axis with ticks and light grid lines.
    const double step = TickStep(length);
    const double plotBottom = kTop + kRowHeight * static_cast<double>(rows.size());
    for (double t = 0; t <= length + 1e-9; t += step) {
        const double x = xOf(t);
        std::fprintf(f,
                     "<line x1=\"%.1f\" y1=\"%.0f\" x2=\"%.1f\" y2=\"%.0f\" stroke=\"#dddddd\"/>\n",
                     x, kTop - 6, x, plotBottom);
        std::fprintf(f, "<text x=\"%.1f\" y=\"%.0f\" text-anchor=\"middle\">%g s</text>\n", x,
                     kTop - 10, t);
    }

    // Row labels and baselines.
    for (size_t r = 0; r < rows.size(); ++r) {
        const double y = kTop + kRowHeight * (static_cast<double>(r) + 0.5);
        std::fprintf(f, "<text x=\"8\" y=\"%.1f\" dominant-baseline=\"middle\">ch%u %s</text>\n", y,
                     rows[r].first, Escape(rows[r].second).c_str());
        std::fprintf(f,
                     "<line x1=\"%.0f\" y1=\"%.1f\" x2=\"%.0f\" y2=\"%.1f\" stroke=\"#999999\"/>\n",
                     kLeft, y, kLeft + kPlotWidth, y);
    }

    // One mark per code.
    for (const auto& d : detections) {
        const size_t r = rowOf[{d.channel, d.family}];
        const double y = kTop + kRowHeight * static_cast<double>(r) + 4;
        std::string tip = "ch" + std::to_string(d.channel) + " " + d.family;
        if (!d.layer.empty()) tip += " layer " + d.layer;
        if (!d.identifier.empty()) tip += " " + d.identifier;
        char at[32];
        std::snprintf(at, sizeof at, " at %.2f s", d.seconds);
        tip += at;
        std::fprintf(f,
                     "<rect x=\"%.1f\" y=\"%.1f\" width=\"3\" height=\"%.0f\" fill=\"%s\">"
                     "<title>%s</title></rect>\n",
                     xOf(d.seconds) - 1.5, y, kRowHeight - 8, ColourOf(d.family),
                     Escape(tip).c_str());
    }
    std::fprintf(f, "</svg>\n");
    const bool ok = (std::ferror(f) == 0);
    if (std::fclose(f) != 0 || !ok) {
        *error = "cannot write " + path;
        return false;
    }
    return true;
}
