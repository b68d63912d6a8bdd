// taviksoak: a long run of the live decoding chain without sound hardware.
//
// Six channels of synthetic audio (pink or white noise carrying TESK 6, TESK 2
// and ZELT program and commercial codes that change every 1 to 10 minutes) go
// at full speed, in 10 ms six-channel blocks, through the decode driver's block
// step and the meter it builds, exactly as captured audio does. A second
// thread plays the host: every 100 ms of audio it reads the code rings, the
// level records and the diagnostic ring through the host functions' reading
// path (the hostXxx functions the exported ones forward to). The
// program counts the codes expected, received, missing, duplicated and wrong,
// the diagnostics, resident memory and CPU time, and fails when a code went
// missing, was duplicated or wrong, a report was dropped ("Overwrite in
// setAudioCodes") or resident memory grew by 1 MiB or more after the first
// hour.
#include <malloc.h>
#include <sys/resource.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/DecodeAudio.h"
#include "app/HostInterface.h"
#include "app/LiveCapture.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "tools/tavik-soak/SoakLedger.h"
#include "tools/tavik-soak/SoakSignal.h"

namespace {

using soak::kBlockFrames;
using soak::kKindCount;

constexpr uint32_t kDefaultStart = 1767225600u + 9 * 3600 + 1234;  // 2026-01-01 09:20:34 UTC
constexpr int64_t kBlocksPerPoll = 10;    // the host polls every 100 ms of audio
constexpr int64_t kMaxLagBlocks = 100;    // the host falls at most 1 s of audio behind
constexpr double kMemoryLimitKiB = 1024;  // growth after the first hour

const char kOverwrite[] = "Overwrite in setAudioCodes";

struct Options {
    double hours = 24;
    unsigned channels = 6;
    uint64_t seed = 1;
    double reportEvery = 1;
    uint32_t start = kDefaultStart;
    bool verbose = false;
    // Kinds of wrong report that do not fail the run (still counted and shown).
    bool tolerateCommStd = false;  // standard commercial codes of a kind never sent
    // Decoder misreads (codes never sent, late, time off) allowed per channel
    // and hour of audio; reports on the wrong channel are never allowed.
    double wrongPerHour = 0;
};

void Usage(FILE* f) {
    std::fprintf(f,
                 "usage: taviksoak [--hours H] [--channels N] [--seed S] [--report-every H]\n"
                 "                 [--start POSIX] [--verbose] [--tolerate LIST]\n"
                 "                 [--wrong-per-hour R]\n"
                 "  --hours H         audio to decode, hours (default 24)\n"
                 "  --channels N      channels 1-6 (default 6)\n"
                 "  --seed S          seed of the audio and its codes (default 1)\n"
                 "  --report-every H  print the figures every H hours of audio (default 1)\n"
                 "  --start POSIX     encoders' clock at the start of the audio\n"
                 "  --verbose         list every segment's codes on standard error\n"
                 "  --tolerate LIST   wrong reports that do not fail the run (still counted):\n"
                 "                    comm-std (standard commercial codes; none is sent)\n"
                 "  --wrong-per-hour R  misread codes (never sent, late, time off) allowed per\n"
                 "                    channel and hour of audio (default 0)\n"
                 "Exit status: 0 every expected code arrived, none duplicated or wrong, no\n"
                 "report dropped, memory flat after the first hour; 1 otherwise; 2 bad options.\n");
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (a == "--verbose") {
            o->verbose = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        char* end = nullptr;
        if (a == "--hours") {
            o->hours = std::strtod(v, &end);
            if (*end || !(o->hours > 0)) return false;
        } else if (a == "--channels") {
            const long n = std::strtol(v, &end, 10);
            if (*end || n < 1 || n > 6) return false;
            o->channels = unsigned(n);
        } else if (a == "--seed") {
            o->seed = std::strtoull(v, &end, 10);
            if (*end) return false;
        } else if (a == "--report-every") {
            o->reportEvery = std::strtod(v, &end);
            if (*end || !(o->reportEvery > 0)) return false;
        } else if (a == "--tolerate") {
            for (std::string list = v; !list.empty();) {
                const size_t comma = list.find(',');
                const std::string item = list.substr(0, comma);
                if (item != "comm-std") return false;
                o->tolerateCommStd = true;
                list = comma == std::string::npos ? "" : list.substr(comma + 1);
            }
        } else if (a == "--wrong-per-hour") {
            o->wrongPerHour = std::strtod(v, &end);
            if (*end || !(o->wrongPerHour >= 0)) return false;
        } else if (a == "--start") {
            const unsigned long long t = std::strtoull(v, &end, 10);
            if (*end || t == 0 || t > 0xFFFFFFFFull) return false;
            o->start = uint32_t(t);
        } else {
            return false;
        }
    }
    return true;
}

long RssKiB() {
    FILE* f = std::fopen("/proc/self/status", "r");
    if (f == nullptr) return -1;
    char line[256];
    long kib = -1;
    while (std::fgets(line, sizeof line, f))
        if (std::strncmp(line, "VmRSS:", 6) == 0) kib = std::strtol(line + 6, nullptr, 10);
    std::fclose(f);
    return kib;
}

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// What the host thread collected.
struct HostSide {
    std::mutex lock;  // guards the ledger and the diagnostics below
    std::unique_ptr<soak::SoakLedger> ledger;
    uint64_t overwrites = 0;
    uint64_t otherDiagnostics = 0;
    std::map<std::string, uint64_t> diagnosticTexts;  // at most a few distinct texts
    uint64_t levelReads = 0;
    uint64_t polls = 0;

    std::atomic<int64_t> fedBlocks{0};
    std::atomic<int64_t> polledBlocks{0};
    std::atomic<bool> done{false};
};

void Poll(HostSide& h) {
    char text[4096];
    const int64_t fed = h.fedBlocks.load(std::memory_order_acquire);
    const double t = double(fed) * kBlockFrames / soak::kRate;
    std::lock_guard<std::mutex> guard(h.lock);
    for (unsigned c = 0; c < kReportChannels; ++c) {
        while (hostGetAudioCodes(c, text, sizeof text) == 1) {
            h.ledger->Report(c, t, text);
        }
        int average = 0, peak = 0;
        if (hostGetAudioLevels(c, &average, &peak) == 1) ++h.levelReads;
    }
    while (hostGetDiagMessage(text, sizeof text) == 1) {
        if (std::strcmp(text, kOverwrite) == 0) {
            ++h.overwrites;
        } else {
            ++h.otherDiagnostics;
            std::string key(text);
            if (h.diagnosticTexts.count(key) || h.diagnosticTexts.size() < 12)
                ++h.diagnosticTexts[key];
        }
    }
    ++h.polls;
    h.polledBlocks.store(fed, std::memory_order_release);
}

// The host's polling thread, paced on audio time.
void HostThread(HostSide* h) {
    int64_t next = kBlocksPerPoll;
    for (;;) {
        const bool done = h->done.load(std::memory_order_acquire);
        if (done || h->fedBlocks.load(std::memory_order_acquire) >= next) {
            Poll(*h);
            if (done) return;
            next = h->polledBlocks.load(std::memory_order_relaxed) + kBlocksPerPoll;
        } else {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    }
}

// Bytes the heap has handed out and not had back (large blocks included):
// tells steady growth of live data from growth of the heap's free space.
long HeapInUseKiB() {
    const struct mallinfo2 mi = mallinfo2();
    return long((mi.uordblks + mi.hblkhd) / 1024);
}

struct Figures {
    long rssStart = -1, rssHour = -1, rssNow = -1;
    long heapStart = -1, heapHour = -1, heapNow = -1;
    long rssTrimmed = -1;  // at the end, after the heap's free pages went back
};

void PrintFigures(HostSide& h, double audioSeconds, double wallSeconds, const Figures& m,
                  uint64_t segments, bool final) {
    std::lock_guard<std::mutex> guard(h.lock);
    const soak::Totals& t = h.ledger->totals();
    std::printf("%s after %.2f h of audio (%llu segments)%s\n", final ? "== final" : "==",
                audioSeconds / 3600, (unsigned long long)segments,
                final ? "" : " (codes of closed segments only)");
    std::printf("  codes expected %llu, received %llu, missing %llu; reports %llu, "
                "duplicates %llu, wrong %llu\n",
                (unsigned long long)t.Expected(), (unsigned long long)t.Received(),
                (unsigned long long)t.Missing(), (unsigned long long)t.reports,
                (unsigned long long)t.duplicates, (unsigned long long)t.Wrong());
    for (int k = 0; k < kKindCount; ++k)
        std::printf("    %-22s expected %6llu  received %6llu  missing %4llu\n",
                    soak::KindName(k), (unsigned long long)t.expected[k],
                    (unsigned long long)t.received[k], (unsigned long long)t.missing[k]);
    std::printf("  wrong: standard commercial %llu, code never sent %llu, other channel %llu, "
                "late %llu, time off %llu\n",
                (unsigned long long)t.wrongCommStd, (unsigned long long)t.wrongUnknown,
                (unsigned long long)t.wrongChannel, (unsigned long long)t.wrongLate,
                (unsigned long long)t.wrongTime);
    for (const std::string& e : t.wrongExamples) std::printf("    e.g. %s\n", e.c_str());
    std::printf("  TESK program codes without a time code (timestamp -1) %llu\n",
                (unsigned long long)t.withoutTime);
    std::printf("  TESK program repeats within 0.3 s %llu; copies of one message from "
                "several depths %llu; codes on air too briefly to expect %llu (reported %llu)\n",
                (unsigned long long)t.nearRepeats, (unsigned long long)t.copies,
                (unsigned long long)t.shortOnAir, (unsigned long long)t.shortReported);
    std::printf("  diagnostics: \"%s\" %llu, others %llu; level reads %llu; polls %llu\n",
                kOverwrite, (unsigned long long)h.overwrites,
                (unsigned long long)h.otherDiagnostics, (unsigned long long)h.levelReads,
                (unsigned long long)h.polls);
    if (final)
        for (const auto& kv : h.diagnosticTexts) {
            std::string s = kv.first;
            for (char& c : s)
                if (c == '\n') c = ' ';
            std::printf("    %llu x \"%s\"\n", (unsigned long long)kv.second, s.c_str());
        }
    const double cpu = CpuSeconds();
    std::printf("  VmRSS: start %ld KiB, after 1 h %s, now %ld KiB", m.rssStart,
                m.rssHour < 0 ? "-" : (std::to_string(m.rssHour) + " KiB").c_str(), m.rssNow);
    if (m.rssHour >= 0) std::printf(", growth since 1 h %+ld KiB", m.rssNow - m.rssHour);
    if (m.rssTrimmed >= 0)
        std::printf("; %ld KiB once malloc_trim returned the heap's free pages", m.rssTrimmed);
    std::printf("\n  heap in use: start %ld KiB, after 1 h %s, now %ld KiB", m.heapStart,
                m.heapHour < 0 ? "-" : (std::to_string(m.heapHour) + " KiB").c_str(), m.heapNow);
    std::printf("\n  CPU %.1f s, wall %.1f s: %.1fx real time (%.1fx per channel)\n", cpu,
                wallSeconds, audioSeconds / wallSeconds,
                audioSeconds * h.ledger->channelCount() / wallSeconds);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, &o)) {
        Usage(stderr);
        return 2;
    }
    // Synthesis buffers larger than this come from and go back to the system
    // at once, so resident memory shows the decoder's memory, not heap
    // fragments the synthesis leaves behind.
    mallopt(M_MMAP_THRESHOLD, 256 * 1024);

    HostSide host;
    host.ledger = std::make_unique<soak::SoakLedger>(o.channels, o.start);

    // The driver as the library builds it, with its factories and the host
    // report object; the meter takes 48 kHz 16-bit six-channel blocks.
    CTavikReportImplementation report;
    audioChannelConfiguration.channels = 6;
    audioChannelConfiguration.sampleRate = kCaptureSampleRate;
    audioChannelConfiguration.bitsPerSample = 16;
    DecodeAudio driver(false, std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                       std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>(),
                       &report);
    AudioSDKOptions(false).GetCommandLineOptions(0, nullptr, &driver.configuration());
    driver.Initialize();
    driver.setStartTime(o.start);
    // The host's configuration: all three families, filtered display.
    char configuration[64];
    std::snprintf(configuration, sizeof configuration, "2,%u,-1,-99,-99", o.channels);
    hostSetConfiguration(configuration);

    std::vector<std::unique_ptr<soak::SoakChannel>> channels;
    for (unsigned c = 0; c < o.channels; ++c)
        channels.push_back(
            std::make_unique<soak::SoakChannel>(c, o.seed, o.start, host.ledger.get()));
    for (auto& ch : channels) ch->SetVerbose(o.verbose);

    std::printf("taviksoak: %.3g h of audio, %u channels, seed %llu, start %u; host polls every "
                "%lld ms of audio\n",
                o.hours, o.channels, (unsigned long long)o.seed, o.start,
                (long long)(kBlocksPerPoll * 10));
    std::fflush(stdout);

    const int64_t totalBlocks = int64_t(o.hours * 3600 * 100 + 0.5);
    const int64_t hourBlocks = 3600 * 100;
    const int64_t reportBlocks = std::max<int64_t>(1, int64_t(o.reportEvery * 3600 * 100 + 0.5));
    Figures m;
    m.rssStart = RssKiB();
    m.heapStart = HeapInUseKiB();
    const auto wallStart = std::chrono::steady_clock::now();
    auto wall = [&] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - wallStart)
            .count();
    };
    uint64_t segments = 0;
    auto countSegments = [&] {
        segments = 0;
        for (auto& ch : channels) segments += ch->segments();
    };

    std::thread poller(HostThread, &host);
    std::vector<int16_t> mono(kBlockFrames);
    std::vector<int16_t> block(size_t(kBlockFrames) * kCaptureChannels, 0);
    for (int64_t b = 0; b < totalBlocks; ++b) {
        for (unsigned c = 0; c < o.channels; ++c) {
            channels[c]->NextBlock(mono.data());
            for (int f = 0; f < kBlockFrames; ++f) block[size_t(f) * kCaptureChannels + c] = mono[f];
        }
        driver.decodeAudioBuffer(reinterpret_cast<unsigned char*>(block.data()),
                                 kCaptureBlockBytes, &uiConfiguration);
        host.fedBlocks.store(b + 1, std::memory_order_release);
        // A host keeps up with the audio: do not run more than a second ahead of it.
        while (b + 1 - host.polledBlocks.load(std::memory_order_acquire) > kMaxLagBlocks)
            std::this_thread::sleep_for(std::chrono::microseconds(100));

        if (b + 1 == hourBlocks) {
            m.rssHour = RssKiB();
            m.heapHour = HeapInUseKiB();
        }
        if ((b + 1) % reportBlocks == 0 && b + 1 < totalBlocks) {
            m.rssNow = RssKiB();
            m.heapNow = HeapInUseKiB();
            countSegments();
            PrintFigures(host, double(b + 1) / 100, wall(), m, segments, false);
        }
    }
    host.done.store(true, std::memory_order_release);
    poller.join();
    const double audioSeconds = double(totalBlocks) / 100;
    {
        std::lock_guard<std::mutex> guard(host.lock);
        host.ledger->Finish(audioSeconds);
    }
    m.rssNow = RssKiB();
    m.heapNow = HeapInUseKiB();
    // What of the growth is free heap space the allocator kept rather than
    // memory still in use: the judgement below stays on the untrimmed figure.
    malloc_trim(0);
    m.rssTrimmed = RssKiB();
    countSegments();
    PrintFigures(host, audioSeconds, wall(), m, segments, true);

    const soak::Totals& t = host.ledger->totals();
    bool failed = false;
    auto fail = [&](const char* why) {
        std::printf("FAIL: %s\n", why);
        failed = true;
    };
    if (t.Missing() > 0) fail("expected codes missing");
    if (t.duplicates > 0 || t.nearRepeats > 0) fail("codes delivered twice");
    if (t.wrongChannel > 0) fail("codes reported on a channel that did not carry them");
    uint64_t misreads = t.wrongUnknown + t.wrongLate + t.wrongTime;
    if (o.tolerateCommStd) {
        if (t.wrongCommStd > 0)
            std::printf("tolerated: %llu standard commercial codes (none was sent)\n",
                        (unsigned long long)t.wrongCommStd);
    } else {
        misreads += t.wrongCommStd;
    }
    const double allowed = o.wrongPerHour * o.channels * audioSeconds / 3600;
    if (misreads > 0)
        std::printf("misread codes: %llu, %.1f per channel-hour (allowed %.1f)\n",
                    (unsigned long long)misreads, misreads * 3600 / (o.channels * audioSeconds),
                    o.wrongPerHour);
    if (double(misreads) > allowed) fail("wrong codes reported");
    if (host.overwrites > 0) fail("reports dropped on full code rings");
    // Memory is judged only when at least one more hour followed the first.
    if (totalBlocks >= 2 * hourBlocks && m.rssHour >= 0 &&
        m.rssNow - m.rssHour >= kMemoryLimitKiB)
        fail("resident memory grew by 1 MiB or more after the first hour");
    if (!failed) std::printf("PASS\n");
    return failed ? 1 : 0;
}
