#include "decoders/tesk2/CTesk2DCFilter.h"

#include <cstring>

#include "dsp/CUCCValidator.h"
#include "dsp/CircData.h"
#include "timebase/TeskTime.h"

CTesk2DCFilter::CTesk2DCFilter() {
    RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
            RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &m_rs);
    initDCFilter();
}

bool CTesk2DCFilter::ReadsAsReedSolomon(const _WATERMARK_Detection_t& d) const {
    if (d.sid > 0xFFFFu || d.timestamp > 0x7FFFFFFFu || d.dist > 3 || d.dst > 1) return false;
    const uint32_t ts = d.timestamp;
    uint32_t sym[10];
    StandardSymbols(d, sym);
    // Symbols 5 to 10 as one 30-bit value: the time code's low 28 bits and the field.
    const uint32_t timeValue = ((ts & 0x0FFFFFFFu) << 2) | (d.dist & 3u);
    for (uint32_t advance = 0; advance <= 24; advance += 8) {
        const uint32_t v = (timeValue - advance) & 0x3FFFFFFFu;
        for (int p = 0; p < 6; ++p) sym[4 + p] = (v >> (5 * (5 - p))) & 31u;
        uint32_t word[11];
        for (int i = 0; i < 10; ++i) word[i] = sym[i];
        word[10] = 31;  // never transmitted: erased
        const uint32_t erasure = 10;
        const RsDecodeResult r = RS_Decode(word, &erasure, 1, &m_rs);
        // A code word as transmitted: nothing but the erased symbol may change.
        if (r.count < 0 || (r.count == 1 && r.positions[0] != 10) || r.count > 1) continue;
        uint64_t commId = 0;
        for (int i = 0; i < 7; ++i) commId = (commId << 5) | sym[i];
        if (CUCCValidator::IsValidCommID(long(commId))) return true;
    }
    return false;
}

void CTesk2DCFilter::StandardSymbols(const _WATERMARK_Detection_t& d, uint32_t sym[10]) {
    const uint32_t ts = d.timestamp;
    sym[0] = (d.sid >> 11) & 31u;
    sym[1] = (d.sid >> 6) & 31u;
    sym[2] = (d.sid >> 1) & 31u;
    sym[3] = ((d.sid & 1u) << 4) | ((d.dst & 1u) << 3) | ((ts >> 28) & 7u);
    const uint32_t timeValue = ((ts & 0x0FFFFFFFu) << 2) | (d.dist & 3u);
    for (int p = 0; p < 6; ++p) sym[4 + p] = (timeValue >> (5 * (5 - p))) & 31u;
}

void CTesk2DCFilter::ReedSolomonWord(uint64_t commId, uint32_t word[10]) const {
    uint8_t w[11] = {0};
    for (int i = 0; i < 7; ++i) w[i] = uint8_t((commId >> (5 * (6 - i))) & 31u);
    RS_Encode(w, 7, w + 7, &m_rs);
    for (int i = 0; i < 10; ++i) word[i] = w[i];
}

bool CTesk2DCFilter::SameCommercialWord(const uint32_t rsWord[10], int32_t rsPhase,
                                        const uint32_t stdSym[10], int32_t stdPhase) {
    for (int k = -kMaxDisplacement; k <= kMaxDisplacement; ++k) {
        // Reed-Solomon position p read standard position p - k: its marker lies k symbols
        // (64 frames each) earlier.
        const int32_t expected =
            ((stdPhase - 64 * k) % kPhaseModulus + kPhaseModulus) % kPhaseModulus;
        if (CircData_Abs_Difference(rsPhase % kPhaseModulus, expected, kPhaseModulus) >
            kMaxPhaseDifference)
            continue;
        int overlap = 0, differ = 0;
        for (int p = 1; p <= 10; ++p) {
            const int q = p - k;  // standard position
            if (q < 1 || q > 8) continue;
            ++overlap;
            differ += rsWord[p - 1] != stdSym[q - 1];
        }
        if (differ <= overlap - 6) return true;
    }
    return false;
}

bool CTesk2DCFilter::MisreadsRingEntry(const _WATERMARK_Detection_t& d) const {
    if (d.layer > 2) return false;
    uint32_t mine[10];
    if (d.layer == 2)
        ReedSolomonWord(d.commId, mine);
    else
        StandardSymbols(d, mine);
    // The spans (first to last symbol) must share audio or one follow the other within the
    // next repetition of the layer.
    const int32_t reach = AdjacentMs(d.layer == 0 ? 0u : 1u);
    const Entry* ring = Ring();
    for (int i = 0; i < kRingSize; ++i) {
        const Entry& e = ring[i];
        if (!e.used || !e.reportedPair || (d.layer == 0) != (e.det.layer == 0)) continue;
        if (CircData_Signed_Difference(int32_t(d.start), int32_t(e.det.end), kTimeModulusMs) >
                reach ||
            CircData_Signed_Difference(int32_t(e.det.start), int32_t(d.end), kTimeModulusMs) >
                reach)
            continue;
        if (d.layer != e.det.layer) {
            // One commercial kind against the other.
            uint32_t theirs[10];
            if (e.det.layer == 2) {
                ReedSolomonWord(e.det.commId, theirs);
                if (SameCommercialWord(theirs, e.det.phase, mine, d.phase)) return true;
            } else {
                StandardSymbols(e.det, theirs);
                if (SameCommercialWord(mine, d.phase, theirs, e.det.phase)) return true;
            }
            continue;
        }
        if (d.layer == 2) continue;  // the same identifier or another: confirmation decides
        // Phases agree, the time codes agree and the content does not. A program SID whose
        // readings differ only between PC and FD is one code to SameCode: the callback's
        // distribution tally settles it by the majority.
        const int r = ValidateDetection(d, e.det, 1);
        if (r == 2 && !SameCode(d, e.det)) return true;
        // A standard commercial with the confirmed one's SID and another time code: its time
        // symbols misread. (Program readings so are released without their time code for the
        // callback's time-code anchors.)
        if (r == 1 && d.layer == 1) return true;
        // Content and time code both other than the confirmed code's, yet one symbol off it
        // (symbol 4 carries the SID's last bit, the DST flag and the time code's top bits;
        // symbol 10 the time code's low bits and the distribution): that symbol misread.
        if (r == 0 && OneSymbolOff(mine, e.det, d)) return true;
    }
    return false;
}

bool CTesk2DCFilter::OneSymbolOff(const uint32_t mine[10], const _WATERMARK_Detection_t& code,
                                  const _WATERMARK_Detection_t& d) {
    if (code.timestamp > 0x7FFFFFFFu) return false;
    // The code's time code at d's time, within the pairing tolerance of two seconds.
    const int32_t seconds =
        (CircData_Signed_Difference(int32_t(d.end), int32_t(code.end), kTimeModulusMs) + 500) /
        1000;
    for (int32_t slack = -2; slack <= 2; ++slack) {
        _WATERMARK_Detection_t advanced = code;
        advanced.timestamp = uint32_t(int64_t(code.timestamp) + seconds + slack) & 0x7FFFFFFFu;
        uint32_t theirs[10];
        StandardSymbols(advanced, theirs);
        int differ = 0;
        for (int i = 0; i < 10; ++i) differ += mine[i] != theirs[i];
        if (differ == 1) return true;
    }
    return false;
}

bool CTesk2DCFilter::SameSlot(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b) {
    const int32_t modulus = a.layer == 0 ? 2 * kPhaseModulus : kPhaseModulus;
    return CircData_Abs_Difference(a.phase % modulus, b.phase % modulus, modulus) <=
           kMaxPhaseDifference;
}

bool CTesk2DCFilter::SameCode(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b) {
    if (a.layer == 2) return a.commId == b.commId;
    const int r = ValidateDetection(a, b, 1);
    if (r == 3) return true;
    // Time codes agree and only the program distribution differs between PC and FD.
    const bool programDists = (a.dist == 1 || a.dist == 2) && (b.dist == 1 || b.dist == 2);
    return r == 2 && a.layer == 0 && programDists && a.sid == b.sid && a.dst == b.dst;
}

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
