// CAudioResampler and the block converter library: rate pairs and codes, exact sample counts,
// stream continuity, library messages, mixing, clamping and the float members.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "audiocore/CAudioResampler.h"
#include "audiocore/decimate.h"
#include "audiocore/resampler_test_util.h"

using Kelvane::AudioCore::CAudioResampler;
using resampler_test::SinkBuffer;

namespace {

unsigned char* Bytes(std::vector<int16_t>& v) { return reinterpret_cast<unsigned char*>(v.data()); }

// Feeds samples in pieces of `chunk` samples (0 = all at once); returns the output samples.
std::vector<int16_t> Feed(CAudioResampler& r, std::vector<int16_t> in, size_t chunk = 0) {
    SinkBuffer sink;
    if (chunk == 0) chunk = in.size();
    for (size_t pos = 0; pos < in.size(); pos += chunk) {
        size_t n = std::min(chunk, in.size() - pos);
        EXPECT_GE(r.Resample_Int(Bytes(in) + 2 * pos, static_cast<unsigned int>(n * 2), sink), 0);
    }
    return sink.Samples<int16_t>();
}

CAudioResampler Make(int in, int out, unsigned int blockSamples = 512) {
    return CAudioResampler(1, in, 16, 1, out, 16, blockSamples, 100, 0);
}

TEST(ResamplerSetup, ParameterChecksLeaveItUninitialized) {
    EXPECT_TRUE(Make(48000, 16000).IsInitialized());
    EXPECT_FALSE(CAudioResampler(3, 48000, 16, 1, 16000, 16, 512, 100, 0).IsInitialized());
    EXPECT_FALSE(CAudioResampler(1, 7999, 16, 1, 8000, 16, 512, 100, 0).IsInitialized());
    EXPECT_FALSE(CAudioResampler(1, 48000, 8, 1, 16000, 16, 512, 100, 0).IsInitialized());
    EXPECT_FALSE(CAudioResampler(1, 48000, 16, 2, 16000, 16, 512, 100, 0).IsInitialized());
    EXPECT_FALSE(CAudioResampler(1, 48000, 16, 1, 16000, 24, 512, 100, 0).IsInitialized());
    EXPECT_FALSE(Make(44100, 11025).IsInitialized());  // unlisted target
    EXPECT_FALSE(Make(72000, 16000).IsInitialized());  // pair not covered
    EXPECT_TRUE(CAudioResampler(2, 44100, 24, 1, 16000, 32, 512, 100, 0).IsInitialized());

    CAudioResampler odd = Make(11025, 11025);  // equal rates copy, even unlisted ones
    EXPECT_TRUE(odd.IsInitialized());
    EXPECT_EQ(odd.GetStage1Code(), 55);

    SinkBuffer sink;
    CAudioResampler bad = Make(72000, 16000);
    unsigned char data[960] = {};
    EXPECT_EQ(bad.Resample_Int(data, sizeof data, sink), 0);
    EXPECT_TRUE(sink.bytes.empty());
}

TEST(ResamplerCounts, WholeInputBlocksGiveExactOutput) {
    CAudioResampler r = Make(48000, 16000);
    SinkBuffer sink;
    std::vector<int16_t> in(4800, 1000);
    EXPECT_EQ(r.Resample_Int(Bytes(in), 9600, sink), 3200);  // 1600 samples
    EXPECT_EQ(sink.bytes.size(), 3200u);
    EXPECT_EQ(r.GetUnprocessedBytes(), 0u);
    in.resize(479);
    EXPECT_EQ(r.Resample_Int(Bytes(in), 958, sink), 0);
    EXPECT_EQ(r.GetUnprocessedBytes(), 958u);
    in.resize(1);
    EXPECT_EQ(r.Resample_Int(Bytes(in), 2, sink), 320);
    EXPECT_EQ(r.GetUnprocessedBytes(), 0u);

    // Ten times a length that fills whole blocks in every stage. The 64-sample engine block of the
    // 24000 Hz decoder must still hold a whole 480-sample output block of 22050 -> 24000.
    struct Case {
        int in, out;
        size_t inSamples, outSamples;
        unsigned int block;
    } cases[] = {{44100, 24000, 441, 240, 512},   {22050, 24000, 441, 480, 512},
                 {22050, 24000, 441, 480, 64},    {44100, 8000, 441, 80, 512},
                 {22050, 16000, 441, 320, 512},   {24000, 16000, 240, 160, 512},
                 {32000, 24000, 160, 120, 512},   {96000, 8000, 5760, 480, 512},
                 {16000, 22050, 320, 441, 512},   {48000, 22050, 320, 147, 512},
                 {11025, 11025, 960, 960, 512},   {48000, 12000, 480, 120, 512},
                 {176400, 22050, 1920, 240, 512}, {88200, 48000, 7056, 3840, 512}};
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.in) + " -> " + std::to_string(c.out));
        CAudioResampler rr = Make(c.in, c.out, c.block);
        ASSERT_TRUE(rr.IsInitialized());
        EXPECT_EQ(Feed(rr, resampler_test::Sine16(5000, c.in, 30000, c.inSamples * 10)).size(),
                  c.outSamples * 10);
    }

    // Two stages: stage 1 (2:1) makes 2400 samples at 44100; stage 2 converts five 441-sample
    // blocks and queues the rest.
    CAudioResampler two = Make(88200, 24000);
    in.assign(4800, 0);
    EXPECT_EQ(two.Resample_Int(Bytes(in), 9600, sink), 2400);
    EXPECT_EQ(two.GetBufMag1UnprocessedBytes(), 0u);
    EXPECT_EQ(two.GetBufMag2UnprocessedBytes(), 2u * (2400 - 5 * 441));
    EXPECT_EQ(two.GetUnprocessedBytes(), two.GetBufMag2UnprocessedBytes());
}

TEST(ResamplerStream, OutputDoesNotDependOnHowInputIsCut) {
    std::mt19937 rng(7);
    for (auto pair : {std::make_pair(44100, 16000), std::make_pair(176400, 24000),
                      std::make_pair(22050, 16000), std::make_pair(32000, 24000)}) {
        SCOPED_TRACE(std::to_string(pair.first) + " -> " + std::to_string(pair.second));
        std::vector<int16_t> in = resampler_test::Sine16(3100, pair.first, 12000, 30000);
        for (auto& s : in) s = static_cast<int16_t>(s + static_cast<int>(rng() % 2001) - 1000);
        CAudioResampler whole = Make(pair.first, pair.second);
        std::vector<int16_t> ref = Feed(whole, in);

        CAudioResampler pieces = Make(pair.first, pair.second);
        SinkBuffer sink;
        for (size_t pos = 0, n = 0; pos < in.size(); pos += n) {
            n = std::min<size_t>(1 + rng() % 700, in.size() - pos);
            pieces.Resample_Int(Bytes(in) + 2 * pos, static_cast<unsigned int>(n * 2), sink);
        }
        EXPECT_EQ(sink.Samples<int16_t>(), ref);
    }
}

TEST(ResamplerStream, CopyIsExactAndTheRemainderWaits) {
    CAudioResampler r = Make(11025, 11025);
    std::vector<int16_t> in(1000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<int16_t>(i * 37 - 16000);
    std::vector<int16_t> out = Feed(r, in, 333);
    ASSERT_EQ(out.size(), 960u);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), in.begin()));
    EXPECT_EQ(r.GetUnprocessedBytes(), 80u);
}

TEST(ResamplerStream, FullScaleSquareWaveNeverWraps) {
    // Ringing of the filters overshoots full scale; results are clamped, never wrapped, so a
    // square wave keeps exactly two sign changes per period.
    for (auto pair : {std::make_pair(48000, 16000), std::make_pair(24000, 16000),
                      std::make_pair(32000, 24000), std::make_pair(44100, 8000),
                      std::make_pair(22050, 16000), std::make_pair(192000, 8000)}) {
        SCOPED_TRACE(std::to_string(pair.first) + " -> " + std::to_string(pair.second));
        const int period = pair.first / 50;   // 50 Hz
        std::vector<int16_t> in(pair.first);  // one second
        for (size_t i = 0; i < in.size(); ++i)
            in[i] = (static_cast<int>(i) % period) < period / 2 ? 32767 : -32768;
        CAudioResampler r = Make(pair.first, pair.second);
        std::vector<int16_t> out = Feed(r, in);
        ASSERT_GT(out.size(), static_cast<size_t>(pair.second / 2));
        int changes = 0, peak = 0;
        for (size_t i = static_cast<size_t>(pair.second / 25); i < out.size(); ++i) {
            if ((out[i] >= 0) != (out[i - 1] >= 0)) ++changes;
            peak = std::max(peak, static_cast<int>(out[i]));
        }
        const double periods = (out.size() - pair.second / 25) / (pair.second / 50.0);
        EXPECT_NEAR(changes, 2.0 * periods, 2.0);
        EXPECT_EQ(peak, 32767);
    }
}

TEST(ResamplerStream, ARefusingOutputIsReported) {
    CAudioResampler r = Make(48000, 16000);
    SinkBuffer sink;
    sink.refuse = true;
    std::vector<int16_t> in(480, 0);
    EXPECT_EQ(r.Resample_Int(Bytes(in), 960, sink), -3);
    float f[4] = {};
    EXPECT_EQ(r.Resample_Float(f, sizeof f, sink), 0);  // 16-bit resampler
}

TEST(ResamplerFloat, FloatOutputKeepsLevelWithoutOffset) {
    // Full-scale float samples through the IIR path: the low-pass offset stays one 16-bit step.
    CAudioResampler r(1, 44100, 32, 1, 16000, 32, 512, 100, 0);
    ASSERT_TRUE(r.IsInitialized());
    std::vector<float> in(44100);
    for (size_t i = 0; i < in.size(); ++i)
        in[i] = static_cast<float>(0.5 * std::sin(2.0 * M_PI * 4000.0 * i / 44100.0));
    SinkBuffer sink;
    int put = r.Resample_Float(in.data(), static_cast<unsigned int>(in.size() * 4), sink);
    EXPECT_EQ(put, static_cast<int>(sink.bytes.size()));
    std::vector<float> out = sink.Samples<float>();
    ASSERT_EQ(out.size(), 100u * 160u);
    std::vector<double> tail(out.end() - 8192, out.end());
    double mean = 0;
    for (double v : tail) mean += v / tail.size();
    EXPECT_NEAR(mean, 0.0, 1e-3);
    EXPECT_NEAR(resampler_test::Spectrum::ToneAmplitude(tail, 4000.0, 16000.0), 0.5, 0.01);
    EXPECT_EQ(r.Resample_Int(reinterpret_cast<unsigned char*>(in.data()), 8, sink), 0);
}

TEST(ResamplerLibrary, MessagesAndVersion) {
    EXPECT_STREQ(decimate_GetVersion(), "2.4.6");
    _DS_Control_t c;
    for (int bad : {0, 7, 19, 20, 73, 100})
        EXPECT_STREQ(downsample_init(&c, bad, 0, 100, 0), "Bad convert ratio") << bad;
    EXPECT_STREQ(downsample_main(&c), "Control block not inited");
    EXPECT_STREQ(downsample_init(nullptr, 31, 0, 100, 0), "NULL control block pointer");
    EXPECT_STREQ(downsample_main(nullptr), "NULL control block pointer");

    int16_t buf[8] = {};
    int16_t out[480];
    auto run = [&](int16_t* in, int32_t bytes) {
        c.in_ptr = in;
        c.out_ptr = out;
        c.in_byte_count = bytes;
        return downsample_main(&c);
    };
    ASSERT_EQ(downsample_init(&c, 31, 0, 100, 0), nullptr);
    EXPECT_STREQ(run(buf, -2), "p->in_byte_count < 0");
    EXPECT_STREQ(run(buf, 3), "p->in_byte_count bad mono alignment");
    EXPECT_STREQ(run(nullptr, 4), "NULL data pointer");
    ASSERT_EQ(downsample_init(&c, 31, 1, 100, 0), nullptr);
    EXPECT_STREQ(run(buf, 6), "p->in_byte_count bad stereo alignment");
    EXPECT_EQ(run(buf, 8), nullptr);
    EXPECT_EQ(c.out_byte_count, 0);

    EXPECT_EQ(downsample_max_out_byte_count(&c, 1), 320);     // stereo 480-frame blocks
    EXPECT_EQ(downsample_max_out_byte_count(&c, 1921), 640);  // two blocks
    _DS_ControlF_t f;
    ASSERT_EQ(downsample_init_FF(&f, 53, 0, 100, 0), nullptr);
    EXPECT_EQ(downsample_max_out_byte_count_FF(&f, 441 * 4), 240 * 4);
    ASSERT_EQ(downsample_init_IF(&f, 53, 0, 100, 0), nullptr);
    EXPECT_EQ(downsample_max_out_byte_count_IF(&f, 441 * 2 + 1), 2 * 240 * 4);
}

TEST(ResamplerLibrary, MixingWeightsTruncateTowardZero) {
    struct Case {
        int stereo, lw, rw;
        int16_t l, r;
        int16_t expect;
    } cases[] = {
        {0, 100, 0, -7, 0, -7},
        {0, 50, 0, -3, 0, -1},
        {1, 100, 0, 3, -8, 3},
        {1, 0, 100, 3, -8, -8},
        {1, 50, 50, 3, -8, -2},
        {1, 0, 0, 3, -8, 0},
        {1, 100, 100, 30000, 30000, 32767},  // sum clamped, not wrapped
    };
    for (const Case& c : cases) {
        _DS_Control_t ctl;
        ASSERT_EQ(downsample_init(&ctl, 55, c.stereo, c.lw, c.rw), nullptr);
        std::vector<int16_t> in;
        for (int i = 0; i < 480; ++i) {
            in.push_back(c.l);
            if (c.stereo) in.push_back(c.r);
        }
        std::vector<int16_t> out(480);
        ctl.in_ptr = in.data();
        ctl.in_byte_count = static_cast<int32_t>(in.size() * 2);
        ctl.out_ptr = out.data();
        ASSERT_EQ(downsample_main(&ctl), nullptr);
        EXPECT_EQ(ctl.out_byte_count, 960);
        EXPECT_EQ(out[0], c.expect) << c.stereo << " " << c.lw << " " << c.rw;
        EXPECT_EQ(out[479], c.expect);
    }
}

TEST(ResamplerLibrary, FloatMembersFollowTheIntegerOnes) {
    // The 16-bit members truncate after every stage (and the 4:3 gain of 3 scales that): a
    // few steps apart at most.
    for (int code : {11, 12, 34, 35, 41, 53, 54, 56}) {
        SCOPED_TRACE(code);
        _DS_Control_t ci;
        _DS_ControlF_t cif, cff;
        ASSERT_EQ(downsample_init(&ci, code, 0, 100, 0), nullptr);
        ASSERT_EQ(downsample_init_IF(&cif, code, 0, 100, 0), nullptr);
        ASSERT_EQ(downsample_init_FF(&cff, code, 0, 100, 0), nullptr);
        const int inLen = ci.in_block_len * 8, outLen = ci.out_block_len * 8;
        std::vector<int16_t> in = resampler_test::Sine16(1234.5, 44100, 20000, inLen);
        std::vector<float> inF(in.begin(), in.end());
        for (float& v : inF) v /= 32768.0f;
        std::vector<int16_t> outI(outLen);
        std::vector<float> outIF(outLen), outFF(outLen);
        ci.in_ptr = cif.in_ptr = in.data();
        ci.in_byte_count = cif.in_byte_count = inLen * 2;
        cff.in_ptr = inF.data();
        cff.in_byte_count = inLen * 4;
        ci.out_ptr = outI.data();
        cif.out_ptr = outIF.data();
        cff.out_ptr = outFF.data();
        ASSERT_EQ(downsample_main(&ci), nullptr);
        ASSERT_EQ(downsample_main_IF(&cif), nullptr);
        ASSERT_EQ(downsample_main_FF(&cff), nullptr);
        EXPECT_EQ(cif.out_byte_count, outLen * 4);
        EXPECT_EQ(cff.out_byte_count, outLen * 4);
        for (int i = 0; i < outLen; ++i) {
            ASSERT_NEAR(outI[i], outIF[i], 4.5) << i;
            ASSERT_NEAR(outIF[i], outFF[i] * 32768.0f, 2.0) << i;
        }
    }
}

}  // namespace
