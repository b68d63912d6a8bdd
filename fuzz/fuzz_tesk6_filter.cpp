// The TESK 6 detection filter fed a sequence of detection texts (one per
// line): parsing, the ring of recent detections and the pairing walk. A text
// that is not a detection is refused with the documented C-string exception.
#include <cstdint>
#include <string>
#include <vector>

#include "decoders/tesk6/CTesk6DCFilter.h"
#include "fuzz/FuzzLines.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static CTesk6DCFilter filter;
    filter.initDCFilter();
    std::vector<std::string> out;
    for (const std::string& text : FuzzLines(data, size)) {
        try {
            filter.ProcessDetection(text, out);
        } catch (const char*) {
        }
    }
    return 0;
}
