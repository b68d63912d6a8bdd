#include <cstdio>

#include "app/HostInterface.h"

// Stand-in until the decode driver joins the library: the host gets a clear
// message instead of a silent return.
void runDecoder(int /*argc*/, char** /*argv*/, CTavikReportCallback* /*report*/) {
    std::fputs("Decode driver is not available in this build.\n", stderr);
}
