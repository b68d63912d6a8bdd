// The host polls the queues from its own thread while the decoder thread writes
// them. These tests run both sides at once (they also run under ThreadSanitizer)
// and check that nothing read is torn, lost out of order or duplicated.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "HostTestState.h"

namespace {

// Report n: its number, then a body whose length and letters depend on n, so a
// torn or mixed-up copy shows.
std::string makeReport(int n) {
    return std::to_string(n) + ":" + std::string(static_cast<size_t>(n % 300), 'a' + n % 26);
}

// Returns the report number, or -1 if the text is not a whole report.
int checkReport(const char* text) {
    char* end = nullptr;
    const long n = std::strtol(text, &end, 10);
    if (end == text || *end != ':') return -1;
    return makeReport(static_cast<int>(n)) == text ? static_cast<int>(n) : -1;
}

using RingThreads = HostReportTest;
constexpr int kReports = 60000;

TEST_F(RingThreads, EveryReportArrivesIntactAndInOrder) {
    std::thread writer([&] {
        for (int n = 0; n < kReports; ++n) {
            // A writer that waits for room loses nothing.
            while (reportedChannel[2].unread() >= TextRing::kSlots - 1) std::this_thread::yield();
            std::string text = makeReport(n);
            report->setAudioCodes(2, &text);
        }
    });
    char buffer[512];
    for (int expected = 0; expected < kReports;) {
        if (hostGetAudioCodes(2, buffer, sizeof buffer) == 1) {
            ASSERT_EQ(checkReport(buffer), expected++);
        }
    }
    writer.join();
    EXPECT_EQ(hostGetAudioCodes(2, buffer, sizeof buffer), 0);
    EXPECT_TRUE(takeDiagnostics().empty());
}

TEST_F(RingThreads, AWriterThatOutrunsTheReaderOnlyDropsNewReports) {
    std::atomic<bool> done{false};
    std::thread writer([&] {
        for (int n = 0; n < kReports; ++n) {
            std::string text = makeReport(n);
            report->setAudioCodes(5, &text);
        }
        done = true;
    });
    // Reads until the writer is done and the ring is drained.
    int last = -1;
    int received = 0;
    char buffer[512];
    for (;;) {
        const bool finished = done.load();
        if (hostGetAudioCodes(5, buffer, sizeof buffer) == 1) {
            const int n = checkReport(buffer);
            ASSERT_GT(n, last) << buffer;
            last = n;
            ++received;
        } else if (finished) {
            break;
        }
        // Keep the diagnostic ring from filling so overwrite notices go on flowing.
        while (hostGetDiagMessage(buffer, sizeof buffer) == 1) {
            ASSERT_STREQ(buffer, "Overwrite in setAudioCodes");
        }
    }
    writer.join();
    EXPECT_GT(received, 0);
}

TEST_F(RingThreads, DiagnosticsFromSeveralThreads) {
    // Decoder thread, a capture callback thread and the host's configuration
    // thread all post; the host reads. Each poster's messages stay in order.
    constexpr int kPerPoster = 20000;
    constexpr int kPosters = 3;
    std::atomic<int> finished{0};
    std::thread posters[kPosters];
    for (int p = 0; p < kPosters; ++p) {
        posters[p] = std::thread([p, &finished] {
            for (int n = 0; n < kPerPoster; ++n) {
                while (diagMessage.unread() >= TextRing::kSlots - 1) std::this_thread::yield();
                char text[64];
                std::snprintf(text, sizeof text, "poster %d message %d", p, n);
                sDiagMessage = text;
                setDiagMessage(&sDiagMessage);
            }
            ++finished;
        });
    }
    // Posters wait for room before posting, but two may see room for the same
    // last slot; the loser's message is dropped, so count only what arrives.
    int next[kPosters] = {0, 0, 0};
    char buffer[kDiagTextSize];
    for (;;) {
        const bool allDone = finished.load() == kPosters;
        int p = -1;
        int n = -1;
        if (hostGetDiagMessage(buffer, sizeof buffer) == 1) {
            ASSERT_EQ(std::sscanf(buffer, "poster %d message %d", &p, &n), 2) << buffer;
            ASSERT_TRUE(p >= 0 && p < kPosters);
            ASSERT_GE(n, next[p]);
            next[p] = n + 1;
        } else if (allDone) {
            break;
        }
    }
    for (auto& t : posters) t.join();
    for (int p = 0; p < kPosters; ++p) EXPECT_EQ(next[p], kPerPoster);
}

TEST_F(RingThreads, LevelPairsAndSettingsCrossThreads) {
    // The meter publishes while the host polls; every pair read must belong
    // together. Meanwhile the host reconfigures and the decoder reads switches.
    constexpr int kRounds = 40000;
    std::atomic<bool> done{false};
    std::thread decoder([&] {
        int seen = 0;
        for (int n = 1; n <= kRounds; ++n) {
            reportedAudioLevelChannel[4].publish(-n, -(n % 91));
            seen += ReportT2.load() + bTwRawOutput.load() + uiConfiguration.channelCount.load();
        }
        done = true;
        EXPECT_GE(seen, 0);
    });
    std::thread configurer([&] {
        for (int n = 0; n < 200; ++n) {
            hostSetConfiguration(n % 2 ? "4,6,1,2,3" : "1,2,-1,-99,-99");
            takeDiagnostics();
        }
    });
    int lastAverage = 0;
    for (;;) {
        const bool finished = done.load();
        int average = 0;
        int peak = 0;
        if (hostGetAudioLevels(4, &average, &peak) == 1) {
            ASSERT_EQ(peak, -((-average) % 91));
            ASSERT_LT(average, lastAverage);  // newer pairs only
            lastAverage = average;
        } else if (finished) {
            break;
        }
    }
    decoder.join();
    configurer.join();
    EXPECT_EQ(lastAverage, -kRounds);
}

}  // namespace
