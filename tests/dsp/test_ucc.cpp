// Commercial identifier validation: range, repetition counting, and the two code forms built
// from the identifier's bits.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "dsp/CUCCValidator.h"

namespace {

TEST(UccValidator, RepeatingSymbolCount) {
    const struct {
        uint8_t s[7];
        int expected;
    } cases[] = {{{1, 2, 3, 4, 5, 6, 7}, 0},     {{1, 1, 2, 3, 4, 5, 6}, 1},
                 {{1, 2, 1, 3, 2, 4, 5}, 2},     {{9, 1, 1, 2, 2, 9, 4}, 3},
                 {{1, 2, 1, 3, 1, 4, 5}, 99999}, {{7, 7, 7, 7, 7, 7, 7}, 99999}};
    for (const auto& c : cases) EXPECT_EQ(num_repeating_symbols(c.s), c.expected) << c.expected;
}

// Out of range; a 7-bit code word repeating a value three times, or two values twice.
TEST(UccValidator, InvalidIdentifiers) {
    for (long id : {0L, -1L, -123456789L, 1L << 36, -(1L << 40)})
        EXPECT_FALSE(CUCCValidator::IsValidCommID(id)) << id;
    auto id7 = [](long s0, long s1, long s2, long s3, long s4) {
        return (s0 << 28) | (s1 << 21) | (s2 << 14) | (s3 << 7) | s4;
    };
    EXPECT_FALSE(CUCCValidator::IsValidCommID(id7(5, 5, 5, 17, 99)));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(id7(5, 5, 17, 17, 99)));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(id7(5, 60, 17, 5, 17)));
}

// Over many random identifiers: the symbol buffers are the two code words of the identifier's
// bits (data in place, parity that decodes clean), and the decision follows the repetition rule
// on group A (d0-d4, p9, p10), group B (d5-d8, p11-p13) and the 7-bit word.
TEST(UccValidator, DecisionFollowsTheCodeWordsOfTheIdentifier) {
    CommIdValidateCodes codes;
    Comm_ID_Validate_Init(&codes);
    std::mt19937_64 rng(20240611);
    int valid = 0;
    const int trials = 4000;
    for (int t = 0; t < trials; ++t) {
        const long id = static_cast<long>(rng() & ((1ULL << 36) - 1)) | 1;
        CommIdValidateSymbols sym;
        const int ok = Comm_ID_Validate_Process(id, &sym, &codes);
        ASSERT_EQ(ok != 0, CUCCValidator::IsValidCommID(id));
        long back4 = 0, back7 = 0;
        for (int i = 0; i < 9; ++i) back4 |= static_cast<long>(sym.nibbles[i]) << (32 - 4 * i);
        for (int i = 0; i < 5; ++i) back7 |= static_cast<long>(sym.sym7[i]) << (28 - 7 * i);
        ASSERT_EQ(back4, id);
        ASSERT_EQ(back7, id & ((1L << 35) - 1));
        uint32_t w15[15], w7[7];
        std::copy(sym.nibbles, sym.nibbles + 15, w15);
        std::copy(sym.sym7, sym.sym7 + 7, w7);
        ASSERT_EQ(RS_Decode(w15, nullptr, 0, &codes.rs15_9).count, 0) << id;
        ASSERT_EQ(RS_Decode(w7, nullptr, 0, &codes.rs7_5).count, 0) << id;
        const uint8_t* d = sym.nibbles;
        const uint8_t a[7] = {d[0], d[1], d[2], d[3], d[4], d[9], d[10]};
        const uint8_t b[7] = {d[5], d[6], d[7], d[8], d[11], d[12], d[13]};
        const bool expect = num_repeating_symbols(a) < 3 && num_repeating_symbols(b) < 3 &&
                            num_repeating_symbols(sym.sym7) < 2;
        ASSERT_EQ(ok != 0, expect) << id;
        valid += ok;
    }
    // The rule rejects a sizeable share of random identifiers but not most of them.
    EXPECT_GT(valid, trials / 4);
    EXPECT_LT(valid, trials);
}

}  // namespace
