// Test helper: drives the TESK 6 core with synthetic power spectra in which
// the tone bins of the current message symbols stand out of a flat, slightly
// noisy floor. This exercises scoring, synchronisation and accumulation
// without audio and FFT.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "decoders/tesk6/T6Msg.h"
#include "decoders/tesk6/T6Snr.h"

namespace t6test {

struct Detection {
    int32_t frame;  // core frame counter at the callback
    _T6M_Detection_t d;
    _T6M_Slot_t slot;  // the slot the detection was emitted from
};

// Symbol (0..128) of a layer during one frame, or -1 for none.
using SymbolAt = std::function<int(int layer, int64_t frame)>;

class SpectrumSim {
public:
    explicit SpectrumSim(float tonePower = 4.0f, uint32_t seed = 7) : tone_(tonePower), rng_(seed) {
        T6M_Init(&SpectrumSim::Callback, this, &state_);
    }

    // Runs `frames` frames; `symbolAt` says which symbol each layer carries.
    void Run(int64_t frames, const SymbolAt& symbolAt) {
        std::vector<float> p(1536, 0.0f);
        for (int64_t f = 0; f < frames; ++f, ++frame_) {
            for (int k = 520; k < 1020; ++k) p[k] = 1.0f + 0.2f * Uniform();
            // The analysis window spans six frames: a symbol covering n of
            // them shows (n / 6)^2 of its full tone power.
            for (int layer = 0; layer < 2; ++layer) {
                int count[T6_SYMBOL_COUNT] = {0};
                for (int back = 0; back < 6; ++back) {
                    int s = frame_ - back >= 0 ? symbolAt(layer, frame_ - back) : -1;
                    if (s >= 0) ++count[s];
                }
                const uint16_t(*map)[6] = layer == 0 ? T6_TONE_MAP_PROG : T6_TONE_MAP_COMM;
                for (int s = 0; s < T6_SYMBOL_COUNT; ++s) {
                    if (count[s] == 0) continue;
                    const float f = float(count[s]) / 6.0f;
                    for (int g = 0; g < 6; ++g)
                        p[T6_BIN_SNR_FIRST_BIN + map[s][g]] += tone_ * f * f;
                }
            }
            T6M_Decode(p.data(), &state_);
        }
    }

    std::vector<Detection> detections;
    _T6M_State_t state_;

private:
    static int Callback(void* user, const _T6M_Detection_t* d) {
        auto* self = static_cast<SpectrumSim*>(user);
        const _T6M_Slot_t& slot =
            self->state_.block[d->layer < 3 ? d->layer : 0].slot[d->depth & 3];
        self->detections.push_back({self->state_.frameCounter, *d, slot});
        return 0;
    }
    float Uniform() {
        rng_ = rng_ * 1664525u + 1013904223u;
        return float(rng_ >> 8) / float(1u << 24);
    }
    float tone_;
    uint32_t rng_;
    int64_t frame_ = 0;
};

// Symbol of a message layout repeated every `period` frames from `start`:
// symbol j of repetition r is symbols(r)[j] for frames start + r*period + 6j
// to + 6j + 5.
inline int RepeatedMessage(int64_t frame, int64_t start, int period,
                           const std::function<void(int64_t rep, uint8_t out[8])>& symbols) {
    if (frame < start) return -1;
    int64_t rep = (frame - start) / period;
    int64_t off = (frame - start) % period;
    if (off >= 48) return -1;
    uint8_t s[8];
    symbols(rep, s);
    return s[off / 6];
}

}  // namespace t6test
