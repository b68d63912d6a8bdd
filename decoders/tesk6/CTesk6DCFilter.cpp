#include "decoders/tesk6/CTesk6DCFilter.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "dsp/CUCCValidator.h"
#include "dsp/CircData.h"
#include "timebase/TeskTime.h"

CTesk6DCFilter::CTesk6DCFilter() {
    RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF, RS_7_5_TABLES_LOOKUPGFINV,
            RS_7_5_TABLES_LOOKUPGFREV, &m_rs);
    initDCFilter();
}

void CTesk6DCFilter::ProgramDataSymbols(const _WATERMARK_Detection_t& d, uint8_t* out) {
    const uint32_t ts = d.timestamp;
    out[0] = uint8_t((d.sid >> 9) & 0x7F);
    out[1] = uint8_t((d.sid >> 2) & 0x7F);
    out[2] = uint8_t(((d.sid & 3) << 5) | ((d.transmission & 1) << 4) | ((d.dist & 3) << 2) |
                     ((d.dst & 1) << 1) | ((ts >> 28) & 1));
    out[3] = uint8_t((ts >> 21) & 0x7F);
    out[4] = uint8_t((ts >> 14) & 0x7F);
    out[5] = uint8_t((ts >> 7) & 0x7F);
}

void CTesk6DCFilter::ProgramSymbolsAt(const _WATERMARK_Detection_t& d, int32_t seconds,
                                      uint8_t* out) {
    _WATERMARK_Detection_t later = d;
    later.timestamp = (d.timestamp + uint32_t(seconds)) & 0x1FFFFFFFu;
    ProgramDataSymbols(later, out);
    out[kProgramDataSymbols] = uint8_t(later.timestamp & 0x7F);
}

namespace {

// The five 7-bit data symbols of a 35-bit commercial identifier, first symbol highest.
void IdentifierSymbols(uint64_t commId, uint8_t out[5]) {
    for (int i = 0; i < 5; ++i) out[i] = uint8_t((commId >> (7 * (4 - i))) & 0x7F);
}

}  // namespace

bool CTesk6DCFilter::StandardReadsIdentifier(const _WATERMARK_Detection_t& d,
                                             const _WATERMARK_Detection_t& rs) {
    if (rs.quality < 50000) return false;
    const uint64_t commId = rs.commId;
    uint8_t word[kProgramDataSymbols];
    ProgramDataSymbols(d, word);
    uint8_t id[5];
    IdentifierSymbols(commId, id);
    return std::equal(id, id + 5, word) || WithinOnePlace(word, kProgramDataSymbols, id, 5);
}

bool CTesk6DCFilter::ReadsAsReedSolomon(const _WATERMARK_Detection_t& d) const {
    if (d.dist > 3 || d.timestamp > 0x1FFFFFFFu) return false;
    const uint32_t ts = d.timestamp;
    // The standard message's first six symbols; the seventh is the time code's running low
    // part, checked against the second parity symbol below.
    uint8_t word[7];
    ProgramDataSymbols(d, word);
    uint8_t parity[2];
    RS_Encode(word, 5, parity, &m_rs);
    if (parity[0] != word[5]) return false;
    // The accumulation adds the time code's advance over up to three repetitions (0 to 5 on
    // the commercial layer) to the last symbol only, modulo 128.
    bool codeWord = false;
    for (uint32_t advance = 0; advance <= 5 && !codeWord; ++advance)
        codeWord = parity[1] == uint8_t((ts - advance) & 0x7F);
    if (!codeWord) return false;
    uint64_t commId = 0;
    for (int i = 0; i < 5; ++i) commId = (commId << 7) | word[i];
    return CUCCValidator::IsValidCommID(long(commId));
}

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

bool CTesk6DCFilter::MisreadsRingEntry(const _WATERMARK_Detection_t& d) const {
    if (d.layer != 2 || d.quality >= 50000) return false;
    // The reading's whole code word: the identifier's five symbols and the two parity symbols.
    uint8_t word[7];
    IdentifierSymbols(d.commId, word);
    RS_Encode(word, 5, word + 5, &m_rs);
    const Entry* ring = Ring();
    for (int i = 0; i < kRingSize; ++i) {
        const Entry& e = ring[i];
        if (!e.used || e.inert || !e.reportedPair || e.det.layer != 1) continue;
        const int32_t apart =
            CircData_Signed_Difference(int32_t(d.end), int32_t(e.det.end), kTimeModulusMs);
        if (std::abs(apart) > int32_t(kMaxGapMs)) continue;
        uint8_t standard[kProgramDataSymbols];
        ProgramDataSymbols(e.det, standard);
        // The two messages' spans overlap: phases within the displacement and the tolerance.
        if (CircData_Abs_Difference(int32_t(d.phase % 50), int32_t(e.det.phase % 50), 50) >
            kMaxDisplacement * kSymbolFrames + kSlotPhase)
            continue;
        for (int k = -kMaxDisplacement; k <= kMaxDisplacement; ++k) {
            // Word position p read standard position p - k.
            int overlap = 0, agree = 0;
            for (int p = 0; p < 7; ++p) {
                const int q = p - k;  // standard position (its running last symbol left out)
                if (q < 0 || q >= kProgramDataSymbols) continue;
                ++overlap;
                agree += word[p] == standard[q];
            }
            if (overlap >= 4 && agree >= 4) return true;
        }
    }
    return false;
}

bool CTesk6DCFilter::SameSlot(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b) {
    const int32_t modulus = a.layer == 0 ? kProgramPhaseModulus : 50;
    return CircData_Abs_Difference(a.phase % modulus, b.phase % modulus, modulus) <= kSlotPhase;
}

bool CTesk6DCFilter::SameCode(const _WATERMARK_Detection_t& a, const _WATERMARK_Detection_t& b) {
    if (a.layer == 2) return a.commId == b.commId;
    return ValidateDetection(a, b, 1, 0xFFFFFFFFu) == 3;
}

void CTesk6DCFilter::emitDetection(const _WATERMARK_Detection_t& d, std::vector<std::string>& out) {
    TeskDetectionText t = TextOf(d);
    t.systemTime = Tesk6ToPosix(d.timestamp, uint8_t(d.dst), d.systemTime);
    t.dist = Tesk6DistName(d.dist);
    t.hasTransmission = true;
    t.transmission = d.transmission;
    out.push_back(TeskDetectionJson(kTesk6Key, t));
}
