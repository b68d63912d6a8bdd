#pragma once

#include "audiocore/SampleConversion.h"

namespace Kelvane::AudioCore {

// Sample converter for one channel: reads samples of bitsPerSample / 8 bytes laid out by the
// packing mode and writes 16-bit or float samples.
class CAudioSampleConverter : public SampleConverter {
public:
    // Throws InvalidPackingModeSelection when the combination is not valid
    // (see IsValidPackingMode).
    CAudioSampleConverter(unsigned short bitsPerSample, ePackingMode packingMode);

    // Fails (-1) with its error text when a buffer is null or count <= 0, and when no strategy
    // exists for the request (16-bit output from a packing mode outside 0..5, or an input
    // sample narrower than the strategy reads).
    int ConvertInBuffer(void* in, int count, void* out, bool toFloat) override;
    // Replace the stored value without validation; the input stride is not recomputed.
    void SetSampleSize(unsigned short bitsPerSample) override { m_bitsPerSample = bitsPerSample; }
    void SetPackingMode(ePackingMode packingMode) override { m_packingMode = packingMode; }
    void GetErrordesc(char* destination, unsigned long size) override;

    static constexpr const char* kNullBufferError =
        "CAudioSampleConverter - Input buffer or Output Buffer1 passed to sampleconvertor is "
        "NULL or number of samples to process is zero, further audio processing stopped";
    static constexpr const char* kNoStrategyError =
        "CAudioSampleConverter - No conversion for this packing mode and sample size, further "
        "audio processing stopped";

private:
    void SetError(const char* text);

    unsigned short m_bitsPerSample;
    unsigned short m_bytesPerSample;
    unsigned short m_outputSampleSize = 4;
    ePackingMode m_packingMode;
    char m_errorText[256] = {0};
};

}  // namespace Kelvane::AudioCore
