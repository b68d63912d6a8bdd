// TESK 6 watermark synthesis for tests, tools and demos.
//
// Each message symbol is six tones, one per tone group, at the FFT bin
// frequencies (bin * 16000 / 3072 Hz) given by the decoder's tone maps; a
// symbol lasts six 512-sample frames of 16 kHz audio (192 ms) and a message is
// the marker followed by seven symbols (1.536 s). Program messages repeat every
// 150 frames (4.8 s), commercial messages every 50 frames (1.6 s). The time
// code of a standard message follows an encoder clock running at one second
// per second, so its low symbol advances between repetitions exactly as an
// encoder's would. The program and commercial layers can sound together.
#ifndef TAVIK_GENERATORS_TESK6GENERATOR_H
#define TAVIK_GENERATORS_TESK6GENERATOR_H

#include <cstdint>
#include <vector>

namespace Kelvane {
namespace Generators {

enum class Tesk6Kind {
    ProgramStandard,     // program layer, SID + time code
    CommercialStandard,  // commercial layer, SID + time code
    CommercialRs         // commercial layer, Reed-Solomon protected commId
};

struct Tesk6Message {
    Tesk6Kind kind = Tesk6Kind::ProgramStandard;
    uint16_t sid = 0;
    // Encoder clock (29-bit TESK 6 time code) at audio time 0 of the whole
    // generated signal; a repetition starting at t seconds carries
    // timestamp + floor(clockFraction + t).
    uint32_t timestamp = 0;
    double clockFraction = 0.5;  // sub-second phase of the encoder clock at time 0, [0, 1)
    uint8_t dist = 0;            // distribution code 0..3 (0 PC, 1 FD1, 2 FD2, 3 FD3)
    bool dst = false;
    bool transmission = false;
    uint64_t commId = 0;  // 35 bits, Reed-Solomon messages only
};

// One scheduled repetition of a message (what the signal carries).
struct Tesk6Emission {
    int layer;            // 0 program, 1 commercial
    double startSeconds;  // audio time of the marker symbol's start
    double endSeconds;    // audio time of the end of the last symbol
    Tesk6Message message;
    uint32_t timestamp;  // time code carried by this repetition (standard messages)
    uint8_t symbols[8];  // marker first
};

class Tesk6Generator {
public:
    static constexpr int kDecoderRate = 16000;
    static constexpr int kFrameSamples = 512;  // at 16 kHz
    static constexpr int kFramesPerSymbol = 6;
    static constexpr int kProgramPeriodFrames = 150;
    static constexpr int kCommercialPeriodFrames = 50;

    // outputRate: sample rate of the synthesised signal (48000 by default).
    explicit Tesk6Generator(int outputRate = 48000);

    // Appends a message to the program layer (ProgramStandard) or the
    // commercial layer (the two commercial kinds). The layer plays its
    // messages in order, each `repetitions` times; 0 repeats it until the end
    // of the signal (later messages of that layer are then never reached).
    void Add(const Tesk6Message& message, unsigned repetitions = 0);

    // Offset of the first repetition of each layer, in 16 kHz frames (0 by
    // default).
    void SetStartFrame(int layer, unsigned frames);

    // Amplitude of each of the six tones (full scale 1.0; default 0.05).
    void SetToneAmplitude(double amplitude) { amplitude_ = amplitude; }

    int OutputRate() const { return rate_; }

    // Repetitions that fit completely in `seconds` of audio, both layers,
    // sorted by start time.
    std::vector<Tesk6Emission> Schedule(double seconds) const;

    // The watermark alone, `seconds` long, at the output rate.
    std::vector<float> Synthesize(double seconds) const;

    // Message symbols (marker first) of a message carrying `timestamp`.
    static void Symbols(const Tesk6Message& message, uint32_t timestamp, uint8_t out[8]);

    // Frequency in Hz of the tone of `symbol` (0..128) in tone group `group`
    // (0..5) of layer 0 (program) or 1 (commercial).
    static double ToneFrequency(int layer, int symbol, int group);

    // Time code carried by a repetition of `message` starting at `seconds`.
    static uint32_t TimestampAt(const Tesk6Message& message, double seconds);

private:
    struct Entry {
        Tesk6Message message;
        unsigned repetitions;
    };
    int rate_;
    double amplitude_ = 0.05;
    unsigned startFrame_[2] = {0, 0};
    std::vector<Entry> layers_[2];
};

}  // namespace Generators
}  // namespace Kelvane

#endif  // TAVIK_GENERATORS_TESK6GENERATOR_H
