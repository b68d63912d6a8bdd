#include "generators/Tesk6Generator.h"

#include <algorithm>
#include <cmath>

#include "decoders/tesk6/T6Snr.h"
#include "dsp/ReedSolomon.h"

namespace Kelvane {
namespace Generators {

namespace {

constexpr double kFrameSeconds = double(Tesk6Generator::kFrameSamples) / 16000.0;  // 32 ms
constexpr double kSymbolSeconds = kFrameSeconds * Tesk6Generator::kFramesPerSymbol;
// Raised-cosine edge of each symbol, to keep its switching clicks out of the
// neighbouring bins.
constexpr double kRampSeconds = 0.004;

int LayerOf(Tesk6Kind kind) { return kind == Tesk6Kind::ProgramStandard ? 0 : 1; }

}  // namespace

Tesk6Generator::Tesk6Generator(int outputRate) : rate_(outputRate > 0 ? outputRate : 48000) {}

void Tesk6Generator::Add(const Tesk6Message& message, unsigned repetitions) {
    layers_[LayerOf(message.kind)].push_back(Entry{message, repetitions});
}

void Tesk6Generator::SetStartFrame(int layer, unsigned frames) {
    if (layer == 0 || layer == 1) startFrame_[layer] = frames;
}

double Tesk6Generator::ToneFrequency(int layer, int symbol, int group) {
    return (T6_BIN_SNR_FIRST_BIN + T6_ToneOffset(layer, symbol, group)) * 16000.0 / 3072.0;
}

uint32_t Tesk6Generator::TimestampAt(const Tesk6Message& message, double seconds) {
    double t = std::floor(message.clockFraction + seconds);
    return uint32_t((int64_t(message.timestamp) + int64_t(t)) & 0x1FFFFFFF);
}

void Tesk6Generator::Symbols(const Tesk6Message& m, uint32_t timestamp, uint8_t out[8]) {
    out[0] = T6_MARKER_SYMBOL;
    if (m.kind == Tesk6Kind::CommercialRs) {
        uint8_t word[7];
        for (int i = 0; i < 5; ++i) word[i] = uint8_t((m.commId >> (28 - 7 * i)) & 0x7F);
        RsCodeParams rs;
        RS_Init(7, 5, 7, RS_7_5_TABLES_CODEGENPOLY, RS_7_5_TABLES_LOOKUPGF,
                RS_7_5_TABLES_LOOKUPGFINV, RS_7_5_TABLES_LOOKUPGFREV, &rs);
        RS_Encode(word, 5, word + 5, &rs);
        for (int i = 0; i < 7; ++i) out[i + 1] = word[i];
        return;
    }
    const uint32_t ts = timestamp & 0x1FFFFFFF;
    out[1] = uint8_t((m.sid >> 9) & 0x7F);
    out[2] = uint8_t((m.sid >> 2) & 0x7F);
    out[3] = uint8_t(((m.sid & 3) << 5) | ((m.transmission ? 1 : 0) << 4) | ((m.dist & 3) << 2) |
                     ((m.dst ? 1 : 0) << 1) | ((ts >> 28) & 1));
    out[4] = uint8_t((ts >> 21) & 0x7F);
    out[5] = uint8_t((ts >> 14) & 0x7F);
    out[6] = uint8_t((ts >> 7) & 0x7F);
    out[7] = uint8_t(ts & 0x7F);
}

std::vector<Tesk6Emission> Tesk6Generator::Schedule(double seconds) const {
    std::vector<Tesk6Emission> out;
    for (int layer = 0; layer < 2; ++layer) {
        const int period = layer == 0 ? kProgramPeriodFrames : kCommercialPeriodFrames;
        uint64_t frame = startFrame_[layer];
        for (const Entry& e : layers_[layer]) {
            for (unsigned r = 0; e.repetitions == 0 || r < e.repetitions; ++r, frame += period) {
                Tesk6Emission em;
                em.layer = layer;
                em.startSeconds = double(frame) * kFrameSeconds;
                em.endSeconds = em.startSeconds + 8 * kSymbolSeconds;
                if (em.endSeconds > seconds + 1e-9) break;
                em.message = e.message;
                em.timestamp = TimestampAt(e.message, em.startSeconds);
                Symbols(e.message, em.timestamp, em.symbols);
                out.push_back(em);
            }
            if (e.repetitions == 0) break;
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Tesk6Emission& a, const Tesk6Emission& b) {
        return a.startSeconds < b.startSeconds;
    });
    return out;
}

std::vector<float> Tesk6Generator::Synthesize(double seconds) const {
    const size_t total = seconds > 0 ? size_t(std::llround(seconds * rate_)) : 0;
    std::vector<float> out(total, 0.0f);
    const double ramp = kRampSeconds * rate_;
    for (const Tesk6Emission& em : Schedule(seconds)) {
        for (int j = 0; j < 8; ++j) {
            const double t0 = em.startSeconds + j * kSymbolSeconds;
            const size_t a = size_t(std::llround(t0 * rate_));
            const size_t b = std::min(total, size_t(std::llround((t0 + kSymbolSeconds) * rate_)));
            if (a >= b) continue;
            const double len = double(b - a);
            for (int g = 0; g < T6_TONE_GROUPS; ++g) {
                const double f = ToneFrequency(em.layer, em.symbols[j], g);
                const double w = 2.0 * M_PI * f / rate_;
                // Fixed per-group phases keep the six tones from peaking together.
                const double phi = 0.7 * g * g + 1.3 * em.layer;
                for (size_t i = a; i < b; ++i) {
                    const double n = double(i - a);
                    double gain = amplitude_;
                    if (n < ramp)
                        gain *= 0.5 - 0.5 * std::cos(M_PI * n / ramp);
                    else if (len - n < ramp)
                        gain *= 0.5 - 0.5 * std::cos(M_PI * (len - n) / ramp);
                    out[i] += float(gain * std::sin(w * double(i) + phi));
                }
            }
        }
    }
    return out;
}

}  // namespace Generators
}  // namespace Kelvane
