// Eight 16-bit lanes in one 128-bit vector, for the decoders' per-symbol
// scoring: loads of eight 8-bit or 16-bit values from any address (no
// alignment needed) and the store back. The lanes are GCC/clang vector
// extensions, so every operator works lane by lane with C's integer rules.
#ifndef TAVIK_DSP_LANES16_H
#define TAVIK_DSP_LANES16_H

#include <cstdint>
#include <cstring>

namespace lanes16 {

typedef int16_t I16x8 __attribute__((vector_size(16)));

// Eight bytes at p, sign-extended (int8_t) or zero-extended (uint8_t).
inline I16x8 LoadBytes(const int8_t* p) {
    typedef int8_t B8 __attribute__((vector_size(8)));
    B8 b;
    std::memcpy(&b, p, sizeof b);
    return __builtin_convertvector(b, I16x8);
}
inline I16x8 LoadBytes(const uint8_t* p) {
    typedef uint8_t U8 __attribute__((vector_size(8)));
    U8 b;
    std::memcpy(&b, p, sizeof b);
    return __builtin_convertvector(b, I16x8);
}
inline I16x8 LoadShorts(const int16_t* p) {
    I16x8 v;
    std::memcpy(&v, p, sizeof v);
    return v;
}
inline void StoreShorts(int16_t* p, I16x8 v) { std::memcpy(p, &v, sizeof v); }

}  // namespace lanes16

#endif  // TAVIK_DSP_LANES16_H
