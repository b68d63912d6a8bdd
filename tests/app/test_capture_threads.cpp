// The capture ring between the stream callbacks and the driver: what each
// callback writes where, silence for missing input, the four-block start
// offset, drops when a stream runs ahead, and the hand-over with the three
// callbacks and the driver on their own threads (also run under ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "HostTestState.h"
#include "app/HostInterface.h"
#include "app/LiveCapture.h"

namespace {

constexpr unsigned kFrames = kCaptureFrames;

struct Pair {
    uint16_t streamIndex;
    uint16_t channelCount;
};

// Sample j of frame f of block `seq` from stream k; never 0, so a block is
// told apart from silence, and frame 0 channel 0 names the block.
int16_t Pattern(unsigned k, unsigned seq, unsigned f, unsigned j) {
    if (f == 0 && j == 0) return static_cast<int16_t>(seq + 1);
    return static_cast<int16_t>((seq * 977u + f * 13u + j * 5u + k * 3001u) % 30000u + 1u);
}

std::vector<int16_t> Block(unsigned k, unsigned seq, unsigned channels, unsigned frames = kFrames) {
    std::vector<int16_t> in(frames * channels);
    for (unsigned i = 0; i < in.size(); ++i) in[i] = Pattern(k, seq, i / channels, i % channels);
    return in;
}

// Stream k's callback, as PortAudio calls it, with stream k's device pair.
int Feed(unsigned k, const std::vector<int16_t>* in, unsigned long frames, uint16_t channels = 2) {
    PaStreamCallback* callbacks[3] = {&LiveCapture::paStreamLineInCallbackA,
                                      &LiveCapture::paStreamLineInCallbackB,
                                      &LiveCapture::paStreamLineInCallbackC};
    Pair pair{static_cast<uint16_t>(k), channels};
    return callbacks[k](in != nullptr ? in->data() : nullptr, nullptr, frames, nullptr, 0, &pair);
}

std::vector<int16_t> Take() {
    std::vector<int16_t> out(kCaptureBlockBytes / 2, -1);
    LiveCapture::TakeBlock(reinterpret_cast<uint8_t*>(out.data()), kCaptureBlockBytes);
    return out;
}

int16_t At(const std::vector<int16_t>& block, unsigned f, unsigned channel) {
    return block[f * kCaptureChannels + channel];
}

bool Silent(const std::vector<int16_t>& block, unsigned k) {
    for (unsigned f = 0; f < kFrames; ++f) {
        if (At(block, f, 2 * k) != 0 || At(block, f, 2 * k + 1) != 0) return false;
    }
    return true;
}

// The block number stream k's channels carry, or -1 when they are not one
// whole block of that stream.
int Sequence(const std::vector<int16_t>& block, unsigned k) {
    const int seq = At(block, 0, 2 * k) - 1;
    if (seq < 0) return -1;
    for (unsigned f = 0; f < kFrames; ++f) {
        for (unsigned j = 0; j < 2; ++j) {
            if (At(block, f, 2 * k + j) != Pattern(k, static_cast<unsigned>(seq), f, j)) return -1;
        }
    }
    return seq;
}

TEST(CaptureRing, EachStreamFillsItsPairAndTheDriverStartsFourBlocksBehind) {
    LiveCapture::ResetCaptureRing();
    for (unsigned seq = 0; seq < 2; ++seq) {
        for (unsigned k = 0; k < 3; ++k) {
            const auto in = Block(k, seq, 2);
            EXPECT_EQ(Feed(k, &in, kFrames), paContinue);
        }
    }

    // The driver starts four slots behind the streams: four blocks of silence first.
    for (int i = 0; i < 4; ++i) {
        const auto block = Take();
        for (unsigned k = 0; k < 3; ++k) EXPECT_TRUE(Silent(block, k)) << i << " " << k;
    }
    for (unsigned seq = 0; seq < 2; ++seq) {
        const auto block = Take();
        for (unsigned k = 0; k < 3; ++k) EXPECT_EQ(Sequence(block, k), int(seq)) << k;
    }
    EXPECT_TRUE(Silent(Take(), 0));  // slot 2 was never written
}

TEST(CaptureRing, MissingShortOrNarrowInputBecomesSilence) {
    LiveCapture::ResetCaptureRing();
    Feed(0, nullptr, kFrames);  // stream A: no input buffer at all
    const auto shortBlock = Block(1, 0, 2, 100);
    Feed(1, &shortBlock, 100);  // stream B: only 100 frames delivered
    const auto mono = Block(2, 0, 1);
    Feed(2, &mono, kFrames, 1);  // stream C: a mono device
    for (int i = 0; i < 4; ++i) Take();
    const auto block = Take();
    EXPECT_TRUE(Silent(block, 0));
    for (unsigned f = 0; f < kFrames; ++f) {
        const bool delivered = f < 100;
        EXPECT_EQ(At(block, f, 2), delivered ? Pattern(1, 0, f, 0) : 0) << f;
        EXPECT_EQ(At(block, f, 3), delivered ? Pattern(1, 0, f, 1) : 0) << f;
        EXPECT_EQ(At(block, f, 4), mono[f]) << f;
        EXPECT_EQ(At(block, f, 5), 0) << f;
    }

    // A four-channel device: its first two channels are taken.
    LiveCapture::ResetCaptureRing();
    const Pair wide{0, 4};
    const auto four = Block(0, 0, 4);
    LiveCapture::WriteCaptureBlock(0, four.data(), kFrames, &wide);
    for (int i = 0; i < 4; ++i) Take();
    const auto fromWide = Take();
    for (unsigned f = 0; f < kFrames; ++f) {
        EXPECT_EQ(At(fromWide, f, 0), four[f * 4]);
        EXPECT_EQ(At(fromWide, f, 1), four[f * 4 + 1]);
    }
}

TEST(CaptureRing, AStreamFourBlocksAheadDropsAndTheDriverReportsIt) {
    LiveCapture capture;
    ASSERT_TRUE(capture.CreateSemaphore());
    LiveCapture::ResetCaptureRing();
    takeDiagnostics();
    for (unsigned seq = 0; seq < 6; ++seq) {
        const auto in = Block(0, seq, 2);
        Feed(0, &in, kFrames);
    }
    // Slots 0..3 took blocks 0..3; slot 4 still waits for the driver.
    EXPECT_EQ(captureDroppedBlocks[0].load(), 2u);
    int posted = 0;
    sem_getvalue(&semGetAudio, &posted);
    EXPECT_EQ(posted, 4);  // only written blocks are signalled

    LiveCapture::PostCaptureProblems();
    LiveCapture::PostCaptureProblems();  // nothing new: nothing posted
    EXPECT_EQ(takeDiagnostics(),
              std::vector<std::string>{"Capture overrun: stream 0 dropped 2 blocks"});

    // The driver gets the kept blocks in order; the stream then goes on.
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(LiveCapture::WaitForBlock());
        EXPECT_TRUE(Silent(Take(), 0));
    }
    for (int seq : {0, 1, 2, 3, 6}) {
        const auto in = Block(0, static_cast<unsigned>(seq + 6), 2);
        Feed(0, &in, kFrames);
        ASSERT_TRUE(LiveCapture::WaitForBlock());
        EXPECT_EQ(Sequence(Take(), 0), seq);
    }
    EXPECT_EQ(captureDroppedBlocks[0].load(), 2u);
    AudioDevice_t none[3] = {};
    capture.CloseStreaming(none);
}

// Three callbacks on their own threads, as three sound devices would call
// them, and the driver on its own: every block the driver takes is whole (one
// block of one stream per channel pair, or silence), stream A's blocks arrive
// in order, and every block of stream A is taken, counted as dropped, or one of
// the four the driver is behind.
TEST(CaptureRing, ThreeStreamsAndTheDriverOnTheirOwnThreads) {
    constexpr unsigned kBlocks = 600;
    LiveCapture capture;
    ASSERT_TRUE(capture.CreateSemaphore());
    LiveCapture::ResetCaptureRing();
    takeDiagnostics();

    std::atomic<bool> writersFinished{false};
    auto writer = [&](unsigned k) {
        std::vector<std::vector<int16_t>> blocks;
        for (unsigned seq = 0; seq < kBlocks; ++seq) {
            blocks.push_back(Block(k, seq, 2));  // made up front: callbacks do not allocate
        }
        for (unsigned seq = 0; seq < kBlocks; ++seq) {
            Feed(k, &blocks[seq], kFrames);
            // Uneven pacing: sometimes a burst, sometimes a pause.
            if (seq % 7 == k) {
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            } else {
                std::this_thread::yield();
            }
        }
    };

    unsigned takenA = 0, silentA = 0, torn = 0, outOfOrder = 0;
    int lastA = -1;
    std::thread driver([&] {
        std::vector<int16_t> block(kCaptureBlockBytes / 2);
        // Ends once the writers are done and no signalled block is left.
        while (LiveCapture::WaitForBlock(&writersFinished)) {
            LiveCapture::TakeBlock(reinterpret_cast<uint8_t*>(block.data()), kCaptureBlockBytes);
            for (unsigned k = 0; k < 3; ++k) {
                if (Silent(block, k)) {
                    silentA += k == 0 ? 1 : 0;
                    continue;
                }
                const int seq = Sequence(block, k);
                if (seq < 0) {
                    ++torn;
                } else if (k == 0) {
                    outOfOrder += seq <= lastA ? 1 : 0;
                    lastA = seq;
                    ++takenA;
                }
            }
            if (takenA % 16 == 0) {
                std::this_thread::sleep_for(std::chrono::microseconds(500));  // a slow block
            }
        }
    });
    std::thread a(writer, 0), b(writer, 1), c(writer, 2);
    a.join();
    b.join();
    c.join();
    writersFinished = true;
    driver.join();

    RecordProperty("blocks_taken_a", static_cast<int>(takenA));
    RecordProperty("blocks_dropped_a", static_cast<int>(captureDroppedBlocks[0].load()));
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(outOfOrder, 0u);
    EXPECT_EQ(silentA, 4u);  // the four blocks of the start offset
    // The driver stays four blocks behind stream A: A's last four blocks are
    // still in the ring.
    EXPECT_EQ(takenA + captureDroppedBlocks[0].load() + kCaptureFirstTail, kBlocks);
    EXPECT_GT(takenA, 0u);
    AudioDevice_t none[3] = {};
    capture.CloseStreaming(none);
}

}  // namespace
