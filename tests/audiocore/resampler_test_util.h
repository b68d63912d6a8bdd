// Helpers shared by the resampler tests: an output sink and sine measurements.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <vector>

#include "audiocore/IBufferManager.h"

namespace resampler_test {

// Collects everything put into it; can be told to refuse data.
class SinkBuffer : public Kelvane::AudioCore::IBufferManager {
public:
    int PutData(const unsigned char* data, unsigned int length, unsigned int*) override {
        if (refuse) return -3;
        if (!data || length == 0) return 0;
        bytes.insert(bytes.end(), data, data + length);
        return static_cast<int>(length);
    }
    int GetData(unsigned char**) override { return -1; }
    int GetData(unsigned char*, unsigned int) override { return -1; }
    void ReleaseData() override {}
    void WaitForData() override {}
    void CancelWait() override {}
    void Reset() override { bytes.clear(); }
    bool GetError() const override { return false; }

    template <typename T>
    std::vector<T> Samples() const {
        std::vector<T> s(bytes.size() / sizeof(T));
        if (!s.empty()) std::memcpy(s.data(), bytes.data(), s.size() * sizeof(T));
        return s;
    }

    std::vector<unsigned char> bytes;
    bool refuse = false;
};

inline std::vector<int16_t> Sine16(double freq, double rate, double amplitude, size_t count) {
    std::vector<int16_t> s(count);
    for (size_t n = 0; n < count; ++n)
        s[n] =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2.0 * M_PI * freq * n / rate)));
    return s;
}

// Windowed analysis (4-term Blackman-Harris: side lobes below -92 dB, so a strong tone does not
// leak into the measurement of weak components more than 4 bins away).
struct Spectrum {
    static double Window(size_t i, size_t n) {
        const double x = 2.0 * M_PI * i / n;
        return 0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) -
               0.01168 * std::cos(3 * x);
    }
    // Amplitude of a sinusoid at freq (Hz).
    static double ToneAmplitude(const std::vector<double>& x, double freq, double rate) {
        double re = 0, im = 0, wsum = 0;
        const size_t n = x.size();
        for (size_t i = 0; i < n; ++i) {
            double w = Window(i, n);
            re += w * x[i] * std::cos(2.0 * M_PI * freq * i / rate);
            im += w * x[i] * std::sin(2.0 * M_PI * freq * i / rate);
            wsum += w;
        }
        return 2.0 * std::hypot(re, im) / wsum;
    }
    // Amplitude of a sinusoid with the power of everything in [lo, hi] Hz, leaving out the
    // main lobe around `skip` Hz when skip > 0. x.size() must be a power of two.
    static double BandAmplitude(const std::vector<double>& x, double rate, double lo, double hi,
                                double skip) {
        const size_t n = x.size();
        std::vector<std::complex<double>> a(n);
        double w2 = 0;
        for (size_t i = 0; i < n; ++i) {
            double w = Window(i, n);
            a[i] = w * x[i];
            w2 += w * w;
        }
        Fft(a);
        const double binHz = rate / n;
        double power = 0;
        for (size_t k = 1; k < n / 2; ++k) {
            double f = k * binHz;
            if (f < lo || f > hi) continue;
            if (skip > 0 && std::fabs(f - skip) <= 6.0 * binHz) continue;
            power += std::norm(a[k]);
        }
        return std::sqrt(4.0 * power / (n * w2));
    }
    static void Fft(std::vector<std::complex<double>>& a) {
        const size_t n = a.size();
        for (size_t i = 1, j = 0; i < n; ++i) {
            size_t bit = n >> 1;
            for (; j & bit; bit >>= 1) j ^= bit;
            j ^= bit;
            if (i < j) std::swap(a[i], a[j]);
        }
        for (size_t len = 2; len <= n; len <<= 1) {
            std::complex<double> wl = std::polar(1.0, -2.0 * M_PI / len);
            for (size_t i = 0; i < n; i += len) {
                std::complex<double> w(1.0, 0.0);
                for (size_t j = 0; j < len / 2; ++j) {
                    std::complex<double> u = a[i + j], v = a[i + j + len / 2] * w;
                    a[i + j] = u + v;
                    a[i + j + len / 2] = u - v;
                    w *= wl;
                }
            }
        }
    }
};

}  // namespace resampler_test
