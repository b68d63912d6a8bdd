// CAudioResampler: converts a stream of mono (or stereo, mixed to mono) 16-bit or float samples
// from one sample rate to a decoder's working rate, using the block-based converters of
// audiocore/decimate.h. A conversion runs in one or two stages; each stage collects its input in
// a CBufferManagerLL and converts whole input blocks only, so the output is a continuous stream
// and input that does not fill a block waits for the next call (nothing is ever flushed).
#pragma once

#include <cstdint>

#include "audiocore/decimate.h"

namespace Kelvane {
namespace AudioCore {

class IBufferManager;
class CBufferManagerLL;

class CAudioResampler {
public:
    // inputChannels: 1 or 2 (stereo input is mixed with the weights, see decimate.h).
    // inputRate: 8000..192000 Hz. inputBits: 16, 24 or 32 (the samples handed to Resample_Int
    // are always 16-bit; the value is only validated). outputChannels: 1.
    // outputRate: 8000, 12000, 16000, 22050, 24000 or 48000 Hz, or any rate equal to inputRate
    // (plain copy). outputBits: 16 (Resample_Int) or 32 (float, Resample_Float).
    // blockSamples: the consumer's engine block size in samples; sizes the scratch buffers.
    // leftWeight, rightWeight: mixing weights in percent (decoders pass 100, 0).
    // Never throws: when a parameter or the rate pair is unsupported, or a stage cannot be set
    // up, IsInitialized() is false and every Resample_* call returns 0.
    CAudioResampler(int inputChannels, int inputRate, unsigned short inputBits, int outputChannels,
                    int outputRate, unsigned short outputBits, unsigned int blockSamples,
                    int leftWeight, int rightWeight);
    ~CAudioResampler();
    CAudioResampler(const CAudioResampler&) = delete;
    CAudioResampler& operator=(const CAudioResampler&) = delete;

    // True when the conversion is available. Consumers throw their
    // "Unable to create resampler." error when it is false.
    bool IsInitialized() const { return m_initialized != 0; }

    // Converts 16-bit samples (length in bytes, 2 per mono sample, 4 per stereo frame) as far
    // as whole input blocks allow and PutData()s every output block into `output`. Requires a
    // resampler constructed with outputBits 16 (returns 0 otherwise).
    // Returns the number of output bytes put; 0 when not initialized or when the input could
    // not be queued; a negative PutData result of `output` is returned as it is. When a
    // converter reports a message the call ends early with the bytes put so far.
    int Resample_Int(const unsigned char* data, unsigned int length, IBufferManager& output);

    // Same for float samples (full scale +-1.0; length in bytes, 4 per sample) and float
    // output; requires a resampler constructed with outputBits 32 (returns 0 otherwise).
    int Resample_Float(const float* data, unsigned int length, IBufferManager& output);

    // Input bytes waiting to be converted: in the stage 2 buffer when there is one, else in the
    // stage 1 buffer.
    unsigned int GetUnprocessedBytes() const;
    unsigned int GetBufMag1UnprocessedBytes() const;
    unsigned int GetBufMag2UnprocessedBytes() const;  // 0 without stage 2

    // Nominal input/output ratios, set only for 22050 Hz targets (else 0).
    float GetDownRatio1() const { return m_downRatio1; }
    float GetDownRatio2() const { return m_downRatio2; }

    // Ratio codes of the two stages (0 = none), for diagnostics and tests.
    int GetStage1Code() const { return m_code1; }
    int GetStage2Code() const { return m_code2; }

    // Chooses the ratio codes for a rate pair. Returns true and sets *code1 / *code2 (0 when one
    // stage suffices) when the pair is supported; equal rates use the copy code 55.
    static bool ChooseRatioCodes(int inputRate, int outputRate, int* code1, int* code2);

private:
    template <typename Ctl>
    int Run(const unsigned char* data, unsigned int length, IBufferManager& output);
    void Release();

    void* m_ctl1 = nullptr;  // _DS_Control_t or _DS_ControlF_t, by output bits
    void* m_ctl2 = nullptr;  // null for one-stage conversions
    CBufferManagerLL* m_buf1 = nullptr;
    CBufferManagerLL* m_buf2 = nullptr;
    uint8_t m_initialized = 0;
    unsigned char* m_scratch1 = nullptr;  // stage outputs (at least one output block each)
    unsigned char* m_scratch2 = nullptr;
    float m_downRatio1 = 0.0f;
    float m_downRatio2 = 0.0f;
    int32_t m_leftWeight = 0;
    int32_t m_rightWeight = 0;
    uint32_t m_blockSamples = 0;

    bool m_float = false;
    int m_code1 = 0;
    int m_code2 = 0;
    unsigned int m_inBlockBytes1 = 0;
    unsigned int m_inBlockBytes2 = 0;
};

}  // namespace AudioCore
}  // namespace Kelvane
