// tavikhost: reference host program for libtavik3.so.
//
// It loads the library with dlopen, resolves the five host functions by their
// symbol names (nothing else), runs startDecoding on a thread of its own, sends
// a configuration built from its options and then polls the library:
//   standard output  one JSON line per detection:
//                    {"time":<POSIX seconds>,"channel":<n>,"code":{...detection...}}
//   standard error   diagnostics, one per line, as "diag: <text>" (line breaks
//                    inside a diagnostic become spaces), and at most twice a
//                    second a meter line "levels: <ch>:<average>/<peak> ..."
//                    with the channels that reported since the last line.
// Whatever the library itself prints on standard output goes to standard error,
// so standard output carries only detection lines.
#include <dlfcn.h>
#include <link.h>
#include <portaudio.h>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kChannels = 6;
constexpr int kDeviceDefault = -1;
constexpr int kDeviceOff = -99;
constexpr double kLevelInterval = 0.5;  // seconds between meter lines
constexpr auto kPollInterval = std::chrono::milliseconds(10);

using StartDecodingFn = int (*)(int, char**);
using SetConfigurationFn = int (*)(char*);
using GetAudioCodesFn = int (*)(unsigned int, char*, unsigned int);
using GetAudioLevelsFn = int (*)(unsigned int, int*, int*);
using GetDiagMessageFn = int (*)(char*, unsigned int);

struct Options {
    int families = 2;  // 0 TESK 2 + TESK 6, 1 ZELT, 2 all three
    bool raw = false;
    int channels = 2;
    int devices[3] = {kDeviceDefault, kDeviceOff, kDeviceOff};
    double duration = 0;  // 0: run until interrupted
    double reconfigureAt = -1;
    int reconfigureDevices[3] = {0, 0, 0};
    std::string library;
    bool listDevices = false;
    bool showLibrary = false;
};

void Usage(FILE* to) {
    std::fputs(
        "Usage: tavikhost [options]\n"
        "Decodes live audio with libtavik3.so and prints what it reports.\n"
        "\n"
        "  --families tesk|zelt|all  code families to report (default all)\n"
        "  --raw                     raw code display (every detection, unfiltered)\n"
        "  --filtered                filtered code display (default)\n"
        "  --channels N              audio channels to decode, 0..6 (default 2);\n"
        "                            one stereo device per two channels\n"
        "  --devices A,B,C           device numbers of the L/R, C/LFE and Ls/Rs pairs;\n"
        "                            each a number, 'default' or 'off'\n"
        "                            (default: default,off,off)\n"
        "  --device-lr D, --device-clfe D, --device-lsrs D\n"
        "                            one pair's device, as above\n"
        "  --reconfigure SECONDS:A,B,C\n"
        "                            SECONDS after the first configuration, send one with\n"
        "                            these devices\n"
        "  --duration SECONDS        stop after SECONDS (default: until interrupted)\n"
        "  --library PATH            the library to load (default: the one installed\n"
        "                            beside this program, else libtavik3.so.3 from the\n"
        "                            loader's search path, else the build tree's)\n"
        "  --show-library            print the path of the library that would be loaded\n"
        "                            and exit\n"
        "  --list-devices            list the input devices PortAudio sees and exit\n"
        "  --help                    this text\n"
        "\n"
        "Standard output: one JSON line per detection,\n"
        "  {\"time\":<POSIX seconds>,\"channel\":<n>,\"code\":{...}}\n"
        "Standard error: \"diag: <text>\" per diagnostic and, at most twice a second,\n"
        "  \"levels: <channel>:<average>/<peak> ...\".\n",
        to);
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "tavikhost: %s (see --help)\n", message.c_str());
    std::exit(2);
}

bool ParseInt(const std::string& text, long low, long high, int* out) {
    if (text.empty()) {
        return false;
    }
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) {
        return false;
    }
    *out = static_cast<int>(value);
    return true;
}

bool ParseSeconds(const std::string& text, double* out) {
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (text.empty() || errno != 0 || *end != '\0' || !(value >= 0) || value > 1e7) {
        return false;
    }
    *out = value;
    return true;
}

int ParseDevice(const std::string& text, const char* what) {
    if (text == "default") {
        return kDeviceDefault;
    }
    if (text == "off") {
        return kDeviceOff;
    }
    int value = 0;
    if (!ParseInt(text, 0, 32767, &value)) {
        Fail(std::string("bad device for ") + what + ": '" + text +
             "' (a device number, 'default' or 'off')");
    }
    return value;
}

void ParseDeviceList(const std::string& text, int out[3], const char* what) {
    std::string parts[3];
    int n = 0;
    for (char ch : text) {
        if (ch == ',') {
            if (++n > 2) {
                Fail(std::string("three devices expected for ") + what + ": '" + text + "'");
            }
        } else {
            parts[n] += ch;
        }
    }
    if (n != 2) {
        Fail(std::string("three devices expected for ") + what + ": '" + text + "'");
    }
    for (int i = 0; i < 3; ++i) {
        out[i] = ParseDevice(parts[i], what);
    }
}

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&](const char* name) -> std::string {
            if (i + 1 >= argc) {
                Fail(std::string("missing value for ") + name);
            }
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (arg == "--families") {
            const std::string v = value("--families");
            if (v == "tesk") {
                o.families = 0;
            } else if (v == "zelt") {
                o.families = 1;
            } else if (v == "all") {
                o.families = 2;
            } else {
                Fail("bad --families '" + v + "' (tesk, zelt or all)");
            }
        } else if (arg == "--raw") {
            o.raw = true;
        } else if (arg == "--filtered") {
            o.raw = false;
        } else if (arg == "--channels") {
            const std::string v = value("--channels");
            if (!ParseInt(v, 0, kChannels, &o.channels)) {
                Fail("bad --channels '" + v + "' (0..6)");
            }
        } else if (arg == "--devices") {
            ParseDeviceList(value("--devices"), o.devices, "--devices");
        } else if (arg == "--device-lr") {
            o.devices[0] = ParseDevice(value("--device-lr"), "--device-lr");
        } else if (arg == "--device-clfe") {
            o.devices[1] = ParseDevice(value("--device-clfe"), "--device-clfe");
        } else if (arg == "--device-lsrs") {
            o.devices[2] = ParseDevice(value("--device-lsrs"), "--device-lsrs");
        } else if (arg == "--duration") {
            const std::string v = value("--duration");
            if (!ParseSeconds(v, &o.duration) || o.duration == 0) {
                Fail("bad --duration '" + v + "' (seconds above 0)");
            }
        } else if (arg == "--reconfigure") {
            const std::string v = value("--reconfigure");
            const size_t colon = v.find(':');
            if (colon == std::string::npos || !ParseSeconds(v.substr(0, colon), &o.reconfigureAt)) {
                Fail("bad --reconfigure '" + v + "' (SECONDS:A,B,C)");
            }
            ParseDeviceList(v.substr(colon + 1), o.reconfigureDevices, "--reconfigure");
        } else if (arg == "--library") {
            o.library = value("--library");
        } else if (arg == "--list-devices") {
            o.listDevices = true;
        } else if (arg == "--show-library") {
            o.showLibrary = true;
        } else {
            Fail("unknown option '" + arg + "'");
        }
    }
    return o;
}

int ListDevices() {
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
        std::fprintf(stderr, "tavikhost: PortAudio: %s\n", Pa_GetErrorText(err));
        return 1;
    }
    const int count = Pa_GetDeviceCount();
    const PaDeviceIndex defaultInput = Pa_GetDefaultInputDevice();
    int inputs = 0;
    for (int i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info == nullptr || info->maxInputChannels <= 0) {
            continue;
        }
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        std::printf("%d: %s [%s] inputs=%d%s\n", i, info->name, api ? api->name : "?",
                    info->maxInputChannels, i == defaultInput ? " default" : "");
        ++inputs;
    }
    if (inputs == 0) {
        std::printf("no input devices\n");
    }
    std::fflush(stdout);
    Pa_Terminate();
    return 0;
}

volatile std::sig_atomic_t interrupted = 0;
void OnSignal(int) { interrupted = 1; }

double Now() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void PrintDiag(const char* text) {
    std::string line(text);
    size_t begin = line.find_first_not_of('\n');
    size_t end = line.find_last_not_of('\n');
    line = begin == std::string::npos ? std::string() : line.substr(begin, end - begin + 1);
    for (char& ch : line) {
        if (ch == '\n' || ch == '\r') {
            ch = ' ';
        }
    }
    std::fprintf(stderr, "diag: %s\n", line.c_str());
}

void PrintCode(FILE* out, unsigned channel, const char* text) {
    rapidjson::StringBuffer buffer;
    rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
    w.StartObject();
    w.Key("time");
    w.Double(static_cast<double>(static_cast<long long>(Now() * 1000.0)) / 1000.0);
    w.Key("channel");
    w.Uint(channel);
    rapidjson::Document code;
    code.Parse(text);
    if (!code.HasParseError()) {
        w.Key("code");
        code.Accept(w);
    } else {
        w.Key("text");  // not JSON (legacy report lines): pass the text on
        w.String(text);
    }
    w.EndObject();
    std::fprintf(out, "%s\n", buffer.GetString());
    std::fflush(out);
}

std::string ConfigurationText(const Options& o, const int devices[3]) {
    const int mode = o.families | (o.raw ? 4 : 0);
    return std::to_string(mode) + "," + std::to_string(o.channels) + "," +
           std::to_string(devices[0]) + "," + std::to_string(devices[1]) + "," +
           std::to_string(devices[2]);
}

// The folder of this program's own file (empty when it cannot be read).
std::string ProgramFolder() {
    char path[4096];
    const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
    if (n <= 0) {
        return std::string();
    }
    path[n] = '\0';
    std::string folder(path);
    const size_t slash = folder.find_last_of('/');
    return slash == std::string::npos ? std::string() : folder.substr(0, slash);
}

// Loads the library: the path given with --library; otherwise, in this order,
// the copy installed beside this program (<bin>/../lib/libtavik3.so.3 in an
// installed tree), the dynamic loader's search path (LD_LIBRARY_PATH, the
// system's folders), and the build tree the program was built in. Each failed
// attempt is appended to *tried as " <path>: <reason>".
void* LoadLibrary(const std::string& given, std::string* tried) {
    std::vector<std::string> candidates;
    if (!given.empty()) {
        candidates.push_back(given);
    } else {
#if defined(TAVIK_INSTALLED_LIBRARY_DIR) && defined(TAVIK_LIBRARY_SONAME)
        const std::string folder = ProgramFolder();
        if (!folder.empty()) {
            const std::string beside =
                folder + "/" TAVIK_INSTALLED_LIBRARY_DIR "/" TAVIK_LIBRARY_SONAME;
            if (access(beside.c_str(), F_OK) == 0) {
                candidates.push_back(beside);
            }
        }
        candidates.push_back(TAVIK_LIBRARY_SONAME);
#endif
        candidates.push_back("libtavik3.so");
#ifdef TAVIK_DEFAULT_LIBRARY
        candidates.push_back(TAVIK_DEFAULT_LIBRARY);
#endif
    }
    for (const std::string& path : candidates) {
        void* lib = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (lib != nullptr) {
            return lib;
        }
        const char* why = dlerror();
        *tried += "\n  " + (why != nullptr ? std::string(why) : path);
    }
    return nullptr;
}

// The file the dynamic loader loaded for `lib`.
std::string LoadedPath(void* lib) {
    struct link_map* map = nullptr;
    if (dlinfo(lib, RTLD_DI_LINKMAP, &map) != 0 || map == nullptr || map->l_name == nullptr) {
        return "?";
    }
    char resolved[4096];
    return realpath(map->l_name, resolved) != nullptr ? std::string(resolved) : map->l_name;
}

}  // namespace

int main(int argc, char** argv) {
    const Options options = ParseOptions(argc, argv);
    if (options.listDevices) {
        return ListDevices();
    }

    // Standard output carries only detection lines: keep it for them and send
    // the library's own standard output to standard error.
    std::fflush(stdout);
    const int codesFd = dup(STDOUT_FILENO);
    FILE* codes = codesFd >= 0 ? fdopen(codesFd, "w") : nullptr;
    if (codes == nullptr || dup2(STDERR_FILENO, STDOUT_FILENO) < 0) {
        std::perror("tavikhost: standard output");
        return 1;
    }

    std::string tried;
    void* lib = LoadLibrary(options.library, &tried);
    if (lib == nullptr) {
        std::fprintf(stderr, "tavikhost: cannot load the library:%s\n", tried.c_str());
        return 1;
    }
    // The host functions have C++ linkage; these are their symbol names.
    auto startDecoding = reinterpret_cast<StartDecodingFn>(dlsym(lib, "_Z13startDecodingiPPc"));
    auto setConfiguration =
        reinterpret_cast<SetConfigurationFn>(dlsym(lib, "_Z16setConfigurationPc"));
    auto getAudioCodes = reinterpret_cast<GetAudioCodesFn>(dlsym(lib, "_Z13getAudioCodesjPcj"));
    auto getAudioLevels = reinterpret_cast<GetAudioLevelsFn>(dlsym(lib, "_Z14getAudioLevelsjPiS_"));
    auto getDiagMessage = reinterpret_cast<GetDiagMessageFn>(dlsym(lib, "_Z14getDiagMessagePcj"));
    if (!startDecoding || !setConfiguration || !getAudioCodes || !getAudioLevels ||
        !getDiagMessage) {
        std::fprintf(stderr, "tavikhost: the library lacks one of the five host functions\n");
        return 1;
    }

    if (options.showLibrary) {
        std::fprintf(codes, "%s\n", LoadedPath(lib).c_str());
        std::fclose(codes);
        return 0;
    }

    std::signal(SIGINT, OnSignal);
    std::signal(SIGTERM, OnSignal);

    std::atomic<bool> decoderReturned{false};
    std::thread decoder([&] {
        static char name[] = "tavikhost";
        static char* args[] = {name, nullptr};
        startDecoding(1, args);
        decoderReturned = true;
    });
    decoder.detach();  // startDecoding does not come back while decoding runs

    // startDecoding clears the configured flag when it begins, so a configuration
    // sent before that would be forgotten: send it once the driver has said
    // "Begin DecodeAudio" (it then waits for the configuration).
    std::string configuration = ConfigurationText(options, options.devices);
    bool configured = false;

    const double start = Now();
    double configuredAt = 0;
    double lastLevels = start;
    bool reconfigured = false;
    int average[kChannels] = {};
    int peak[kChannels] = {};
    bool fresh[kChannels] = {};
    char text[4096];
    for (;;) {
        while (getDiagMessage(text, sizeof text) == 1) {
            PrintDiag(text);
            if (!configured && std::strstr(text, "Begin DecodeAudio") != nullptr) {
                setConfiguration(&configuration[0]);
                configured = true;
                configuredAt = Now();
            }
        }
        for (unsigned c = 0; c < kChannels; ++c) {
            while (getAudioCodes(c, text, sizeof text) == 1) {
                PrintCode(codes, c, text);
            }
            int a = 0;
            int p = 0;
            if (getAudioLevels(c, &a, &p) == 1) {
                average[c] = a;
                peak[c] = p;
                fresh[c] = true;
            }
        }
        const double now = Now();
        if (now - lastLevels >= kLevelInterval) {
            std::string line;
            for (int c = 0; c < kChannels; ++c) {
                if (fresh[c]) {
                    line += " " + std::to_string(c) + ":" + std::to_string(average[c]) + "/" +
                            std::to_string(peak[c]);
                    fresh[c] = false;
                }
            }
            if (!line.empty()) {
                std::fprintf(stderr, "levels:%s\n", line.c_str());
            }
            lastLevels = now;
        }
        if (configured && !reconfigured && options.reconfigureAt >= 0 &&
            now - configuredAt >= options.reconfigureAt) {
            configuration = ConfigurationText(options, options.reconfigureDevices);
            setConfiguration(&configuration[0]);
            reconfigured = true;
        }
        if (decoderReturned) {
            while (getDiagMessage(text, sizeof text) == 1) {
                PrintDiag(text);
            }
            std::fprintf(stderr, "tavikhost: the decoder stopped\n");
            std::fflush(nullptr);
            std::_Exit(1);
        }
        if (interrupted || (options.duration > 0 && now - start >= options.duration)) {
            break;
        }
        std::this_thread::sleep_for(kPollInterval);
    }
    std::fflush(nullptr);
    // The decoder thread never returns; end the process without running
    // destructors under its feet.
    std::_Exit(0);
}
