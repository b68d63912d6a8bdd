// Commercial identifier validation: range, repetition counting, and the two code forms built
// from the identifier's bits.
#include <gtest/gtest.h>

#include <map>
#include <random>

#include "dsp/CUCCValidator.h"

namespace {

TEST(UccValidator, RepeatingSymbolCount) {
    const uint8_t none[7] = {1, 2, 3, 4, 5, 6, 7};
    const uint8_t one[7] = {1, 1, 2, 3, 4, 5, 6};
    const uint8_t two[7] = {1, 2, 1, 3, 2, 4, 5};
    const uint8_t three[7] = {9, 1, 1, 2, 2, 9, 4};
    const uint8_t triple[7] = {1, 2, 1, 3, 1, 4, 5};
    const uint8_t all[7] = {7, 7, 7, 7, 7, 7, 7};
    EXPECT_EQ(num_repeating_symbols(none), 0);
    EXPECT_EQ(num_repeating_symbols(one), 1);
    EXPECT_EQ(num_repeating_symbols(two), 2);
    EXPECT_EQ(num_repeating_symbols(three), 3);
    EXPECT_EQ(num_repeating_symbols(triple), 99999);
    EXPECT_EQ(num_repeating_symbols(all), 99999);
}

TEST(UccValidator, OutOfRangeIdentifiersAreInvalid) {
    EXPECT_FALSE(CUCCValidator::IsValidCommID(0));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(-1));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(-123456789L));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(1L << 36));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(-(1L << 40)));
}

// Identifiers whose 7-bit code word repeats a value: three times, or two values twice.
TEST(UccValidator, Repeated7BitSymbolsAreInvalid) {
    auto id7 = [](long s0, long s1, long s2, long s3, long s4) {
        return (s0 << 28) | (s1 << 21) | (s2 << 14) | (s3 << 7) | s4;
    };
    EXPECT_FALSE(CUCCValidator::IsValidCommID(id7(5, 5, 5, 17, 99)));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(id7(5, 5, 17, 17, 99)));
    EXPECT_FALSE(CUCCValidator::IsValidCommID(id7(5, 60, 17, 5, 17)));
}

// Over many random identifiers: the symbol buffers are the two code words of the identifier's
// bits, and the decision follows the repetition rule on groups A, B and the 7-bit word.
TEST(UccValidator, DecisionFollowsTheCodeWordsOfTheIdentifier) {
    CommIdValidateCodes codes;
    Comm_ID_Validate_Init(&codes);
    EXPECT_EQ(codes.rs15_9.n, 15u);
    EXPECT_EQ(codes.rs15_9.k, 9u);
    EXPECT_EQ(codes.rs7_5.q, 128u);
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
        for (int i = 0; i < 15; ++i) w15[i] = sym.nibbles[i];
        for (int i = 0; i < 7; ++i) w7[i] = sym.sym7[i];
        ASSERT_EQ(RS_Decode(w15, nullptr, 0, &codes.rs15_9).count, 0) << id;
        ASSERT_EQ(RS_Decode(w7, nullptr, 0, &codes.rs7_5).count, 0) << id;
        auto worst = [](std::initializer_list<uint8_t> s) {
            std::map<int, int> counts;
            for (uint8_t v : s) ++counts[v];
            int pairs = 0;
            for (const auto& [v, c] : counts) {
                if (c >= 3) return 99999;
                pairs += c == 2;
            }
            return pairs;
        };
        const uint8_t* d = sym.nibbles;
        const bool expect = worst({d[0], d[1], d[2], d[3], d[4], d[9], d[10]}) < 3 &&
                            worst({d[5], d[6], d[7], d[8], d[11], d[12], d[13]}) < 3 &&
                            worst({sym.sym7[0], sym.sym7[1], sym.sym7[2], sym.sym7[3], sym.sym7[4],
                                   sym.sym7[5], sym.sym7[6]}) < 2;
        ASSERT_EQ(ok != 0, expect) << id;
        valid += ok;
    }
    // The rule rejects a sizeable share of random identifiers but not most of them.
    EXPECT_GT(valid, trials / 4);
    EXPECT_LT(valid, trials);
}

}  // namespace
