#include "dsp/ReedSolomon.h"

#include <cstring>

namespace {

// Field tables of GF(Q) built from the primitive polynomial (bit mask including x^m): antilog by
// repeated multiplication by x reduced by the polynomial, log and inverse derived from it.
template <uint32_t Q>
struct GfTables {
    uint8_t antilog[Q] = {};
    uint8_t log[Q] = {};
    uint8_t inv[Q] = {};

    constexpr explicit GfTables(uint32_t primitive) {
        uint32_t x = 1;
        for (uint32_t i = 0; i + 1 < Q; ++i) {
            antilog[i] = static_cast<uint8_t>(x);
            log[x] = static_cast<uint8_t>(i);
            x <<= 1;
            if (x & Q) x ^= primitive;
        }
        antilog[Q - 1] = 0;
        log[0] = 0;
        inv[0] = 0;
        for (uint32_t v = 1; v < Q; ++v) inv[v] = antilog[(Q - 1 - log[v]) % (Q - 1)];
    }
};

// Generator g(x) = (x + a)(x + a^2)...(x + a^NK) without its leading 1, in log form, highest
// degree first. SIZE may exceed NK; the extra entries stay 0.
template <uint32_t Q, uint32_t NK, uint32_t SIZE>
struct GenTable {
    uint8_t g[SIZE] = {};

    constexpr explicit GenTable(const GfTables<Q>& f) {
        uint8_t c[NK + 1] = {};  // c[d] = coefficient of x^d
        c[0] = 1;
        for (uint32_t r = 1; r <= NK; ++r) {
            const uint8_t root = f.antilog[r % (Q - 1)];
            for (uint32_t d = r; d > 0; --d) {
                uint8_t prod = 0;
                if (c[d] != 0) prod = f.antilog[(f.log[c[d]] + f.log[root]) % (Q - 1)];
                c[d] = static_cast<uint8_t>(c[d - 1] ^ prod);
            }
            c[0] = c[0] == 0 ? 0 : f.antilog[(f.log[c[0]] + f.log[root]) % (Q - 1)];
        }
        for (uint32_t j = 0; j < NK; ++j) g[j] = f.log[c[NK - 1 - j]];
    }
};

constexpr GfTables<16> kGf16(0x13);    // x^4 + x + 1
constexpr GfTables<32> kGf32(0x25);    // x^5 + x^2 + 1
constexpr GfTables<128> kGf128(0x89);  // x^7 + x^3 + 1
constexpr GenTable<16, 6, 6> kGen15_9(kGf16);
constexpr GenTable<32, 4, 4> kGen11_7(kGf32);
constexpr GenTable<128, 2, 4> kGen7_5(kGf128);

}  // namespace

const uint8_t (&RS_15_9_TABLES_LOOKUPGFREV)[16] = kGf16.antilog;
const uint8_t (&RS_15_9_TABLES_LOOKUPGF)[16] = kGf16.log;
const uint8_t (&RS_15_9_TABLES_LOOKUPGFINV)[16] = kGf16.inv;
const uint8_t (&RS_15_9_TABLES_CODEGENPOLY)[6] = kGen15_9.g;

const uint8_t (&RS_11_7_TABLES_LOOKUPGFREV)[32] = kGf32.antilog;
const uint8_t (&RS_11_7_TABLES_LOOKUPGF)[32] = kGf32.log;
const uint8_t (&RS_11_7_TABLES_LOOKUPGFINV)[32] = kGf32.inv;
const uint8_t (&RS_11_7_TABLES_CODEGENPOLY)[4] = kGen11_7.g;

const uint8_t (&RS_7_5_TABLES_LOOKUPGFREV)[128] = kGf128.antilog;
const uint8_t (&RS_7_5_TABLES_LOOKUPGF)[128] = kGf128.log;
const uint8_t (&RS_7_5_TABLES_LOOKUPGFINV)[128] = kGf128.inv;
const uint8_t (&RS_7_5_TABLES_CODEGENPOLY)[4] = kGen7_5.g;

uint32_t RS_Init(uint32_t n, uint32_t k, uint32_t m, const uint8_t* genPoly,
                 const uint8_t* logTable, const uint8_t* invTable, const uint8_t* antilogTable,
                 RsCodeParams* params) {
    uint32_t q = 1;
    for (uint32_t i = 0; i < m && q < 0x80000000u; ++i) q *= 2;
    const uint32_t N = q - 1;
    if (params != nullptr) {
        params->q = q;
        params->n = n;
        params->N = N;
        params->k = k;
        params->parityCount = n - k;
        params->fullDataLength = N - (n - k);
        params->shortening = N - n;
        params->genPoly = genPoly;
        params->logTable = logTable;
        params->invTable = invTable;
        params->antilogTable = antilogTable;
    }
    return N - n;
}

void RS_Encode(const uint8_t* data, int32_t k, uint8_t* parity, const RsCodeParams* params) {
    if (data == nullptr || parity == nullptr || params == nullptr || k < 0) return;
    const RsCodeParams& p = *params;
    const uint32_t nk = p.parityCount;
    if (p.q < 2 || nk == 0 || nk > p.N || nk > RS_POLY_MAX) return;
    const uint32_t mod = p.q - 1;
    const uint32_t mask = p.q - 1;

    // Shift register r[0] (highest degree) .. r[nk-1]; local, so the parity area may alias the
    // data that follows it without disturbing the input.
    uint8_t r[RS_POLY_MAX] = {};
    const uint32_t steps = static_cast<uint32_t>(k) + nk;
    for (uint32_t step = 0; step < steps; ++step) {
        const uint8_t s =
            step < static_cast<uint32_t>(k) ? static_cast<uint8_t>(data[step] & mask) : 0;
        const uint8_t f = r[0];
        if (f == 0) {
            for (uint32_t j = 0; j + 1 < nk; ++j) r[j] = r[j + 1];
            r[nk - 1] = s;
        } else {
            const uint32_t L = p.logTable[f];
            for (uint32_t j = 0; j + 1 < nk; ++j) {
                r[j] = static_cast<uint8_t>(p.antilogTable[(p.genPoly[j] + L) % mod] ^ r[j + 1]);
            }
            r[nk - 1] = static_cast<uint8_t>(s ^ p.antilogTable[(p.genPoly[nk - 1] + L) % mod]);
        }
    }
    std::memcpy(parity, r, nk);
}

namespace rs_internal {

uint8_t GFadd(uint32_t a, uint32_t b, const RsCodeParams& p) {
    if (a >= p.q || b >= p.q) return RS_GF_INVALID;
    return static_cast<uint8_t>(a ^ b);
}

uint8_t GFmult(uint32_t a, uint32_t b, const RsCodeParams& p) {
    if (a >= p.q || b >= p.q) return RS_GF_INVALID;
    if (a == 0 || b == 0) return 0;
    return p.antilogTable[(p.logTable[a] + p.logTable[b]) % (p.q - 1)];
}

RsPoly createPoly(const uint32_t* symbols, const RsCodeParams& p) {
    RsPoly poly{};
    poly.length = p.N;
    for (uint32_t i = 0; i < p.n; ++i) {
        poly.coef[p.N - p.n + i] = static_cast<uint8_t>(symbols[i] & 0xFF);
    }
    return poly;
}

void extractCodeword(const RsPoly& poly, uint32_t* symbols, const RsCodeParams& p) {
    for (uint32_t i = 0; i < p.n; ++i) symbols[i] = poly.coef[p.N - p.n + i];
}

void polyCopy(const RsPoly& src, RsPoly& dst) {
    if (src.length == 0) return;
    dst = src;
    std::memset(dst.coef + src.length, 0, RS_POLY_MAX - src.length);
}

void polyDelLeadingZeros(RsPoly& poly) {
    uint32_t lead = 0;
    while (lead < poly.length && poly.coef[lead] == 0) ++lead;
    if (lead == 0) return;
    const uint32_t len = poly.length - lead;
    std::memmove(poly.coef, poly.coef + lead, len);
    std::memset(poly.coef + len, 0, RS_POLY_MAX - len);
    poly.length = len;
}

bool checkValid(const RsPoly& poly, const RsCodeParams& p) {
    if (poly.length == 0) return false;
    for (uint32_t i = 0; i < poly.length; ++i) {
        if (poly.coef[i] >= p.q) return false;
    }
    return true;
}

RsPoly polyAdd(const RsPoly& a, const RsPoly& b, const RsCodeParams& p) {
    const RsPoly& longer = a.length >= b.length ? a : b;
    const RsPoly& shorter = a.length >= b.length ? b : a;
    RsPoly out = longer;
    const uint32_t off = longer.length - shorter.length;
    for (uint32_t i = 0; i < shorter.length; ++i) {
        out.coef[off + i] = GFadd(longer.coef[off + i], shorter.coef[i], p);
    }
    return out;
}

RsPoly polyMul(const RsPoly& a, const RsPoly& b, const RsCodeParams& p) {
    RsPoly out{};
    if (a.length == 0 || b.length == 0) return out;
    const uint32_t len = a.length + b.length - 1;
    if (len > RS_POLY_MAX) return out;
    out.length = len;
    for (uint32_t i = 0; i < a.length; ++i) {
        if (a.coef[i] == 0) continue;
        for (uint32_t j = 0; j < b.length; ++j) {
            out.coef[i + j] = GFadd(out.coef[i + j], GFmult(a.coef[i], b.coef[j], p), p);
        }
    }
    return out;
}

int polyDivide(const RsPoly& a, const RsPoly& b, RsPoly& quotient, RsPoly& remainder,
               const RsCodeParams& p) {
    RsPoly num = a;
    RsPoly den = b;
    polyDelLeadingZeros(num);
    polyDelLeadingZeros(den);
    if (!checkValid(num, p) || !checkValid(den, p)) return 0;

    RsPoly quo{};
    if (num.length >= den.length) {
        quo.length = num.length - den.length + 1;
        const uint8_t leadInv = p.invTable[den.coef[0]];
        for (uint32_t i = 0; i < quo.length; ++i) {
            const uint8_t factor = GFmult(num.coef[i], leadInv, p);
            quo.coef[i] = factor;
            if (factor == 0) continue;
            for (uint32_t j = 0; j < den.length; ++j) {
                num.coef[i + j] = GFadd(num.coef[i + j], GFmult(factor, den.coef[j], p), p);
            }
        }
        polyDelLeadingZeros(quo);
    }
    polyDelLeadingZeros(num);
    quotient = quo;
    remainder = num;
    return 1;
}

void polyeval(const RsPoly& poly, int32_t from, int32_t to, uint8_t* out, bool wrap,
              const RsCodeParams& p) {
    if (p.q < 2) return;
    const int64_t mod = p.q - 1;
    if (wrap) {
        from += static_cast<int32_t>(mod);
        to += static_cast<int32_t>(mod);
    }
    for (int32_t j = from; j <= to; ++j) {
        uint8_t acc = 0;
        for (uint32_t i = 0; i < poly.length; ++i) {
            const int64_t degree = poly.length - 1 - i;
            int64_t e = (degree * j) % mod;
            if (e < 0) e += mod;
            acc = GFadd(acc, GFmult(poly.coef[i], p.antilogTable[e], p), p);
        }
        out[j - from] = acc;
    }
}

RsPoly syndromePoly(const RsPoly& poly, const RsCodeParams& p) {
    const uint32_t nk = p.parityCount;
    uint8_t s[RS_POLY_MAX] = {};
    polyeval(poly, 1, static_cast<int32_t>(nk), s, false, p);
    // Highest degree first: S_(n-k) at index 0, S_1 at index n-k-1.
    RsPoly out{};
    out.length = nk;
    for (uint32_t j = 0; j < nk; ++j) out.coef[nk - 1 - j] = s[j];
    return out;
}

RsPoly erasurePoly(const uint32_t* powers, uint32_t count, const RsCodeParams& p) {
    RsPoly out{};
    for (uint32_t i = 0; i < count; ++i) {
        if (powers[i] >= p.n) return out;
    }
    out.length = 1;
    out.coef[0] = 1;
    for (uint32_t i = 0; i < count; ++i) {
        RsPoly factor{};
        factor.length = 2;
        factor.coef[0] = p.antilogTable[powers[i] % (p.q - 1)];
        factor.coef[1] = 1;
        out = polyMul(out, factor, p);
    }
    return out;
}

RsPoly setZeroRec(const RsPoly& poly, const uint32_t* powers, uint32_t count,
                  const RsCodeParams& p) {
    RsPoly out = poly;
    for (uint32_t i = 0; i < count; ++i) {
        if (powers[i] >= p.n) return out;
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (powers[i] < out.length) out.coef[out.length - 1 - powers[i]] = 0;
    }
    return out;
}

RsPoly modifySyndPoly(const RsPoly& s, const RsPoly& gamma, const RsCodeParams& p) {
    return polyMul(s, gamma, p);
}

void EuclideanErasure(const RsPoly& t, uint32_t stop, RsPoly& lambda, RsPoly& omega,
                      const RsCodeParams& p) {
    const uint32_t nk = p.parityCount;
    RsPoly rPrev{};
    rPrev.length = nk + 1;
    rPrev.coef[0] = 1;
    RsPoly rCur = t;
    RsPoly tPrev{};
    tPrev.length = 1;
    RsPoly tCur{};
    tCur.length = 1;
    tCur.coef[0] = 1;

    if (nk >= stop) {
        for (int divisions = 0; divisions < 200; ++divisions) {
            RsPoly quo{};
            RsPoly rem{};
            if (!polyDivide(rPrev, rCur, quo, rem, p)) break;
            rPrev = rCur;
            rCur = rem;
            const RsPoly tNew = polyAdd(tPrev, polyMul(quo, tCur, p), p);
            tPrev = tCur;
            tCur = tNew;
            if (rCur.length <= stop) break;
        }
    }
    lambda = tCur;
    omega = rCur;
}

uint32_t polyEvalDeg(const RsPoly& lambda, uint32_t* powers, const RsCodeParams& p) {
    uint32_t count = 0;
    for (int32_t pw = static_cast<int32_t>(p.N) - 1; pw >= 0; --pw) {
        uint8_t v = 0;
        polyeval(lambda, -pw, -pw, &v, true, p);
        if (v == 0 && count < RS_POLY_MAX) powers[count++] = static_cast<uint32_t>(pw);
    }
    return count;
}

namespace {

// Formal derivative in characteristic 2: only odd-degree terms survive, each dropping by one.
RsPoly derivative(const RsPoly& psi) {
    RsPoly d{};
    if (psi.length < 2) return d;
    d.length = psi.length - 1;
    for (uint32_t i = 0; i < psi.length; ++i) {
        const uint32_t degree = psi.length - 1 - i;
        if (degree % 2 == 1) d.coef[d.length - degree] = psi.coef[i];
    }
    return d;
}

uint8_t forneyValue(const RsPoly& dpsi, const RsPoly& omega, uint32_t power,
                    const RsCodeParams& p) {
    const int32_t j = -static_cast<int32_t>(power % (p.q - 1));
    uint8_t om = 0;
    uint8_t dp = 0;
    polyeval(omega, j, j, &om, true, p);
    polyeval(dpsi, j, j, &dp, true, p);
    if (dp >= p.q) return RS_GF_INVALID;
    return GFmult(om, p.invTable[dp], p);
}

}  // namespace

void errorEval(const RsPoly& psi, const RsPoly& omega, const uint32_t* errPowers, uint32_t errCount,
               uint8_t* errValues, const uint32_t* erasPowers, uint32_t erasCount,
               uint8_t* erasValues, const RsCodeParams& p) {
    const RsPoly dpsi = derivative(psi);
    for (uint32_t i = 0; i < errCount; ++i)
        errValues[i] = forneyValue(dpsi, omega, errPowers[i], p);
    for (uint32_t i = 0; i < erasCount; ++i) {
        erasValues[i] = forneyValue(dpsi, omega, erasPowers[i], p);
    }
}

void errorCorr(RsPoly& poly, const uint32_t* errPowers, const uint8_t* errValues, uint32_t errCount,
               const uint32_t* erasPowers, const uint8_t* erasValues, uint32_t erasCount) {
    for (uint32_t i = 0; i < errCount; ++i) {
        if (errPowers[i] < poly.length) poly.coef[poly.length - 1 - errPowers[i]] ^= errValues[i];
    }
    for (uint32_t i = 0; i < erasCount; ++i) {
        if (erasPowers[i] < poly.length) poly.coef[poly.length - 1 - erasPowers[i]] = erasValues[i];
    }
}

}  // namespace rs_internal

RsDecodeResult RS_Decode(const uint32_t* received, const uint32_t* erasures, uint32_t erasureCount,
                         const RsCodeParams* params) {
    using namespace rs_internal;
    RsDecodeResult res{};
    res.count = -1;
    if (received == nullptr || params == nullptr) return res;
    const RsCodeParams& p = *params;
    if (p.q < 2 || p.n > RS_MAX_CODEWORD || p.n > p.N || p.N >= RS_POLY_MAX || p.k >= p.n ||
        p.parityCount != p.n - p.k) {
        return res;
    }
    for (uint32_t i = 0; i < p.n; ++i) {
        if (received[i] > p.N) return res;
    }
    const uint32_t nk = p.parityCount;
    if (erasureCount > nk || (erasureCount > 0 && erasures == nullptr)) return res;

    // Erasure positions as powers, in a local copy (the caller's array is left alone). An index
    // outside the word would otherwise address coefficients outside the polynomial; the whole
    // list is then dropped and the word decoded for errors only.
    uint32_t eras[RS_MAX_CODEWORD] = {};
    uint32_t e = erasureCount;
    for (uint32_t i = 0; i < e; ++i) {
        if (erasures[i] >= p.n) {
            e = 0;
            break;
        }
        eras[i] = p.n - 1 - erasures[i];
    }
    auto isErasureIndex = [&](uint32_t idx) {
        for (uint32_t i = 0; i < e; ++i) {
            if (p.n - 1 - eras[i] == idx) return true;
        }
        return false;
    };
    res.count = 0;

    RsPoly R = createPoly(received, p);
    const RsPoly gamma = erasurePoly(eras, e, p);
    const RsPoly Z = setZeroRec(R, eras, e, p);
    const RsPoly S = syndromePoly(Z, p);
    RsPoly T = modifySyndPoly(S, gamma, p);
    polyDelLeadingZeros(T);

    if (T.length == 0) {
        // Z is already a code word: the erased symbols decode as 0.
        extractCodeword(Z, res.codeword, p);
        for (uint32_t i = 0; i < p.n; ++i) {
            if (res.codeword[i] != received[i]) res.positions[res.count++] = i;
        }
        if (res.count - static_cast<int32_t>(e / 2) > static_cast<int32_t>(nk / 2)) res.count = -1;
        return res;
    }

    const uint32_t stop = e / 2 + nk / 2;
    RsPoly lambda{};
    RsPoly omega{};
    EuclideanErasure(T, stop, lambda, omega, p);

    uint32_t errPowers[RS_POLY_MAX];
    const uint32_t nu = polyEvalDeg(lambda, errPowers, p);
    const RsPoly psi = polyMul(lambda, gamma, p);

    uint8_t errValues[RS_POLY_MAX];
    uint8_t erasValues[RS_MAX_CODEWORD];
    errorEval(psi, omega, errPowers, nu, errValues, eras, e, erasValues, p);
    errorCorr(R, errPowers, errValues, nu, eras, erasValues, e);

    extractCodeword(R, res.codeword, p);
    uint32_t changedNonErased = 0;
    for (uint32_t i = 0; i < p.n; ++i) {
        if (res.codeword[i] != received[i]) {
            res.positions[res.count++] = i;
            if (!isErasureIndex(i)) ++changedNonErased;
        }
    }

    RsPoly trimmed = R;
    polyDelLeadingZeros(trimmed);
    bool fail = res.count - static_cast<int32_t>(e / 2) > static_cast<int32_t>(nk / 2);
    fail = fail || nk < e + 2 * changedNonErased;
    fail = fail || trimmed.length > p.n;
    if (!fail) {
        const RsPoly check = syndromePoly(R, p);
        for (uint32_t j = 0; j < check.length; ++j) {
            if (check.coef[j] != 0) fail = true;
        }
    }
    if (fail) res.count = -1;
    return res;
}
