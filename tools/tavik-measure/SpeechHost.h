// Speech-like host audio: utterances rendered by the espeak-ng speech
// synthesiser with many voices, speeds and pitches, resampled to 48 kHz by
// sox and cached as WAV files, then strung together with pauses, a second
// speaker now and then talking over the first, and optionally a pink-noise
// bed under it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "generators/SignalMix.h"

namespace measure {

class SpeechLibrary {
public:
    // Makes sure the cache folder holds every clip, rendering the missing ones
    // (espeak-ng and sox are run as programs). Returns false with the reason
    // when the tools are missing or a clip cannot be made.
    static bool Prepare(const std::string& cacheDir, std::string* why);
    // Reads the cached clips (48 kHz mono, each scaled to RMS 0.1).
    bool Load(const std::string& cacheDir, std::string* why);
    const std::vector<std::vector<float>>& Clips() const { return clips_; }

private:
    std::vector<std::vector<float>> clips_;
};

// A continuous speech host at 48 kHz; deterministic per seed.
class SpeechStream {
public:
    // rms: target level of the speech (pauses included, roughly); bedDb: level
    // of the pink-noise bed against `rms`, or below -200 for none.
    SpeechStream(const SpeechLibrary& library, double rms, double bedDb, uint32_t seed);
    void Render(float* out, std::size_t count);

private:
    struct Talk {
        const std::vector<float>* clip;
        std::size_t pos;
        float gain;
    };
    void Schedule();
    const SpeechLibrary& lib_;
    float gain_;
    uint64_t rng_;
    std::vector<Talk> talking_;
    std::size_t untilNext_ = 0;  // samples until the next utterance starts
    std::unique_ptr<Kelvane::Generators::HostStream> bed_;
    std::vector<float> bedBuffer_;
};

}  // namespace measure
