#include "decoders/tesk2/CTesk2DCFilter.h"

#include <cstring>

#include "dsp/CircData.h"
#include "timebase/TeskTime.h"

CTesk2DCFilter::CTesk2DCFilter() { initDCFilter(); }

void CTesk2DCFilter::ClearDetection(_WATERMARK_Detection_t& d) {
    memset(&d, 0, sizeof(d));
    d.phase = 748;
    d.timestamp = 0xFFFFFFFFu;
    d.dist = 1;
    d.transmission = 2;
}

int CTesk2DCFilter::ValidateDetection(const _WATERMARK_Detection_t& a,
                                      const _WATERMARK_Detection_t& b, int allowNegative) {
    // Program phases run to 1495 (a 1496-frame repetition); taken as they are,
    // the circular difference on 748 could go negative and let any pair
    // through, so both phases are first brought onto the 748 circle.
    if (CircData_Abs_Difference(a.phase % kPhaseModulus, b.phase % kPhaseModulus, kPhaseModulus) >
        kMaxPhaseDifference) {
        return 0;
    }
    const int32_t gap =
        CircData_Signed_Difference(int32_t(a.start), int32_t(b.end), kTimeModulusMs);
    if (!allowNegative && gap < 0) return 0;
    const int same = (a.sid == b.sid && a.dist == b.dist && a.dst == b.dst) ? 1 : 0;
    const int32_t dts =
        CircData_Signed_Difference(int32_t(a.timestamp), int32_t(b.timestamp), kTimestampModulus) -
        (CircData_Signed_Difference(int32_t(a.end), int32_t(b.end), kTimeModulusMs) + 500) / 1000;
    return same + ((dts < 3 && dts > -3) ? 2 : 0);
}

bool CTesk2DCFilter::IndependentCommercial(const _WATERMARK_Detection_t& a,
                                           const _WATERMARK_Detection_t& b, uint32_t maxGap) {
    if (CircData_Abs_Difference(a.phase % kPhaseModulus, b.phase % kPhaseModulus, kPhaseModulus) >
        kMaxPhaseDifference)
        return false;
    if (a.layer == 2 && a.commId != b.commId) return false;
    // The stored start and end are the block time less the ages, so their difference is the
    // span from the first to the last symbol.
    const double span = double(int32_t(a.end - a.start)) / 1000.0;
    const double gap = (a.elapsedTime - span) - b.elapsedTime;
    return gap > 0 && gap * 1000.0 <= double(maxGap);
}

void CTesk2DCFilter::emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out) {
    TeskDetectionText t = TextOf(d);
    t.systemTime = Tesk2SystemTime(d.timestamp, d.dst, d.systemTime);
    t.dist = Tesk2DistName(d.dist);
    out.push_back(TeskDetectionJson(kTesk2Key, t));
}
