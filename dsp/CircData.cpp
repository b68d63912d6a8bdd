// Circular arithmetic, computed in 64 bits so that no 32-bit argument can overflow.
#include "dsp/CircData.h"

namespace {

int64_t SignedDiff(int64_t a, int64_t b, int64_t m) {
    const int64_t d = a - b;
    if (a > b && d > m / 2) return d - m;
    if (a <= b && b - a > m / 2) return d + m;
    return d;
}

}  // namespace

int32_t CircData_Abs_Difference(int32_t a, int32_t b, int32_t m) {
    int64_t d = static_cast<int64_t>(a) - b;
    if (d < 0) d = -d;
    return static_cast<int32_t>(d <= m / 2 ? d : m - d);
}

int32_t CircData_Signed_Difference(int32_t a, int32_t b, int32_t m) {
    return static_cast<int32_t>(SignedDiff(a, b, m));
}

int32_t CircData_Average(int32_t a, int32_t b, int32_t m) {
    if (m <= 0) return 0;
    int64_t v = b + SignedDiff(a, b, m) / 2;
    if (v < 0) v += m;
    return static_cast<int32_t>(v % m);
}

int32_t CircData_Track(int32_t current, int32_t target, int32_t m) {
    if (m <= 0) return current;
    const int64_t d = SignedDiff(target, current, m);
    if (d > 0) return static_cast<int32_t>((static_cast<int64_t>(current) + 1) % m);
    if (d < 0) return current == 0 ? m - 1 : current - 1;
    return current;
}
