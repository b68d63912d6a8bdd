// tavikdecode: decodes watermarks from audio files through the same meter,
// decoder factories and report callbacks as the live decoder, and prints every
// code a host would receive as one JSON line on standard output.
#include <signal.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cinttypes>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/CMeter.h"
#include "audiocore/Parameter.h"
#include "tools/tavikdecode/AudioFileInput.h"
#include "tools/tavikdecode/CFileReport.h"
#include "tools/tavikdecode/TimelineSvg.h"

namespace {

constexpr int kExitInput = 1;  // unreadable or unsupported input, decoding failure
constexpr int kExitUsage = 2;  // bad options

const char kUsage[] =
    "Usage: tavikdecode [OPTIONS] FILE...\n"
    "Decodes TESK 6, TESK 2 and ZELT watermarks from audio files (WAV, FLAC, AIFF and\n"
    "whatever else libsndfile reads; 1 to 16 channels; 8000 to 192000 Hz; 16-, 24-,\n"
    "32-bit integer or float samples). FILE \"-\" reads a WAV stream from standard input.\n"
    "Families whose decoder cannot run at a file's rate are left out for that file\n"
    "(one note on standard error says which).\n"
    "\n"
    "Every code the host would receive is printed on standard output as one line\n"
    "  {\"channel\":N,\"detection\":{...}}\n"
    "Diagnostics and a per-channel, per-family count go to standard error.\n"
    "\n"
    "Options:\n"
    "  -f, --families LIST    families to decode, comma separated: tesk6,tesk2,zelt\n"
    "                         (default: all three)\n"
    "  -m, --mode N           the host's mode word instead: bits 0-1 families (0 TESK 2\n"
    "                         and TESK 6, 1 ZELT, 2 or 3 all three), bit 2 raw display\n"
    "  -r, --raw              raw code display: every detection unfiltered\n"
    "  -c, --channel N        decode only channel N (0 is the first)\n"
    "  -s, --start-time T     start time handed to the meter: POSIX seconds or \"now\"\n"
    "                         (default: the file's modification time; now for stdin)\n"
    "  -t, --timeline F.svg   draw the codes of every channel over the file's time\n"
    "                         (one input file only)\n"
    "  -j, --jobs N           decode up to N files at once, each in a process of its\n"
    "                         own (default 1); the output is the same as with 1\n"
    "  -q, --quiet            no progress bar\n"
    "  -h, --help             this text\n"
    "\n"
    "Exit status: 0 done, 1 unreadable or unsupported input, 2 bad options.\n";

struct Options {
    bool tesk6 = true, tesk2 = true, zelt = true;
    bool raw = false;
    int channel = -1;  // -1: every channel
    bool startGiven = false;
    bool startNow = false;
    uint32_t startTime = 0;
    std::string timeline;
    bool quiet = false;
    int jobs = 1;  // files decoded at once, each in its own process
    std::vector<std::string> inputs;
};

constexpr long kMaxJobs = 256;

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "tavikdecode: %s\nTry 'tavikdecode --help'.\n", message.c_str());
    std::exit(kExitUsage);
}

bool ParseInt(const char* text, long min, long max, long* value) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < min || v > max) return false;
    *value = v;
    return true;
}

void ApplyModeWord(long mode, Options* o) {
    switch (mode & kModeFamilyMask) {
        case 0:
            o->tesk2 = o->tesk6 = true, o->zelt = false;
            break;
        case 1:
            o->tesk2 = o->tesk6 = false, o->zelt = true;
            break;
        default:
            o->tesk2 = o->tesk6 = o->zelt = true;
            break;
    }
    o->raw = (mode & kModeRawDisplay) != 0;
}

void ParseFamilies(const std::string& list, Options* o) {
    o->tesk6 = o->tesk2 = o->zelt = false;
    size_t start = 0;
    while (start <= list.size()) {
        size_t comma = list.find(',', start);
        if (comma == std::string::npos) comma = list.size();
        std::string name = list.substr(start, comma - start);
        for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (name == "tesk6") {
            o->tesk6 = true;
        } else if (name == "tesk2") {
            o->tesk2 = true;
        } else if (name == "zelt") {
            o->zelt = true;
        } else if (name == "all") {
            o->tesk6 = o->tesk2 = o->zelt = true;
        } else {
            UsageError("unknown family '" + name + "' (tesk6, tesk2, zelt)");
        }
        start = comma + 1;
    }
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    bool onlyFiles = false;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) UsageError(a + " needs " + what);
            return argv[++i];
        };
        if (onlyFiles || a == "-" || a.empty() || a[0] != '-') {
            o.inputs.push_back(a);
        } else if (a == "--") {
            onlyFiles = true;
        } else if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "-f" || a == "--families") {
            ParseFamilies(value("a family list"), &o);
        } else if (a == "-m" || a == "--mode") {
            long mode = 0;
            if (!ParseInt(value("a mode word"), 0, 7, &mode))
                UsageError("mode word must be 0 to 7");
            ApplyModeWord(mode, &o);
        } else if (a == "-r" || a == "--raw") {
            o.raw = true;
        } else if (a == "-c" || a == "--channel") {
            long c = 0;
            if (!ParseInt(value("a channel number"), 0, AudioFileInput::kMaxChannels - 1, &c))
                UsageError("channel must be 0 to 15");
            o.channel = static_cast<int>(c);
        } else if (a == "-s" || a == "--start-time") {
            const char* t = value("a time");
            long v = 0;
            o.startGiven = true;
            if (std::strcmp(t, "now") == 0) {
                o.startNow = true;
            } else if (ParseInt(t, 0, UINT32_MAX, &v)) {
                o.startTime = static_cast<uint32_t>(v);
            } else {
                UsageError("start time must be POSIX seconds or 'now'");
            }
        } else if (a == "-t" || a == "--timeline") {
            o.timeline = value("a file name");
        } else if (a == "-j" || a == "--jobs") {
            long n = 0;
            if (!ParseInt(value("a number of jobs"), 1, kMaxJobs, &n))
                UsageError("jobs must be 1 to " + std::to_string(kMaxJobs));
            o.jobs = static_cast<int>(n);
        } else if (a == "-q" || a == "--quiet") {
            o.quiet = true;
        } else {
            UsageError("unknown option " + a);
        }
    }
    if (o.inputs.empty()) UsageError("no input file");
    if (!o.tesk6 && !o.tesk2 && !o.zelt) UsageError("no family selected");
    if (!o.timeline.empty() && o.inputs.size() != 1)
        UsageError("--timeline takes exactly one input file");
    int stdinCount = 0;
    for (const auto& in : o.inputs) stdinCount += (in == "-");
    if (stdinCount > 1) UsageError("standard input can be read only once");
    return o;
}

// The decoder keys of the selected families, in the order of the parameters
// document: TESK 2, TESK 6, ZELT.
struct Family {
    const char* key;      // decoder and callback key
    const char* name;     // family key of the detection texts
    const char* display;  // for messages
};
const Family kTesk2{"TESK2Filtered", "TESK2", "TESK 2"};
const Family kTesk6{"TESK6Filtered", "TESK6", "TESK 6"};
const Family kZelt{"ZELTFiltered", "ZELT", "ZELT"};

std::vector<Family> SelectedFamilies(const Options& o) {
    std::vector<Family> f;
    if (o.tesk2) f.push_back(kTesk2);
    if (o.tesk6) f.push_back(kTesk6);
    if (o.zelt) f.push_back(kZelt);
    return f;
}

std::string ParametersDocument(const std::vector<Family>& families) {
    int mask = 0;
    for (const Family& f : families) {
        if (std::strcmp(f.key, kTesk2.key) == 0) mask |= Parameter::kTesk2Filtered;
        if (std::strcmp(f.key, kTesk6.key) == 0) mask |= Parameter::kTesk6Filtered;
        if (std::strcmp(f.key, kZelt.key) == 0) mask |= Parameter::kZeltFiltered;
    }
    return Parameter().createString(mask, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 1, false, "", "");
}

std::string BaseName(const std::string& path) {
    if (path == "-") return "stdin";
    const size_t slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// Progress bar on standard error, redrawn at most five times a second.
class Progress {
public:
    Progress(bool enabled, int64_t totalFrames, int rate)
        : enabled_(enabled),
          total_(totalFrames),
          rate_(rate),
          start_(std::chrono::steady_clock::now()),
          last_(start_) {}

    void Update(int64_t frames, bool force = false) {
        if (!enabled_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(200)) return;
        last_ = now;
        const double wall = std::chrono::duration<double>(now - start_).count();
        const double pos = static_cast<double>(frames) / rate_;
        const double speed = wall > 0 ? pos / wall : 0;
        if (total_ > 0) {
            const double fraction = std::min(1.0, static_cast<double>(frames) / total_);
            constexpr int kWidth = 30;
            const int filled = static_cast<int>(fraction * kWidth);
            std::string bar(static_cast<size_t>(filled), '#');
            bar.append(static_cast<size_t>(kWidth - filled), '-');
            std::fprintf(stderr, "\r[%s] %7.1f / %.1f s %3d%%  %6.1fx real time ", bar.c_str(), pos,
                         static_cast<double>(total_) / rate_, static_cast<int>(fraction * 100),
                         speed);
        } else {
            std::fprintf(stderr, "\r%7.1f s  %6.1fx real time ", pos, speed);
        }
        std::fflush(stderr);
        drawn_ = true;
    }
    void Clear() {
        if (enabled_ && drawn_) std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }

private:
    bool enabled_;
    int64_t total_;
    int rate_;
    std::chrono::steady_clock::time_point start_, last_;
    bool drawn_ = false;
};

// What a file's sample rate allows of the selected families: each decoder's
// constructor holds its own rate rule (the one the meter meets when it builds
// the decoders), so every family is asked rather than told.
struct RatePlan {
    int rate = 0;
    std::vector<Family> families;  // can run at the rate, in parameters order
    std::vector<std::pair<Family, std::string>> leftOut;  // with the decoder's refusal
};

RatePlan PlanForRate(int rate, const std::vector<Family>& selected) {
    RatePlan plan;
    plan.rate = rate;
    WatermarkAudioConsumerFactoryImplementation factory;
    for (const auto& f : selected) {
        try {
            factory.make(f.key, rate);
            plan.families.push_back(f);
        } catch (const std::exception& e) {
            std::string why = e.what();
            while (!why.empty() && (why.front() == '\n')) why.erase(0, 1);
            plan.leftOut.push_back({f, why});
        }
    }
    return plan;
}

// "TESK 6", "TESK 6 and ZELT", "TESK 2, TESK 6 and ZELT".
std::string FamilyNames(const std::vector<Family>& families) {
    std::string text;
    for (size_t i = 0; i < families.size(); ++i) {
        if (i > 0) text += i + 1 == families.size() ? " and " : ", ";
        text += families[i].display;
    }
    return text;
}

// The refusal when no selected family can run at the plan's rate.
std::string NothingToDecode(const RatePlan& plan, const std::vector<Family>& all) {
    std::string text = "sample rate " + std::to_string(plan.rate) + " Hz is not supported by the ";
    for (size_t i = 0; i < plan.leftOut.size(); ++i) {
        if (i > 0) text += i + 1 == plan.leftOut.size() ? " nor the " : ", the ";
        text += std::string(plan.leftOut[i].first.display) + " decoder (" + plan.leftOut[i].second +
                ")";
    }
    const RatePlan any = PlanForRate(plan.rate, all);
    if (!any.families.empty()) {
        text += "; " + FamilyNames(any.families) + (any.families.size() == 1 ? " runs" : " run") +
                " at this rate (--families)";
    }
    return text;
}

// The note for a file some of whose selected families are left out.
std::string LeftOutNote(const RatePlan& plan) {
    std::vector<Family> out;
    for (const auto& entry : plan.leftOut) out.push_back(entry.first);
    return FamilyNames(out) + " left out: " + (out.size() == 1 ? "its decoder cannot" :
                                                                 "their decoders cannot") +
           " run at " + std::to_string(plan.rate) + " Hz; decoding " + FamilyNames(plan.families);
}

// The lines on standard error that open a file's output: its format and, when
// families are left out at its rate, the note that says which.
void PrintFileHeader(const AudioFileInput& in, const RatePlan& plan) {
    std::fprintf(stderr, "tavikdecode: %s: %s", in.Path().c_str(), in.Description().c_str());
    if (in.Frames() >= 0)
        std::fprintf(stderr, ", %.1f s", static_cast<double>(in.Frames()) / in.SampleRate());
    std::fputc('\n', stderr);
    if (!plan.leftOut.empty())
        std::fprintf(stderr, "tavikdecode: %s: %s\n", in.Path().c_str(), LeftOutNote(plan).c_str());
}

// Decodes one opened input with the families of its plan; returns 0 or
// kExitInput.
int DecodeFile(AudioFileInput& in, const Options& o, const RatePlan& plan, CFileReport& report) {
    const std::vector<Family>& families = plan.families;
    const std::string name = BaseName(in.Path());
    const int channels = in.Channels();
    const int rate = in.SampleRate();

    uint32_t start = o.startTime;
    if (!o.startGiven || o.startNow) {
        start = static_cast<uint32_t>(std::time(nullptr));
        struct stat st {};
        if (!o.startNow && !in.IsStdin() && stat(in.Path().c_str(), &st) == 0)
            start = static_cast<uint32_t>(st.st_mtime);
    }

    std::vector<unsigned> decoded;
    for (int c = 0; c < channels; ++c) {
        if (o.channel < 0 || o.channel == c) decoded.push_back(static_cast<unsigned>(c));
    }

    report.BeginFile();
    SampleAppConfigurationData config{};
    config.configValid = 1;
    config.reportCallback = &report;
    config.reportMode = kReportModeJson;
    config.outputToConsole = false;
    config.displayDateTimeString = false;
    std::snprintf(config.infile, sizeof config.infile, "%s", in.Path().c_str());
    std::snprintf(config.baseFileName, sizeof config.baseFileName, "%s", name.c_str());

    Kelvane::AudioCore::AudioChannelConfiguration format;
    format.channels = channels;
    format.sampleRate = rate;
    format.bitsPerSample = in.BitsPerSample();
    format.packingMode = in.PackingMode();

    const bool progressOn = !o.quiet && isatty(STDERR_FILENO) != 0;
    Progress progress(progressOn, in.Frames(), rate);
    int64_t fed = 0;
    std::chrono::duration<double> wall{0};
    std::string error;
    try {
        auto meter = std::make_unique<CMeter>(
            &config, name.c_str(), &format, ParametersDocument(families),
            std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
            std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        const auto t0 = std::chrono::steady_clock::now();
        std::vector<std::vector<uint8_t>> data;
        const long chunk = rate / 10;  // 100 ms at a time
        for (;;) {
            const long got = in.Read(chunk, data, &error);
            if (got < 0) break;
            if (got == 0) break;
            fed += got;
            for (unsigned c : decoded) {
                report.SetPosition(c, static_cast<double>(fed) / rate);
                std::vector<uint8_t>& bytes = data[c];
                if (meter->ProcessAudioBuffer(bytes.data(), static_cast<int>(bytes.size()),
                                             static_cast<int>(c), start) < 0) {
                    error = "Unable to process block of audio data";
                    break;
                }
            }
            if (!error.empty()) break;
            progress.Update(fed);
        }
        // Codes still being accumulated are reported before the file ends:
        // tearing the meter down shuts every decoder down, and shutting down
        // flushes it. (An explicit FlushData as well would feed each decoder
        // its flush audio twice and report codes past the end of the file.)
        meter.reset();
        wall = std::chrono::steady_clock::now() - t0;
        if (error.empty()) progress.Update(fed, true);
    } catch (const std::exception& e) {
        error = e.what();
        while (!error.empty() && (error.front() == '\n')) error.erase(0, 1);
    }
    progress.Clear();
    std::fflush(stdout);
    if (error.empty() && in.Frames() >= 0 && fed < in.Frames()) {
        error = "truncated file: " + std::to_string(fed) + " of " + std::to_string(in.Frames()) +
                " frames readable";
    }
    if (!error.empty()) {
        std::fprintf(stderr, "tavikdecode: %s: %s\n", in.Path().c_str(), error.c_str());
        return kExitInput;
    }

    // Summary: codes per channel and family, then speed.
    const double seconds = static_cast<double>(fed) / rate;
    uint64_t total = 0;
    std::fprintf(stderr, "summary of %s:\n", in.Path().c_str());
    for (unsigned c : decoded) {
        std::fprintf(stderr, "  channel %u:", c);
        bool first = true;
        for (const auto& f : families) {
            auto it = report.Counts().find({c, f.name});
            const uint64_t n = it == report.Counts().end() ? 0 : it->second;
            total += n;
            std::fprintf(stderr, "%s %s %" PRIu64, first ? "" : ",", f.name, n);
            first = false;
        }
        std::fputc('\n', stderr);
    }
    for (const auto& [key, n] : report.Counts()) {
        bool known = false;
        for (const auto& f : families) known = known || key.second == f.name;
        if (!known) {
            std::fprintf(stderr, "  channel %u: %" PRIu64 " other texts\n", key.first, n);
            total += n;
        }
    }
    const double w = wall.count();
    std::fprintf(stderr, "  %" PRIu64 " codes; %.1f s of audio, %zu channel%s, decoded in %.2f s",
                 total, seconds, decoded.size(), decoded.size() == 1 ? "" : "s", w);
    if (w > 0) {
        std::fprintf(stderr, ": %.1fx real time, %.1fx real time per channel", seconds / w,
                     seconds * static_cast<double>(decoded.size()) / w);
    }
    std::fputc('\n', stderr);

    if (!o.timeline.empty()) {
        std::vector<std::string> names;
        for (const auto& f : families) names.push_back(f.name);
        if (!TimelineSvg::Write(o.timeline, name, seconds, decoded, names, report.Detections(),
                                &error)) {
            std::fprintf(stderr, "tavikdecode: %s\n", error.c_str());
            return kExitInput;
        }
        std::fprintf(stderr, "timeline written to %s\n", o.timeline.c_str());
    }
    return 0;
}

// One input as checked: a file is closed after its check and opened again
// when its turn comes, so any number of files can be named; standard input
// stays open.
struct Job {
    std::string path;
    std::unique_ptr<AudioFileInput> input;  // kept open for standard input only
};

// Opens and checks one input: readable, a rate at which at least one selected
// family can run, the channel asked for. Returns null with *error set otherwise.
std::unique_ptr<AudioFileInput> OpenChecked(const std::string& path, const Options& o,
                                            const std::vector<Family>& selected, RatePlan* plan,
                                            std::string* error) {
    auto in = std::make_unique<AudioFileInput>();
    if (!in->Open(path, error)) return nullptr;
    *plan = PlanForRate(in->SampleRate(), selected);
    if (plan->families.empty()) {
        *error = NothingToDecode(*plan, {kTesk2, kTesk6, kZelt});
        return nullptr;
    }
    if (o.channel >= in->Channels()) {
        *error = "has no channel " + std::to_string(o.channel) + " (channels 0 to " +
                 std::to_string(in->Channels() - 1) + ")";
        return nullptr;
    }
    return in;
}

// Decodes one checked input: its header on standard error, then its codes and
// summary. `headerDone` runs after the header is written (a worker moves its
// standard error there). Returns 0 or kExitInput.
int RunJob(Job& job, const Options& o, const std::vector<Family>& selected,
           void (*headerDone)()) {
    std::string error;
    RatePlan plan;
    std::unique_ptr<AudioFileInput> in = std::move(job.input);
    if (!in) in = OpenChecked(job.path, o, selected, &plan, &error);
    else plan = PlanForRate(in->SampleRate(), selected);
    if (!in) {
        std::fprintf(stderr, "tavikdecode: %s: %s\n", job.path.c_str(), error.c_str());
        if (headerDone != nullptr) headerDone();
        return kExitInput;
    }
    PrintFileHeader(*in, plan);
    if (headerDone != nullptr) headerDone();
    CFileReport report(stdout);
    return DecodeFile(*in, o, plan, report);
}

// A worker's output, kept in memory files until the files before it are out.
struct Worker {
    pid_t pid = -1;
    int head = -1, out = -1, err = -1;  // header lines, standard output, the rest of stderr
    int status = -1;                     // exit status once finished (-1: running)
    bool finished = false;
};

int MemoryFile(const char* name) {
    const int fd = memfd_create(name, MFD_CLOEXEC);
    if (fd < 0) {
        std::perror("tavikdecode: memfd_create");
        std::exit(kExitInput);
    }
    return fd;
}

// Writes all of `size` bytes to `fd`; false when the output is gone.
bool WriteAll(int fd, const char* data, size_t size) {
    for (size_t done = 0; done < size;) {
        const ssize_t w = write(fd, data + done, size - done);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        done += static_cast<size_t>(w);
    }
    return true;
}

// Copies a memory file to `to` from its start and closes it.
void Drain(int fd, int to) {
    char buffer[65536];
    lseek(fd, 0, SEEK_SET);
    for (;;) {
        const ssize_t n = read(fd, buffer, sizeof buffer);
        if (n <= 0) break;
        if (!WriteAll(to, buffer, static_cast<size_t>(n))) std::exit(kExitInput);
    }
    close(fd);
}

int g_workerErr = -1;  // the worker's memory file for standard error after its header
void MoveStderrToRest() {
    std::fflush(stderr);
    dup2(g_workerErr, STDERR_FILENO);
}

// Decodes the jobs in up to o.jobs worker processes at once. Each worker
// decodes one file with process state of its own (report switches, callback
// numbering and host rings are process-wide in the library) and writes into
// memory files; the files' outputs are written out whole and in input order,
// so standard output is byte for byte what a sequential run prints. As in a
// sequential run, the first file that fails ends the run after its output.
int RunWorkers(std::vector<Job>& jobs, const Options& o, const std::vector<Family>& selected) {
    std::vector<Worker> workers(jobs.size());
    const pid_t parent = getpid();
    size_t next = 0, printed = 0, running = 0;
    auto start = [&](size_t i) {
        Worker& w = workers[i];
        w.head = MemoryFile("head");
        w.out = MemoryFile("out");
        w.err = MemoryFile("err");
        std::fflush(nullptr);
        w.pid = fork();
        if (w.pid < 0) {
            std::perror("tavikdecode: fork");
            std::exit(kExitInput);
        }
        if (w.pid == 0) {
            // A worker ends with its parent (an interrupted or failed run).
            prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (getppid() != parent) _exit(kExitInput);
            dup2(w.out, STDOUT_FILENO);
            dup2(w.head, STDERR_FILENO);
            g_workerErr = w.err;
            const int status = RunJob(jobs[i], o, selected, MoveStderrToRest);
            std::fflush(nullptr);
            _exit(status);
        }
        jobs[i].input.reset();  // the worker reads it now
        ++running;
    };
    auto stopAll = [&]() {
        for (Worker& w : workers)
            if (w.pid > 0 && !w.finished) kill(w.pid, SIGKILL);
        for (Worker& w : workers)
            if (w.pid > 0 && !w.finished) waitpid(w.pid, nullptr, 0), w.finished = true;
    };
    // Finished files wait for the ones before them; at most this many files
    // are started ahead of the first one not yet written out.
    const size_t window = static_cast<size_t>(o.jobs) * 8;
    while (printed < jobs.size()) {
        while (running < static_cast<size_t>(o.jobs) && next < jobs.size() &&
               next < printed + window)
            start(next++);
        int raw = 0;
        const pid_t pid = waitpid(-1, &raw, 0);
        if (pid < 0) {
            if (errno == EINTR) continue;
            std::perror("tavikdecode: waitpid");
            stopAll();
            return kExitInput;
        }
        for (Worker& w : workers) {
            if (w.pid != pid || w.finished) continue;
            w.finished = true;
            --running;
            if (WIFEXITED(raw)) {
                w.status = WEXITSTATUS(raw);
            } else {
                w.status = kExitInput;
                const std::string line = "tavikdecode: " + jobs[&w - workers.data()].path +
                                         ": decoding process ended by signal " +
                                         std::to_string(WIFSIGNALED(raw) ? WTERMSIG(raw) : 0) +
                                         "\n";
                WriteAll(w.err, line.data(), line.size());
            }
        }
        // Everything finished in input order goes out now.
        while (printed < jobs.size() && workers[printed].finished) {
            Worker& w = workers[printed++];
            Drain(w.head, STDERR_FILENO);
            Drain(w.out, STDOUT_FILENO);
            Drain(w.err, STDERR_FILENO);
            if (w.status != 0) {
                stopAll();
                return w.status;
            }
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    const std::vector<Family> selected = SelectedFamilies(o);

    // Every input is opened and checked before anything is decoded, so a bad
    // file among several leaves standard output empty.
    std::vector<Job> jobs;
    for (const auto& path : o.inputs) {
        std::string error;
        RatePlan plan;
        Job job{path, OpenChecked(path, o, selected, &plan, &error)};
        if (!job.input) {
            std::fprintf(stderr, "tavikdecode: %s: %s\n", path.c_str(), error.c_str());
            return kExitInput;
        }
        if (!job.input->IsStdin()) job.input.reset();
        jobs.push_back(std::move(job));
    }

    // The host's switches, as setConfiguration would set them from the mode word.
    ReportT2 = o.tesk2;
    ReportTw = o.tesk6;
    ReportZelt = o.zelt;
    bT2RawOutput = bTwRawOutput = bZeltRawOutput = o.raw;

    if (o.jobs > 1 && jobs.size() > 1) return RunWorkers(jobs, o, selected);
    for (Job& job : jobs) {
        const int status = RunJob(job, o, selected, nullptr);
        if (status != 0) return status;
    }
    return 0;
}
