// Reed-Solomon codec over GF(2^m), m up to 7, shared by the three watermark decoders.
//
// Systematic encoding with a shift register; errors-and-erasures decoding with the Euclidean
// (Sugiyama) algorithm, a Chien search and Forney's formula. All codes are narrow-sense:
// g(x) = (x + a)(x + a^2)...(x + a^(n-k)), a the primitive element. Addition is XOR.
//
// Codes in use:
//   (15, 9)  m = 4, q = 16,  x^4 + x + 1   (ZELT decoder, identifier validator)
//   (11, 7)  m = 5, q = 32,  x^5 + x^2 + 1 (TESK 2 decoder; shortened from 31)
//   (7, 5)   m = 7, q = 128, x^7 + x^3 + 1 (TESK 6 decoder; shortened from 127)
//
// Everything here is allocation-free and re-entrant: the tables are constant and each decoder
// instance owns its parameter block. Polynomials are fixed 128-coefficient records.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------------------------
// Constant field and generator tables (read-only, generated from the primitive polynomials at
// compile time). For a field of q elements:
//   LOOKUPGFREV (antilog, q entries): entry i = a^i for i = 0 .. q-2; entry q-1 = 0.
//   LOOKUPGF    (log, q entries):     entry x = log_a(x) for x = 1 .. q-1; entry 0 = 0.
//   LOOKUPGFINV (inverse, q entries): entry x = x^-1 for x >= 1; entry 0 = 0.
//   CODEGENPOLY (generator, n-k entries read): g(x) without its leading 1, coefficients in
//     log form, highest degree first: entry j = log_a(coefficient of x^(n-k-1-j)).
//     The (7, 5) table has four bytes of which only the first two are read (the rest are 0).
// ---------------------------------------------------------------------------------------------
extern const uint8_t (&RS_15_9_TABLES_LOOKUPGFREV)[16];
extern const uint8_t (&RS_15_9_TABLES_LOOKUPGF)[16];
extern const uint8_t (&RS_15_9_TABLES_LOOKUPGFINV)[16];
extern const uint8_t (&RS_15_9_TABLES_CODEGENPOLY)[6];

extern const uint8_t (&RS_11_7_TABLES_LOOKUPGFREV)[32];
extern const uint8_t (&RS_11_7_TABLES_LOOKUPGF)[32];
extern const uint8_t (&RS_11_7_TABLES_LOOKUPGFINV)[32];
extern const uint8_t (&RS_11_7_TABLES_CODEGENPOLY)[4];

extern const uint8_t (&RS_7_5_TABLES_LOOKUPGFREV)[128];
extern const uint8_t (&RS_7_5_TABLES_LOOKUPGF)[128];
extern const uint8_t (&RS_7_5_TABLES_LOOKUPGFINV)[128];
extern const uint8_t (&RS_7_5_TABLES_CODEGENPOLY)[4];

// Code parameter block, filled by RS_Init; one per code per decoder instance.
struct RsCodeParams {
    uint32_t q;                   // field size 2^m
    uint32_t n;                   // code length actually used (symbols per code word)
    uint32_t N;                   // q - 1, the full (unshortened) length
    uint32_t k;                   // data symbols
    uint32_t parityCount;         // n - k
    uint32_t fullDataLength;      // N - (n - k)
    uint32_t shortening;          // N - n
    const uint8_t* genPoly;       // generator table, log form, highest degree first
    const uint8_t* logTable;      // log table (q entries)
    const uint8_t* invTable;      // inverse table (q entries)
    const uint8_t* antilogTable;  // antilog table (q entries)
};

// Maximum code length a decoding result can carry.
constexpr uint32_t RS_MAX_CODEWORD = 15;

// Result of RS_Decode (returned by value).
struct RsDecodeResult {
    // Decoded symbols in code-word order (index 0 = first transmitted symbol = first data
    // symbol). Only the first n are meaningful.
    uint32_t codeword[RS_MAX_CODEWORD];
    // -1 when decoding failed; otherwise the number of symbols of the decoded word that
    // differ from the received word (erased symbols included).
    int32_t count;
    // Code-word indices (0 .. n-1, ascending) of the differing symbols; first `count` valid.
    uint32_t positions[RS_MAX_CODEWORD];
};

// Fills `params` for an (n, k) code over GF(2^m) with the given tables (see above).
// q = 2^m computed by doubling (q = 1 and N = 0 when m < 1).
// Returns N - n (the shortening, as u32; wraps when n > N).
uint32_t RS_Init(uint32_t n, uint32_t k, uint32_t m, const uint8_t* genPoly,
                 const uint8_t* logTable, const uint8_t* invTable, const uint8_t* antilogTable,
                 RsCodeParams* params);

// Systematic encoding: writes the n-k parity symbols of the k data symbols to `parity`. The
// code word is the data followed by the parity (the parity area may directly follow the data
// in the same array). Data symbols are reduced to their low m bits (a symbol outside the field
// is never used as a table index). All-zero data gives all-zero parity. Nothing is written when
// the block does not describe a usable code (q < 2, n - k > N) or an argument is null.
void RS_Encode(const uint8_t* data, int32_t k, uint8_t* parity, const RsCodeParams* params);

// Decodes errors and erasures.
//   received:      n symbols in code-word order.
//   erasures:      code-word indices (0 .. n-1) of symbols known to be unreliable; may be null
//                  when erasureCount is 0. The array is never modified.
//   erasureCount:  number of erasure indices (callers use 0, 1 or 2).
// Result count:
//   -1 when decoding failed: a received symbol above N (only the count is then meaningful), an
//      uncorrectable word, more erasures than parity symbols, or a parameter block with
//      n > 15, n > N, N > 127 or k >= n;
//   otherwise the number of corrected symbols with their positions, and the decoded code word.
// Any pattern of e erasures and v errors with e + 2v <= n - k is corrected exactly; beyond
// that the result is -1 or a true code word. An erasure index outside 0 .. n-1 makes the
// decoder ignore the whole erasure list (plain error decoding).
RsDecodeResult RS_Decode(const uint32_t* received, const uint32_t* erasures, uint32_t erasureCount,
                         const RsCodeParams* params);

// ---------------------------------------------------------------------------------------------
// Internal polynomial routines (exposed for tests). A polynomial holds up to 128 coefficients;
// index 0 is the highest degree and index length-1 the constant term; entries at and beyond
// length are 0. Length 0 is the zero polynomial. Symbol positions are handled as powers
// p = n - 1 - index (the exponent of x that carries the symbol).
// ---------------------------------------------------------------------------------------------
constexpr uint32_t RS_POLY_MAX = 128;
// Marker returned by field operations on an operand outside the field.
constexpr uint8_t RS_GF_INVALID = 231;

struct RsPoly {
    uint8_t coef[RS_POLY_MAX];
    uint32_t length;
};

namespace rs_internal {

// a XOR b when both are below q, else RS_GF_INVALID.
uint8_t GFadd(uint32_t a, uint32_t b, const RsCodeParams& p);
// 0 if either is 0; antilog[(log a + log b) mod (q-1)]; RS_GF_INVALID when an operand >= q.
uint8_t GFmult(uint32_t a, uint32_t b, const RsCodeParams& p);
// Length-N polynomial with symbol i (low 8 bits) at coefficient index N - n + i.
RsPoly createPoly(const uint32_t* symbols, const RsCodeParams& p);
// symbols[i] = coefficient index N - n + i, i = 0 .. n-1.
void extractCodeword(const RsPoly& poly, uint32_t* symbols, const RsCodeParams& p);
// Copies src into dst (zero-filling the rest); a zero-length src leaves dst untouched.
void polyCopy(const RsPoly& src, RsPoly& dst);
// Removes leading zero coefficients; the zero polynomial gets length 0.
void polyDelLeadingZeros(RsPoly& poly);
// True when every coefficient is below q; false for length 0.
bool checkValid(const RsPoly& poly, const RsCodeParams& p);
// Sum; length max(la, lb).
RsPoly polyAdd(const RsPoly& a, const RsPoly& b, const RsCodeParams& p);
// Product; length la + lb - 1; cleared (length 0) if it would exceed 128 coefficients.
RsPoly polyMul(const RsPoly& a, const RsPoly& b, const RsCodeParams& p);
// Long division a = quotient * b + remainder (leading zeros of both removed first). Returns 0
// without writing when either operand fails checkValid (b then also may not be zero), else 1.
int polyDivide(const RsPoly& a, const RsPoly& b, RsPoly& quotient, RsPoly& remainder,
               const RsCodeParams& p);
// out[j - from] = poly(a^j) for j = from .. to; with wrap, q-1 is added to both bounds first.
void polyeval(const RsPoly& poly, int32_t from, int32_t to, uint8_t* out, bool wrap,
              const RsCodeParams& p);
// S(x) = S_1 + S_2 x + ... + S_(n-k) x^(n-k-1), S_j = poly(a^j); length n-k.
RsPoly syndromePoly(const RsPoly& poly, const RsCodeParams& p);
// Gamma(x) = prod (1 + a^p x) over the erasure powers (1 when there are none); the zero
// polynomial when any power lies outside 0 .. n-1.
RsPoly erasurePoly(const uint32_t* powers, uint32_t count, const RsCodeParams& p);
// Copy of poly with the coefficient of x^p zeroed for every erasure power (plain copy when any
// power lies outside 0 .. n-1).
RsPoly setZeroRec(const RsPoly& poly, const uint32_t* powers, uint32_t count,
                  const RsCodeParams& p);
// S * Gamma, not truncated.
RsPoly modifySyndPoly(const RsPoly& s, const RsPoly& gamma, const RsCodeParams& p);
// Euclidean algorithm on x^(n-k) and t until the remainder is no longer than `stop`
// coefficients (at most 200 divisions). Outputs the error locator and the evaluator.
void EuclideanErasure(const RsPoly& t, uint32_t stop, RsPoly& lambda, RsPoly& omega,
                      const RsCodeParams& p);
// Chien search: every power p from N-1 down to 0 with lambda(a^-p) = 0, written to `powers`
// (room for RS_POLY_MAX entries). Returns their number.
uint32_t polyEvalDeg(const RsPoly& lambda, uint32_t* powers, const RsCodeParams& p);
// Forney values: value = omega(a^-p) * inverse[psi'(a^-p)] for every error and erasure power.
void errorEval(const RsPoly& psi, const RsPoly& omega, const uint32_t* errPowers, uint32_t errCount,
               uint8_t* errValues, const uint32_t* erasPowers, uint32_t erasCount,
               uint8_t* erasValues, const RsCodeParams& p);
// XORs each error value into the coefficient of x^p; overwrites each erasure coefficient.
// Powers at or above poly.length are skipped.
void errorCorr(RsPoly& poly, const uint32_t* errPowers, const uint8_t* errValues, uint32_t errCount,
               const uint32_t* erasPowers, const uint8_t* erasValues, uint32_t erasCount);

}  // namespace rs_internal
