// TESK 2 watermark synthesis for tests, tools and demos.
//
// A symbol is 15 chips of 256 samples at 24 kHz (10.67 ms each); chip j is
// the tone of hop-sequence pair i = T2S_HOP_SEQ[j]: bin b + i for a "+" chip,
// bin b + i + 10 for a "-" chip (93.75 Hz bins), chosen by the symbol's chip
// pattern. One symbol starts every 64 frames of 64 samples (4096 samples) and
// a message is the marker followed by ten symbols (704 frames, 1.877 s).
// Layer 0 (band from bin 49) carries program messages repeated every 1496
// frames (3.99 s); layer 1 (band from bin 66) carries commercial standard or
// Reed-Solomon messages repeated every 748 frames (1.99 s). The time code of a
// standard message follows an encoder clock running at one second per second.
// The synthesis runs directly at the output rate (chip boundaries at their
// exact times), so any rate works; the two layers can sound together.
#ifndef TAVIK_GENERATORS_TESK2GENERATOR_H
#define TAVIK_GENERATORS_TESK2GENERATOR_H

#include <cstdint>
#include <vector>

namespace Kelvane {
namespace Generators {

enum class Tesk2Kind {
    ProgramStandard,     // layer 0, SID + time code
    CommercialStandard,  // layer 1, SID + time code
    CommercialRs         // layer 1, Reed-Solomon protected commId
};

struct Tesk2Message {
    Tesk2Kind kind = Tesk2Kind::ProgramStandard;
    uint16_t sid = 0;
    // Encoder clock (31-bit TESK 2 time code) at audio time 0 of the whole
    // generated signal; a repetition starting at t seconds carries
    // timestamp + floor(clockFraction + t).
    uint32_t timestamp = 0;
    double clockFraction = 0.5;  // sub-second phase of the encoder clock at time 0, [0, 1)
    uint8_t dist = 1;            // 2-bit distribution field (1 PC, 2 FD, 0 commercial)
    bool dst = false;            // daylight-saving flag
    uint64_t commId = 0;         // 35 bits, Reed-Solomon messages only
};

// One scheduled repetition of a message (what the signal carries).
struct Tesk2Emission {
    int layer;            // 0 or 1
    double startSeconds;  // audio time of the marker's first chip
    double endSeconds;    // audio time of the end of the last symbol's last chip
    Tesk2Message message;
    uint32_t timestamp;   // time code carried by this repetition (standard messages)
    uint8_t symbols[11];  // marker first
};

class Tesk2Generator {
public:
    static constexpr int kDecoderRate = 24000;
    static constexpr int kFrameSamples = 64;  // at 24 kHz
    static constexpr int kChipSamples = 256;
    static constexpr int kChips = 15;
    static constexpr int kSymbolFrames = 64;
    static constexpr int kSymbols = 11;
    static constexpr int kProgramPeriodFrames = 1496;
    static constexpr int kCommercialPeriodFrames = 748;

    // outputRate: sample rate of the synthesised signal (48000 by default);
    // a non-positive rate selects 48000.
    explicit Tesk2Generator(int outputRate = 48000);

    // Appends a message to its layer. The layer plays its messages in order,
    // each `repetitions` times; 0 repeats it until the end of the signal.
    void Add(const Tesk2Message& message, unsigned repetitions = 0);

    // Offset of the first repetition of each layer, in 24 kHz frames.
    void SetStartFrame(int layer, unsigned frames);

    // Amplitude of the chip tones (full scale 1.0; default 0.05).
    void SetToneAmplitude(double amplitude) { amplitude_ = amplitude; }

    // Chip patterns used for the data symbols and the marker (33 rows of 15,
    // 1 = "+"); by default the decoder's table. A null pointer restores it.
    void SetChipPatterns(const uint8_t (*patterns)[15]) { patterns_ = patterns; }

    int OutputRate() const { return rate_; }

    // Repetitions that fit completely in `seconds` of audio, both layers,
    // sorted by start time.
    std::vector<Tesk2Emission> Schedule(double seconds) const;

    // The watermark alone, `seconds` long, at the output rate.
    std::vector<float> Synthesize(double seconds) const;

    // Message symbols (marker first) of a message carrying `timestamp`. For a
    // Reed-Solomon message positions 1-10 are the first ten symbols of the
    // (11, 7) code word of the commId; `rsEleventh`, when given, receives the
    // untransmitted eleventh symbol.
    static void Symbols(const Tesk2Message& message, uint32_t timestamp, uint8_t out[11],
                        uint8_t* rsEleventh = nullptr);

    // Frequency in Hz of chip `chip` (0..14) of `symbol` in `layer`, using the
    // given pattern table (the decoder's when null).
    static double ChipFrequency(int layer, int symbol, int chip,
                                const uint8_t (*patterns)[15] = nullptr);

    // Time code carried by a repetition of `message` starting at `seconds`.
    static uint32_t TimestampAt(const Tesk2Message& message, double seconds);

private:
    struct Entry {
        Tesk2Message message;
        unsigned repetitions;
    };
    int rate_;
    double amplitude_ = 0.05;
    const uint8_t (*patterns_)[15] = nullptr;
    unsigned startFrame_[2] = {0, 0};
    std::vector<Entry> layers_[2];
};

}  // namespace Generators
}  // namespace Kelvane

#endif  // TAVIK_GENERATORS_TESK2GENERATOR_H
