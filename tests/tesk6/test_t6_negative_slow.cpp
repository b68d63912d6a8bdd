// Ten minutes of audio without a watermark give no TESK 6 report in filtered
// display: silence, white noise, pink noise and a tonal music-like signal
// (chords and sweeps through the watermark band).
#include <gtest/gtest.h>

#include <cmath>

#include "T6Pipeline.h"
#include "app/HostInterface.h"
#include "generators/SignalMix.h"

using namespace Kelvane::Generators;

namespace {

constexpr int kRate = 48000;
constexpr double kMinutes = 10.0;

// Music-like test signal: a new four-note chord (with three harmonics per
// note) every 0.4 s, and a slow sine sweep up and down through 3-5.2 kHz.
class MusicLike {
public:
    std::vector<float> Next(size_t count) {
        std::vector<float> out(count);
        for (size_t i = 0; i < count; ++i, ++n_) {
            if (n_ % size_t(0.4 * kRate) == 0) NewChord();
            double v = 0;
            for (int k = 0; k < 4; ++k) {
                for (int h = 1; h <= 3; ++h) {
                    phase_[k][h - 1] += 2 * M_PI * freq_[k] * h / kRate;
                    v += 0.05 / h * std::sin(phase_[k][h - 1]);
                }
            }
            const double t = double(n_) / kRate;
            // triangle sweep 3000 -> 5200 -> 3000 Hz over 8 s
            const double pos = std::fmod(t, 8.0) / 4.0;
            const double f = 3000.0 + 2200.0 * (pos < 1.0 ? pos : 2.0 - pos);
            sweepPhase_ += 2 * M_PI * f / kRate;
            v += 0.03 * std::sin(sweepPhase_);
            out[i] = float(v);
        }
        return out;
    }

private:
    void NewChord() {
        static const int kSteps[4] = {0, 4, 7, 11};
        rng_ = rng_ * 1103515245u + 12345u;
        const double root = 110.0 * std::pow(2.0, double((rng_ >> 16) % 36) / 12.0);
        for (int k = 0; k < 4; ++k) freq_[k] = root * std::pow(2.0, kSteps[k] / 12.0);
    }
    size_t n_ = 0;
    uint32_t rng_ = 99;
    double freq_[4] = {0, 0, 0, 0};
    double phase_[4][3] = {};
    double sweepPhase_ = 0;
};

TEST(Tesk6NoWatermark, NoiseSilenceAndTonalMusicGiveNoReport) {
    ReportTw = true;
    bTwRawOutput = false;
    for (int kind = 0; kind < 4; ++kind) {  // silence, white, pink, music-like
        MusicLike music;
        t6test::MeterHarness h(1);
        std::vector<t6test::HostCode> codes;
        const int chunks = int(kMinutes * 6);  // 10 s each
        for (int c = 0; c < chunks; ++c) {
            const size_t n = size_t(10 * kRate);
            const auto x = kind == 3
                               ? music.Next(n)
                               : SignalMix::MakeHost(HostKind(kind), n, 0.1, uint32_t(1000 + c));
            const auto got = h.Feed({SignalMix::ToInt16(x)}, c == chunks - 1);
            codes.insert(codes.end(), got.begin(), got.end());
        }
        EXPECT_TRUE(codes.empty()) << kind << ": " << codes.size() << " reports, first "
                                   << (codes.empty() ? "" : codes[0].text);
    }
}

}  // namespace
