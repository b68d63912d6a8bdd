// Members of the 4KR4 FFT family (see dsp/Fft.h).
#include "dsp/Fft.h"
#include "dsp/FftInternal.h"

namespace {
using M = fft_internal::Members<fft_internal::Family::k4KR4>;
}  // namespace

void FFT_Flt_4KR4_ComplexIn_ComplexOut_IF(int N, const int16_t* input, float* work) {
    M::ComplexOut(N, input, work, nullptr);
}

void FFT_Flt_4KR4_ComplexIn_ComplexOut_FF(int N, const float* input, float* work) {
    M::ComplexOut(N, input, work, nullptr);
}

void FFT_Flt_4KR4_ComplexIn_ComplexOut_Win_IF(int N, const int16_t* input, float* work,
                                              const float* window) {
    M::ComplexOut(N, input, work, window);
}

void FFT_Flt_4KR4_ComplexIn_ComplexOut_Win_FF(int N, const float* input, float* work,
                                              const float* window) {
    M::ComplexOut(N, input, work, window);
}

void FFT_Flt_4KR4_RealIn_ComplexOut_IF(int N, const int16_t* input, float* work, int firstBin) {
    M::RealComplexOut(N, input, work, firstBin);
}

void FFT_Flt_4KR4_RealIn_ComplexOut_FF(int N, const float* input, float* work, int firstBin) {
    M::RealComplexOut(N, input, work, firstBin);
}

int FFT_Flt_4KR4_RealIn_PowerOut_IF(int N, const int16_t* input, float* work, int firstBin) {
    return M::Power(N, input, nullptr, work, firstBin);
}

int FFT_Flt_4KR4_RealIn_PowerOut_FF(int N, const float* input, float* work, int firstBin) {
    return M::Power(N, input, nullptr, work, firstBin);
}

int FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(int N, const int16_t* input, const float* window,
                                        float* work, int firstBin) {
    return M::Power(N, input, window, work, firstBin);
}

int FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(int N, const float* input, const float* window, float* work,
                                        int firstBin) {
    return M::Power(N, input, window, work, firstBin);
}

void FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_IF(int N, const int16_t* input, const float* window,
                                             float* work, int firstBin, float scale) {
    M::Magnitude(N, input, window, work, firstBin, scale);
}

void FFT_Flt_4KR4_RealIn_MagOut_Win_Scale_FF(int N, const float* input, const float* window,
                                             float* work, int firstBin, float scale) {
    M::Magnitude(N, input, window, work, firstBin, scale);
}
