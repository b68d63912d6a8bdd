#include "decoders/tesk6/CTesk6DCFilter.h"

#include <cstring>

#include "dsp/CircData.h"
#include "timebase/TeskTime.h"

CTesk6DCFilter::CTesk6DCFilter() { initDCFilter(); }

void CTesk6DCFilter::initDCFilter() {
    m_maxGap = kMaxGapMs;
    CTeskDCFilter::initDCFilter();
}

void CTesk6DCFilter::ClearDetection(_WATERMARK_Detection_t& d) {
    memset(&d, 0, sizeof(d));
    d.phase = 50;
    d.timestamp = 0xFFFFFFFFu;
}

int CTesk6DCFilter::ValidateDetection(const _WATERMARK_Detection_t& a,
                                      const _WATERMARK_Detection_t& b, int allowNegative,
                                      uint32_t maxGap) {
    if (CircData_Abs_Difference(a.phase, b.phase, 50) > 2) return 0;
    const int32_t gap =
        CircData_Signed_Difference(int32_t(a.start), int32_t(b.end), kTimeModulusMs);
    if ((!allowNegative && gap < 0) || (gap > 0 && uint32_t(gap) > maxGap)) return 0;
    const int same =
        (a.sid == b.sid && a.dist == b.dist && a.dst == b.dst && a.transmission == b.transmission)
            ? 1
            : 0;
    const int32_t dts =
        CircData_Signed_Difference(int32_t(a.timestamp), int32_t(b.timestamp), kTimestampModulus) -
        (CircData_Signed_Difference(int32_t(a.end), int32_t(b.end), kTimeModulusMs) + 500) / 1000;
    return same + ((dts < 3 && dts > -3) ? 2 : 0);
}

bool CTesk6DCFilter::IndependentCommercial(const _WATERMARK_Detection_t& a,
                                           const _WATERMARK_Detection_t& b, uint32_t maxGap) {
    if (CircData_Abs_Difference(a.phase, b.phase, 50) > 2) return false;
    if (a.layer == 2 && a.commId != b.commId) return false;
    // The stored start and end are the block time less the ages, so their
    // difference is the span from the first to the last symbol.
    const double span = double(int32_t(a.end - a.start)) / 1000.0;
    const double gap = (a.elapsedTime - span) - b.elapsedTime;
    return gap > 0 && gap * 1000.0 <= double(maxGap);
}

void CTesk6DCFilter::emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out) {
    TeskDetectionText t = TextOf(d);
    t.systemTime = Tesk6ToPosix(d.timestamp, uint8_t(d.dst), d.systemTime);
    t.dist = Tesk6DistName(d.dist);
    t.hasTransmission = true;
    t.transmission = d.transmission;
    out.push_back(TeskDetectionJson(kTesk6Key, t));
}
