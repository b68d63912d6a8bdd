// Circular arithmetic: the defining properties over every pair of small moduli (which pins the
// worked cases such as 1 and 23 on the 24-circle), and the large moduli the detection filters
// use (no overflow).
#include <gtest/gtest.h>

#include <cstdlib>

#include "dsp/CircData.h"

namespace {

TEST(CircData, PropertiesOverSmallModuli) {
    for (int m : {1, 2, 3, 7, 24, 50, 748}) {
        for (int a = 0; a < m; a += (m > 60 ? 7 : 1)) {
            for (int b = 0; b < m; b += (m > 60 ? 5 : 1)) {
                const int s = CircData_Signed_Difference(a, b, m);
                const int d = CircData_Abs_Difference(a, b, m);
                // The signed difference is the representative of a - b nearest to zero, the
                // absolute difference its size.
                EXPECT_EQ(((b + s) % m + m) % m, a) << a << " " << b << " " << m;
                EXPECT_LE(std::abs(s), m / 2);
                EXPECT_EQ(d, std::abs(s)) << a << " " << b << " " << m;
                EXPECT_EQ(CircData_Abs_Difference(b, a, m), d);
                // The average lies halfway along the short arc from b to a.
                const int avg = CircData_Average(a, b, m);
                EXPECT_GE(avg, 0);
                EXPECT_LT(avg, m);
                EXPECT_EQ(((b + s / 2) % m + m) % m, avg);
                // Tracking moves one step along the short arc and never overshoots.
                const int t = CircData_Track(b, a, m);
                EXPECT_LE(CircData_Abs_Difference(t, a, m), d);
                EXPECT_EQ(CircData_Abs_Difference(t, b, m), s == 0 || m == 1 ? 0 : 1 % m);
            }
        }
    }
}

TEST(CircData, LargeModuliDoNotOverflow) {
    const int32_t m29 = 1 << 29, m31 = 2147483647, day = 673200000;
    EXPECT_EQ(CircData_Signed_Difference(0, m31 - 1, m31), 1);
    EXPECT_EQ(CircData_Signed_Difference(m31 - 1, 0, m31), -1);
    EXPECT_EQ(CircData_Abs_Difference(m31 - 1, 0, m31), 1);
    EXPECT_EQ(CircData_Average(m31 - 7, m31 - 47, m31), m31 - 27);
    EXPECT_EQ(CircData_Average(3, m31 - 5, m31), m31 - 1);
    EXPECT_EQ(CircData_Track(m31 - 1, 2, m31), 0);
    EXPECT_EQ(CircData_Signed_Difference(5, m29 - 5, m29), 10);
    EXPECT_EQ(CircData_Signed_Difference(day - 100, 100, day), -200);
    // Arguments far outside 0 .. m-1 are still computed without overflow.
    EXPECT_EQ(CircData_Signed_Difference(INT32_MAX, INT32_MIN, 24),
              static_cast<int32_t>(static_cast<int64_t>(INT32_MAX) - INT32_MIN - 24));
    // A modulus of zero or below does not divide by zero.
    EXPECT_EQ(CircData_Average(3, 4, 0), 0);
    EXPECT_EQ(CircData_Track(3, 4, 0), 3);
}

}  // namespace
