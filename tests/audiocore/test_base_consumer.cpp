// The consumer base pipeline: buffering into engine blocks, timestamps, conversion and its
// log-once error reports, buffer-manager failures, callback lists.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "TestConsumers.h"
#include "audiocore/CAudioBlock.h"

using namespace testing_audiocore;

namespace {

std::vector<unsigned char> Ramp(unsigned int n) {
    std::vector<unsigned char> v(n);
    for (unsigned int i = 0; i < n; ++i) v[i] = static_cast<unsigned char>(i * 7 + i / 256);
    return v;
}

CAudioBlock Block16(const std::vector<unsigned char>& bytes, unsigned int timestamp = 0,
                    int rate = 16000, ePackingMode mode = PACKING_MODE_NOT_USED) {
    return CAudioBlock(bytes.data(), static_cast<unsigned int>(bytes.size()), 1, rate, 16, mode,
                       timestamp);
}

struct Wired {
    explicit Wired(TestConsumer::Setup setup = {}, int inputRate = 16000)
        : consumer("T", inputRate, setup) {
        consumer.init("{}");
        consumer.RegisterResultCallback(callback);
        consumer.RegisterLogCallback(callback);
    }
    TestConsumer consumer;
    TestCallback callback;
};

}  // namespace

TEST(BaseAudioConsumer, BuffersUntilWholeEngineBlocksAndRunsThemInOrder) {
    Wired w;
    const auto bytes = Ramp(4000);
    std::vector<unsigned char> first(bytes.begin(), bytes.begin() + 1000);
    std::vector<unsigned char> second(bytes.begin() + 1000, bytes.begin() + 1100);
    auto b1 = Block16(first);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b1), 0);
    EXPECT_TRUE(w.consumer.blocks.empty());
    auto b2 = Block16(second);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b2), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 1u);
    EXPECT_EQ(w.consumer.Buffer()->GetAvailableBytes(), 76u);
    EXPECT_TRUE(
        std::equal(w.consumer.blocks[0].begin(), w.consumer.blocks[0].end(), bytes.begin()));
    EXPECT_EQ(w.consumer.engineSeen, &w.consumer);

    // One block that completes several engine blocks runs them all at once, in order.
    std::vector<unsigned char> rest(bytes.begin() + 1100, bytes.end());
    auto b3 = Block16(rest);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b3), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 3u);
    EXPECT_TRUE(
        std::equal(w.consumer.blocks[2].begin(), w.consumer.blocks[2].end(), bytes.begin() + 2048));
    EXPECT_EQ(w.consumer.Buffer()->GetAvailableBytes(), 4000u - 3072u);
    EXPECT_EQ(w.consumer.GetBytesDelivered(), 3072u);
    EXPECT_EQ(w.consumer.GetBlocksDelivered(), 3u);
    EXPECT_TRUE(w.callback.logs.empty());
}

TEST(BaseAudioConsumer, ProcessNextBufferBlockAddsTheEngineResult) {
    TestConsumer::Setup setup;
    setup.blockSizeBytes = 8;
    setup.processResult = -3;
    Wired w(setup);
    const auto bytes = Ramp(8);
    w.consumer.Buffer()->PutData(bytes.data(), 8, nullptr);
    EXPECT_EQ(w.consumer.ProcessNextBufferBlock(), 5);
    EXPECT_EQ(w.consumer.ProcessNextBufferBlock(), 0);  // nothing left
}

TEST(BaseAudioConsumer, TimestampStartsAtFirstBlockAndAdvancesInWholeSeconds) {
    Wired shortBlocks;  // 1024 bytes at 16000 Hz: 8 blocks are 0.256 s, under a second
    const auto bytes = Ramp(4096);
    auto first = Block16(bytes, 5000);
    shortBlocks.consumer.ProcessAudioBlock(first);
    auto later = Block16(bytes, 9999);  // only the first block's timestamp counts
    shortBlocks.consumer.ProcessAudioBlock(later);
    EXPECT_EQ(shortBlocks.consumer.blocks.size(), 8u);
    EXPECT_EQ(shortBlocks.consumer.GetCurrentTimestamp(), 5000u);

    TestConsumer::Setup setup;
    setup.blockSizeBytes = 32000;  // one second at 16000 Hz
    Wired longBlocks(setup);
    const auto second = Ramp(64000 + 10);
    auto block = Block16(second, 100);
    longBlocks.consumer.ProcessAudioBlock(block);
    EXPECT_EQ(longBlocks.consumer.timestamps, (std::vector<unsigned int>{100, 101}));
    EXPECT_EQ(longBlocks.consumer.GetCurrentTimestamp(), 102u);

    // A zero working rate cannot define a duration; the timestamp stays put.
    Wired noRate;
    noRate.consumer.SetRequiredRate(0);
    auto zero = Block16(Ramp(2048), 7);
    noRate.consumer.ProcessAudioBlock(zero);
    EXPECT_EQ(noRate.consumer.blocks.size(), 2u);
    EXPECT_EQ(noRate.consumer.GetCurrentTimestamp(), 7u);
}

// Blocks shorter than a second must still move the audio time on: 1024 bytes at 16000 Hz
// last 0.032 s, so the 32nd block completes the first second. A stream of 100 ms blocks
// running 28 days must end 28 days later, not at its start time.
TEST(BaseAudioConsumer, ShortBlocksAdvanceTheTimestampOnceTheyAddUpToASecond) {
    Wired w;
    auto first = Block16(Ramp(31 * 1024), 1000);
    w.consumer.ProcessAudioBlock(first);
    EXPECT_EQ(w.consumer.GetCurrentTimestamp(), 1000u);  // 0.992 s
    auto next = Block16(Ramp(1024));
    w.consumer.ProcessAudioBlock(next);
    EXPECT_EQ(w.consumer.GetCurrentTimestamp(), 1001u);  // 1.024 s
    auto more = Block16(Ramp(93 * 1024));
    w.consumer.ProcessAudioBlock(more);
    EXPECT_EQ(w.consumer.GetCurrentTimestamp(), 1004u);  // 125 blocks: exactly 4 s
    ASSERT_EQ(w.consumer.timestamps.size(), 125u);
    EXPECT_EQ(w.consumer.timestamps[31], 1000u);  // each block sees the time at its start
    EXPECT_EQ(w.consumer.timestamps[32], 1001u);

    TestConsumer::Setup tenth;
    tenth.blockSizeBytes = 1600;  // 100 ms at 8000 Hz
    tenth.requiredRate = 8000;
    Wired stream(tenth, 8000);
    const unsigned int start = 1000000;
    auto opening = CAudioBlock(Ramp(1600).data(), 1600, 1, 8000, 16, PACKING_MODE_NOT_USED, start);
    stream.consumer.ProcessAudioBlock(opening);
    const auto minute = Ramp(1600 * 600);
    for (int m = 0; m < 10; ++m) {
        auto block = CAudioBlock(minute.data(), static_cast<unsigned int>(minute.size()), 1, 8000,
                                 16, PACKING_MODE_NOT_USED, 0);
        stream.consumer.ProcessAudioBlock(block);
    }
    EXPECT_EQ(stream.consumer.GetCurrentTimestamp(), start + 600u);  // and 0.1 s carried
}

TEST(BaseAudioConsumer, SixteenBitInputIsCopiedWhateverThePackingMode) {
    TestConsumer::Setup setup;
    setup.blockSizeBytes = 4;
    Wired w(setup);
    const std::vector<unsigned char> bytes = {1, 2, 3, 4};
    // 16 bits with an int32 packing mode would be refused by a converter.
    auto block = Block16(bytes, 0, 16000, FOUR_BYTES_INT32);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(block), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 1u);
    EXPECT_EQ(w.consumer.blocks[0], bytes);
}

TEST(BaseAudioConsumer, ConvertsOtherFormatsAndReportsFailuresOncePerRun) {
    TestConsumer::Setup setup;
    setup.blockSizeBytes = 4;
    Wired w(setup);
    // Two 24-bit samples: -1.0 and +1.0 - 2^-23 become -32768 and 32767.
    const std::vector<unsigned char> good = {0x00, 0x00, 0x80, 0xFF, 0xFF, 0x7F};
    const std::vector<unsigned char> bad = {0x01, 0x02};  // less than one sample
    auto block24 = [](const std::vector<unsigned char>& b) {
        return CAudioBlock(b.data(), static_cast<unsigned int>(b.size()), 1, 16000, 24,
                           THREE_BYTES_LITTLE_ENDIAN, 0);
    };
    auto g = block24(good);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(g), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 1u);
    EXPECT_EQ(w.consumer.blocks[0], (std::vector<unsigned char>{0x00, 0x80, 0xFF, 0x7F}));

    auto b = block24(bad);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b), -1);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b), -1);
    ASSERT_EQ(w.callback.logs.size(), 1u);
    EXPECT_EQ(w.callback.logs[0].code, -1);
    EXPECT_EQ(w.callback.logs[0].text,
              "CAudioSampleConverter - Input buffer or Output Buffer1 passed to sampleconvertor "
              "is NULL or number of samples to process is zero, further audio processing "
              "stopped");
    EXPECT_EQ(w.consumer.ProcessAudioBlock(g), 0);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b), -1);
    EXPECT_EQ(w.callback.logs.size(), 2u);

    // A sample size below one byte gives no samples: a conversion failure, not a division by 0.
    CAudioBlock tiny(good.data(), 6, 1, 16000, 4, PACKING_MODE_NOT_USED, 0);
    Wired fresh(setup);
    EXPECT_EQ(fresh.consumer.ProcessAudioBlock(tiny), -1);
    EXPECT_EQ(fresh.callback.logs.size(), 1u);

    // An unreadable bits/packing pair is not caught by the consumer.
    CAudioBlock wrong(good.data(), 6, 1, 16000, 24, PACKING_MODE_NOT_USED, 0);
    EXPECT_THROW(w.consumer.ProcessAudioBlock(wrong), InvalidPackingModeSelection);
}

TEST(BaseAudioConsumer, FloatConsumers) {
    TestConsumer::Setup setup;
    setup.blockSizeBytes = 8;
    setup.sampleFormat = BaseAudioConsumer::kSampleFormatFloat;
    Wired w(setup);
    const std::vector<unsigned char> int16 = {0x00, 0x80, 0x00, 0x40};  // -1.0, 0.5
    auto b16 = Block16(int16);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(b16), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 1u);
    float f[2];
    std::memcpy(f, w.consumer.blocks[0].data(), 8);
    EXPECT_EQ(f[0], -1.0f);
    EXPECT_EQ(f[1], 0.5f);

    const float in[2] = {0.25f, -0.75f};
    CAudioBlock floats(in, 8, 1, 16000, 32, FOUR_BYTES_FLOAT, 0);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(floats), 0);
    ASSERT_EQ(w.consumer.blocks.size(), 2u);
    std::memcpy(f, w.consumer.blocks[1].data(), 8);
    EXPECT_EQ(f[0], 0.25f);
    EXPECT_EQ(f[1], -0.75f);
}

TEST(BaseAudioConsumer, BufferManagerProblemsAreReported) {
    TestConsumer::Setup noManager;
    noManager.bufferManager = false;
    Wired w(noManager);
    auto block = Block16(Ramp(64));
    EXPECT_EQ(w.consumer.ProcessAudioBlock(block), -2);
    ASSERT_EQ(w.callback.logs.size(), 1u);
    EXPECT_EQ(w.callback.logs[0].code, -2);
    EXPECT_EQ(w.callback.logs[0].text,
              "ProcessAudioBlock: BufferManager not created on left channel.");

    // Input the buffer manager refuses (capacity exceeded) is reported; the engine does not run.
    TestConsumer::Setup small;
    small.blockSizeBytes = 16;
    small.capacity = 32;
    Wired full(small);
    auto big = Block16(Ramp(48));
    EXPECT_EQ(full.consumer.ProcessAudioBlock(big), 0);
    ASSERT_EQ(full.callback.logs.size(), 1u);
    EXPECT_EQ(full.callback.logs[0].code, -2);
    EXPECT_EQ(full.callback.logs[0].text,
              "ProcessAudioBlock: Buffer manager initialization error on left channel.");
    EXPECT_TRUE(full.consumer.blocks.empty());

    TestConsumer::Setup noSize;
    noSize.blockSizeBytes = 0;
    Wired z(noSize);
    EXPECT_EQ(z.consumer.ProcessAudioBlock(block), 0);
    EXPECT_EQ(z.consumer.ProcessNextBufferBlock(), -1);
    ASSERT_EQ(z.callback.logs.size(), 2u);
    EXPECT_EQ(z.callback.logs[0].text,
              "ProcessNextBufferBlock: Buffer manager initialization error; size not defined.");
    EXPECT_TRUE(z.consumer.blocks.empty());
}

TEST(BaseAudioConsumer, CallbackListsAndNotifications) {
    TestConsumer consumer("T", 16000, {});
    consumer.init("{}");
    TestCallback a("a"), b("b");
    consumer.RegisterResultCallback(a);
    consumer.RegisterBinaryResultCallback(a);  // same list: not added twice
    consumer.RegisterLogCallback(b);
    EXPECT_EQ(consumer.getCallbackList()->size(), 1u);
    consumer.NotifyRegisteredCallbacks("{\"x\":1}");
    consumer.NotifyRegisteredBinaryResultCallbacks(9, 0, nullptr, 0, nullptr);
    consumer.NotifyRegisteredLogCallbacks(-5, "log");
    signed char pcm[3] = {0, 1, 2};
    consumer.NotifyRegisteredDebugCallbacks(pcm, 3);
    EXPECT_EQ(a.results, (std::vector<std::string>{"{\"x\":1}"}));
    EXPECT_EQ(a.binaries, (std::vector<unsigned char>{9}));
    EXPECT_TRUE(a.logs.empty());
    ASSERT_EQ(b.logs.size(), 1u);
    EXPECT_EQ(b.logs[0].code, -5);
    EXPECT_EQ(b.raw, (std::vector<unsigned int>{3}));
    EXPECT_TRUE(b.results.empty());

    consumer.UnregisterResultCallback(a);
    consumer.UnregisterBinaryResultCallback(a);
    consumer.UnregisterLogCallback(b);
    consumer.NotifyRegisteredCallbacks("again");
    consumer.NotifyRegisteredLogCallbacks(-1, "again");
    EXPECT_EQ(a.results.size(), 1u);
    EXPECT_EQ(b.logs.size(), 1u);

    EXPECT_FALSE(consumer.IsStopped());
    consumer.Stop();
    EXPECT_TRUE(consumer.IsStopped());
}

TEST(BaseAudioConsumer, ResampledInputReachesTheEngineAtTheWorkingRate) {
    // 4800 samples at 48000 Hz become 1600 samples at 16000 Hz: three 512-sample blocks.
    Wired w({}, 48000);
    ASSERT_TRUE(w.consumer.HasResampler());
    std::vector<int16_t> samples(4800);
    for (size_t i = 0; i < samples.size(); ++i) {
        samples[i] = static_cast<int16_t>(8000.0 * std::sin(2.0 * M_PI * 1000.0 * i / 48000.0));
    }
    CAudioBlock block(samples.data(), 9600, 1, 48000, 16, PACKING_MODE_NOT_USED, 0);
    EXPECT_EQ(w.consumer.ProcessAudioBlock(block), 0);
    EXPECT_EQ(w.consumer.blocks.size(), 3u);
    EXPECT_EQ(w.consumer.Buffer()->GetAvailableBytes(), 3200u - 3072u);
    EXPECT_TRUE(w.callback.logs.empty());
}
