// The filtered ZELT callback fed a sequence of texts (one per line), as the
// decoder hands them on. What reaches the host must be a ZELT text.
#include <cstdint>
#include <string>

#include "app/HostInterface.h"
#include "app/ZELTDecoderFilteredCallback.h"
#include "fuzz/FuzzLines.h"
#include "fuzz/FuzzReport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static FuzzReport report("ZELT");
    static SampleAppConfigurationData cfg = report.Config();
    ReportZelt = true;
    bZeltRawOutput = false;
    ZELTDecoderFilteredCallback callback;
    char name[] = "ch0";
    callback.init(&cfg, 2, 1, 8, name);
    for (const std::string& text : FuzzLines(data, size)) callback.ResultCallback(text);
    diagMessage.reset();
    return 0;
}
