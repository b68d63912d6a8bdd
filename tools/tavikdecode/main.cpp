// tavikdecode: decodes watermarks from audio files through the same meter,
// decoder factories and report callbacks as the live decoder, and prints every
// code a host would receive as one JSON line on standard output.
#include <sys/stat.h>
#include <unistd.h>

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
    std::vector<std::string> inputs;
};

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

std::string ParametersDocument(const Options& o) {
    int mask = 0;
    if (o.tesk2) mask |= Parameter::kTesk2Filtered;
    if (o.tesk6) mask |= Parameter::kTesk6Filtered;
    if (o.zelt) mask |= Parameter::kZeltFiltered;
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

// Checks that every selected decoder accepts the input rate, the same test the
// meter's construction makes; returns the refusal text otherwise.
bool RateAccepted(int rate, const std::vector<Family>& families, std::string* error) {
    WatermarkAudioConsumerFactoryImplementation factory;
    for (const auto& f : families) {
        try {
            factory.make(f.key, rate);
        } catch (const std::exception& e) {
            *error = "sample rate " + std::to_string(rate) + " Hz is not supported by the " +
                     f.display + " decoder (" + e.what() +
                     "); leave the family out with --families";
            return false;
        }
    }
    return true;
}

// Decodes one opened input; returns 0 or kExitInput.
int DecodeFile(AudioFileInput& in, const Options& o, const std::vector<Family>& families,
               CFileReport& report) {
    const std::string name = BaseName(in.Path());
    const int channels = in.Channels();
    const int rate = in.SampleRate();
    std::fprintf(stderr, "tavikdecode: %s: %s", in.Path().c_str(), in.Description().c_str());
    if (in.Frames() >= 0) std::fprintf(stderr, ", %.1f s", static_cast<double>(in.Frames()) / rate);
    std::fputc('\n', stderr);

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
            &config, name.c_str(), &format, ParametersDocument(o),
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

}  // namespace

int main(int argc, char** argv) {
    const Options o = ParseOptions(argc, argv);
    const std::vector<Family> families = SelectedFamilies(o);

    // Every input is opened and checked before anything is decoded, so a bad
    // file among several leaves standard output empty.
    std::vector<std::unique_ptr<AudioFileInput>> inputs;
    for (const auto& path : o.inputs) {
        auto in = std::make_unique<AudioFileInput>();
        std::string error;
        if (!in->Open(path, &error) || !RateAccepted(in->SampleRate(), families, &error)) {
            std::fprintf(stderr, "tavikdecode: %s: %s\n", path.c_str(), error.c_str());
            return kExitInput;
        }
        if (o.channel >= in->Channels()) {
            std::fprintf(stderr, "tavikdecode: %s: has no channel %d (channels 0 to %d)\n",
                         path.c_str(), o.channel, in->Channels() - 1);
            return kExitInput;
        }
        inputs.push_back(std::move(in));
    }

    // The host's switches, as setConfiguration would set them from the mode word.
    ReportT2 = o.tesk2;
    ReportTw = o.tesk6;
    ReportZelt = o.zelt;
    bT2RawOutput = bTwRawOutput = bZeltRawOutput = o.raw;

    CFileReport report(stdout);
    for (auto& in : inputs) {
        const int status = DecodeFile(*in, o, families, report);
        if (status != 0) return status;
        in.reset();  // closes the file
    }
    return 0;
}
