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

const Code kCodes[] = {
    {"15_9", 15, 9, 4, 0x13, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
     RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV},
    {"11_7", 11, 7, 5, 0x25, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
     RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV},
    {"7_5", 7, 5, 7, 0x89, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF,
     RS_7_5_TABLES_LOOKUPGFINV, RS_7_5_TABLES_LOOKUPGFREV},
};

RsCodeParams Init(const Code& c) {
    RsCodeParams p{};
    RS_Init(c.n, c.k, c.m, c.gen, c.log, c.inv, c.antilog, &p);
    return p;
}

// Multiplication by shift-and-reduce, independent of the tables under test.
uint32_t SlowMul(uint32_t a, uint32_t b, uint32_t q, uint32_t primitive) {
    uint32_t r = 0;
    while (b != 0) {
        if (b & 1) r ^= a;
        b >>= 1;
        a <<= 1;
        if (a & q) a ^= primitive;
    }
    return r;
}

std::vector<uint32_t> RandomCodeword(const RsCodeParams& p, std::mt19937& rng) {
    std::uniform_int_distribution<uint32_t> sym(0, p.N);
    std::vector<uint8_t> bytes(p.n);
    for (uint32_t i = 0; i < p.k; ++i) bytes[i] = static_cast<uint8_t>(sym(rng));
    RS_Encode(bytes.data(), static_cast<int32_t>(p.k), bytes.data() + p.k, &p);
    return std::vector<uint32_t>(bytes.begin(), bytes.end());
}

bool IsCodeword(const uint32_t* word, const RsCodeParams& p) {
    std::vector<uint8_t> bytes(p.n);
    for (uint32_t i = 0; i < p.n; ++i) {
        if (word[i] > p.N) return false;
        bytes[i] = static_cast<uint8_t>(word[i]);
    }
    std::vector<uint8_t> parity(p.parityCount);
    RS_Encode(bytes.data(), static_cast<int32_t>(p.k), parity.data(), &p);
    return std::equal(parity.begin(), parity.end(), bytes.begin() + p.k);
}

}  // namespace

TEST(ReedSolomonTables, FieldTablesFollowPrimitivePolynomial) {
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const uint32_t q = 1u << c.m;
        uint32_t x = 1;
        for (uint32_t i = 0; i + 1 < q; ++i) {
            EXPECT_EQ(c.antilog[i], x) << i;
            EXPECT_EQ(c.log[x], i) << x;
            x = SlowMul(x, 2, q, c.primitive);
        }
        EXPECT_EQ(x, 1u);  // a has order q-1: the polynomial is primitive
        EXPECT_EQ(c.antilog[q - 1], 0);
        EXPECT_EQ(c.log[0], 0);
        EXPECT_EQ(c.inv[0], 0);
        for (uint32_t v = 1; v < q; ++v) EXPECT_EQ(SlowMul(v, c.inv[v], q, c.primitive), 1u) << v;
    }
}

TEST(ReedSolomonTables, GeneratorTablesMatchPublishedValuesAndRoots) {
    const std::vector<std::vector<uint8_t>> logForm = {
        {10, 14, 4, 6, 9, 6}, {24, 19, 29, 10}, {32, 3}};
    const std::vector<std::vector<uint8_t>> coefs = {{7, 9, 3, 12, 10, 12}, {30, 6, 9, 17}, {6, 8}};
    for (size_t ci = 0; ci < 3; ++ci) {
        const Code& c = kCodes[ci];
        SCOPED_TRACE(c.name);
        const uint32_t q = 1u << c.m;
        const uint32_t nk = c.n - c.k;
        for (uint32_t j = 0; j < nk; ++j) {
            EXPECT_EQ(c.gen[j], logForm[ci][j]);
            EXPECT_EQ(c.antilog[c.gen[j]], coefs[ci][j]);
        }
        // g(a^r) = 0 for r = 1 .. n-k, evaluated by Horner with the leading 1 restored.
        for (uint32_t r = 1; r <= nk; ++r) {
            const uint32_t root = c.antilog[r];
            uint32_t acc = 1;
            for (uint32_t j = 0; j < nk; ++j)
                acc = SlowMul(acc, root, q, c.primitive) ^ coefs[ci][j];
            EXPECT_EQ(acc, 0u) << "root a^" << r;
        }
    }
    EXPECT_EQ(RS_7_5_TABLES_CODEGENPOLY[2], 0);
    EXPECT_EQ(RS_7_5_TABLES_CODEGENPOLY[3], 0);
}

TEST(ReedSolomonInit, FillsParameterBlock) {
    RsCodeParams p{};
    EXPECT_EQ(RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
                      RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &p),
              20u);
    EXPECT_EQ(p.q, 32u);
    EXPECT_EQ(p.n, 11u);
    EXPECT_EQ(p.N, 31u);
    EXPECT_EQ(p.k, 7u);
    EXPECT_EQ(p.parityCount, 4u);
    EXPECT_EQ(p.fullDataLength, 27u);
    EXPECT_EQ(p.shortening, 20u);
    EXPECT_EQ(p.genPoly, RS_11_7_TABLES_CODEGENPOLY);
    EXPECT_EQ(p.antilogTable, RS_11_7_TABLES_LOOKUPGFREV);
    RsCodeParams z{};
    RS_Init(7, 5, 0, nullptr, nullptr, nullptr, nullptr, &z);
    EXPECT_EQ(z.q, 1u);
    EXPECT_EQ(z.N, 0u);
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
            const RsPoly poly = rs_internal::createPoly(w.data(), p);
            const RsPoly s = rs_internal::syndromePoly(poly, p);
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

// Every pattern of e erasures and v errors with e + 2v <= n - k is corrected exactly.
TEST(ReedSolomonDecode, CorrectsWithinCapacity) {
    std::mt19937 rng(12345);
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const RsCodeParams p = Init(c);
        const uint32_t nk = p.parityCount;
        std::vector<uint32_t> order(p.n);
        for (int trial = 0; trial < 4000; ++trial) {
            const std::vector<uint32_t> sent = RandomCodeword(p, rng);
            const uint32_t e = rng() % (nk + 1);
            const uint32_t v = rng() % ((nk - e) / 2 + 1);
            for (uint32_t i = 0; i < p.n; ++i) order[i] = i;
            std::shuffle(order.begin(), order.end(), rng);
            std::vector<uint32_t> recv = sent;
            uint32_t eras[RS_MAX_CODEWORD];
            for (uint32_t i = 0; i < e; ++i) {
                eras[i] = order[i];
                recv[order[i]] = rng() % (p.N + 1);  // may or may not change the symbol
            }
            for (uint32_t i = e; i < e + v; ++i) recv[order[i]] ^= 1 + rng() % p.N;
            uint32_t erasCopy[RS_MAX_CODEWORD];
            std::copy(eras, eras + e, erasCopy);

            const RsDecodeResult r = RS_Decode(recv.data(), eras, e, &p);

            ASSERT_TRUE(std::equal(eras, eras + e, erasCopy));
            std::vector<uint32_t> diff;
            for (uint32_t i = 0; i < p.n; ++i) {
                if (recv[i] != sent[i]) diff.push_back(i);
            }
            ASSERT_EQ(r.count, static_cast<int32_t>(diff.size()))
                << "trial " << trial << " e=" << e << " v=" << v;
            ASSERT_TRUE(std::equal(sent.begin(), sent.end(), r.codeword));
            ASSERT_TRUE(std::equal(diff.begin(), diff.end(), r.positions));
        }
    }
}

// Beyond capacity the decoder either fails or returns a true code word, reporting the symbols
// it changed relative to the received word.
TEST(ReedSolomonDecode, BeyondCapacityFailsOrGivesCodeword) {
    std::mt19937 rng(999);
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const RsCodeParams p = Init(c);
        const uint32_t nk = p.parityCount;
        std::vector<uint32_t> order(p.n);
        int failures = 0;
        for (int trial = 0; trial < 4000; ++trial) {
            const std::vector<uint32_t> sent = RandomCodeword(p, rng);
            const uint32_t e = rng() % (nk + 1);
            const uint32_t minV = (nk - e) / 2 + 1;
            const uint32_t v = minV + rng() % (p.n - e - minV + 1);
            for (uint32_t i = 0; i < p.n; ++i) order[i] = i;
            std::shuffle(order.begin(), order.end(), rng);
            std::vector<uint32_t> recv = sent;
            uint32_t eras[RS_MAX_CODEWORD];
            for (uint32_t i = 0; i < e; ++i) eras[i] = order[i];
            for (uint32_t i = e; i < e + v; ++i) recv[order[i]] ^= 1 + rng() % p.N;
            const RsDecodeResult r = RS_Decode(recv.data(), eras, e, &p);
            if (r.count < 0) {
                ++failures;
                continue;
            }
            ASSERT_TRUE(IsCodeword(r.codeword, p)) << "trial " << trial;
            std::vector<uint32_t> diff;
            for (uint32_t i = 0; i < p.n; ++i) {
                if (recv[i] != r.codeword[i]) diff.push_back(i);
            }
            ASSERT_EQ(r.count, static_cast<int32_t>(diff.size()));
            ASSERT_TRUE(std::equal(diff.begin(), diff.end(), r.positions));
        }
        EXPECT_GT(failures, 2000);  // most overloaded words are detected
    }
}

TEST(ReedSolomonDecode, EdgeCases) {
    std::mt19937 rng(5);
    const RsCodeParams p15 = Init(kCodes[0]);
    const RsCodeParams p7 = Init(kCodes[2]);

    // An intact word decodes unchanged.
    std::vector<uint32_t> w = RandomCodeword(p15, rng);
    RsDecodeResult r = RS_Decode(w.data(), nullptr, 0, &p15);
    EXPECT_EQ(r.count, 0);
    EXPECT_TRUE(std::equal(w.begin(), w.end(), r.codeword));

    // (7, 5): one error is corrected, two are not.
    w = RandomCodeword(p7, rng);
    std::vector<uint32_t> bad = w;
    bad[4] ^= 0x55;
    r = RS_Decode(bad.data(), nullptr, 0, &p7);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.positions[0], 4u);
    bad[1] ^= 0x21;
    EXPECT_EQ(RS_Decode(bad.data(), nullptr, 0, &p7).count, -1);

    // A symbol above N is rejected at once; N itself is a valid symbol.
    std::vector<uint32_t> big = w;
    big[3] = p7.N + 1;
    EXPECT_EQ(RS_Decode(big.data(), nullptr, 0, &p7).count, -1);
    std::vector<uint32_t> zero(p7.n, 0);
    zero[6] = p7.N;
    r = RS_Decode(zero.data(), nullptr, 0, &p7);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.codeword[6], 0u);

    // Erasure of a zero symbol: the word is already a code word, count 0.
    std::vector<uint32_t> z(p15.n, 0);
    uint32_t er[2] = {3, 10};
    r = RS_Decode(z.data(), er, 2, &p15);
    EXPECT_EQ(r.count, 0);
    // Erasure of a non-zero symbol received intact: restored, and not counted as a change.
    w = RandomCodeword(p15, rng);
    w[3] = 5;
    std::vector<uint8_t> bytes(w.begin(), w.end());
    RS_Encode(bytes.data(), 9, bytes.data() + 9, &p15);
    w.assign(bytes.begin(), bytes.end());
    r = RS_Decode(w.data(), er, 1, &p15);
    EXPECT_EQ(r.count, 0);
    EXPECT_EQ(r.codeword[3], 5u);
    // The same symbol received as 0 is restored and counted.
    bad = w;
    bad[3] = 0;
    r = RS_Decode(bad.data(), er, 1, &p15);
    EXPECT_EQ(r.count, 1);
    EXPECT_EQ(r.positions[0], 3u);
    EXPECT_EQ(r.codeword[3], 5u);
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
        if (r.count >= 0) {
            ASSERT_TRUE(IsCodeword(r.codeword, p));
        }
    }
}

// Arbitrary words with arbitrary (even repeated) erasure lists: failure or a true code word.
TEST(ReedSolomonDecode, ArbitraryInputsGiveFailureOrCodeword) {
    std::mt19937 rng(4242);
    for (const Code& c : kCodes) {
        SCOPED_TRACE(c.name);
        const RsCodeParams p = Init(c);
        for (int t = 0; t < 3000; ++t) {
            uint32_t recv[RS_MAX_CODEWORD];
            for (uint32_t i = 0; i < p.n; ++i) recv[i] = rng() % (p.N + 1);
            uint32_t eras[RS_MAX_CODEWORD];
            const uint32_t e = rng() % (p.parityCount + 1);
            for (uint32_t i = 0; i < e; ++i) eras[i] = rng() % p.n;
            const RsDecodeResult r = RS_Decode(recv, eras, e, &p);
            if (r.count >= 0) {
                ASSERT_TRUE(IsCodeword(r.codeword, p)) << "trial " << t;
            }
        }
    }
}

TEST(ReedSolomonDecode, RejectsUnusableParameterBlocks) {
    uint32_t word[16] = {};
    RsCodeParams p{};
    RS_Init(16, 10, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
            RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &p);
    EXPECT_EQ(RS_Decode(word, nullptr, 0, &p).count, -1);  // longer than a result holds
    RS_Init(7, 5, 2, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF, RS_7_5_TABLES_LOOKUPGFINV,
            RS_7_5_TABLES_LOOKUPGFREV, &p);
    EXPECT_EQ(RS_Decode(word, nullptr, 0, &p).count, -1);  // longer than the field allows
    const RsCodeParams p7 = Init(kCodes[2]);
    uint32_t eras[3] = {0, 1, 2};
    EXPECT_EQ(RS_Decode(word, eras, 3, &p7).count, -1);  // more erasures than parity
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
        RsPoly ref = a;
        polyDelLeadingZeros(back);
        polyDelLeadingZeros(ref);
        ASSERT_EQ(back.length, ref.length);
        ASSERT_TRUE(std::equal(ref.coef, ref.coef + RS_POLY_MAX, back.coef));
    }
    RsPoly zero{}, one{};
    one.length = 1;
    one.coef[0] = 1;
    RsPoly q1 = one, r1 = one;
    EXPECT_EQ(polyDivide(one, zero, q1, r1, p), 0);  // division by zero is refused
    EXPECT_EQ(GFmult(p.q, 1, p), RS_GF_INVALID);
    EXPECT_EQ(GFadd(3, p.q, p), RS_GF_INVALID);
}
