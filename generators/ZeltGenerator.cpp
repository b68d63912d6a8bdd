#include "generators/ZeltGenerator.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "decoders/zelt/ZeltBinTables.h"
#include "dsp/ReedSolomon.h"

namespace Kelvane {
namespace Generators {

namespace {

constexpr double kBinHz = 8000.0 / 2048.0;
constexpr double kRampSeconds = 0.004;
constexpr double kPi = 3.14159265358979323846;

}  // namespace

ZeltGenerator::ZeltGenerator(int sampleRate) : m_rate(sampleRate) {
    if (sampleRate < 8000 || sampleRate > 192000)
        throw std::invalid_argument("ZeltGenerator: sample rate out of range");
}

std::array<uint8_t, 4> ZeltGenerator::TimeSymbols(uint32_t minute) {
    if (minute >= kMinutesPerCycle)
        throw std::invalid_argument("ZeltGenerator: minute out of range");
    static const uint32_t kWeights[4] = {2730, 182, 13, 1};
    std::array<uint8_t, 4> t{};
    bool used[16] = {};
    uint32_t r = minute;
    for (int i = 0; i < 4; ++i) {
        uint32_t idx = r / kWeights[i];
        r %= kWeights[i];
        for (int v = 0; v < 16; ++v) {
            if (used[v]) continue;
            if (idx-- == 0) {
                t[i] = static_cast<uint8_t>(v);
                used[v] = true;
                break;
            }
        }
    }
    return t;
}

std::array<uint8_t, 12> ZeltGenerator::ProgramSymbols(uint16_t id, uint32_t minute) {
    const int s0 = (id >> 12) & 15, s1 = (id >> 8) & 15, s2 = (id >> 4) & 15, k = id & 15;
    if (k == 0 || s0 == s1 || s0 == s2 || s1 == s2)
        throw std::invalid_argument("ZeltGenerator: program id needs distinct symbols and a key");
    const std::array<uint8_t, 4> t = TimeSymbols(minute);
    return {17,
            static_cast<uint8_t>(s0),
            static_cast<uint8_t>(s1),
            static_cast<uint8_t>(s2),
            16,
            static_cast<uint8_t>((s0 + k) & 15),
            static_cast<uint8_t>((s1 + k) & 15),
            static_cast<uint8_t>((s2 + k) & 15),
            t[0],
            t[1],
            t[2],
            t[3]};
}

std::array<uint8_t, 15> ZeltGenerator::CommercialCodeword(uint64_t commId) {
    if (commId >= (uint64_t(1) << 36))
        throw std::invalid_argument("ZeltGenerator: commercial identifier above 36 bits");
    RsCodeParams rs;
    RS_Init(15, 9, 4, RS_15_9_TABLES_CODEGENPOLY, RS_15_9_TABLES_LOOKUPGF,
            RS_15_9_TABLES_LOOKUPGFINV, RS_15_9_TABLES_LOOKUPGFREV, &rs);
    std::array<uint8_t, 15> word{};
    for (int i = 0; i < 9; ++i) word[i] = static_cast<uint8_t>((commId >> (4 * (8 - i))) & 15);
    RS_Encode(word.data(), 9, word.data() + 9, &rs);
    return word;
}

uint32_t ZeltGenerator::MinuteOfPosixTime(int64_t t) {
    int64_t r = (t - kCycleEpoch) % kCycleSeconds;
    if (r < 0) r += kCycleSeconds;
    return static_cast<uint32_t>(r / 60);
}

int64_t ZeltGenerator::PosixTimeOfMinute(int64_t audioTime, uint32_t minute) {
    int64_t r = (audioTime - kCycleEpoch) % kCycleSeconds;
    if (r < 0) r += kCycleSeconds;
    return audioTime - r + int64_t(minute) * 60;
}

void ZeltGenerator::AddProgram(int layer, uint16_t id, uint32_t minute) {
    if (layer != 1 && layer != 2 && layer != 5)
        throw std::invalid_argument("ZeltGenerator: program messages use layers 1, 2 and 5");
    LayerPlan& plan = m_layers[layer - 1];
    if (plan.periodSlots != 0) throw std::invalid_argument("ZeltGenerator: layer already used");
    const std::array<uint8_t, 12> syms = ProgramSymbols(id, minute);
    plan.periodSlots = 48;
    plan.slotSymbols.assign(48, kSilent);
    for (int i = 0; i < 48; ++i) plan.slotSymbols[i] = syms[i / 4];
}

void ZeltGenerator::AddCommercial(uint64_t commId) {
    const std::array<uint8_t, 15> c = CommercialCodeword(commId);
    LayerPlan& l3 = m_layers[2];
    LayerPlan& l4 = m_layers[3];
    if (l3.periodSlots != 0 || l4.periodSlots != 0)
        throw std::invalid_argument("ZeltGenerator: layers 3 and 4 already used");
    const uint8_t seq3[8] = {17, c[0], c[1], c[2], c[3], c[4], c[9], c[10]};
    const uint8_t seq4[8] = {c[5], c[6], c[7], c[8], 16, c[11], c[12], c[13]};
    l3.periodSlots = l4.periodSlots = 24;
    l3.slotSymbols.assign(24, kSilent);
    l4.slotSymbols.assign(24, kSilent);
    for (int i = 0; i < 24; ++i) {
        l3.slotSymbols[i] = seq3[i / 3];
        l4.slotSymbols[i] = seq4[i / 3];
    }
}

void ZeltGenerator::AddFlag(int value) {
    if (value != 3 && value != 7) throw std::invalid_argument("ZeltGenerator: flag is 3 or 7");
    LayerPlan& l3 = m_layers[2];
    LayerPlan& l4 = m_layers[3];
    if (l3.periodSlots != 0 || l4.periodSlots != 0)
        throw std::invalid_argument("ZeltGenerator: layers 3 and 4 already used");
    l3.periodSlots = l4.periodSlots = 24;
    l3.slotSymbols.assign(24, kSilent);
    l4.slotSymbols.assign(24, kSilent);
    auto put = [](LayerPlan& p, int start, uint8_t sym) {
        for (int i = 0; i < 3; ++i) p.slotSymbols[start + i] = sym;
    };
    if (value == 3) {
        put(l3, 0, 16);
        put(l3, 6, 16);
        put(l4, 12, 17);
        put(l4, 21, 17);
    } else {
        put(l4, 0, 17);
        put(l4, 12, 17);
        put(l3, 6, 16);
        put(l3, 15, 16);
    }
}

uint8_t ZeltGenerator::SymbolAt(int layer, int64_t slot) const {
    if (layer < 1 || layer > 5 || slot < 0) return kSilent;
    const LayerPlan& p = m_layers[layer - 1];
    if (p.periodSlots == 0) return kSilent;
    return p.slotSymbols[slot % p.periodSlots];
}

std::vector<float> ZeltGenerator::Render(double seconds, double rms) const {
    const size_t count = seconds > 0 ? static_cast<size_t>(seconds * m_rate + 0.5) : 0;
    std::vector<double> acc(count, 0.0);
    const size_t slotLen = static_cast<size_t>(m_rate) / 10;  // 100 ms
    const size_t ramp = static_cast<size_t>(kRampSeconds * m_rate);
    for (int layer = 1; layer <= 5; ++layer) {
        if (m_layers[layer - 1].periodSlots == 0) continue;
        // Walk runs of equal symbols so that tones keep their phase within a symbol.
        size_t start = 0;
        while (start < count) {
            const int64_t slot = static_cast<int64_t>(start / slotLen);
            const uint8_t sym = SymbolAt(layer, slot);
            int64_t endSlot = slot + 1;
            // A symbol run ends where the plan changes symbol or at a symbol
            // boundary of the layer (3 or 4 slots), so repeated symbols get edges.
            const int symSlots = m_layers[layer - 1].periodSlots == 48 ? 4 : 3;
            while (endSlot % symSlots != 0) ++endSlot;
            const size_t end = std::min(count, static_cast<size_t>(endSlot) * slotLen);
            if (sym < 18) {
                const uint16_t* row = zelt_tables::kLayerBins[layer - 1][sym];
                const size_t len = endSlot * slotLen - start;
                for (int t = 0; t < zelt_tables::kTonesPerSymbol; ++t) {
                    const double f = (256 + row[t]) * kBinHz;
                    const double w = 2.0 * kPi * f / m_rate;
                    // Fixed, spread-out starting phases keep the peak factor low.
                    const double ph0 = 2.0 * kPi * ((row[t] * 37 + layer * 11) % 64) / 64.0;
                    for (size_t n = start; n < end; ++n) {
                        const size_t i = n - start;
                        double g = 1.0;
                        if (i < ramp)
                            g = 0.5 - 0.5 * std::cos(kPi * i / ramp);
                        else if (len - i <= ramp)
                            g = 0.5 - 0.5 * std::cos(kPi * (len - i) / ramp);
                        acc[n] += g * std::sin(ph0 + w * static_cast<double>(n));
                    }
                }
            }
            start = end;
        }
    }
    std::vector<float> out(count);
    double sum = 0.0;
    for (double v : acc) sum += v * v;
    const double cur = count ? std::sqrt(sum / count) : 0.0;
    const double g = cur > 0 ? rms / cur : 0.0;
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<float>(acc[i] * g);
    return out;
}

std::vector<int16_t> ZeltGenerator::RenderMixed(double seconds, HostKind host, double ratioDb,
                                                uint32_t seed) const {
    const std::vector<float> wm = Render(seconds);
    const std::vector<float> h = SignalMix::MakeHost(host, wm.size(), 0.1, seed);
    return SignalMix::ToInt16(SignalMix::Mix(wm, h, ratioDb));
}

}  // namespace Generators
}  // namespace Kelvane
