// Reed-Solomon codec: field and generator tables, encoder, and errors-and-erasures decoding
// properties over many random words for each of the three codes.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

#include "dsp/ReedSolomon.h"

namespace {

struct Code {
    const char* name;
    uint32_t n, k, m, primitive;
    const uint8_t* gen;
    const uint8_t* log;
    const uint8_t* inv;
    const uint8_t* antilog;
};

#define TAVIK_RS_CODE(N, K, M, PRIM)                                           \
    Code {                                                                     \
#N "_" #K, N, K, M, PRIM, RS_##N##_##K##_TABLES_CODEGENPOLY,           \
            RS_##N##_##K##_TABLES_LOOKUPGF, RS_##N##_##K##_TABLES_LOOKUPGFINV, \
            RS_##N##_##K##_TABLES_LOOKUPGFREV                                  \
    }
const Code kCodes[] = {TAVIK_RS_CODE(15, 9, 4, 0x13), TAVIK_RS_CODE(11, 7, 5, 0x25),
                       TAVIK_RS_CODE(7, 5, 7, 0x89)};

RsCodeParams Init(const Code& c) {
    RsCodeParams p{};
    RS_Init(c.n, c.k, c.m, c.gen, c.log, c.inv, c.antilog, &p);
    return p;
}

// Multiplication by shift-and-reduce, independent of the tables under test.
uint32_t SlowMul(uint32_t a, uint32_t b, const Code& c) {
    uint32_t r = 0;
    for (; b != 0; b >>= 1) {
        if (b & 1) r ^= a;
        a <<= 1;
        if (a & (1u << c.m)) a ^= c.primitive;
    }
    return r;
}

std::vector<uint32_t> RandomCodeword(const RsCodeParams& p, std::mt19937& rng) {
    std::vector<uint8_t> bytes(p.n);
    for (uint32_t i = 0; i < p.k; ++i) bytes[i] = static_cast<uint8_t>(rng() % (p.N + 1));
    RS_Encode(bytes.data(), static_cast<int32_t>(p.k), bytes.data() + p.k, &p);
    return std::vector<uint32_t>(bytes.begin(), bytes.end());
}

bool IsCodeword(const uint32_t* word, const RsCodeParams& p) {
    std::vector<uint8_t> bytes(p.n), parity(p.parityCount);
    for (uint32_t i = 0; i < p.n; ++i) {
        if (word[i] > p.N) return false;
        bytes[i] = static_cast<uint8_t>(word[i]);
    }
    RS_Encode(bytes.data(), static_cast<int32_t>(p.k), parity.data(), &p);
    return std::equal(parity.begin(), parity.end(), bytes.begin() + p.k);
}

// Indices where two words differ, ascending.
std::vector<uint32_t> Diff(const std::vector<uint32_t>& a, const uint32_t* b) {
    std::vector<uint32_t> d;
    for (uint32_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i]) d.push_back(i);
    return d;
}

TEST(ReedSolomonTables, FieldTablesFollowPrimitivePolynomial) {
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const uint32_t q = 1u << c.m;
        uint32_t x = 1;
        for (uint32_t i = 0; i + 1 < q; ++i, x = SlowMul(x, 2, c)) {
            EXPECT_EQ(c.antilog[i], x) << i;
            EXPECT_EQ(c.log[x], i) << x;
        }
        EXPECT_EQ(x, 1u);  // a has order q-1: the polynomial is primitive
        EXPECT_EQ(c.antilog[q - 1], 0);
        EXPECT_EQ(c.log[0], 0);
        EXPECT_EQ(c.inv[0], 0);
        for (uint32_t v = 1; v < q; ++v) EXPECT_EQ(SlowMul(v, c.inv[v], c), 1u) << v;
    }
}

TEST(ReedSolomonTables, GeneratorTablesMatchPublishedValuesAndRoots) {
    const std::vector<std::vector<uint8_t>> logForm = {
        {10, 14, 4, 6, 9, 6}, {24, 19, 29, 10}, {32, 3}};
    const std::vector<std::vector<uint8_t>> coefs = {{7, 9, 3, 12, 10, 12}, {30, 6, 9, 17}, {6, 8}};
    for (size_t ci = 0; ci < 3; ++ci) {
        const Code& c = kCodes[ci];
        SCOPED_TRACE(c.name);
        const uint32_t nk = c.n - c.k;
        for (uint32_t j = 0; j < nk; ++j) {
            EXPECT_EQ(c.gen[j], logForm[ci][j]);
            EXPECT_EQ(c.antilog[c.gen[j]], coefs[ci][j]);
        }
        // g(a^r) = 0 for r = 1 .. n-k, evaluated by Horner with the leading 1 restored.
        for (uint32_t r = 1; r <= nk; ++r) {
            uint32_t acc = 1;
            for (uint32_t j = 0; j < nk; ++j) acc = SlowMul(acc, c.antilog[r], c) ^ coefs[ci][j];
            EXPECT_EQ(acc, 0u) << "root a^" << r;
        }
    }
}

TEST(ReedSolomonInit, ShorteningAndDegenerateField) {
    const Code& c = kCodes[1];
    RsCodeParams p{};
    EXPECT_EQ(RS_Init(c.n, c.k, c.m, c.gen, c.log, c.inv, c.antilog, &p), 20u);
    RS_Init(7, 5, 0, nullptr, nullptr, nullptr, nullptr, &p);
    EXPECT_EQ(p.q, 1u);
    EXPECT_EQ(p.N, 0u);
}

TEST(ReedSolomonEncode, ZeroDataAndSyndromes) {
    std::mt19937 rng(7);
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const RsCodeParams p = Init(c);
        uint8_t data[16] = {};
        uint8_t parity[8];
        std::fill(std::begin(parity), std::end(parity), 0xAA);
        RS_Encode(data, static_cast<int32_t>(p.k), parity, &p);
        for (uint32_t j = 0; j < p.parityCount; ++j) EXPECT_EQ(parity[j], 0);
        EXPECT_EQ(parity[p.parityCount], 0xAA);  // nothing written past the parity
        for (int t = 0; t < 200; ++t) {
            const std::vector<uint32_t> w = RandomCodeword(p, rng);
            const RsPoly s = rs_internal::syndromePoly(rs_internal::createPoly(w.data(), p), p);
            ASSERT_EQ(s.length, p.parityCount);
            for (uint32_t j = 0; j < s.length; ++j) ASSERT_EQ(s.coef[j], 0);
        }
    }
    // Data symbols outside the field are reduced to m bits, never used as table indices.
    const RsCodeParams p = Init(kCodes[0]);
    uint8_t wide[9] = {0xF3, 0x12, 0, 0, 0, 0, 0, 0, 0xFF};
    uint8_t narrow[9] = {0x03, 0x02, 0, 0, 0, 0, 0, 0, 0x0F};
    uint8_t pw[6], pn[6];
    RS_Encode(wide, 9, pw, &p);
    RS_Encode(narrow, 9, pn, &p);
    EXPECT_TRUE(std::equal(pw, pw + 6, pn));
}

// Three kinds of random words. Within capacity (e erasures, whose symbols may or may not change,
// and v errors with e + 2v <= n - k) the word is corrected exactly, with the changed positions.
// Beyond it the decoder fails (mostly) or returns a true code word, reporting the symbols it
// changed relative to the received word; the same holds for arbitrary words with arbitrary (even
// repeated) erasure lists. The erasure array is never modified.
TEST(ReedSolomonDecode, RandomErrorsAndErasures) {
    std::mt19937 rng(12345);
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const RsCodeParams p = Init(c);
        const uint32_t nk = p.parityCount;
        std::vector<uint32_t> order(p.n);
        int failures = 0;
        for (int trial = 0; trial < 12000; ++trial) {
            const int mode = trial % 3;  // 0 within capacity, 1 beyond, 2 arbitrary
            const std::vector<uint32_t> sent = RandomCodeword(p, rng);
            const uint32_t e = rng() % (nk + 1);
            const uint32_t minV = mode == 1 ? (nk - e) / 2 + 1 : 0;
            const uint32_t maxV = mode == 1 ? p.n - e : (nk - e) / 2;
            const uint32_t v = minV + rng() % (maxV - minV + 1);
            for (uint32_t i = 0; i < p.n; ++i) order[i] = i;
            std::shuffle(order.begin(), order.end(), rng);
            std::vector<uint32_t> recv = sent;
            uint32_t eras[RS_MAX_CODEWORD];
            for (uint32_t i = 0; i < e; ++i) recv[eras[i] = order[i]] = rng() % (p.N + 1);
            for (uint32_t i = e; i < e + v; ++i) recv[order[i]] ^= 1 + rng() % p.N;
            if (mode == 2) {
                for (uint32_t& x : recv) x = rng() % (p.N + 1);
                for (uint32_t i = 0; i < e; ++i) eras[i] = rng() % p.n;
            }
            const std::vector<uint32_t> erasCopy(eras, eras + e);

            const RsDecodeResult r = RS_Decode(recv.data(), eras, e, &p);

            const std::string ctx = "trial " + std::to_string(trial) + " e=" + std::to_string(e) +
                                    " v=" + std::to_string(v);
            ASSERT_TRUE(std::equal(erasCopy.begin(), erasCopy.end(), eras)) << ctx;
            if (mode != 0 && r.count < 0) {
                failures += mode == 1;
                continue;
            }
            ASSERT_TRUE(IsCodeword(r.codeword, p)) << ctx;
            ASSERT_TRUE(mode != 0 || std::equal(sent.begin(), sent.end(), r.codeword)) << ctx;
            const std::vector<uint32_t> diff = Diff(recv, r.codeword);
            ASSERT_EQ(r.count, static_cast<int32_t>(diff.size())) << ctx;
            ASSERT_TRUE(std::equal(diff.begin(), diff.end(), r.positions)) << ctx;
        }
        EXPECT_GT(failures, 2000);  // most overloaded words are detected
    }
}

// A received symbol above N is rejected at once; N itself is a valid symbol (one error in the
// zero word). Random words above never hold out-of-range symbols.
TEST(ReedSolomonDecode, SymbolRange) {
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const RsCodeParams p = Init(c);
        std::vector<uint32_t> word(p.n, 0);
        word[p.n - 1] = p.N;
        const RsDecodeResult r = RS_Decode(word.data(), nullptr, 0, &p);
        EXPECT_EQ(r.count, 1);
        EXPECT_EQ(r.codeword[p.n - 1], 0u);
        word[3] = p.N + 1;
        EXPECT_EQ(RS_Decode(word.data(), nullptr, 0, &p).count, -1);
    }
}

// An erasure index outside the word makes the decoder drop the erasure list and decode for
// errors only; it must not report an arbitrary word as decoded.
TEST(ReedSolomonDecode, ErasureIndexOutsideWordIsIgnored) {
    std::mt19937 rng(77);
    const RsCodeParams p = Init(kCodes[1]);
    for (int t = 0; t < 500; ++t) {
        const std::vector<uint32_t> sent = RandomCodeword(p, rng);
        std::vector<uint32_t> recv = sent;
        recv[rng() % p.n] ^= 1 + rng() % p.N;
        uint32_t eras[2] = {2, p.n + static_cast<uint32_t>(rng() % 40)};
        RsDecodeResult r = RS_Decode(recv.data(), eras, 2, &p);
        ASSERT_EQ(r.count, 1);
        ASSERT_TRUE(std::equal(sent.begin(), sent.end(), r.codeword));
        // Three errors exceed the capacity: failure or a true code word, never the input.
        for (int i = 0; i < 2; ++i) recv[rng() % p.n] ^= 1 + rng() % p.N;
        r = RS_Decode(recv.data(), eras, 2, &p);
        ASSERT_TRUE(r.count < 0 || IsCodeword(r.codeword, p));
    }
}

TEST(ReedSolomonDecode, RejectsUnusableParameterBlocks) {
    uint32_t word[16] = {};
    RsCodeParams p{};
    const Code& c11 = kCodes[1];
    const Code& c7 = kCodes[2];
    RS_Init(16, 10, 5, c11.gen, c11.log, c11.inv, c11.antilog, &p);
    EXPECT_EQ(RS_Decode(word, nullptr, 0, &p).count, -1);  // longer than a result holds
    RS_Init(7, 5, 2, c7.gen, c7.log, c7.inv, c7.antilog, &p);
    EXPECT_EQ(RS_Decode(word, nullptr, 0, &p).count, -1);  // longer than the field allows
    p = Init(c7);
    uint32_t eras[3] = {0, 1, 2};
    EXPECT_EQ(RS_Decode(word, eras, 3, &p).count, -1);  // more erasures than parity
}

TEST(ReedSolomonPoly, DivisionReconstructsDividend) {
    using namespace rs_internal;
    std::mt19937 rng(3);
    const RsCodeParams p = Init(kCodes[2]);
    for (int t = 0; t < 500; ++t) {
        RsPoly a{}, b{};
        a.length = 1 + rng() % 20;
        b.length = 1 + rng() % 8;
        for (uint32_t i = 0; i < a.length; ++i) a.coef[i] = rng() % p.q;
        for (uint32_t i = 0; i < b.length; ++i) b.coef[i] = rng() % p.q;
        a.coef[0] = 1 + rng() % p.N;
        b.coef[0] = 1 + rng() % p.N;
        RsPoly quo{}, rem{};
        ASSERT_EQ(polyDivide(a, b, quo, rem, p), 1);
        ASSERT_LT(rem.length, b.length);
        RsPoly back = polyAdd(polyMul(quo, b, p), rem, p);
        polyDelLeadingZeros(back);
        polyDelLeadingZeros(a);
        ASSERT_EQ(back.length, a.length);
        ASSERT_TRUE(std::equal(a.coef, a.coef + RS_POLY_MAX, back.coef));
    }
    RsPoly zero{}, one{};
    one.length = 1;
    one.coef[0] = 1;
    RsPoly q1 = one, r1 = one;
    EXPECT_EQ(polyDivide(one, zero, q1, r1, p), 0);  // division by zero is refused
    EXPECT_EQ(GFmult(p.q, 1, p), RS_GF_INVALID);
    EXPECT_EQ(GFadd(3, p.q, p), RS_GF_INVALID);
}

}  // namespace
