// Live decoding end to end, without sound hardware: a PulseAudio server of its
// own (null sink, its monitor as the default source) plays a generated,
// watermarked 48 kHz stereo file in real time while the reference host program
// (tools/tavikhost) runs libtavik3.so against the default capture device.
// PortAudio reaches the server through ALSA's pulse plugin.
//
// Needs root (the server is started for the test) and the pulseaudio and
// pulseaudio-utils packages; skipped otherwise.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <signal.h>
#include <sndfile.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"
#include "timebase/TeskTime.h"

extern char** environ;

using namespace Kelvane::Generators;

namespace {

constexpr double kAudioSeconds = 30.0;
constexpr double kQuietFrom = 22.0;      // the last part is played 20 dB quieter
constexpr double kReconfigureAt = 12.0;  // seconds after the host's configuration
constexpr double kRatioDb = -15.0;
constexpr double kHostRms[2] = {0.1, 0.05};  // left, right

// What each channel carries.
constexpr uint16_t kTesk6Sid = 0x1234;     // left
constexpr uint16_t kZeltLeftId = 0x1235;   // left, layer 1
constexpr uint16_t kTesk2Sid = 0x5A3C;     // right
constexpr uint16_t kZeltRightId = 0xA3F7;  // right, layer 2

double WallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

bool Executable(const std::string& path) { return access(path.c_str(), X_OK) == 0; }

std::string FindProgram(const char* name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path != nullptr ? path : "/usr/bin:/bin");
    std::string dir;
    while (std::getline(dirs, dir, ':')) {
        const std::string candidate = dir + "/" + name;
        if (Executable(candidate)) {
            return candidate;
        }
    }
    return "";
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    std::string line;
    while (std::getline(s, line)) {
        lines.push_back(line);
    }
    return lines;
}

// Starts `args` with standard output and error in the given files (empty: inherit).
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (!out.empty()) {
        posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    if (!err.empty()) {
        posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
    }
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) {
        pid = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunProgram(const std::vector<std::string>& args, const std::string& out = "/dev/null",
               const std::string& err = "/dev/null") {
    const pid_t pid = Spawn(args, out, err);
    return pid < 0 ? -1 : Wait(pid);
}

// Waits until `path` contains `text` (or `seconds` pass).
bool WaitForText(const std::string& path, const std::string& text, double seconds) {
    const double until = WallNow() + seconds;
    while (WallNow() < until) {
        if (ReadFile(path).find(text) != std::string::npos) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

std::string TempDir() {
    char pattern[] = "/tmp/tavik-live-XXXXXX";
    const char* dir = mkdtemp(pattern);
    return dir != nullptr ? dir : "";
}

// Everything one test needs: binaries, a private runtime folder, and the
// PulseAudio server it starts and stops.
class LivePulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to start a private PulseAudio server";
        }
        pulseaudio_ = FindProgram("pulseaudio");
        pactl_ = FindProgram("pactl");
        paplay_ = FindProgram("paplay");
        if (pulseaudio_.empty() || pactl_.empty() || paplay_.empty()) {
            GTEST_SKIP() << "pulseaudio or pulseaudio-utils is not installed";
        }
        host_ = TAVIK_HOST_PROGRAM;
        library_ = TAVIK_LIBRARY_FILE;
        ASSERT_TRUE(Executable(host_)) << host_ << " is not built";
        ASSERT_EQ(access(library_.c_str(), R_OK), 0) << library_ << " is not built";

        dir_ = TempDir();
        ASSERT_FALSE(dir_.empty());
        // The server, its clients and the ALSA pulse plugin all find each other
        // through this folder; nothing of the machine's own session is used.
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("HOME", dir_.c_str(), 1);
        unsetenv("PULSE_SERVER");
        // Clients must never start a server of their own.
        const std::string clientConf = dir_ + "/client.conf";
        std::ofstream(clientConf) << "autospawn = no\n";
        setenv("PULSE_CLIENTCONFIG", clientConf.c_str(), 1);
    }

    void TearDown() override {
        StopServer();
        if (!dir_.empty()) {
            RunProgram({"/bin/rm", "-rf", dir_});
        }
    }

    void StartServer() {
        const int rc = RunProgram({pulseaudio_, "-D", "--exit-idle-time=-1", "--disallow-exit",
                                   "-n", "--use-pid-file=yes",
                                   "--load=module-null-sink sink_name=tavik rate=48000 channels=2 "
                                   "format=s16le",
                                   "--load=module-native-protocol-unix"},
                                  "/dev/null", dir_ + "/pulseaudio.log");
        ASSERT_EQ(rc, 0) << ReadFile(dir_ + "/pulseaudio.log");
        const double until = WallNow() + 10;
        while (WallNow() < until && serverPid_ <= 0) {
            serverPid_ = std::atoi(ReadFile(dir_ + "/pulse/pid").c_str());
            if (serverPid_ <= 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
        }
        ASSERT_GT(serverPid_, 0) << "no pid file";
        ASSERT_EQ(RunProgram({pactl_, "info"}), 0);
        ASSERT_EQ(RunProgram({pactl_, "set-default-source", "tavik.monitor"}), 0);
        ASSERT_EQ(RunProgram({pactl_, "set-default-sink", "tavik"}), 0);
    }

    void StopServer() {
        if (serverPid_ <= 0) {
            return;
        }
        kill(serverPid_, SIGTERM);
        for (int i = 0; i < 100 && kill(serverPid_, 0) == 0; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        if (kill(serverPid_, 0) == 0) {
            kill(serverPid_, SIGKILL);
        }
        serverPid_ = -1;
    }

    std::string pulseaudio_, pactl_, paplay_, host_, library_, dir_;
    pid_t serverPid_ = -1;
};

// ---------------------------------------------------------------------------
// The played file.

struct Played {
    std::vector<Tesk6Emission> tesk6;  // left
    std::vector<Tesk2Emission> tesk2;  // right
};

Played WriteWatermarkedFile(const std::string& path, uint32_t now) {
    const size_t frames = static_cast<size_t>(kAudioSeconds * 48000);
    Played played;

    Tesk6Generator t6(48000);
    Tesk6Message m6;
    m6.kind = Tesk6Kind::ProgramStandard;
    m6.sid = kTesk6Sid;
    uint8_t dst = 0;
    m6.timestamp = PosixToTesk6(now, &dst);
    m6.dst = dst != 0;
    t6.Add(m6);
    played.tesk6 = t6.Schedule(kAudioSeconds);

    Tesk2Generator t2(48000);
    Tesk2Message m2;
    m2.kind = Tesk2Kind::ProgramStandard;
    m2.sid = kTesk2Sid;
    m2.timestamp = PosixToTesk2(now);
    t2.Add(m2);
    played.tesk2 = t2.Schedule(kAudioSeconds);

    const uint32_t minute = ZeltGenerator::MinuteOfPosixTime(now);
    ZeltGenerator zl(48000);
    zl.AddProgram(1, kZeltLeftId, minute);
    ZeltGenerator zr(48000);
    zr.AddProgram(2, kZeltRightId, minute);

    std::vector<float> wm[2] = {t6.Synthesize(kAudioSeconds), t2.Synthesize(kAudioSeconds)};
    const std::vector<float> zelt[2] = {zl.Render(kAudioSeconds, 0.05),
                                        zr.Render(kAudioSeconds, 0.05)};
    std::vector<int16_t> pcm[2];
    for (int ch = 0; ch < 2; ++ch) {
        wm[ch].resize(frames, 0.0f);
        for (size_t i = 0; i < frames && i < zelt[ch].size(); ++i) {
            wm[ch][i] += zelt[ch][i];
        }
        const std::vector<float> host =
            SignalMix::MakeHost(HostKind::PinkNoise, frames, kHostRms[ch], 7 + ch);
        std::vector<float> mixed = SignalMix::Mix(wm[ch], host, kRatioDb);
        for (size_t i = static_cast<size_t>(kQuietFrom * 48000); i < mixed.size(); ++i) {
            mixed[i] *= 0.1f;
        }
        pcm[ch] = SignalMix::ToInt16(mixed);
    }
    const std::vector<int16_t> stereo = SignalMix::Interleave({pcm[0], pcm[1]});

    SF_INFO info{};
    info.samplerate = 48000;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (file != nullptr) {
        EXPECT_EQ(sf_writef_short(file, stereo.data(), static_cast<sf_count_t>(frames)),
                  static_cast<sf_count_t>(frames));
        sf_close(file);
    }
    return played;
}

// ---------------------------------------------------------------------------
// What the host printed.

struct Code {
    double time;
    unsigned channel;
    std::string family;  // "TESK6", "TESK2", "ZELT"
    std::string id;      // sid as decimal (TESK) or the ZELT id text
    int layer = 0;       // ZELT layer
    std::string line;    // as printed
};

std::vector<Code> ParseCodes(const std::string& stdoutText) {
    std::vector<Code> codes;
    for (const std::string& line : Lines(stdoutText)) {
        rapidjson::Document d;
        d.Parse(line.c_str());
        if (d.HasParseError() || !d.IsObject() || !d.HasMember("code")) {
            ADD_FAILURE() << "not a code line: " << line;
            continue;
        }
        Code c;
        c.line = line;
        c.time = d["time"].GetDouble();
        c.channel = d["channel"].GetUint();
        const auto& code = d["code"];
        for (const char* family : {"TESK6", "TESK2", "ZELT"}) {
            if (!code.HasMember(family)) {
                continue;
            }
            const auto& body = code[family];
            c.family = family;
            if (body.HasMember("sid") && body["sid"].IsUint()) {
                c.id = std::to_string(body["sid"].GetUint());
            }
            if (body.HasMember("id") && body["id"].IsString()) {
                c.id = body["id"].GetString();
            }
            if (body.HasMember("layer") && body["layer"].IsInt()) {
                c.layer = body["layer"].GetInt();
            }
        }
        codes.push_back(c);
    }
    return codes;
}

std::vector<std::string> Diagnostics(const std::string& stderrText) {
    std::vector<std::string> diags;
    for (const std::string& line : Lines(stderrText)) {
        if (line.rfind("diag: ", 0) == 0) {
            diags.push_back(line.substr(6));
        }
    }
    return diags;
}

// Position of the first diagnostic at or after `from` that contains `text`,
// or -1.
int Find(const std::vector<std::string>& diags, const std::string& text, int from = 0) {
    for (int i = from; i < static_cast<int>(diags.size()); ++i) {
        if (diags[i].find(text) != std::string::npos) {
            return i;
        }
    }
    return -1;
}

// Average levels of one channel from the host's meter lines, in order.
std::vector<int> AverageLevels(const std::string& stderrText, int channel) {
    std::vector<int> levels;
    const std::string key = " " + std::to_string(channel) + ":";
    for (const std::string& line : Lines(stderrText)) {
        if (line.rfind("levels:", 0) != 0) {
            continue;
        }
        const size_t at = line.find(key);
        if (at != std::string::npos) {
            levels.push_back(std::atoi(line.c_str() + at + key.size()));
        }
    }
    return levels;
}

// Seconds from the end of the latest emission (audio time) that ended before
// `arrival` to `arrival`; negative when none had ended.
template <typename Emission>
double Latency(const std::vector<Emission>& emissions, double playStart, double arrival) {
    double latestEnd = -1;
    for (const Emission& e : emissions) {
        const double end = playStart + e.endSeconds;
        if (end <= arrival && end > latestEnd) {
            latestEnd = end;
        }
    }
    return latestEnd < 0 ? -1 : arrival - latestEnd;
}

int PulseDeviceNumber(const std::string& listing) {
    for (const std::string& line : Lines(listing)) {
        if (line.find(": pulse [") != std::string::npos) {
            return std::atoi(line.c_str());
        }
    }
    return -1;
}

TEST_F(LivePulse, PlayedCodesAndLevelsReachTheHostAcrossADeviceChange) {
    StartServer();
    if (HasFatalFailure()) {
        return;
    }
    const std::string listing = dir_ + "/devices.txt";
    ASSERT_EQ(RunProgram({host_, "--list-devices"}, listing, dir_ + "/devices.err"), 0);
    const int pulseDevice = PulseDeviceNumber(ReadFile(listing));
    ASSERT_GE(pulseDevice, 0) << "PortAudio lists no pulse device:\n" << ReadFile(listing);

    const std::string wav = dir_ + "/played.wav";
    const Played played = WriteWatermarkedFile(wav, static_cast<uint32_t>(std::time(nullptr)));

    // All families, filtered display, two channels from the default device; a
    // device change to the pulse device (the same source) part-way through.
    const std::string out = dir_ + "/host.out";
    const std::string err = dir_ + "/host.err";
    const pid_t host =
        Spawn({host_, "--library", library_, "--families", "all", "--channels", "2", "--devices",
               "default,off,off", "--reconfigure",
               std::to_string(kReconfigureAt) + ":" + std::to_string(pulseDevice) + ",off,off",
               "--duration", "90"},
              out, err);
    ASSERT_GT(host, 0);
    const bool started = WaitForText(err, "Start detecting audio codes.", 30);
    double playStart = 0;
    int playRc = -1;
    if (started) {
        playStart = WallNow();
        playRc = RunProgram({paplay_, "--device=tavik", wav}, "/dev/null", dir_ + "/paplay.err");
        std::this_thread::sleep_for(std::chrono::seconds(2));  // let the last reports drain
    }
    kill(host, SIGTERM);
    EXPECT_EQ(Wait(host), 0) << ReadFile(err);
    ASSERT_TRUE(started) << ReadFile(err);
    ASSERT_EQ(playRc, 0) << ReadFile(dir_ + "/paplay.err");
    const double playEnd = WallNow();

    const std::string errText = ReadFile(err);
    const std::vector<std::string> diags = Diagnostics(errText);

    // Start-up diagnostics, in order.
    int at = 0;
    for (const char* text :
         {"Begin DecodeAudio", "Tavik3 line in decoder build version 0.1.0.6.",
          "Request to update to 2,2,-1,-99,-99 configuration",
          "Decoding TESK2, TESK6 and ZELT codes", "Filtered code display selected",
          "Kelvane Audio SDK, version 6.0.16", "Audio Consumer Manager version: 6.0.16",
          "Attempting to open sound card.",
          "PortAudio version number = ", "Sound card successfully opened.", "Selected input is ",
          "Built on Kelvane Audio SDK, version 6.0.16", "Begin sampling audio",
          "Start detecting audio codes."}) {
        const int found = Find(diags, text, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << text << "\n" << errText;
        at = found + 1;
    }
    // The device change: request, update, stop, description, restart.
    const std::string device = std::to_string(pulseDevice);
    at = Find(diags, "Request to update to 2,2," + device + ",-99,-99 configuration", at);
    ASSERT_GE(at, 0) << errText;
    for (const std::string& text :
         {"Updating L and R sound card settings to " + device + " device",
          std::string("Stream 0 stopped"), "Selected input is " + device + " (pulse, ALSA",
          std::string("Stream 0 restarted")}) {
        const int found = Find(diags, text, at);
        ASSERT_GE(found, 0) << "missing or out of order: " << text << "\n" << errText;
        at = found + 1;
    }
    EXPECT_EQ(Find(diags, "Critical error"), -1) << errText;

    // Codes: each family's message on its own channel, none on the other, and
    // decoding goes on after the device change.
    const std::vector<Code> codes = ParseCodes(ReadFile(out));
    const double reconfiguredBy = playStart + kReconfigureAt + 1.0;
    int found[4] = {0, 0, 0, 0};  // TESK6 left, ZELT left, TESK2 right, ZELT right
    int afterChange[2] = {0, 0};
    int foreign = 0;
    std::vector<double> latencies;
    char zeltLeft[16];
    char zeltRight[16];
    std::snprintf(zeltLeft, sizeof zeltLeft, "0x%04x", kZeltLeftId);
    std::snprintf(zeltRight, sizeof zeltRight, "0x%04x", kZeltRightId);
    for (const Code& c : codes) {
        EXPECT_GE(c.time, playStart);
        EXPECT_LE(c.time, playEnd + 1);
        if (c.channel == 0 && c.family == "TESK6" && c.id == std::to_string(kTesk6Sid)) {
            ++found[0];
            latencies.push_back(Latency(played.tesk6, playStart, c.time));
        } else if (c.channel == 0 && c.family == "ZELT" && c.id == zeltLeft && c.layer == 1) {
            ++found[1];
        } else if (c.channel == 1 && c.family == "TESK2" && c.id == std::to_string(kTesk2Sid)) {
            ++found[2];
            latencies.push_back(Latency(played.tesk2, playStart, c.time));
        } else if (c.channel == 1 && c.family == "ZELT" && c.id == zeltRight && c.layer == 2) {
            ++found[3];
        } else {
            // A code of the other channel here means the channels are crossed.
            const bool crossed =
                (c.channel == 0 && ((c.family == "TESK2" && c.id == std::to_string(kTesk2Sid)) ||
                                    (c.family == "ZELT" && c.id == zeltRight))) ||
                (c.channel == 1 && ((c.family == "TESK6" && c.id == std::to_string(kTesk6Sid)) ||
                                    (c.family == "ZELT" && c.id == zeltLeft))) ||
                c.channel > 1;
            EXPECT_FALSE(crossed) << "code on the wrong channel: " << c.line;
            // Anything else is a misreading by a decoder (they occur, rarely,
            // when watermarks of several families share a channel, with or
            // without the live path); it is shown, and must stay rare.
            std::cout << "foreign code at " << c.time - playStart << " s: " << c.line << "\n";
            ++foreign;
            continue;
        }
        if (c.time > reconfiguredBy) {
            ++afterChange[c.channel];
        }
    }
    EXPECT_GE(found[0], 1) << "TESK 6 on the left channel";
    EXPECT_GE(found[1], 1) << "ZELT on the left channel";
    EXPECT_GE(found[2], 1) << "TESK 2 on the right channel";
    EXPECT_GE(found[3], 1) << "ZELT on the right channel";
    EXPECT_LE(foreign * 4, found[0] + found[1] + found[2] + found[3]) << "too many misreadings";
    EXPECT_GE(afterChange[0], 1) << "left channel after the device change";
    EXPECT_GE(afterChange[1], 1) << "right channel after the device change";
    // How long after the end of a message in the played audio its report
    // reached the host (filtered display: a report may also confirm an earlier
    // repetition, so this is a figure to watch, not a bound).
    std::string latencyList;
    for (double l : latencies) {
        EXPECT_GE(l, 0.0);
        latencyList += std::to_string(static_cast<int>(l * 1000)) + " ";
    }
    RecordProperty("latency_ms", latencyList);
    std::cout << "latencies (ms): " << latencyList << "\n";

    // Levels: the played level per channel (pink noise at RMS 0.1 and 0.05 give
    // about -50 and -64 on the meter's natural-log scale), then 20 dB quieter
    // (about 46 lower), then the silence after the file.
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<int> levels = AverageLevels(errText, ch);
        ASSERT_GT(levels.size(), 20u) << errText;
        const double loud = 20.0 * std::log(kHostRms[ch] * 0.8 * 1.0);  // mean |x| of noise
        const double quiet = loud - 20.0 * std::log(10.0);
        int firstLoud = -1;
        int firstQuiet = -1;
        for (int i = 0; i < static_cast<int>(levels.size()); ++i) {
            if (firstLoud < 0 && std::fabs(levels[i] - loud) <= 8) {
                firstLoud = i;
            }
            if (firstLoud >= 0 && firstQuiet < 0 && std::fabs(levels[i] - quiet) <= 8) {
                firstQuiet = i;
            }
        }
        EXPECT_GE(firstLoud, 0) << "channel " << ch << " never near " << loud;
        EXPECT_GT(firstQuiet, firstLoud)
            << "channel " << ch << " never near " << quiet << " after the loud part";
    }
}

TEST_F(LivePulse, WithoutASoundServerTheDecoderReportsAndKeepsRunning) {
    // No server: the pulse plugin finds nothing to connect to.
    const std::string out = dir_ + "/host.out";
    const std::string err = dir_ + "/host.err";
    const pid_t host =
        Spawn({host_, "--library", library_, "--channels", "2", "--duration", "30"}, out, err);
    ASSERT_GT(host, 0);
    const bool timedOut = WaitForText(err, "Critical error, timout waiting for audio receive", 25);
    kill(host, SIGTERM);
    // Exit status 0: the decoder thread was still running when the host stopped.
    EXPECT_EQ(Wait(host), 0) << ReadFile(err);
    const std::string errText = ReadFile(err);
    EXPECT_TRUE(timedOut) << errText;
    const std::vector<std::string> diags = Diagnostics(errText);
    const int attempt = Find(diags, "Attempting to open sound card.");
    ASSERT_GE(attempt, 0) << errText;
    const int noDevices = Find(diags, "No audio devices found.", attempt);
    const int notOpened = Find(diags, "Not able to open sound card.", attempt);
    EXPECT_TRUE(noDevices >= 0 || notOpened >= 0) << errText;
    EXPECT_EQ(Find(diags, "Sound card successfully opened."), -1) << errText;
    const int start = Find(diags, "Start detecting audio codes.", attempt);
    EXPECT_GE(start, 0) << errText;
    EXPECT_GE(Find(diags,
                   "Critical error, timout waiting for audio receive semaphore.Close and "
                   "re - open audio system.",
                   start),
              0)
        << errText;
    EXPECT_TRUE(ReadFile(out).empty());
}

}  // namespace
