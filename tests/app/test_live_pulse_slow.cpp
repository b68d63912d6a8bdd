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
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "HostTestState.h"
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

// What each channel carries: TESK 6 and ZELT layer 1 on the left, TESK 2 and
// ZELT layer 2 on the right.
constexpr uint16_t kTesk6Sid = 0x1234, kZeltLeftId = 0x1235;
constexpr uint16_t kTesk2Sid = 0x5A3C, kZeltRightId = 0xA3F7;

double WallNow() {
    return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

std::string ReadFile(const std::string& path) {
    std::stringstream s;
    s << std::ifstream(path).rdbuf();
    return s.str();
}

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
}

// Starts `args` (the program found on PATH) with standard output and error in
// the given files.
pid_t Spawn(const std::vector<std::string>& args, const std::string& out, const std::string& err) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    const int flags = O_WRONLY | O_CREAT | O_TRUNC;
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), flags, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, err.c_str(), flags, 0644);
    std::vector<char*> argv;
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

int Wait(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid) return -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunProgram(const std::vector<std::string>& args, const std::string& out = "/dev/null",
               const std::string& err = "/dev/null") {
    const pid_t pid = Spawn(args, out, err);
    return pid < 0 ? -1 : Wait(pid);
}

// Waits until `path` contains `text` (or `seconds` pass).
bool WaitForText(const std::string& path, const std::string& text, double seconds) {
    for (const double until = WallNow() + seconds; WallNow() < until;) {
        if (ReadFile(path).find(text) != std::string::npos) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// The diagnostics the host printed on standard error ("diag: " lines).
std::vector<std::string> Diagnostics(const std::string& stderrText) {
    std::vector<std::string> diags;
    // The sound library writes its own complaints to the same standard error,
    // sometimes without a final newline, so a diagnostic may follow one on the
    // same line.
    for (const std::string& line : Lines(stderrText)) {
        const size_t at = line.find("diag: ");
        if (at != std::string::npos) diags.push_back(line.substr(at + 6));
    }
    return diags;
}

// Everything one test needs: binaries, a private runtime folder, and the
// PulseAudio server it starts and stops.
class LivePulse : public ::testing::Test {
protected:
    void SetUp() override {
        if (geteuid() != 0) GTEST_SKIP() << "needs root to start a private PulseAudio server";
        if (std::system("{ command -v pulseaudio && command -v pactl && command -v paplay; } "
                        ">/dev/null 2>&1") != 0) {
            GTEST_SKIP() << "pulseaudio or pulseaudio-utils is not installed";
        }
        ASSERT_EQ(access(host_.c_str(), X_OK), 0) << host_ << " is not built";
        ASSERT_EQ(access(library_.c_str(), R_OK), 0) << library_ << " is not built";
        char pattern[] = "/tmp/tavik-live-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        // The server, its clients and the ALSA pulse plugin all find each other
        // through this folder; nothing of the machine's own session is used.
        setenv("XDG_RUNTIME_DIR", dir_.c_str(), 1);
        setenv("HOME", dir_.c_str(), 1);
        unsetenv("PULSE_SERVER");
        // Clients must never start a server of their own.
        std::ofstream(dir_ + "/client.conf") << "autospawn = no\n";
        setenv("PULSE_CLIENTCONFIG", (dir_ + "/client.conf").c_str(), 1);
    }

    void TearDown() override {
        if (serverPid_ > 0) {  // stop the server this test started, by its process id
            kill(serverPid_, SIGTERM);
            for (int i = 0; i < 100 && kill(serverPid_, 0) == 0; ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
            }
            if (kill(serverPid_, 0) == 0) kill(serverPid_, SIGKILL);
        }
        if (!dir_.empty()) RunProgram({"rm", "-rf", dir_});
    }

    void StartServer() {
        const std::string log = dir_ + "/pulseaudio.log";
        ASSERT_EQ(RunProgram({"pulseaudio", "-D", "--exit-idle-time=-1", "--disallow-exit", "-n",
                              "--use-pid-file=yes",
                              "--load=module-null-sink sink_name=tavik rate=48000 channels=2 "
                              "format=s16le",
                              "--load=module-native-protocol-unix"},
                             "/dev/null", log),
                  0)
            << ReadFile(log);
        for (const double until = WallNow() + 10; WallNow() < until && serverPid_ <= 0;) {
            serverPid_ = std::atoi(ReadFile(dir_ + "/pulse/pid").c_str());
            if (serverPid_ <= 0) std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_GT(serverPid_, 0) << "no pid file";
        ASSERT_EQ(RunProgram({"pactl", "info"}), 0);
        ASSERT_EQ(RunProgram({"pactl", "set-default-source", "tavik.monitor"}), 0);
        ASSERT_EQ(RunProgram({"pactl", "set-default-sink", "tavik"}), 0);
    }

    std::string dir_;
    std::string host_ = TAVIK_HOST_PROGRAM, library_ = TAVIK_LIBRARY_FILE;
    pid_t serverPid_ = -1;
};

// Writes the played file; returns the end times (audio seconds) of the TESK 6
// messages on the left and the TESK 2 messages on the right.
void WriteWatermarkedFile(const std::string& path, uint32_t now, std::vector<double> ends[2]) {
    const size_t frames = static_cast<size_t>(kAudioSeconds * 48000);
    Tesk6Generator t6(48000);
    Tesk6Message m6;
    m6.kind = Tesk6Kind::ProgramStandard;
    m6.sid = kTesk6Sid;
    uint8_t dst = 0;
    m6.timestamp = PosixToTesk6(now, &dst);
    m6.dst = dst != 0;
    t6.Add(m6);
    Tesk2Generator t2(48000);
    Tesk2Message m2;
    m2.kind = Tesk2Kind::ProgramStandard;
    m2.sid = kTesk2Sid;
    m2.timestamp = PosixToTesk2(now);
    t2.Add(m2);
    for (const auto& e : t6.Schedule(kAudioSeconds)) ends[0].push_back(e.endSeconds);
    for (const auto& e : t2.Schedule(kAudioSeconds)) ends[1].push_back(e.endSeconds);

    const uint32_t minute = ZeltGenerator::MinuteOfPosixTime(now);
    ZeltGenerator zl(48000), zr(48000);
    zl.AddProgram(1, kZeltLeftId, minute);
    zr.AddProgram(2, kZeltRightId, minute);
    std::vector<float> wm[2] = {t6.Synthesize(kAudioSeconds), t2.Synthesize(kAudioSeconds)};
    const std::vector<float> zelt[2] = {zl.Render(kAudioSeconds, 0.05),
                                        zr.Render(kAudioSeconds, 0.05)};
    std::vector<int16_t> pcm[2];
    for (int ch = 0; ch < 2; ++ch) {
        wm[ch].resize(frames, 0.0f);
        for (size_t i = 0; i < frames && i < zelt[ch].size(); ++i) wm[ch][i] += zelt[ch][i];
        std::vector<float> mixed = SignalMix::Mix(
            wm[ch], SignalMix::MakeHost(HostKind::PinkNoise, frames, kHostRms[ch], 7 + ch),
            kRatioDb);
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
}

// One code line the host printed.
struct Code {
    double time;
    unsigned channel;
    std::string family;  // "TESK6", "TESK2", "ZELT"
    std::string id;      // sid as decimal (TESK) or the ZELT id text
    int layer;           // ZELT layer, 0 for TESK
};

bool ParseCode(const std::string& line, Code* c) {
    rapidjson::Document d;
    d.Parse(line.c_str());
    if (d.HasParseError() || !d.IsObject() || !d.HasMember("code")) return false;
    *c = Code{d["time"].GetDouble(), d["channel"].GetUint(), "", "", 0};
    for (const char* family : {"TESK6", "TESK2", "ZELT"}) {
        if (!d["code"].HasMember(family)) continue;
        const auto& body = d["code"][family];
        c->family = family;
        if (body.HasMember("sid") && body["sid"].IsUint()) {
            c->id = std::to_string(body["sid"].GetUint());
        }
        if (body.HasMember("id") && body["id"].IsString()) c->id = body["id"].GetString();
        if (body.HasMember("layer") && body["layer"].IsInt()) c->layer = body["layer"].GetInt();
    }
    return true;
}

// Average levels of one channel from the host's meter lines, in order.
std::vector<int> AverageLevels(const std::string& stderrText, int channel) {
    std::vector<int> levels;
    const std::string key = " " + std::to_string(channel) + ":";
    for (const std::string& line : Lines(stderrText)) {
        const size_t at = line.rfind("levels:", 0) == 0 ? line.find(key) : std::string::npos;
        if (at != std::string::npos) levels.push_back(std::atoi(line.c_str() + at + key.size()));
    }
    return levels;
}

TEST_F(LivePulse, PlayedCodesAndLevelsReachTheHostAcrossADeviceChange) {
    StartServer();
    if (HasFatalFailure()) return;
    const std::string listing = dir_ + "/devices.txt";
    ASSERT_EQ(RunProgram({host_, "--list-devices"}, listing, dir_ + "/devices.err"), 0);
    int pulseDevice = -1;
    for (const std::string& line : Lines(ReadFile(listing))) {
        if (pulseDevice < 0 && line.find(": pulse [") != std::string::npos) {
            pulseDevice = std::atoi(line.c_str());
        }
    }
    ASSERT_GE(pulseDevice, 0) << "PortAudio lists no pulse device:\n" << ReadFile(listing);

    const std::string wav = dir_ + "/played.wav";
    std::vector<double> ends[2];
    WriteWatermarkedFile(wav, static_cast<uint32_t>(std::time(nullptr)), ends);

    // All families, filtered display, two channels from the default device; a
    // device change to the pulse device (the same source) part-way through.
    const std::string out = dir_ + "/host.out";
    const std::string err = dir_ + "/host.err";
    const std::string device = std::to_string(pulseDevice);
    const pid_t host =
        Spawn({host_, "--library", library_, "--families", "all", "--channels", "2", "--devices",
               "default,off,off", "--reconfigure",
               std::to_string(kReconfigureAt) + ":" + device + ",off,off", "--duration", "90"},
              out, err);
    ASSERT_GT(host, 0);
    const bool started = WaitForText(err, "Start detecting audio codes.", 30);
    double playStart = 0;
    int playRc = -1;
    if (started) {
        playStart = WallNow();
        playRc = RunProgram({"paplay", "--device=tavik", wav}, "/dev/null", dir_ + "/paplay.err");
        std::this_thread::sleep_for(std::chrono::seconds(2));  // let the last reports drain
    }
    kill(host, SIGTERM);
    EXPECT_EQ(Wait(host), 0) << ReadFile(err);
    ASSERT_TRUE(started) << ReadFile(err);
    ASSERT_EQ(playRc, 0) << ReadFile(dir_ + "/paplay.err");
    const double playEnd = WallNow();
    const std::string errText = ReadFile(err);
    const std::vector<std::string> diags = Diagnostics(errText);

    // Start-up diagnostics in order, then the device change: request, update,
    // stop, description, restart.
    int at =
        expectInOrder(diags,
                      {"Begin DecodeAudio", "Tavik3 line in decoder build version 0.1.0.6.",
                       "Request to update to 2,2,-1,-99,-99 configuration",
                       "Decoding TESK2, TESK6 and ZELT codes", "Filtered code display selected",
                       "Kelvane Audio SDK, version 6.0.16",
                       "Audio Consumer Manager version: 6.0.16", "Attempting to open sound card.",
                       "PortAudio version number = ", "Sound card successfully opened.",
                       "Selected input is ", "Built on Kelvane Audio SDK, version 6.0.16",
                       "Begin sampling audio", "Start detecting audio codes."},
                      0, errText);
    ASSERT_GE(at, 0);
    ASSERT_GE(expectInOrder(diags,
                            {"Request to update to 2,2," + device + ",-99,-99 configuration",
                             "Updating L and R sound card settings to " + device + " device",
                             "Stream 0 stopped", "Selected input is " + device + " (pulse, ALSA",
                             "Stream 0 restarted"},
                            at, errText),
              0);
    EXPECT_EQ(findText(diags, "Critical error"), -1) << errText;

    // Codes: each family's message on its own channel, none on the other, and
    // decoding goes on after the device change.
    const Code expected[4] = {{0, 0, "TESK6", std::to_string(kTesk6Sid), 0},
                              {0, 0, "ZELT", "0x1235", 1},
                              {0, 1, "TESK2", std::to_string(kTesk2Sid), 0},
                              {0, 1, "ZELT", "0xa3f7", 2}};
    const double reconfiguredBy = playStart + kReconfigureAt + 1.0;
    int found[4] = {0, 0, 0, 0};
    int afterChange[2] = {0, 0};
    int foreign = 0;
    std::string latencies;
    for (const std::string& line : Lines(ReadFile(out))) {
        Code c;
        if (!ParseCode(line, &c)) {
            ADD_FAILURE() << "not a code line: " << line;
            continue;
        }
        EXPECT_GE(c.time, playStart);
        EXPECT_LE(c.time, playEnd + 1);
        int match = -1;
        bool crossed = c.channel > 1;
        for (int i = 0; i < 4; ++i) {
            const Code& e = expected[i];
            if (c.family == e.family && c.id == e.id) {
                if (c.channel == e.channel && c.layer == e.layer) match = i;
                crossed = crossed || c.channel != e.channel;
            }
        }
        if (match < 0) {
            // A code of the other channel here means the channels are crossed.
            EXPECT_FALSE(crossed) << "code on the wrong channel: " << line;
            // Anything else is a misreading by a decoder (they occur, rarely,
            // when watermarks of several families share a channel, with or
            // without the live path); it is shown, and must stay rare.
            std::cout << "foreign code at " << c.time - playStart << " s: " << line << "\n";
            ++foreign;
            continue;
        }
        ++found[match];
        if (c.time > reconfiguredBy) ++afterChange[c.channel];
        if (c.family != "ZELT") {
            // How long after the end of a message in the played audio its report
            // reached the host (filtered display: a report may also confirm an
            // earlier repetition, so this is a figure to watch, not a bound).
            double latestEnd = -1;
            for (double end : ends[c.channel]) {
                if (playStart + end <= c.time) latestEnd = std::max(latestEnd, playStart + end);
            }
            EXPECT_GE(latestEnd, 0.0) << "report before any message ended: " << line;
            latencies += std::to_string(static_cast<int>((c.time - latestEnd) * 1000)) + " ";
        }
    }
    EXPECT_GE(found[0], 1) << "TESK 6 on the left channel";
    EXPECT_GE(found[1], 1) << "ZELT on the left channel";
    EXPECT_GE(found[2], 1) << "TESK 2 on the right channel";
    EXPECT_GE(found[3], 1) << "ZELT on the right channel";
    EXPECT_LE(foreign * 4, found[0] + found[1] + found[2] + found[3]) << "too many misreadings";
    EXPECT_GE(afterChange[0], 1) << "left channel after the device change";
    EXPECT_GE(afterChange[1], 1) << "right channel after the device change";
    RecordProperty("latency_ms", latencies);
    std::cout << "latencies (ms): " << latencies << "\n";

    // Levels: the played level per channel (pink noise at RMS 0.1 and 0.05 give
    // about -50 and -64 on the meter's natural-log scale), then 20 dB quieter
    // (about 46 lower), then the silence after the file.
    for (int ch = 0; ch < 2; ++ch) {
        const std::vector<int> levels = AverageLevels(errText, ch);
        ASSERT_GT(levels.size(), 20u) << errText;
        const double loud = 20.0 * std::log(kHostRms[ch] * 0.8);  // mean |x| of noise
        const double quiet = loud - 20.0 * std::log(10.0);
        int firstLoud = -1;
        int firstQuiet = -1;
        for (int i = 0; i < static_cast<int>(levels.size()); ++i) {
            if (firstLoud < 0 && std::fabs(levels[i] - loud) <= 8) firstLoud = i;
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
    const int attempt = findText(diags, "Attempting to open sound card.");
    ASSERT_GE(attempt, 0) << errText;
    EXPECT_TRUE(findText(diags, "No audio devices found.", attempt) >= 0 ||
                findText(diags, "Not able to open sound card.", attempt) >= 0)
        << errText;
    EXPECT_EQ(findText(diags, "Sound card successfully opened."), -1) << errText;
    EXPECT_GE(expectInOrder(diags,
                            {"Start detecting audio codes.",
                             "Critical error, timout waiting for audio receive semaphore.Close "
                             "and re - open audio system."},
                            attempt, errText),
              0);
    EXPECT_TRUE(ReadFile(out).empty());
}

}  // namespace
