#include "audiocore/SampleConversion.h"

#include <cstdint>
#include <cstring>

namespace Kelvane::AudioCore {

namespace {

// Little-endian 24-bit value of three bytes, sign-extended from the top bit of b[2].
int32_t Read24(const unsigned char* b) {
    uint32_t v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                 (static_cast<uint32_t>(b[2]) << 16);
    if (v & 0x800000u) v |= 0xFF000000u;
    return static_cast<int32_t>(v);
}

int32_t Read32(const unsigned char* b) {
    uint32_t v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
                 (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return static_cast<int32_t>(v);
}

float ReadFloat(const unsigned char* b) {
    uint32_t bits = static_cast<uint32_t>(Read32(b));
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

void WriteFloat(float f, unsigned char* out) {
    uint32_t bits;
    std::memcpy(&bits, &f, sizeof bits);
    out[0] = static_cast<unsigned char>(bits);
    out[1] = static_cast<unsigned char>(bits >> 8);
    out[2] = static_cast<unsigned char>(bits >> 16);
    out[3] = static_cast<unsigned char>(bits >> 24);
}

constexpr float kScale15 = 3.0517578125e-05f;        // 2^-15
constexpr float kScale23 = 1.1920928955078125e-07f;  // 2^-23
constexpr float kScale31 = 4.656612873077393e-10f;   // 2^-31

}  // namespace

bool IsValidPackingMode(unsigned short bitsPerSample, ePackingMode packingMode) {
    switch (bitsPerSample) {
        case 16:
            return packingMode == PACKING_MODE_NOT_USED;
        case 24:
            return packingMode == THREE_BYTES_LITTLE_ENDIAN;
        case 32:
            return packingMode != THREE_BYTES_LITTLE_ENDIAN && packingMode != PACKING_MODE_NOT_USED;
        default:
            return true;
    }
}

void NoPackingStrategy::convert(const unsigned char* in, unsigned char* out) const {
    out[0] = in[0];
    out[1] = in[1];
}

void ThreeByteConversionStrategy::convert(const unsigned char* in, unsigned char* out) const {
    out[0] = in[1];
    out[1] = in[2];
}

void FourByteStrategy::convert(const unsigned char* in, unsigned char* out) const {
    out[0] = in[1];
    out[1] = in[2];
}

void FourBytes0_24Strategy::convert(const unsigned char* in, unsigned char* out) const {
    out[0] = in[2];
    out[1] = in[3];
}

void FourByteConversionStrategy::convert(const unsigned char* in, unsigned char* out) const {
    out[0] = in[2];
    out[1] = in[3];
}

void FloatPackingStrategy::convert(const unsigned char* in, unsigned char* out) const {
    const float scaled = ReadFloat(in) * 32768.0f;
    // Out-of-range and NaN input has no defined int32 value; pin it to the int32 range so the
    // conversion stays defined (in-range values, including exactly 1.0, are unaffected).
    int32_t v;
    if (!(scaled == scaled)) {
        v = 0;
    } else if (scaled >= 2147483648.0f) {
        v = INT32_MAX;
    } else if (scaled <= -2147483648.0f) {
        v = INT32_MIN;
    } else {
        v = static_cast<int32_t>(scaled);
    }
    const uint32_t u = static_cast<uint32_t>(v);
    out[0] = static_cast<unsigned char>(u);
    out[1] = static_cast<unsigned char>(u >> 8);
}

void TwoByteToFloatStrategy::convert(const unsigned char* in, unsigned char* out) const {
    const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(in[0] | (in[1] << 8)));
    WriteFloat(static_cast<float>(v) * kScale15, out);
}

void ThreeByteToFloatStrategy::convert(const unsigned char* in, unsigned char* out) const {
    WriteFloat(static_cast<float>(Read24(in)) * kScale23, out);
}

void FourByteToFloatStrategy::convert(const unsigned char* in, unsigned char* out) const {
    WriteFloat(static_cast<float>(Read24(in)) * kScale23, out);
}

void FourBytes0_24_ToFloatStrategy::convert(const unsigned char* in, unsigned char* out) const {
    WriteFloat(static_cast<float>(Read24(in + 1)) * kScale23, out);
}

void FourByteToFloatConversionStrategy::convert(const unsigned char* in, unsigned char* out) const {
    WriteFloat(static_cast<float>(Read32(in)) * kScale31, out);
}

void FloatToFloatStrategy::convert(const unsigned char* in, unsigned char* out) const {
    std::memcpy(out, in, 4);
}

}  // namespace Kelvane::AudioCore
