// The audio of one soak channel, made block by block: a host noise loop and
// six watermark components (TESK 6 program and Reed-Solomon commercial, TESK 2
// program and Reed-Solomon commercial, ZELT program and commercial), all with
// new codes in every segment of 1 to 10 minutes.
//
// Synthesis cost is kept well below the decoders' so a day of six-channel audio
// runs in under an hour: a component whose signal repeats exactly (the
// commercial messages, a ZELT program message within one minute) is rendered
// once per period and replayed; the TESK program messages, whose time code
// advances with every repetition, are rendered by the generators a window of
// whole repetition periods at a time, each window starting from the encoder
// clock where the previous one ended.
#pragma once

#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "tools/tavik-soak/SoakLedger.h"

namespace soak {

constexpr int kRate = 48000;
constexpr int kBlockFrames = 480;  // 10 ms

// One watermark component: a buffer replayed or refilled as the audio goes on.
class Component {
public:
    virtual ~Component() = default;
    // Adds the next `count` samples into `out`; `at` is the channel's sample
    // index of out[0].
    void AddTo(float* out, size_t count, int64_t at);

protected:
    // Makes buf_ hold the samples from channel sample `at` on; pos_ is reset.
    virtual void Refill(int64_t at) = 0;
    std::vector<float> buf_;
    size_t pos_ = 0;
    size_t delay_ = 0;  // silent samples before the first message
};

class SoakChannel {
public:
    // channel: channel number (0..5), also choosing the host kind (pink noise on
    // even, white noise on odd channels); seed: run seed; startPosix: encoder
    // clock at audio time 0; ledger receives every segment's codes.
    SoakChannel(unsigned channel, uint64_t seed, uint32_t startPosix, SoakLedger* ledger);

    // Lists every new segment's codes on standard error.
    void SetVerbose(bool on) { verbose_ = on; }

    // Fills `out` with the next block of kBlockFrames samples (16 bit), starting
    // a new segment first when the current one is over.
    void NextBlock(int16_t* out);

    uint64_t segments() const { return segments_; }
    int64_t samples() const { return at_; }

private:
    void StartSegment();

    unsigned channel_;
    uint32_t startPosix_;
    SoakLedger* ledger_;
    std::mt19937_64 rng_;
    std::vector<float> host_;  // host loop
    size_t hostPos_ = 0;
    float level_ = 1.0f;       // segment loudness (host and watermarks)
    std::vector<std::unique_ptr<Component>> parts_;
    int64_t at_ = 0;           // samples made so far
    int64_t segmentEnd_ = 0;   // sample where the current segment ends
    uint64_t segments_ = 0;
    uint64_t serial_ = 0;      // segment number, for unique codes
    bool verbose_ = false;
    float mix_[kBlockFrames];
};

// A ZELT program identifier (three distinct high nibbles, low nibble 1..15)
// that differs for every n below 50400.
uint16_t ZeltProgramId(uint64_t n);
// A TESK SID that differs for every n below 65535 (never 0).
uint16_t TeskSid(uint64_t n, uint32_t stride);

}  // namespace soak
