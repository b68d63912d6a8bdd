#include "generators/Tesk2Generator.h"

#include <algorithm>
#include <cmath>

#include "decoders/tesk2/T2SymSnr.h"
#include "dsp/ReedSolomon.h"

namespace Kelvane {
namespace Generators {

namespace {

constexpr double kFrameSeconds = double(Tesk2Generator::kFrameSamples) / 24000.0;
constexpr double kChipSeconds = double(Tesk2Generator::kChipSamples) / 24000.0;
constexpr double kBinHz = 24000.0 / T2_FFT_SIZE;  // 93.75 Hz

int LayerOf(Tesk2Kind kind) { return kind == Tesk2Kind::ProgramStandard ? 0 : 1; }

}  // namespace

Tesk2Generator::Tesk2Generator(int outputRate) : rate_(outputRate > 0 ? outputRate : 48000) {}

void Tesk2Generator::Add(const Tesk2Message& message, unsigned repetitions) {
    layers_[LayerOf(message.kind)].push_back(Entry{message, repetitions});
}

void Tesk2Generator::SetStartFrame(int layer, unsigned frames) {
    if (layer == 0 || layer == 1) startFrame_[layer] = frames;
}

double Tesk2Generator::ChipFrequency(int layer, int symbol, int chip,
                                     const uint8_t (*patterns)[15]) {
    const uint8_t(*p)[15] = patterns ? patterns : T2S_CHIP_PATTERN;
    const int band = layer == 0 ? T2_LAYER0_BAND : T2_LAYER1_BAND;
    const int bin = band + T2S_HOP_SEQ[chip] + (p[symbol][chip] ? 0 : T2_PAIR_OFFSET);
    return bin * kBinHz;
}

uint32_t Tesk2Generator::TimestampAt(const Tesk2Message& message, double seconds) {
    const double t = std::floor(message.clockFraction + seconds);
    return uint32_t((int64_t(message.timestamp) + int64_t(t)) & 0x7FFFFFFF);
}

void Tesk2Generator::Symbols(const Tesk2Message& m, uint32_t timestamp, uint8_t out[11],
                             uint8_t* rsEleventh) {
    out[0] = T2_MARKER;
    if (m.kind == Tesk2Kind::CommercialRs) {
        uint8_t word[11];
        for (int i = 0; i < 7; ++i) word[i] = uint8_t((m.commId >> (30 - 5 * i)) & 31);
        RsCodeParams rs;
        RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
                RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &rs);
        RS_Encode(word, 7, word + 7, &rs);
        for (int i = 0; i < 10; ++i) out[i + 1] = word[i];
        if (rsEleventh) *rsEleventh = word[10];
        return;
    }
    const uint32_t ts = timestamp & 0x7FFFFFFF;
    out[1] = uint8_t((m.sid >> 11) & 31);
    out[2] = uint8_t((m.sid >> 6) & 31);
    out[3] = uint8_t((m.sid >> 1) & 31);
    out[4] = uint8_t(((m.sid & 1) << 4) | ((m.dst ? 1 : 0) << 3) | ((ts >> 28) & 7));
    out[5] = uint8_t((ts >> 23) & 31);
    out[6] = uint8_t((ts >> 18) & 31);
    out[7] = uint8_t((ts >> 13) & 31);
    out[8] = uint8_t((ts >> 8) & 31);
    out[9] = uint8_t((ts >> 3) & 31);
    out[10] = uint8_t(((ts & 7) << 2) | (m.dist & 3));
}

std::vector<Tesk2Emission> Tesk2Generator::Schedule(double seconds) const {
    std::vector<Tesk2Emission> out;
    const double msgSeconds =
        ((kSymbols - 1) * kSymbolFrames * kFrameSamples + kChips * kChipSamples) / 24000.0;
    for (int layer = 0; layer < 2; ++layer) {
        const int period = layer == 0 ? kProgramPeriodFrames : kCommercialPeriodFrames;
        uint64_t frame = startFrame_[layer];
        for (const Entry& e : layers_[layer]) {
            bool full = false;
            for (unsigned r = 0; e.repetitions == 0 || r < e.repetitions; ++r, frame += period) {
                Tesk2Emission em;
                em.layer = layer;
                em.startSeconds = double(frame) * kFrameSeconds;
                em.endSeconds = em.startSeconds + msgSeconds;
                if (em.endSeconds > seconds + 1e-9) {
                    full = true;
                    break;
                }
                em.message = e.message;
                em.timestamp = TimestampAt(e.message, em.startSeconds);
                Symbols(e.message, em.timestamp, em.symbols);
                out.push_back(em);
            }
            if (e.repetitions == 0 || full) break;
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const Tesk2Emission& a, const Tesk2Emission& b) {
        return a.startSeconds < b.startSeconds;
    });
    return out;
}

std::vector<float> Tesk2Generator::Synthesize(double seconds) const {
    const size_t total = seconds > 0 ? size_t(std::llround(seconds * rate_)) : 0;
    std::vector<float> out(total, 0.0f);
    const double symbolSeconds = kSymbolFrames * kFrameSeconds;
    for (const Tesk2Emission& em : Schedule(seconds)) {
        for (int s = 0; s < kSymbols; ++s) {
            for (int j = 0; j < kChips; ++j) {
                const double t0 = em.startSeconds + s * symbolSeconds + j * kChipSeconds;
                const size_t a = size_t(std::llround(t0 * rate_));
                const size_t b = std::min(total, size_t(std::llround((t0 + kChipSeconds) * rate_)));
                const double w =
                    2.0 * M_PI * ChipFrequency(em.layer, em.symbols[s], j, patterns_) / rate_;
                // The phase follows absolute time, so a tone repeated in
                // consecutive chips continues without a jump.
                for (size_t i = a; i < b; ++i)
                    out[i] += float(amplitude_ * std::sin(w * double(i)));
            }
        }
    }
    return out;
}

}  // namespace Generators
}  // namespace Kelvane
