// Sample conversion by packing mode: every strategy through CAudioSampleConverter, boundary
// values, validity of bits/packing pairs and failures.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

#include "audiocore/AudioSampleConverterFactory.h"
#include "audiocore/CAudioSampleConverter.h"
#include "audiocore/Exceptions.h"

using namespace Kelvane::AudioCore;

namespace {

// Converts whole samples to 16 bits (T = int16_t) or to float.
template <typename T>
std::vector<T> Convert(unsigned short bits, ePackingMode mode, std::vector<unsigned char> in) {
    CAudioSampleConverter converter(bits, mode);
    std::vector<T> out(in.size() / (bits / 8), static_cast<T>(0x5555));
    EXPECT_EQ(converter.ConvertInBuffer(in.data(), static_cast<int>(out.size()), out.data(),
                                        std::is_same<T, float>::value),
              0);
    return out;
}

std::vector<unsigned char> FloatBytes(std::vector<float> values) {
    std::vector<unsigned char> b(values.size() * 4);
    std::memcpy(b.data(), values.data(), b.size());
    return b;
}

constexpr float k23 = 1.1920928955078125e-07f;

}  // namespace

TEST(SampleConversion, ValidPackingModesPerSampleSize) {
    for (int m = 0; m <= 5; ++m) {
        const auto mode = static_cast<ePackingMode>(m);
        EXPECT_EQ(IsValidPackingMode(16, mode), m == 3) << m;
        EXPECT_EQ(IsValidPackingMode(24, mode), m == 0) << m;
        EXPECT_EQ(IsValidPackingMode(32, mode), m != 0 && m != 3) << m;
        EXPECT_TRUE(IsValidPackingMode(8, mode)) << m;
    }
    EXPECT_THROW(CAudioSampleConverter(16, FOUR_BYTES_FLOAT), InvalidPackingModeSelection);
    EXPECT_THROW(CAudioSampleConverter(24, FOUR_BYTES_LITTLE_ENDIAN), InvalidPackingModeSelection);
    EXPECT_NO_THROW(CAudioSampleConverter(32, FOUR_BYTES_INT32));
    AudioSampleConverterFactoryImplementation factory;
    EXPECT_THROW(factory.make(32, 2, PACKING_MODE_NOT_USED), InvalidPackingModeSelection);
    EXPECT_NE(factory.make(24, 6, THREE_BYTES_LITTLE_ENDIAN), nullptr);
    try {
        CAudioSampleConverter(24, FOUR_BYTES_INT32);
        FAIL();
    } catch (const InvalidPackingModeSelection& e) {
        EXPECT_STREQ(e.what(), "Invalid packing mode selected for number of bits in sample");
    }
}

// Every strategy with its boundary values, to 16 bits and to float.
TEST(SampleConversion, EveryPackingModeWithItsBoundaries) {
    struct Case {
        unsigned short bits;
        ePackingMode mode;
        std::vector<unsigned char> in;
        std::vector<int16_t> to16;
        std::vector<float> toFloat;
    };
    const Case cases[] = {
        {24,
         THREE_BYTES_LITTLE_ENDIAN,
         {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0x34, 0x12, 0x00},
         {-32768, 0x7FFF, -1, 0x0012},
         {-1.0f, 8388607.0f * k23, -k23, 0x1234 * k23}},
        // 24_0: value in bytes 0..2, byte 3 ignored. 0_24: byte 0 ignored.
        {32,
         FOUR_BYTES_LITTLE_ENDIAN,
         {0x00, 0x00, 0x80, 0xAB, 0xFF, 0xFF, 0x7F, 0x11},
         {-32768, 0x7FFF},
         {-1.0f, 8388607.0f * k23}},
        {32,
         FOUR_BYTES_LITTLE_ENDIAN_0_24_PACKING,
         {0xAB, 0x00, 0x00, 0x80, 0x11, 0xFF, 0xFF, 0x7F},
         {-32768, 0x7FFF},
         {-1.0f, 8388607.0f * k23}},
        {16,
         PACKING_MODE_NOT_USED,
         {0x00, 0x80, 0xFF, 0x7F, 0x01, 0x00},
         {-32768, 32767, 1},
         {-1.0f, 32767.0f / 32768.0f, 3.0517578125e-05f}},
        // 0x7FFFFFFF rounds to 2^31 in single precision: +1.0.
        {32,
         FOUR_BYTES_INT32,
         {0xFF, 0xFF, 0xFF, 0x7F, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0x00, 0x00},
         {0x7FFF, -32768, 0},
         {1.0f, -1.0f, 65535.0f * 4.656612873077393e-10f}},
        // Floats times 32768 keep the low 16 bits of their int32 value (pinned to the int32
        // range, so 3e9 gives 0xFFFF); float output copies them unclipped.
        {32,
         FOUR_BYTES_FLOAT,
         FloatBytes({0.5f, -0.99999f, 1.0f, -1.0f, 0.0f, 3.0e9f, -3.0e9f}),
         {16384, -32767, -32768, -32768, 0, static_cast<int16_t>(0xFFFF), 0},
         {0.5f, -0.99999f, 1.0f, -1.0f, 0.0f, 3.0e9f, -3.0e9f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.mode));
        EXPECT_EQ(Convert<int16_t>(c.bits, c.mode, c.in), c.to16);
        EXPECT_EQ(Convert<float>(c.bits, c.mode, c.in), c.toFloat);
    }
}

TEST(SampleConversion, FailuresAndErrorText) {
    CAudioSampleConverter converter(16, PACKING_MODE_NOT_USED);
    char text[300] = "untouched";
    converter.GetErrordesc(text, sizeof text);
    EXPECT_STREQ(text, "");
    int16_t in[2] = {1, 2}, out[2] = {0, 0};
    EXPECT_EQ(converter.ConvertInBuffer(nullptr, 2, out, false), -1);
    EXPECT_EQ(converter.ConvertInBuffer(in, 2, nullptr, false), -1);
    EXPECT_EQ(converter.ConvertInBuffer(in, 0, out, false), -1);
    EXPECT_EQ(converter.ConvertInBuffer(in, -3, out, false), -1);
    converter.GetErrordesc(text, sizeof text);
    EXPECT_STREQ(text, CAudioSampleConverter::kNullBufferError);
    char small[10];
    converter.GetErrordesc(small, sizeof small);
    EXPECT_STREQ(small, "CAudioSam");
    converter.GetErrordesc(nullptr, 10);  // no effect, no crash

    // No 16-bit strategy for a packing mode outside 0..5; for float output any other mode
    // copies floats.
    CAudioSampleConverter odd(32, static_cast<ePackingMode>(7));
    int32_t wide[1] = {0x3F000000};  // 0.5f
    EXPECT_EQ(odd.ConvertInBuffer(wide, 1, out, false), -1);
    float fl[1] = {0};
    EXPECT_EQ(odd.ConvertInBuffer(wide, 1, fl, true), 0);
    EXPECT_EQ(fl[0], 0.5f);

    // An 8-bit sample is narrower than any strategy reads: fail instead of reading past the end.
    CAudioSampleConverter narrow(8, PACKING_MODE_NOT_USED);
    unsigned char bytes[2] = {1, 2};
    EXPECT_EQ(narrow.ConvertInBuffer(bytes, 2, out, false), -1);
    narrow.GetErrordesc(text, sizeof text);
    EXPECT_STREQ(text, CAudioSampleConverter::kNoStrategyError);
}
