// Host signals for test audio and mixing of a watermark into a host.
//
// Float signals use full scale = 1.0. Everything is deterministic: the same
// seed gives the same noise on every run and platform.
#ifndef TAVIK_GENERATORS_SIGNALMIX_H
#define TAVIK_GENERATORS_SIGNALMIX_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace Kelvane {
namespace Generators {

enum class HostKind {
    Silence,     // all zero
    WhiteNoise,  // flat spectrum
    PinkNoise,   // -3 dB per octave (1/f power)
    // Music-like: a chord pad, a bass line, a melody with vibrato and
    // portamento, arpeggios, swept sines and a light noise hi-hat, in
    // sections of changing tempo, key, scale, timbre and loudness.
    Music,
    // Test tones: steady sines, two or three sines together, stepped tones,
    // warbles and linear or logarithmic sweeps, with short pauses between.
    Tones
};

// A host signal rendered piece by piece: consecutive Render calls continue one
// uninterrupted signal, so hours of audio need no more memory than one piece.
// The level is set by a fixed gain measured once on the start of the signal
// (20 s for noise, three minutes for the tonal kinds), so it sits close to
// `rms` on average (within a few dB over minutes) without following the
// music's own loudness changes. Deterministic per kind, seed and rate.
class HostStream {
public:
    HostStream(HostKind kind, double rms = 0.1, uint32_t seed = 1, int sampleRate = 48000);
    ~HostStream();
    HostStream(HostStream&&) noexcept;
    HostStream& operator=(HostStream&&) noexcept;

    void Render(float* out, std::size_t count);
    std::vector<float> Render(std::size_t count);

    struct Engine;  // synthesis state (SignalMix.cpp)

private:
    std::unique_ptr<Engine> engine_;
    float gain_ = 0.0f;
};

class SignalMix {
public:
    // Returns `count` samples of the host kind, scaled to the RMS level `rms`
    // over the whole signal (full scale 1.0; ignored for silence). `seed`
    // selects the sequence; `sampleRate` matters for the tonal kinds only.
    static std::vector<float> MakeHost(HostKind kind, std::size_t count, double rms = 0.1,
                                       uint32_t seed = 1, int sampleRate = 48000);

    // Parses a host kind name: "silence", "white", "pink", "music", "tones".
    static bool ParseHostKind(const char* name, HostKind* kind);
    static const char* HostKindName(HostKind kind);

    // RMS of a signal over all its samples (0 for an empty signal).
    static double Rms(const float* samples, std::size_t count);
    static double Rms(const std::vector<float>& samples);

    // Watermark-to-host ratio of two signals in dB, RMS over the whole signals.
    static double RatioDb(const std::vector<float>& watermark, const std::vector<float>& host);

    // Mixes: out[i] = host[i] + g * watermark[i], with g chosen so that the
    // ratio of the scaled watermark to the host (RMS over the whole signal) is
    // `ratioDb`. A silent host (RMS 0) leaves the watermark unscaled (g = 1).
    // The result has the length of the longer input; the shorter one counts as
    // zero beyond its end. The host is not rescaled, so its level sets the
    // loudness of the result.
    static std::vector<float> Mix(const std::vector<float>& watermark,
                                  const std::vector<float>& host, double ratioDb);

    // Mixes several watermarks into one host: out = host + sum of g_k * wm_k,
    // each gain chosen so that watermark k alone stands at ratiosDb[k] to the
    // host alone (RMS over the whole signals). Over a silent host the ratios
    // are taken against `silentReferenceRms`. A silent watermark adds nothing;
    // a missing ratio counts as 0 dB. The result has the host's length; longer
    // watermarks are cut, shorter ones count as zero beyond their end.
    static std::vector<float> MixSeveral(const std::vector<float>& host,
                                         const std::vector<std::vector<float>>& watermarks,
                                         const std::vector<double>& ratiosDb,
                                         double silentReferenceRms);

    // Float (full scale 1.0) to 16-bit signed, rounded to nearest and clipped
    // to -32768..32767.
    static std::vector<int16_t> ToInt16(const std::vector<float>& samples);

    // Interleaves equally long mono signals into one multi-channel signal
    // (frame by frame); shorter channels are padded with zeros.
    static std::vector<int16_t> Interleave(const std::vector<std::vector<int16_t>>& channels);
};

}  // namespace Generators
}  // namespace Kelvane

#endif  // TAVIK_GENERATORS_SIGNALMIX_H
