// Read-only tables of the FFT library, computed by the compiler from their defining formulas.
#include <cstddef>

#include "dsp/Fft.h"
#include "dsp/FftInternal.h"

namespace {

using fft_internal::CosTurns;
using fft_internal::SinTurns;

template <typename T, std::size_t N>
struct Table {
    T v[N];
};

// Entry k: W^k, W^2k, W^3k as (re, im) with W = e^(-j2pi/base).
template <int Entries, int Base>
constexpr Table<float, Entries * 6> MakeTwiddle() {
    Table<float, Entries * 6> t{};
    for (int k = 0; k < Entries; ++k) {
        for (int p = 1; p <= 3; ++p) {
            t.v[6 * k + 2 * (p - 1)] = static_cast<float>(CosTurns(p * k, Base));
            t.v[6 * k + 2 * (p - 1) + 1] = static_cast<float>(-SinTurns(p * k, Base));
        }
    }
    return t;
}

template <int Entries, int Base>
constexpr Table<float, Entries> MakeCos() {
    Table<float, Entries> t{};
    for (int k = 0; k < Entries; ++k) t.v[k] = static_cast<float>(CosTurns(k, Base));
    return t;
}

template <int Bits>
constexpr Table<uint16_t, (1u << Bits)> MakeBitRev() {
    Table<uint16_t, (1u << Bits)> t{};
    for (int i = 0; i < (1 << Bits); ++i) {
        int r = 0;
        for (int b = 0; b < Bits; ++b) r |= ((i >> b) & 1) << (Bits - 1 - b);
        t.v[i] = static_cast<uint16_t>(2 * r);
    }
    return t;
}

constexpr Table<float, 2048> MakeHamming2048() {
    Table<float, 2048> t{};
    for (int n = 0; n < 2048; ++n)
        t.v[n] = static_cast<float>(25.0 / 46.0 - 21.0 / 46.0 * CosTurns(n, 2048));
    return t;
}

constexpr Table<float, 256> MakeHann256() {
    Table<float, 256> t{};
    for (int n = 0; n < 256; ++n) t.v[n] = static_cast<float>(0.5 - 0.5 * CosTurns(n, 256));
    return t;
}

constexpr auto kTw3K = MakeTwiddle<FFT_FLT_3KR4_TWIDDLE_ENTRIES, 1536>();
constexpr auto kTw4K = MakeTwiddle<FFT_FLT_4KR4_TWIDDLE_ENTRIES, 2048>();
constexpr auto kCos3072 = MakeCos<768, 3072>();
constexpr auto kCos4096 = MakeCos<1024, 4096>();
constexpr auto kBr0 = MakeBitRev<0>();
constexpr auto kBr1 = MakeBitRev<1>();
constexpr auto kBr2 = MakeBitRev<2>();
constexpr auto kBr3 = MakeBitRev<3>();
constexpr auto kBr4 = MakeBitRev<4>();
constexpr auto kBr5 = MakeBitRev<5>();
constexpr auto kBr6 = MakeBitRev<6>();
constexpr auto kBr7 = MakeBitRev<7>();
constexpr auto kBr8 = MakeBitRev<8>();
constexpr auto kBr9 = MakeBitRev<9>();
constexpr auto kHamming = MakeHamming2048();
constexpr auto kHann = MakeHann256();

// Split-format stage twiddles, one block of 6*L floats per stage length L. The stage lengths
// of both families are r*4^i with r = 3, 6 (3KR4) and 4, 8 (4KR4), below the largest size.
constexpr int kSplitLs[] = {3, 12, 48, 192, 6, 24, 96, 384, 4, 16, 64, 256, 8, 32, 128, 512};
constexpr int kSplitCount = sizeof(kSplitLs) / sizeof(kSplitLs[0]);

constexpr int SplitTotal() {
    int total = 0;
    for (int L : kSplitLs) total += 6 * L;
    return total;
}

constexpr Table<float, SplitTotal()> MakeSplit() {
    Table<float, SplitTotal()> t{};
    int off = 0;
    for (int L : kSplitLs) {
        for (int p = 1; p <= 3; ++p) {
            for (int m = 0; m < L; ++m) {
                t.v[off + (2 * (p - 1)) * L + m] = static_cast<float>(CosTurns(p * m, 4 * L));
                t.v[off + (2 * (p - 1) + 1) * L + m] = static_cast<float>(-SinTurns(p * m, 4 * L));
            }
        }
        off += 6 * L;
    }
    return t;
}

constexpr auto kSplit = MakeSplit();

}  // namespace

const float (&FFT_FLT_3KR4_TWIDDLE)[FFT_FLT_3KR4_TWIDDLE_ENTRIES * 6] = kTw3K.v;
const float (&FFT_FLT_4KR4_TWIDDLE)[FFT_FLT_4KR4_TWIDDLE_ENTRIES * 6] = kTw4K.v;
const float (&FFT_FLT_COS_3072)[768] = kCos3072.v;
const float (&FFT_FLT_COS_4096)[1024] = kCos4096.v;
const uint16_t (&FFT_R2_BIT_REV_N1)[1] = kBr0.v;
const uint16_t (&FFT_R2_BIT_REV_N2)[2] = kBr1.v;
const uint16_t (&FFT_R2_BIT_REV_N4)[4] = kBr2.v;
const uint16_t (&FFT_R2_BIT_REV_N8)[8] = kBr3.v;
const uint16_t (&FFT_R2_BIT_REV_N16)[16] = kBr4.v;
const uint16_t (&FFT_R2_BIT_REV_N32)[32] = kBr5.v;
const uint16_t (&FFT_R2_BIT_REV_N64)[64] = kBr6.v;
const uint16_t (&FFT_R2_BIT_REV_N128)[128] = kBr7.v;
const uint16_t (&FFT_R2_BIT_REV_N256)[256] = kBr8.v;
const uint16_t (&FFT_R2_BIT_REV_N512)[512] = kBr9.v;
const float (&FFT_FLT_HAMMING_2048)[2048] = kHamming.v;
const float (&FFT_FLT_HANN_256)[256] = kHann.v;

namespace fft_internal {

const float* SplitTwiddles(int L) {
    int off = 0;
    for (int i = 0; i < kSplitCount; ++i) {
        if (kSplitLs[i] == L) return kSplit.v + off;
        off += 6 * kSplitLs[i];
    }
    return nullptr;
}

}  // namespace fft_internal
