// RS_Decode for the three codes of the decoders: (15, 9) over GF(16),
// (11, 7) over GF(32) and (7, 5) over GF(128).
//
// Input: byte 0 picks the code (and, bit 7, the mode), byte 1 the number of
// erasures, then one byte per erasure index, then one byte per received symbol.
// Arbitrary words: a success must hand back a true code word, and every symbol
// where it differs from the received word must be listed, in ascending order.
// Correctable words (mode bit set): the symbols are data, encoded and then
// damaged within the guaranteed bound (e erasures, v errors, e + 2v <= n - k);
// the decoder must restore the code word exactly.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "dsp/ReedSolomon.h"

namespace {

struct Code {
    RsCodeParams p;
};

Code MakeCode(int which) {
    Code c;
    switch (which) {
        case 0:
            RS_Init(15, 9, 4, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
                    RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV, &c.p);
            break;
        case 1:
            RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
                    RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &c.p);
            break;
        default:
            RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF,
                    RS_7_5_TABLES_LOOKUPGFINV, RS_7_5_TABLES_LOOKUPGFREV, &c.p);
            break;
    }
    return c;
}

bool IsCodeWord(const uint32_t* word, const RsCodeParams& p) {
    uint8_t symbols[RS_MAX_CODEWORD] = {};
    for (uint32_t i = 0; i < p.n; ++i) {
        if (word[i] >= p.q) return false;
        symbols[i] = uint8_t(word[i]);
    }
    uint8_t parity[RS_MAX_CODEWORD] = {};
    RS_Encode(symbols, int32_t(p.k), parity, &p);
    return std::memcmp(parity, symbols + p.k, p.n - p.k) == 0;
}

void CheckArbitrary(const uint32_t* received, const uint32_t* erasures, uint32_t count,
                    const RsCodeParams& p) {
    const RsDecodeResult r = RS_Decode(received, erasures, count, &p);
    if (r.count < 0) return;
    if (uint32_t(r.count) > p.n || !IsCodeWord(r.codeword, p)) abort();
    uint32_t listed = 0;
    for (uint32_t i = 0; i < p.n; ++i) {
        if (r.codeword[i] == received[i]) continue;
        while (listed < uint32_t(r.count) && r.positions[listed] < i) ++listed;
        if (listed == uint32_t(r.count) || r.positions[listed] != i) abort();
    }
    for (int32_t j = 1; j < r.count; ++j)
        if (r.positions[j] <= r.positions[j - 1]) abort();
}

void CheckCorrectable(const uint8_t* bytes, size_t size, const RsCodeParams& p) {
    // Layout: k data bytes, then per damaged symbol one position byte and one value byte.
    if (size < p.k) return;
    uint8_t word[RS_MAX_CODEWORD] = {};
    for (uint32_t i = 0; i < p.k; ++i) word[i] = uint8_t(bytes[i] & (p.q - 1));
    RS_Encode(word, int32_t(p.k), word + p.k, &p);
    bytes += p.k;
    size -= p.k;
    uint32_t received[RS_MAX_CODEWORD];
    for (uint32_t i = 0; i < p.n; ++i) received[i] = word[i];
    bool touched[RS_MAX_CODEWORD] = {};
    uint32_t erasures[RS_MAX_CODEWORD];
    uint32_t e = 0, v = 0;
    for (; size >= 2; bytes += 2, size -= 2) {
        const uint32_t pos = bytes[0] % p.n;
        const bool erase = bytes[0] & 0x80;
        if (touched[pos]) continue;
        if (e + erase + 2 * (v + !erase) > p.parityCount) break;
        touched[pos] = true;
        const uint32_t value = bytes[1] & (p.q - 1);
        if (erase) {
            erasures[e++] = pos;
            received[pos] = value;  // any value, even the right one
        } else if (value != word[pos]) {
            received[pos] = value;
            ++v;
        }
    }
    const RsDecodeResult r = RS_Decode(received, erasures, e, &p);
    if (r.count < 0) abort();
    for (uint32_t i = 0; i < p.n; ++i)
        if (r.codeword[i] != word[i]) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const Code kCodes[3] = {MakeCode(0), MakeCode(1), MakeCode(2)};
    if (size < 2) return 0;
    const RsCodeParams& p = kCodes[(data[0] & 0x7f) % 3].p;
    if (data[0] & 0x80) {
        CheckCorrectable(data + 1, size - 1, p);
        return 0;
    }
    // Up to 20 erasure indices: more than any code has parity symbols, and
    // indices beyond the word.
    const uint32_t erasureCount = data[1] % 21;
    data += 2;
    size -= 2;
    if (size < erasureCount + p.n) return 0;
    uint32_t erasures[20];
    // A set high bit takes the byte as it is: an index or a symbol outside the
    // word or the field.
    for (uint32_t i = 0; i < erasureCount; ++i)
        erasures[i] = (data[i] & 0x80) ? data[i] : data[i] % p.n;
    data += erasureCount;
    uint32_t received[RS_MAX_CODEWORD];
    for (uint32_t i = 0; i < p.n; ++i)
        received[i] = (data[i] & 0x80) ? data[i] : data[i] & (p.q - 1);
    CheckArbitrary(received, erasureCount ? erasures : nullptr, erasureCount, p);
    return 0;
}
