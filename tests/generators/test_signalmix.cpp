// Host signals and mixing at a watermark-to-host ratio.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "generators/SignalMix.h"

using namespace Kelvane::Generators;

namespace {

// Spectral flatness (geometric over arithmetic mean of the power spectrum) of
// 2048 samples from `at`, 4 to 16 kHz at 48 kHz: near 0.56 for white noise,
// far lower for a signal made of a few tones.
double Flatness(const std::vector<float>& x, size_t at) {
    constexpr int kN = 2048;
    double logSum = 0, sum = 0;
    int bins = 0;
    for (int k = kN / 12; k < kN / 3; k += 5, ++bins) {
        double re = 0, im = 0;
        for (int i = 0; i < kN; ++i) {
            const double w = 0.5 - 0.5 * std::cos(2 * M_PI * i / kN);
            re += w * x[at + size_t(i)] * std::cos(2 * M_PI * k * i / kN);
            im -= w * x[at + size_t(i)] * std::sin(2 * M_PI * k * i / kN);
        }
        const double p = re * re + im * im + 1e-20;
        logSum += std::log(p);
        sum += p;
    }
    return std::exp(logSum / bins) / (sum / bins);
}

// Energy of the first difference relative to the signal's energy: 2 for white
// noise, small for noise whose power sits at low frequencies.
double DiffRatio(const std::vector<float>& x) {
    double e = 0, d = 0;
    for (size_t i = 1; i < x.size(); ++i) {
        e += double(x[i]) * x[i];
        d += double(x[i] - x[i - 1]) * (x[i] - x[i - 1]);
    }
    return d / e;
}

TEST(SignalMix, HostSignals) {
    const auto s = SignalMix::MakeHost(HostKind::Silence, 1000, 0.1);
    EXPECT_EQ(SignalMix::Rms(s), 0.0);
    const auto w = SignalMix::MakeHost(HostKind::WhiteNoise, 48000, 0.1, 5);
    const auto p = SignalMix::MakeHost(HostKind::PinkNoise, 48000, 0.1, 5);
    EXPECT_NEAR(SignalMix::Rms(w), 0.1, 1e-5);
    EXPECT_NEAR(SignalMix::Rms(p), 0.1, 1e-5);
    EXPECT_NEAR(DiffRatio(w), 2.0, 0.05);
    EXPECT_LT(DiffRatio(p), 0.5);
    // deterministic per seed, different across seeds
    EXPECT_EQ(SignalMix::MakeHost(HostKind::PinkNoise, 48000, 0.1, 5), p);
    EXPECT_NE(SignalMix::MakeHost(HostKind::WhiteNoise, 100, 0.1, 6),
              std::vector<float>(w.begin(), w.begin() + 100));
}

// The tonal hosts: exact level, deterministic, tonal (not noise-like) where
// they sound, and a stream rendered piece by piece is one continuous signal
// near the requested level.
TEST(SignalMix, TonalHosts) {
    HostKind kind;
    ASSERT_TRUE(SignalMix::ParseHostKind("music", &kind));
    EXPECT_EQ(kind, HostKind::Music);
    EXPECT_FALSE(SignalMix::ParseHostKind("speech", &kind));
    const auto white = SignalMix::MakeHost(HostKind::WhiteNoise, 48000, 0.1, 2);
    EXPECT_GT(Flatness(white, 1000), 0.3);
    for (HostKind k : {HostKind::Music, HostKind::Tones}) {
        SCOPED_TRACE(SignalMix::HostKindName(k));
        const size_t n = 30 * 48000;
        const auto x = SignalMix::MakeHost(k, n, 0.1, 7);
        EXPECT_NEAR(SignalMix::Rms(x), 0.1, 1e-5);
        EXPECT_EQ(SignalMix::MakeHost(k, n, 0.1, 7), x);
        EXPECT_NE(SignalMix::MakeHost(k, 48000, 0.1, 8),
                  std::vector<float>(x.begin(), x.begin() + 48000));
        // Tonal in most of the one-second windows that carry sound.
        int sounding = 0, tonal = 0;
        for (size_t at = 0; at + 2048 < n; at += 48000) {
            if (SignalMix::Rms(x.data() + at, 2048) < 0.01) continue;
            ++sounding;
            tonal += Flatness(x, at) < 0.1;
        }
        EXPECT_GE(sounding, 20);
        EXPECT_GE(tonal, sounding * 8 / 10);

        HostStream stream(k, 0.1, 7);
        std::vector<float> pieces;
        for (size_t len : {1000u, 64u, 1u, 47935u, 9u})
            for (float v : stream.Render(len)) pieces.push_back(v);
        const double g = SignalMix::Rms(pieces) / SignalMix::Rms(x.data(), pieces.size());
        for (size_t i = 0; i < pieces.size(); i += 97)
            ASSERT_NEAR(pieces[i], x[i] * g, 1e-5) << i;
        const auto minutes = stream.Render(90 * 48000);
        EXPECT_NEAR(20 * std::log10(SignalMix::Rms(minutes) / 0.1), 0.0, 4.0);
    }
}

TEST(SignalMix, MixesAtTheRequestedRatio) {
    std::vector<float> wm(48000);
    for (size_t i = 0; i < wm.size(); ++i) wm[i] = float(0.3 * std::sin(0.05 * double(i)));
    const auto host = SignalMix::MakeHost(HostKind::PinkNoise, 48000, 0.1, 9);
    for (double ratio : {-30.0, -20.0, 0.0, 6.0}) {
        const auto mix = SignalMix::Mix(wm, host, ratio);
        std::vector<float> scaledWm(mix.size());
        for (size_t i = 0; i < mix.size(); ++i) scaledWm[i] = mix[i] - host[i];
        EXPECT_NEAR(SignalMix::RatioDb(scaledWm, host), ratio, 1e-3);
    }
    // A silent host leaves the watermark as it is; lengths follow the longer.
    const auto silent = SignalMix::Mix(wm, std::vector<float>(100, 0.0f), -20.0);
    EXPECT_EQ(silent, wm);
    EXPECT_EQ(SignalMix::Mix(std::vector<float>(10, 0.5f), host, 0.0).size(), host.size());
}

TEST(SignalMix, Int16ConversionRoundsAndClips) {
    const auto v = SignalMix::ToInt16(
        {0.0f, 0.5f, -0.5f, 1.0f, -1.0f, 2.0f, -3.0f, NAN, 1.0f / 65536.0f * 3.0f});
    const std::vector<int16_t> want = {0, 16384, -16384, 32767, -32768, 32767, -32768, -32768, 2};
    EXPECT_EQ(v, want);
    EXPECT_EQ(SignalMix::Interleave({{1, 2, 3}, {4, 5}}), (std::vector<int16_t>{1, 4, 2, 5, 3, 0}));
}

// Several watermarks on one host each keep their own ratio to the host alone;
// one mixed in later is not scaled against the host plus the earlier ones.
TEST(SignalMix, SeveralWatermarksEachAgainstTheHostAlone) {
    const auto host = SignalMix::MakeHost(HostKind::PinkNoise, 48000, 0.1, 3);
    const auto a = SignalMix::MakeHost(HostKind::WhiteNoise, 48000, 0.7, 11);
    const auto b = SignalMix::MakeHost(HostKind::WhiteNoise, 40000, 0.02, 12);
    const auto mixed = SignalMix::MixSeveral(host, {a, b, {}}, {-20.0, 0.0, 5.0}, 0.1);
    ASSERT_EQ(mixed.size(), host.size());
    // Expected parts: a at -20 dB and b at 0 dB to the host (b is shorter and
    // counts as zero beyond its end); the silent third adds nothing.
    std::vector<float> partA(48000), partB(48000);
    const double ga = 0.1 * 0.1 / SignalMix::Rms(a), gb = 0.1 / SignalMix::Rms(b);
    for (size_t i = 0; i < 48000; ++i) {
        partA[i] = float(ga * a[i]);
        partB[i] = i < b.size() ? float(gb * b[i]) : 0.0f;
        EXPECT_NEAR(mixed[i], host[i] + partA[i] + partB[i], 1e-5) << i;
    }
    EXPECT_NEAR(SignalMix::RatioDb(partA, host), -20.0, 1e-3);

    // Over silence the ratios are taken against the given reference level.
    const std::vector<float> silence(48000, 0.0f);
    const auto quiet = SignalMix::MixSeveral(silence, {a, a}, {-20.0, -20.0}, 0.1);
    EXPECT_NEAR(SignalMix::Rms(quiet), 2 * 0.01, 1e-4);  // two equal, in phase
}

}  // namespace
