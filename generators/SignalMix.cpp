#include "generators/SignalMix.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace Kelvane {
namespace Generators {

namespace {

// Small deterministic generator (xorshift64*), so noise does not depend on the
// standard library's distributions.
class NoiseSource {
public:
    explicit NoiseSource(uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ (uint64_t(seed) << 1)) {
        if (state_ == 0) state_ = 1;
    }
    // Gaussian sample (Box-Muller), mean 0, variance 1.
    double Gauss() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double u1 = Uniform01();
        double u2 = Uniform01();
        if (u1 < 1e-300) u1 = 1e-300;
        double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2.0 * M_PI * u2);
        haveSpare_ = true;
        return r * std::cos(2.0 * M_PI * u2);
    }
    double Uniform01() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        uint64_t v = state_ * 0x2545F4914F6CDD1Dull;
        return double(v >> 11) * (1.0 / 9007199254740992.0);
    }
    double Uniform(double lo, double hi) { return lo + (hi - lo) * Uniform01(); }
    // Integer in [lo, hi].
    int Int(int lo, int hi) { return lo + int(Uniform01() * double(hi - lo + 1)); }
    bool Chance(double p) { return Uniform01() < p; }

private:
    uint64_t state_;
    bool haveSpare_ = false;
    double spare_ = 0.0;
};

void ScaleToRms(std::vector<float>& x, double rms) {
    double cur = SignalMix::Rms(x);
    if (cur <= 0.0) return;
    float g = float(rms / cur);
    for (float& v : x) v *= g;
}

// One period of a waveform made of harmonics, looked up with linear
// interpolation; one extra entry closes the period.
constexpr int kTableSize = 2048;
struct Wavetable {
    int topHarmonic = 1;
    float v[kTableSize + 1];
};

// Timbres: 0 pure sine, 1 soft (flute-like), 2 bright (all harmonics 1/h),
// 3 hollow (odd harmonics), 4 organ (octave-related harmonics).
constexpr int kTimbres = 5;
const Wavetable& Timbre(int t) {
    static const std::vector<Wavetable> tables = [] {
        static const double amps[kTimbres][10] = {
            {1},
            {1, 0.35, 0.12, 0.05},
            {1, 0.5, 0.33, 0.25, 0.2, 0.17, 0.14, 0.12},
            {1, 0, 0.33, 0, 0.2, 0, 0.14, 0, 0.11},
            {1, 0.6, 0, 0.35, 0, 0, 0, 0.2},
        };
        std::vector<Wavetable> t(kTimbres);
        for (int k = 0; k < kTimbres; ++k) {
            double peak = 0;
            std::vector<double> w(kTableSize + 1, 0.0);
            for (int h = 1; h <= 10; ++h) {
                if (amps[k][h - 1] == 0) continue;
                t[size_t(k)].topHarmonic = h;
                for (int i = 0; i <= kTableSize; ++i)
                    w[size_t(i)] += amps[k][h - 1] * std::sin(2 * M_PI * h * i / kTableSize);
            }
            for (double x : w) peak = std::max(peak, std::fabs(x));
            for (int i = 0; i <= kTableSize; ++i) t[size_t(k)].v[i] = float(w[size_t(i)] / peak);
        }
        return t;
    }();
    return tables[size_t(t)];
}

inline float Lookup(const Wavetable& t, double phase) {
    const double x = phase * kTableSize;
    const int i = int(x);
    const float f = float(x - i);
    return t.v[i] + f * (t.v[i + 1] - t.v[i]);
}

// Control blocks: pitch, vibrato and note events move every 64 samples.
constexpr int kControl = 64;

// One sounding note or sweep.
struct Voice {
    bool active = false;
    int timbre = 0;
    double phase = 0;       // cycles, [0, 1)
    double freq = 440;      // Hz, before vibrato
    double glideTo = 0;     // Hz, 0 = none
    double glideMul = 1;    // frequency factor per control block while gliding
    double vibRate = 0;     // Hz
    double vibDepth = 0;    // relative frequency deviation
    double vibPhase = 0;    // cycles
    long vibDelay = 0;      // samples before vibrato sets in
    double level = 0;       // peak amplitude
    double env = 0;         // current envelope
    double attackStep = 0;  // envelope increase per sample during the attack
    bool attacking = true;
    double decay = 1;    // envelope factor per sample after the attack
    double release = 1;  // factor per sample once the note has ended
    long delay = 0;      // samples before the note starts (silent until then)
    long left = 0;       // samples from the start until the note ends (release starts)
    bool noise = false;  // hi-hat: high-passed noise instead of a waveform
    float lastNoise = 0;
};

}  // namespace

// Synthesis state of every host kind; copyable, so a stream can be measured
// by rendering a copy of itself.
struct HostStream::Engine {
    HostKind kind;
    int rate;
    NoiseSource rng;
    // Pink noise filter.
    double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
    // Tonal kinds.
    std::vector<Voice> voices;
    float block[kControl] = {};
    int blockPos = kControl;
    long clock = 0;  // samples rendered (control-block aligned)
    // Music sequencer.
    double beatSamples = 24000;
    long nextBeat = 0;
    int beat = 0;  // beat within the section
    int sectionBeats = 0;
    int root = 48;  // MIDI note
    const int* scale = nullptr;
    int chordDegree = 0;
    int melodyDegree = 7;
    double loudness = 1;
    int padTimbre = 2, melodyTimbre = 1;
    bool hihat = false, arpeggio = false;
    // Test tones.
    long segmentLeft = 0;

    Engine(HostKind k, uint32_t seed, int sampleRate) : kind(k), rate(sampleRate), rng(seed) {}

    float Next() {
        if (kind == HostKind::WhiteNoise) return float(rng.Gauss());
        if (kind == HostKind::PinkNoise) {
            // Sum of first-order low-pass sections whose poles are spread so
            // that the total approximates a 1/f power spectrum.
            double w = rng.Gauss();
            b0 = 0.99886 * b0 + w * 0.0555179;
            b1 = 0.99332 * b1 + w * 0.0750759;
            b2 = 0.96900 * b2 + w * 0.1538520;
            b3 = 0.86650 * b3 + w * 0.3104856;
            b4 = 0.55000 * b4 + w * 0.5329522;
            b5 = -0.7616 * b5 - w * 0.0168980;
            float v = float(b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362);
            b6 = w * 0.115926;
            return v;
        }
        if (kind == HostKind::Silence) return 0.0f;
        if (blockPos == kControl) RenderBlock();
        return block[blockPos++];
    }

    double Seconds(double s) const { return s * rate; }
    static double MidiHz(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
    // Highest harmonic of the timbre stays below 0.45 of the rate, else the
    // note is played as a sine (no aliasing at low rates).
    int FitTimbre(int timbre, double freq) const {
        return freq * Timbre(timbre).topHarmonic < 0.45 * rate ? timbre : 0;
    }

    Voice& Start(int timbre, double freq, double level, double seconds, double attack,
                 double decaySeconds, double releaseSeconds, long delay = 0) {
        Voice* v = nullptr;
        for (Voice& x : voices)
            if (!x.active) {
                v = &x;
                break;
            }
        if (v == nullptr) {
            voices.emplace_back();
            v = &voices.back();
        }
        *v = Voice{};
        v->active = true;
        v->freq = std::min(freq, 0.45 * rate);
        v->timbre = FitTimbre(timbre, v->freq);
        v->phase = rng.Uniform01();
        v->level = level * loudness;
        v->attackStep = v->level / std::max(1.0, Seconds(attack));
        v->decay = std::exp(-1.0 / std::max(1.0, Seconds(decaySeconds)));
        v->release = std::exp(-1.0 / std::max(1.0, Seconds(releaseSeconds)));
        v->left = long(Seconds(seconds));
        v->delay = delay;
        return *v;
    }

    int Degree(int d) const {  // scale degree (any integer) to semitones
        const int n = scale[0];
        const int oct = d >= 0 ? d / n : -((-d + n - 1) / n);
        return 12 * oct + scale[1 + (d - oct * n)];
    }

    void NewSection() {
        static const int kMajor[] = {7, 0, 2, 4, 5, 7, 9, 11};
        static const int kMinor[] = {7, 0, 2, 3, 5, 7, 8, 10};
        static const int kDorian[] = {7, 0, 2, 3, 5, 7, 9, 10};
        static const int kPenta[] = {5, 0, 2, 4, 7, 9};
        static const int* const kScales[] = {kMajor, kMinor, kDorian, kPenta};
        scale = kScales[rng.Int(0, 3)];
        root = rng.Int(40, 52);
        beatSamples = Seconds(60.0 / rng.Uniform(66, 160));
        sectionBeats = 4 * rng.Int(4, 12);
        loudness = std::pow(10.0, rng.Uniform(-8, 2) / 20.0);
        padTimbre = rng.Int(1, 4);
        melodyTimbre = rng.Int(0, 4);
        hihat = rng.Chance(0.5);
        arpeggio = rng.Chance(0.4);
        beat = 0;
    }

    void MusicBeat() {
        if (beat >= sectionBeats) NewSection();
        const double beatSec = beatSamples / rate;
        if (beat % 4 == 0) {
            // New bar: a chord of three or four scale tones held for the bar.
            static const int kProgression[] = {0, 3, 4, 5, 1, 3, 4, 0};
            chordDegree = kProgression[rng.Int(0, 7)];
            const int notes = rng.Int(3, 4);
            for (int k = 0; k < notes; ++k) {
                Voice& v = Start(padTimbre, MidiHz(root + 12 + Degree(chordDegree + 2 * k)), 0.12,
                                 4 * beatSec * 0.95, rng.Uniform(0.02, 0.25), 4.0, 0.3);
                v.vibRate = rng.Uniform(4, 6);
                v.vibDepth = 0.002;
            }
            // Now and then a swept sine across part of the band.
            if (rng.Chance(0.2)) {
                const double f0 = rng.Uniform(300, 3000), f1 = rng.Uniform(500, 9000);
                const double len = rng.Uniform(0.5, 3.0);
                Voice& v = Start(0, f0, 0.15, len, 0.05, 10.0, 0.05);
                v.glideTo = f1;
                v.glideMul = std::pow(f1 / f0, kControl / Seconds(len));
            }
        }
        // Bass on every beat or every other beat.
        if (beat % 2 == 0 || rng.Chance(0.5)) {
            const int d = chordDegree + (rng.Chance(0.7) ? 0 : 4);
            Start(3, MidiHz(root + Degree(d)), 0.3, beatSec * 0.9, 0.01, 0.8, 0.05);
        }
        // Melody: one to four notes per beat, walking the scale, some rests.
        const int sub = rng.Chance(0.5) ? 1 : rng.Int(2, 4);
        for (int k = 0; k < sub; ++k) {
            if (rng.Chance(0.15)) continue;
            melodyDegree += rng.Int(-2, 2);
            melodyDegree = std::max(0, std::min(16, melodyDegree));
            Voice& v = Start(melodyTimbre, MidiHz(root + 24 + Degree(melodyDegree)), 0.22,
                             beatSec / sub * 0.9, 0.015, 1.0, 0.06, long(k * beatSamples / sub));
            v.vibRate = rng.Uniform(4.5, 6.5);
            v.vibDepth = rng.Uniform(0.002, 0.01);
            v.vibDelay = long(Seconds(0.15));
            if (sub == 1 && rng.Chance(0.2)) {  // portamento to the next step
                const double to = MidiHz(root + 24 + Degree(melodyDegree + rng.Int(-3, 3)));
                v.glideTo = to;
                v.glideMul = std::pow(to / v.freq, kControl / Seconds(beatSec * 0.5));
            }
        }
        // Arpeggio and hi-hat on eighth notes.
        for (int k = 0; k < 2; ++k) {
            const long delay = long(k * beatSamples / 2);
            if (arpeggio)
                Start(4, MidiHz(root + 36 + Degree(chordDegree + 2 * rng.Int(0, 3))), 0.08,
                      beatSec * 0.4, 0.003, 0.15, 0.05, delay);
            if (hihat) Start(0, 1000, 0.05, 0.03, 0.001, 0.025, 0.01, delay).noise = true;
        }
        ++beat;
    }

    void TonesSegment() {
        for (Voice& v : voices) v.left = std::min(v.left, 0L);
        const double top = std::min(16000.0, 0.45 * rate);
        const double pause = rng.Chance(0.5) ? rng.Uniform(0.05, 0.6) : 0.0;
        auto logFreq = [&](double lo, double hi) {
            return std::exp(rng.Uniform(std::log(lo), std::log(std::min(hi, top))));
        };
        const double level = 0.3 * std::pow(10.0, rng.Uniform(-10, 0) / 20.0);
        double len = 1;
        switch (rng.Int(0, 5)) {
            case 0:  // one steady sine
                len = rng.Uniform(1, 10);
                Start(0, logFreq(100, 12000), level, len, 0.01, 1e9, 0.01);
                break;
            case 1: {  // two or three steady sines
                len = rng.Uniform(1, 8);
                const int n = rng.Int(2, 3);
                for (int k = 0; k < n; ++k)
                    Start(0, logFreq(200, 10000), level / n, len, 0.01, 1e9, 0.01);
                break;
            }
            case 2:    // logarithmic sweep
            case 3: {  // linear sweep (approximated by a slower exponential)
                len = rng.Uniform(2, 20);
                double f0 = logFreq(50, 500), f1 = logFreq(4000, 20000);
                if (rng.Chance(0.5)) std::swap(f0, f1);
                Voice& v = Start(0, f0, level, len, 0.01, 1e9, 0.01);
                v.glideTo = f1;
                v.glideMul = std::pow(f1 / f0, kControl / Seconds(len));
                break;
            }
            case 4: {  // stepped tones
                const int steps = rng.Int(3, 12);
                const double step = rng.Uniform(0.15, 1.0);
                len = steps * step;
                for (int k = 0; k < steps; ++k)
                    Start(0, logFreq(300, 8000), level, step * 0.95, 0.005, 1e9, 0.005,
                          long(Seconds(k * step)));
                break;
            }
            default: {  // warble: a sine with frequency modulation
                len = rng.Uniform(2, 10);
                Voice& v = Start(0, logFreq(400, 4000), level, len, 0.01, 1e9, 0.01);
                v.vibRate = rng.Uniform(2, 12);
                v.vibDepth = rng.Uniform(0.02, 0.1);
                break;
            }
        }
        segmentLeft = long(Seconds(len + pause));
    }

    void RenderBlock() {
        if (kind == HostKind::Music) {
            if (scale == nullptr) NewSection();
            while (clock >= nextBeat) {
                MusicBeat();
                nextBeat += long(beatSamples);
            }
        } else {
            if (segmentLeft <= 0) TonesSegment();
            segmentLeft -= kControl;
        }
        std::fill(block, block + kControl, 0.0f);
        for (Voice& v : voices) {
            if (!v.active) continue;
            if (v.delay > 0) {
                v.delay -= kControl;
                continue;
            }
            double f = v.freq;
            if (v.vibDepth > 0 && v.vibDelay <= 0) {
                f *= 1.0 + v.vibDepth * std::sin(2 * M_PI * v.vibPhase);
                v.vibPhase += v.vibRate * kControl / rate;
                v.vibPhase -= std::floor(v.vibPhase);
            }
            v.vibDelay -= kControl;
            if (v.glideTo > 0) {
                v.freq *= v.glideMul;
                if ((v.glideMul > 1 && v.freq >= v.glideTo) ||
                    (v.glideMul < 1 && v.freq <= v.glideTo)) {
                    v.freq = v.glideTo;
                    v.glideTo = 0;
                }
            }
            const double inc = std::min(f, 0.45 * rate) / rate;
            const Wavetable& t = Timbre(v.timbre);
            for (int i = 0; i < kControl; ++i) {
                if (v.left > 0) {
                    if (v.attacking) {
                        v.env += v.attackStep;
                        if (v.env >= v.level) {
                            v.env = v.level;
                            v.attacking = false;
                        }
                    } else {
                        v.env *= v.decay;
                    }
                    --v.left;
                } else {
                    v.env *= v.release;
                }
                float s;
                if (v.noise) {
                    const float w = float(rng.Uniform(-1, 1));
                    s = w - v.lastNoise;  // first difference: energy at the top
                    v.lastNoise = w;
                } else {
                    s = Lookup(t, v.phase);
                    v.phase += inc;
                    if (v.phase >= 1.0) v.phase -= 1.0;
                }
                block[i] += float(v.env) * s;
            }
            if (v.left <= 0 && v.env < 1e-5) v.active = false;
        }
        clock += kControl;
        blockPos = 0;
    }
};

HostStream::HostStream(HostKind kind, double rms, uint32_t seed, int sampleRate)
    : engine_(std::make_unique<Engine>(kind, seed, sampleRate > 0 ? sampleRate : 48000)) {
    if (kind == HostKind::Silence) return;
    // The gain is measured on a copy, so the stream itself starts at sample 0.
    Engine probe = *engine_;
    const double seconds = kind == HostKind::WhiteNoise || kind == HostKind::PinkNoise ? 20 : 180;
    const std::size_t n = std::size_t(seconds * probe.rate);
    double acc = 0.0;
    for (std::size_t i = 0; i < n; ++i) {
        const double v = probe.Next();
        acc += v * v;
    }
    const double cur = std::sqrt(acc / double(n));
    gain_ = cur > 0 ? float(rms / cur) : 0.0f;
}

HostStream::~HostStream() = default;
HostStream::HostStream(HostStream&&) noexcept = default;
HostStream& HostStream::operator=(HostStream&&) noexcept = default;

void HostStream::Render(float* out, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) out[i] = gain_ * engine_->Next();
}

std::vector<float> HostStream::Render(std::size_t count) {
    std::vector<float> out(count);
    Render(out.data(), count);
    return out;
}

std::vector<float> SignalMix::MakeHost(HostKind kind, std::size_t count, double rms,
                                       uint32_t seed, int sampleRate) {
    std::vector<float> out(count, 0.0f);
    if (kind == HostKind::Silence || count == 0) return out;
    HostStream::Engine e(kind, seed, sampleRate > 0 ? sampleRate : 48000);
    for (auto& v : out) v = e.Next();
    ScaleToRms(out, rms);
    return out;
}

bool SignalMix::ParseHostKind(const char* name, HostKind* kind) {
    static const struct {
        const char* name;
        HostKind kind;
    } kNames[] = {{"silence", HostKind::Silence}, {"white", HostKind::WhiteNoise},
                  {"pink", HostKind::PinkNoise},  {"music", HostKind::Music},
                  {"tones", HostKind::Tones}};
    for (const auto& n : kNames) {
        if (std::strcmp(n.name, name) == 0) {
            *kind = n.kind;
            return true;
        }
    }
    return false;
}

const char* SignalMix::HostKindName(HostKind kind) {
    switch (kind) {
        case HostKind::Silence: return "silence";
        case HostKind::WhiteNoise: return "white";
        case HostKind::PinkNoise: return "pink";
        case HostKind::Music: return "music";
        case HostKind::Tones: return "tones";
    }
    return "?";
}

double SignalMix::Rms(const float* samples, std::size_t count) {
    if (count == 0 || samples == nullptr) return 0.0;
    double acc = 0.0;
    for (std::size_t i = 0; i < count; ++i) acc += double(samples[i]) * samples[i];
    return std::sqrt(acc / double(count));
}

double SignalMix::Rms(const std::vector<float>& samples) {
    return Rms(samples.data(), samples.size());
}

double SignalMix::RatioDb(const std::vector<float>& watermark, const std::vector<float>& host) {
    double w = Rms(watermark);
    double h = Rms(host);
    if (h <= 0.0) return INFINITY;
    if (w <= 0.0) return -INFINITY;
    return 20.0 * std::log10(w / h);
}

std::vector<float> SignalMix::Mix(const std::vector<float>& watermark,
                                  const std::vector<float>& host, double ratioDb) {
    std::size_t n = std::max(watermark.size(), host.size());
    std::vector<float> out(n, 0.0f);
    double w = Rms(watermark);
    double h = Rms(host);
    double g = 1.0;
    if (h > 0.0 && w > 0.0) g = h * std::pow(10.0, ratioDb / 20.0) / w;
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0.0;
        if (i < host.size()) v += host[i];
        if (i < watermark.size()) v += g * watermark[i];
        out[i] = float(v);
    }
    return out;
}

std::vector<float> SignalMix::MixSeveral(const std::vector<float>& host,
                                          const std::vector<std::vector<float>>& watermarks,
                                          const std::vector<double>& ratiosDb,
                                          double silentReferenceRms) {
    // The reference is measured once, before anything is added: a watermark
    // mixed in later must not be scaled against the host plus earlier ones.
    double reference = Rms(host);
    if (reference <= 0.0) reference = silentReferenceRms;
    std::vector<double> acc(host.begin(), host.end());
    for (std::size_t k = 0; k < watermarks.size(); ++k) {
        const std::vector<float>& wm = watermarks[k];
        const double rms = Rms(wm);
        if (rms <= 0.0) continue;
        const double ratio = k < ratiosDb.size() ? ratiosDb[k] : 0.0;
        const double g = reference * std::pow(10.0, ratio / 20.0) / rms;
        const std::size_t n = std::min(wm.size(), acc.size());
        for (std::size_t i = 0; i < n; ++i) acc[i] += g * wm[i];
    }
    return std::vector<float>(acc.begin(), acc.end());
}

std::vector<int16_t> SignalMix::ToInt16(const std::vector<float>& samples) {
    std::vector<int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double v = std::nearbyint(double(samples[i]) * 32768.0);
        if (!(v >= -32768.0)) v = -32768.0;  // also catches NaN
        if (v > 32767.0) v = 32767.0;
        out[i] = int16_t(v);
    }
    return out;
}

std::vector<int16_t> SignalMix::Interleave(const std::vector<std::vector<int16_t>>& channels) {
    std::size_t frames = 0;
    for (const auto& c : channels) frames = std::max(frames, c.size());
    std::size_t nc = channels.size();
    std::vector<int16_t> out(frames * nc, 0);
    for (std::size_t c = 0; c < nc; ++c)
        for (std::size_t i = 0; i < channels[c].size(); ++i) out[i * nc + c] = channels[c][i];
    return out;
}

}  // namespace Generators
}  // namespace Kelvane
