// The filtered TESK 2 callback fed a sequence of texts (one per line), as the
// decoder hands them on: redundancy check, detection filter, distribution
// tally, duplicate step and time-code anchors. What reaches the host must be a
// TESK 2 text; a detection it cannot read is refused with std::runtime_error.
#include <cstdint>
#include <stdexcept>
#include <string>

#include "app/CHybridDecoderFilteredCallback.h"
#include "app/HostInterface.h"
#include "fuzz/FuzzLines.h"
#include "fuzz/FuzzReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzReport report("TESK2");
    static SampleAppConfigurationData cfg = report.Config();
    ReportT2 = true;
    bT2RawOutput = false;
    CHybridDecoderFilteredCallback callback;
    char name[] = "ch0";
    callback.init(&cfg, 1, 2, 0, name);
    for (const std::string& text : FuzzLines(data, size)) {
        try {
            callback.ResultCallback(text);
        } catch (const std::runtime_error&) {
        }
    }
    diagMessage.reset();
    return 0;
}
