// Measurement (disabled by default; run with --gtest_also_run_disabled_tests):
// detection against level for the three TESK 6 message kinds in pink noise.
// For each watermark-to-host ratio (2 dB steps down from -20 dB) a 60 s file
// is decoded through the meter; a repetition counts as confirmed when a host
// report with the right content has its elapsed time within the repetition
// (start to end + 1 s). Prints the coverage per ratio and the time to the
// first right report.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

#include "T6Pipeline.h"
#include "app/HostInterface.h"
#include "generators/SignalMix.h"
#include "generators/Tesk6Generator.h"

using namespace Kelvane::Generators;

TEST(Tesk6Level, DISABLED_DetectionAgainstLevel) {
    ReportTw = true;
    bTwRawOutput = false;
    const double seconds = 60.0;
    const struct {
        Tesk6Kind kind;
        const char* layer;
    } kKinds[] = {{Tesk6Kind::ProgramStandard, "PROG"},
                  {Tesk6Kind::CommercialStandard, "COMM_STD"},
                  {Tesk6Kind::CommercialRs, "COMM_RS"}};
    for (const auto& k : kKinds) {
        const bool rs = k.kind == Tesk6Kind::CommercialRs;
        Tesk6Message m;
        m.kind = k.kind;
        m.sid = 4321;
        m.dist = 1;
        m.timestamp = 200000000;
        m.commId = 0x123456789ull;
        Tesk6Generator g(48000);
        g.Add(m);
        const auto wm = g.Synthesize(seconds);
        const auto host = SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, 77);
        const auto sched = g.Schedule(seconds);
        for (double ratio = -20.0; ratio >= -50.0; ratio -= 2.0) {
            t6test::MeterHarness h(1);
            const auto codes = h.Feed({SignalMix::ToInt16(SignalMix::Mix(wm, host, ratio))}, true);
            std::vector<bool> hit(sched.size(), false);
            int wrong = 0;
            double first = -1;
            for (const auto& hc : codes) {
                const auto c = t6test::ParseCode(hc.text);
                if (!c.ok || c.layer != k.layer ||
                    (rs ? c.commId != "0x123456789" : c.sid != m.sid || c.dist != "FD1")) {
                    ++wrong;
                    continue;
                }
                if (first < 0) first = hc.audioSeconds;
                for (size_t i = 0; i < sched.size(); ++i)
                    if (c.elapsedTime >= sched[i].startSeconds &&
                        c.elapsedTime <= sched[i].endSeconds + 1.0 &&
                        (rs || std::llabs(c.timestamp - int64_t(sched[i].timestamp)) <= 2))
                        hit[i] = true;
            }
            const int confirmed = int(std::count(hit.begin(), hit.end(), true));
            printf(
                "%-8s %6.1f dB: %2d/%2zu repetitions confirmed, %d other reports, first %.2f s\n",
                k.layer, ratio, confirmed, sched.size(), wrong, first);
            if (confirmed == 0) break;
        }
    }
}
