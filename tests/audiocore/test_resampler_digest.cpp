// Every conversion of the block converter library, pinned to the exact bits it produces: the
// 16-bit, 16-bit-to-float and float members of every ratio code, mono and the three stereo
// mixes, fed a loud, clipping test signal in uneven pieces. Any change in the arithmetic (a
// vectorised filter, a reordered sum, a different rounding) shows up as a changed digest.
// When a deliberate change of the converters' output lands, the failure message lists the
// new digest of each conversion.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "audiocore/decimate.h"

namespace {

// 64-bit FNV-1a over bytes.
uint64_t Fnv(const void* data, size_t n, uint64_t h = 1469598103934665603ull) {
    const auto* p = static_cast<const unsigned char*>(data);
    for (size_t i = 0; i < n; ++i) h = (h ^ p[i]) * 1099511628211ull;
    return h;
}

// One second of interleaved stereo at 48 kHz worth of samples: tones across the band (some
// above every target rate's Nyquist frequency), a sweep, LCG noise, and peaks that clip.
// Integer samples are rounded from double precision, so the signal is the same in every
// build.
const std::vector<int16_t>& Signal16() {
    static const std::vector<int16_t> s = [] {
        std::vector<int16_t> v(2 * 48000);
        uint32_t lcg = 12345;
        for (size_t i = 0; i < v.size() / 2; ++i) {
            const double t = static_cast<double>(i) / 48000.0;
            for (int ch = 0; ch < 2; ++ch) {
                lcg = lcg * 1664525u + 1013904223u;
                const double noise = (static_cast<double>(lcg >> 8) / 16777216.0 - 0.5) * 6000.0;
                double x = 9000.0 * std::sin(2 * M_PI * (440.0 + 300.0 * ch) * t) +
                           7000.0 * std::sin(2 * M_PI * 5100.0 * t) +
                           6000.0 * std::sin(2 * M_PI * (100.0 + 11000.0 * t) * t) +
                           4000.0 * std::sin(2 * M_PI * 19000.0 * t) + noise;
                if ((i / 4000) % 5 == 3) x *= 2.5;  // stretches of overload
                v[2 * i + ch] =
                    static_cast<int16_t>(std::lround(std::fmax(-32768.0, std::fmin(32767.0, x))));
            }
        }
        return v;
    }();
    return s;
}

struct Mix {
    int stereo, left, right;
};
const Mix kMixes[] = {{0, 100, 0}, {1, 100, 0}, {1, 0, 80}, {1, 60, 50}};

const int kCodes[] = {8,  9,  10, 11, 12, 13, 14, 15, 16, 17, 18, 30, 31, 32, 33, 34, 35, 36, 40,
                      41, 42, 43, 44, 45, 46, 47, 50, 51, 52, 53, 54, 55, 56, 60, 61, 70, 71, 72};

enum class Member { I16, IF, FF };

// Runs one conversion over the whole signal in pieces of 97, 480 and 1331 frames (in turn),
// and returns the digest of its output.
uint64_t Convert(Member member, int code, const Mix& mix) {
    const std::vector<int16_t>& s16 = Signal16();
    const int channels = mix.stereo ? 2 : 1;
    const size_t frames = s16.size() / 2;
    std::vector<int16_t> in16(frames * channels);
    std::vector<float> inF(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        for (int c = 0; c < channels; ++c) {
            in16[i * channels + c] = s16[2 * i + c];
            inF[i * channels + c] = static_cast<float>(s16[2 * i + c]) / 32768.0f;
        }
    }
    _DS_Control_t c16;
    _DS_ControlF_t cF;
    const char* err =
        member == Member::I16  ? downsample_init(&c16, code, mix.stereo, mix.left, mix.right)
        : member == Member::IF ? downsample_init_IF(&cF, code, mix.stereo, mix.left, mix.right)
                               : downsample_init_FF(&cF, code, mix.stereo, mix.left, mix.right);
    EXPECT_EQ(err, nullptr) << code;
    uint64_t h = Fnv(nullptr, 0);
    std::vector<unsigned char> out(64 * 1024);
    const size_t pieces[] = {97, 480, 1331};
    size_t pos = 0;
    for (int p = 0; pos < frames; ++p) {
        const size_t n = std::min(pieces[p % 3], frames - pos);
        const char* e = nullptr;
        int produced = 0;
        if (member == Member::I16) {
            c16.in_ptr = in16.data() + pos * channels;
            c16.in_byte_count = static_cast<int32_t>(n * channels * 2);
            c16.out_ptr = out.data();
            e = downsample_main(&c16);
            produced = c16.out_byte_count;
        } else {
            if (member == Member::IF) {
                cF.in_ptr = in16.data() + pos * channels;
                cF.in_byte_count = static_cast<int32_t>(n * channels * 2);
            } else {
                cF.in_ptr = inF.data() + pos * channels;
                cF.in_byte_count = static_cast<int32_t>(n * channels * 4);
            }
            cF.out_ptr = out.data();
            e = member == Member::IF ? downsample_main_IF(&cF) : downsample_main_FF(&cF);
            produced = cF.out_byte_count;
        }
        EXPECT_EQ(e, nullptr) << code;
        h = Fnv(out.data(), static_cast<size_t>(produced), h);
        pos += n;
    }
    return h;
}

// Digests of the current converters, in the order of kCodes, for the four mixes and the three
// members (16-bit, 16-bit to float, float).
struct Expected {
    int code;
    uint64_t digest[3][4];
};
const Expected kExpected[] = {
#include "audiocore/resampler_digests.inc"
};

TEST(ResamplerDigest, EveryConversionKeepsItsExactOutput) {
    std::string table;
    int mismatches = 0;
    size_t i = 0;
    for (int code : kCodes) {
        char line[256];
        uint64_t d[3][4];
        for (int m = 0; m < 3; ++m)
            for (int x = 0; x < 4; ++x) d[m][x] = Convert(static_cast<Member>(m), code, kMixes[x]);
        std::snprintf(line, sizeof line, "    {%d, {", code);
        table += line;
        for (int m = 0; m < 3; ++m) {
            table += "{";
            for (int x = 0; x < 4; ++x) {
                std::snprintf(line, sizeof line, "0x%016llxull%s",
                              static_cast<unsigned long long>(d[m][x]), x < 3 ? ", " : "");
                table += line;
                if (i < sizeof kExpected / sizeof kExpected[0] && kExpected[i].code == code &&
                    kExpected[i].digest[m][x] != d[m][x])
                    ++mismatches;
            }
            table += m < 2 ? "}, " : "}";
        }
        table += "}},\n";
        if (i >= sizeof kExpected / sizeof kExpected[0] || kExpected[i].code != code) ++mismatches;
        ++i;
    }
    EXPECT_EQ(mismatches, 0) << "digests now:\n" << table;
}

}  // namespace
