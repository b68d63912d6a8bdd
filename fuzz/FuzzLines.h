// Helpers shared by the fuzz targets.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Splits an input into texts at each newline (a text may hold any other byte,
// NUL included), so one input drives a stateful filter through a sequence.
inline std::vector<std::string> FuzzLines(const uint8_t* data, size_t size) {
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n') {
            lines.push_back(line);
            line.clear();
        } else {
            line.push_back(char(data[i]));
        }
    }
    lines.push_back(line);
    return lines;
}
