#include "audiocore/CAudioSampleConverter.h"

#include <cstring>

#include "audiocore/Exceptions.h"

namespace Kelvane::AudioCore {

namespace {

// The strategies are stateless, so one shared instance of each serves every converter.
const NoPackingStrategy kNoPacking;
const ThreeByteConversionStrategy kThreeByte;
const FourByteStrategy kFourByte;
const FourBytes0_24Strategy kFourBytes0_24;
const FourByteConversionStrategy kFourByteInt32;
const FloatPackingStrategy kFloatPacking;
const TwoByteToFloatStrategy kTwoByteToFloat;
const ThreeByteToFloatStrategy kThreeByteToFloat;
const FourByteToFloatStrategy kFourByteToFloat;
const FourBytes0_24_ToFloatStrategy kFourBytes0_24ToFloat;
const FourByteToFloatConversionStrategy kInt32ToFloat;
const FloatToFloatStrategy kFloatToFloat;

// Strategy and the number of input bytes it reads per sample; null when there is none.
const SampleConversionStrategy* Choose(ePackingMode mode, bool toFloat, unsigned* reads) {
    if (!toFloat) {
        switch (mode) {
            case THREE_BYTES_LITTLE_ENDIAN:
                *reads = 3;
                return &kThreeByte;
            case FOUR_BYTES_LITTLE_ENDIAN:
                *reads = 4;
                return &kFourByte;
            case FOUR_BYTES_LITTLE_ENDIAN_0_24_PACKING:
                *reads = 4;
                return &kFourBytes0_24;
            case PACKING_MODE_NOT_USED:
                *reads = 2;
                return &kNoPacking;
            case FOUR_BYTES_FLOAT:
                *reads = 4;
                return &kFloatPacking;
            case FOUR_BYTES_INT32:
                *reads = 4;
                return &kFourByteInt32;
            default:
                return nullptr;
        }
    }
    switch (mode) {
        case THREE_BYTES_LITTLE_ENDIAN:
            *reads = 3;
            return &kThreeByteToFloat;
        case FOUR_BYTES_LITTLE_ENDIAN:
            *reads = 3;
            return &kFourByteToFloat;
        case FOUR_BYTES_LITTLE_ENDIAN_0_24_PACKING:
            *reads = 4;
            return &kFourBytes0_24ToFloat;
        case PACKING_MODE_NOT_USED:
            *reads = 2;
            return &kTwoByteToFloat;
        case FOUR_BYTES_INT32:
            *reads = 4;
            return &kInt32ToFloat;
        default:
            *reads = 4;
            return &kFloatToFloat;
    }
}

}  // namespace

CAudioSampleConverter::CAudioSampleConverter(unsigned short bitsPerSample, ePackingMode packingMode)
    : m_bitsPerSample(bitsPerSample),
      m_bytesPerSample(static_cast<unsigned short>(bitsPerSample / 8)),
      m_packingMode(packingMode) {
    if (!IsValidPackingMode(bitsPerSample, packingMode)) throw InvalidPackingModeSelection();
}

void CAudioSampleConverter::SetError(const char* text) {
    std::strncpy(m_errorText, text, sizeof m_errorText - 1);
    m_errorText[sizeof m_errorText - 1] = '\0';
}

int CAudioSampleConverter::ConvertInBuffer(void* in, int count, void* out, bool toFloat) {
    if (out == nullptr || count <= 0 || in == nullptr) {
        SetError(kNullBufferError);
        return -1;
    }
    unsigned reads = 0;
    const SampleConversionStrategy* strategy = Choose(m_packingMode, toFloat, &reads);
    // A strategy that reads more bytes than one input sample holds would read past the end of
    // the buffer on the last sample (possible with unusual sample sizes, which the packing
    // check lets through), so such a request fails like a missing strategy.
    if (strategy == nullptr || reads > m_bytesPerSample) {
        SetError(kNoStrategyError);
        return -1;
    }
    m_outputSampleSize = toFloat ? 4 : 2;
    const auto* src = static_cast<const unsigned char*>(in);
    auto* dst = static_cast<unsigned char*>(out);
    for (int i = 0; i < count; ++i) {
        strategy->convert(src + static_cast<size_t>(i) * m_bytesPerSample,
                          dst + static_cast<size_t>(i) * m_outputSampleSize);
    }
    return 0;
}

void CAudioSampleConverter::GetErrordesc(char* destination, unsigned long size) {
    if (destination == nullptr || size == 0) return;
    std::strncpy(destination, m_errorText, size - 1);
    destination[size - 1] = '\0';
}

}  // namespace Kelvane::AudioCore
