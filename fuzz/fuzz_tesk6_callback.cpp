// The filtered TESK 6 callback fed a sequence of texts (one per line), as the
// decoder hands them on: redundancy check, detection filter, duplicate step and
// time-code anchors. What reaches the host must be a TESK 6 text; a text that
// is not JSON is refused with std::runtime_error, a JSON text that is not a
// detection with the detection filter's C-string exception (both documented).
#include <cstdint>
#include <stdexcept>
#include <string>

#include "app/CTesk6DecoderFilteredCallback.h"
#include "app/HostInterface.h"
#include "fuzz/FuzzLines.h"
#include "fuzz/FuzzReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzReport report("TESK6");
    static SampleAppConfigurationData cfg = report.Config();
    ReportTw = true;
    bTwRawOutput = false;
    CTesk6DecoderFilteredCallback callback;
    char name[] = "ch0";
    callback.init(&cfg, 4, 1, 4, name);
    for (const std::string& text : FuzzLines(data, size)) {
        try {
            callback.ResultCallback(text);
        } catch (const std::runtime_error&) {
        } catch (const char*) {
        }
    }
    diagMessage.reset();
    return 0;
}
