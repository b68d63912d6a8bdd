// The consumer base pipeline: buffering into engine blocks, timestamps, conversion and its
// log-once error reports, buffer-manager failures, callback lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "TestConsumers.h"
#include "audiocore/CAudioBlock.h"

using namespace testing_audiocore;
using Bytes = std::vector<unsigned char>;
using Cfg = TestConsumer::Setup;

namespace {

Bytes Ramp(unsigned int n) {
    Bytes v(n);
    for (unsigned int i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + i / 256);
    return v;
}

Bytes FloatBytes(std::initializer_list<float> values) {
    Bytes b(values.size() * 4);
    std::memcpy(b.data(), values.begin(), b.size());
    return b;
}

// A consumer (engine blocks of setup.blockSizeBytes, 1024 by default) with one callback
// registered for results and logs.
struct Wired {
    explicit Wired(Cfg setup = {}, int inputRate = 16000)
        : consumer("T", inputRate, setup), rate(inputRate) {
        consumer.init("{}");
        consumer.RegisterResultCallback(callback);
        consumer.RegisterLogCallback(callback);
    }
    // Hands the bytes to the consumer as one mono block at the input rate.
    int Run(const Bytes& bytes, unsigned int timestamp = 0, int bits = 16,
            ePackingMode mode = PACKING_MODE_NOT_USED) {
        CAudioBlock block(bytes.data(), static_cast<unsigned int>(bytes.size()), 1, rate, bits,
                          mode, timestamp);
        return consumer.ProcessAudioBlock(block);
    }
    TestConsumer consumer;
    TestCallback callback;
    int rate;
};

}  // namespace

TEST(BaseAudioConsumer, BuffersUntilWholeEngineBlocksAndRunsThemInOrder) {
    Wired w;
    const Bytes bytes = Ramp(4000);
    auto part = [&](int from, int to) { return Bytes(bytes.begin() + from, bytes.begin() + to); };
    EXPECT_EQ(w.Run(part(0, 1000)), 0);
    EXPECT_TRUE(w.consumer.blocks.empty());
    EXPECT_EQ(w.Run(part(1000, 1100)), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 1u);
    EXPECT_EQ(w.consumer.blocks[0], part(0, 1024));
    EXPECT_EQ(w.consumer.Buffer()->GetAvailableBytes(), 76u);
    EXPECT_EQ(w.consumer.engineSeen, &w.consumer);

    // One block that completes several engine blocks runs them all at once, in order.
    EXPECT_EQ(w.Run(part(1100, 4000)), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 3u);
    EXPECT_EQ(w.consumer.blocks[2], part(2048, 3072));
    EXPECT_EQ(w.consumer.Buffer()->GetAvailableBytes(), 4000u - 3072u);
    EXPECT_EQ(w.consumer.GetBytesDelivered(), 3072u);
    EXPECT_EQ(w.consumer.GetBlocksDelivered(), 3u);
    EXPECT_TRUE(w.callback.logs.empty());

    // ProcessNextBufferBlock adds the engine's result to the bytes taken.
    Wired r(Cfg{8, 16000, BaseAudioConsumer::kSampleFormatInt16, true, false, -3});
    r.consumer.Buffer()->PutData(bytes.data(), 8, nullptr);
    EXPECT_EQ(r.consumer.ProcessNextBufferBlock(), 5);
    EXPECT_EQ(r.consumer.ProcessNextBufferBlock(), 0);  // nothing left
}

// Blocks shorter than a second must still move the audio time on: 1024 bytes at 16000 Hz
// last 0.032 s, so the 32nd block completes the first second. A long stream of 100 ms blocks
// must end as much later as it ran, not at its start time.
TEST(BaseAudioConsumer, TimestampStartsAtFirstBlockAndAdvancesWithTheAudio) {
    Wired w;
    w.Run(Ramp(31 * 1024), 1000);
    EXPECT_EQ(w.consumer.GetCurrentTimestamp(), 1000u);  // 0.992 s
    w.Run(Ramp(1024), 9999);                             // only the first timestamp counts
    EXPECT_EQ(w.consumer.GetCurrentTimestamp(), 1001u);  // 1.024 s
    w.Run(Ramp(93 * 1024));
    EXPECT_EQ(w.consumer.GetCurrentTimestamp(), 1004u);  // 125 blocks: exactly 4 s
    ASSERT_EQ(w.consumer.timestamps.size(), 125u);
    EXPECT_EQ(w.consumer.timestamps[31], 1000u);  // each block sees the time at its start
    EXPECT_EQ(w.consumer.timestamps[32], 1001u);

    Wired stream(Cfg{1600, 8000}, 8000);  // 100 ms blocks
    const unsigned int start = 1000000;
    stream.Run(Ramp(1600), start);
    const Bytes minute = Ramp(1600 * 600);
    for (int m = 0; m < 10; ++m) stream.Run(minute);
    EXPECT_EQ(stream.consumer.GetCurrentTimestamp(), start + 600u);  // and 0.1 s carried

    // A zero working rate cannot define a duration; the timestamp stays put.
    Wired noRate;
    noRate.consumer.SetRequiredRate(0);
    noRate.Run(Ramp(2048), 7);
    EXPECT_EQ(noRate.consumer.blocks.size(), 2u);
    EXPECT_EQ(noRate.consumer.GetCurrentTimestamp(), 7u);
}

TEST(BaseAudioConsumer, ConvertsOtherFormatsAndReportsFailuresOncePerRun) {
    Wired w(Cfg{4});
    // 16 bits are copied whatever the packing mode (a converter would refuse 16 with int32).
    EXPECT_EQ(w.Run({1, 2, 3, 4}, 0, 16, FOUR_BYTES_INT32), 0);
    // Two 24-bit samples: -1.0 and +1.0 - 2^-23 become -32768 and 32767.
    const Bytes good = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
    const Bytes bad = {0x01, 0x02};  // less than one sample
    EXPECT_EQ(w.Run(good, 0, 24, THREE_BYTES_LITTLE_ENDIAN), 0);
    EXPECT_EQ(w.consumer.blocks, (std::vector<Bytes>{{1, 2, 3, 4}, {0x00, 0x80, 0xFF, 0x7F}}));

    EXPECT_EQ(w.Run(bad, 0, 24, THREE_BYTES_LITTLE_ENDIAN), -1);
    EXPECT_EQ(w.Run(bad, 0, 24, THREE_BYTES_LITTLE_ENDIAN), -1);
    ASSERT_EQ(w.callback.logs.size(), 1u);
    EXPECT_EQ(w.callback.logs[0].code, -1);
    EXPECT_EQ(w.callback.logs[0].text,
              "CAudioSampleConverter - Input buffer or Output Buffer1 passed to sampleconvertor "
              "is NULL or number of samples to process is zero, further audio processing "
              "stopped");
    EXPECT_EQ(w.Run(good, 0, 24, THREE_BYTES_LITTLE_ENDIAN), 0);  // a good block starts a new run
    EXPECT_EQ(w.Run(bad, 0, 24, THREE_BYTES_LITTLE_ENDIAN), -1);
    EXPECT_EQ(w.callback.logs.size(), 2u);

    // A sample size below one byte gives no samples: a conversion failure, not a division by 0.
    Wired fresh(Cfg{4});
    EXPECT_EQ(fresh.Run(good, 0, 4), -1);
    EXPECT_EQ(fresh.callback.logs.size(), 1u);

    // An unreadable bits/packing pair is not caught by the consumer.
    EXPECT_THROW(w.Run(good, 0, 24), InvalidPackingModeSelection);
}

TEST(BaseAudioConsumer, FloatConsumers) {
    Wired w(Cfg{8, 16000, BaseAudioConsumer::kSampleFormatFloat});
    EXPECT_EQ(w.Run({0x00, 0x80, 0x00, 0x40}), 0);  // -1.0, 0.5 in 16 bits
    EXPECT_EQ(w.Run(FloatBytes({0.25f, -0.75f}), 0, 32, FOUR_BYTES_FLOAT), 0);
    EXPECT_EQ(w.consumer.blocks,
              (std::vector<Bytes>{FloatBytes({-1.0f, 0.5f}), FloatBytes({0.25f, -0.75f})}));
}

TEST(BaseAudioConsumer, BufferManagerProblemsAreReported) {
    Wired none(Cfg{1024, 16000, BaseAudioConsumer::kSampleFormatInt16, false});
    EXPECT_EQ(none.Run(Ramp(64)), -2);
    ASSERT_EQ(none.callback.logs.size(), 1u);
    EXPECT_EQ(none.callback.logs[0].code, -2);
    EXPECT_EQ(none.callback.logs[0].text,
              "ProcessAudioBlock: BufferManager not created on left channel.");

    // Input the buffer manager refuses (capacity exceeded) is reported; the engine does not run.
    Wired full(Cfg{16, 16000, BaseAudioConsumer::kSampleFormatInt16, true, false, 0, 32});
    EXPECT_EQ(full.Run(Ramp(48)), 0);
    ASSERT_EQ(full.callback.logs.size(), 1u);
    EXPECT_EQ(full.callback.logs[0].code, -2);
    EXPECT_EQ(full.callback.logs[0].text,
              "ProcessAudioBlock: Buffer manager initialization error on left channel.");
    EXPECT_TRUE(full.consumer.blocks.empty());

    Wired noSize(Cfg{0});
    EXPECT_EQ(noSize.Run(Ramp(64)), 0);
    EXPECT_EQ(noSize.consumer.ProcessNextBufferBlock(), -1);
    ASSERT_EQ(noSize.callback.logs.size(), 2u);
    EXPECT_EQ(noSize.callback.logs[0].text,
              "ProcessNextBufferBlock: Buffer manager initialization error; size not defined.");
    EXPECT_TRUE(noSize.consumer.blocks.empty());
}

TEST(BaseAudioConsumer, CallbackListsAndNotifications) {
    Wired w;  // callback registered for results and logs
    TestCallback& a = w.callback;
    TestCallback b("b");
    w.consumer.RegisterBinaryResultCallback(a);  // the result list again: not added twice
    w.consumer.RegisterLogCallback(b);
    EXPECT_EQ(w.consumer.getCallbackList()->size(), 1u);
    w.consumer.UnregisterLogCallback(a);
    signed char pcm[3] = {0, 1, 2};
    for (int round = 0; round < 2; ++round) {  // the second round after unregistering
        w.consumer.NotifyRegisteredCallbacks("{\"x\":1}");
        w.consumer.NotifyRegisteredBinaryResultCallbacks(9, 0, nullptr, 0, nullptr);
        w.consumer.NotifyRegisteredLogCallbacks(-5, "log");
        w.consumer.NotifyRegisteredDebugCallbacks(pcm, 3);
        w.consumer.UnregisterResultCallback(a);
        w.consumer.UnregisterBinaryResultCallback(a);
        w.consumer.UnregisterLogCallback(b);
    }
    EXPECT_EQ(a.results, (std::vector<std::string>{"{\"x\":1}"}));
    EXPECT_EQ(a.binaries, (std::vector<unsigned char>{9}));
    EXPECT_TRUE(a.logs.empty() && a.raw.empty() && b.results.empty() && b.binaries.empty());
    ASSERT_EQ(b.logs.size(), 1u);
    EXPECT_EQ(b.logs[0].code, -5);
    EXPECT_EQ(b.raw, (std::vector<unsigned int>{3}));
    w.consumer.Stop();
    EXPECT_TRUE(w.consumer.IsStopped());
}

TEST(BaseAudioConsumer, ResampledInputReachesTheEngineAtTheWorkingRate) {
    // 4800 samples at 48000 Hz become 1600 samples at 16000 Hz: three 512-sample blocks.
    Wired w({}, 48000);
    ASSERT_TRUE(w.consumer.HasResampler());
    Bytes bytes(9600);
    for (size_t i = 0; i < 4800; ++i) {
        const auto s = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 48000.0));
        std::memcpy(&bytes[2 * i], &s, 2);
    }
    EXPECT_EQ(w.Run(bytes), 0);
    EXPECT_EQ(w.consumer.blocks.size(), 3u);
    EXPECT_EQ(w.consumer.Buffer()->GetAvailableBytes(), 3200u - 3072u);
    EXPECT_TRUE(w.callback.logs.empty());
}
