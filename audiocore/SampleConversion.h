#pragma once

namespace Kelvane::AudioCore {

// How one sample sits in its bytes.
enum ePackingMode : int {
    THREE_BYTES_LITTLE_ENDIAN = 0,              // B1 B2 B3, B1 least significant (24-bit)
    FOUR_BYTES_LITTLE_ENDIAN = 1,               // B1 B2 B3 00: 24-bit value, padding byte last
    FOUR_BYTES_LITTLE_ENDIAN_0_24_PACKING = 2,  // 00 B1 B2 B3: padding byte first
    PACKING_MODE_NOT_USED = 3,                  // plain 16-bit little-endian (the default)
    FOUR_BYTES_FLOAT = 4,                       // 32-bit IEEE float, full scale +-1.0
    FOUR_BYTES_INT32 = 5                        // 32-bit signed integer, full scale
};

// Whether a converter accepts the combination: 16 bits only with PACKING_MODE_NOT_USED,
// 24 bits only with THREE_BYTES_LITTLE_ENDIAN, 32 bits with any mode except those two, any
// other sample size with any mode.
bool IsValidPackingMode(unsigned short bitsPerSample, ePackingMode packingMode);

// Converts exactly one sample from in to out. Outputs are little-endian; 16-bit outputs are a
// plain truncation (least significant bytes dropped, no rounding or dither).
class SampleConversionStrategy {
public:
    virtual ~SampleConversionStrategy() = default;
    virtual void convert(const unsigned char* in, unsigned char* out) const = 0;
};

// 16-bit output strategies.
class NoPackingStrategy : public SampleConversionStrategy {  // int16 copy
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class ThreeByteConversionStrategy : public SampleConversionStrategy {  // 24-bit, bytes 1,2
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FourByteStrategy : public SampleConversionStrategy {  // 24_0 container, bytes 1,2
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FourBytes0_24Strategy : public SampleConversionStrategy {  // 0_24 container, bytes 2,3
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FourByteConversionStrategy : public SampleConversionStrategy {  // int32, bytes 2,3
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
// float * 32768.0f truncated toward zero to int32, low 16 bits stored (1.0 wraps to -32768).
class FloatPackingStrategy : public SampleConversionStrategy {
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};

// Float output strategies (single precision, value times a power of two).
class TwoByteToFloatStrategy : public SampleConversionStrategy {  // int16 * 2^-15
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class ThreeByteToFloatStrategy : public SampleConversionStrategy {  // 24-bit * 2^-23
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FourByteToFloatStrategy : public SampleConversionStrategy {  // 24_0 container * 2^-23
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FourBytes0_24_ToFloatStrategy : public SampleConversionStrategy {  // 0_24 * 2^-23
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FourByteToFloatConversionStrategy : public SampleConversionStrategy {  // int32 * 2^-31
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};
class FloatToFloatStrategy : public SampleConversionStrategy {  // four bytes copied
public:
    void convert(const unsigned char* in, unsigned char* out) const override;
};

// Turns a buffer of one channel's samples into 16-bit or float samples.
class SampleConverter {
public:
    virtual ~SampleConverter() = default;
    // Converts count samples from in to out (16-bit when toFloat is false, float otherwise).
    // Returns 0, or -1 with an error text (GetErrordesc) on failure.
    virtual int ConvertInBuffer(void* in, int count, void* out, bool toFloat) = 0;
    virtual void SetSampleSize(unsigned short bitsPerSample) = 0;
    virtual void SetPackingMode(ePackingMode packingMode) = 0;
    // Copies the error text, cut to size - 1 characters and terminated; nothing for null.
    virtual void GetErrordesc(char* destination, unsigned long size) = 0;
};

}  // namespace Kelvane::AudioCore
