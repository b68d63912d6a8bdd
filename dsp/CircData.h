// Arithmetic on values that live on a circle of modulus m (phases, times of day, wrapping
// timestamps). Arguments are expected in 0 .. m-1 with m > 0; the routines compute in 64 bits
// so that any 32-bit arguments are safe (no overflow), and return 32-bit results.
// Halving is integer division toward zero.
#pragma once

#include <cstdint>

// Circular distance: d = |a - b|; d when d <= m/2, else m - d.
int32_t CircData_Abs_Difference(int32_t a, int32_t b, int32_t m);

// Signed circular difference a - b: d = a - b; d - m when a > b and d > m/2; d + m when a <= b
// and b - a > m/2; otherwise d.
int32_t CircData_Signed_Difference(int32_t a, int32_t b, int32_t m);

// Circular mean of a and b: (b + CircData_Signed_Difference(a, b, m) / 2, plus m when
// negative) mod m. Returns 0 when m <= 0.
int32_t CircData_Average(int32_t a, int32_t b, int32_t m);

// One step of current toward target: current + 1 (mod m) when
// CircData_Signed_Difference(target, current, m) > 0, current - 1 (0 wraps to m - 1) when it is
// negative, current unchanged when it is 0 (and when m <= 0).
int32_t CircData_Track(int32_t current, int32_t target, int32_t m);
