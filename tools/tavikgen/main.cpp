// tavikgen: writes test audio carrying chosen TESK 6, TESK 2 and ZELT messages on
// chosen channels, over silence, noise or a given host recording.
#include <sndfile.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <exception>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "dsp/CUCCValidator.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"
#include "timebase/TeskTime.h"
#include "tools/tavikgen/MarkRequest.h"

using namespace Kelvane::Generators;

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: tavikgen -o OUT.wav [OPTIONS] --mark CHANNEL:KIND[:FIELD=VALUE,...] ...\n"
    "Writes a WAV file carrying the chosen watermark messages.\n"
    "\n"
    "Options:\n"
    "  -o, --output FILE      WAV file to write (required)\n"
    "  -r, --rate HZ          sample rate, 8000 to 192000 (default 48000, or the host file's)\n"
    "  -n, --channels N       1 to 6 channels (default 2)\n"
    "  -d, --seconds S        length (default 60, or the host file's length)\n"
    "      --float            32-bit float samples (default 16-bit)\n"
    "      --host H           silence, white, pink (default), music (music-like tonal\n"
    "                         voices), tones (steady, stepped and swept sines) or a\n"
    "                         host audio file\n"
    "      --host-level DBFS  RMS level of a noise host, and the reference level of\n"
    "                         the ratio over silence (default -20)\n"
    "      --ratio DB         watermark-to-host ratio, RMS over the whole file, for each\n"
    "                         family on each channel (default -20)\n"
    "      --seed N           noise seed (default 1)\n"
    "      --time T           POSIX seconds of the encoders' clocks at the start of the\n"
    "                         audio (default: now)\n"
    "  -m, --mark MARK        one message; repeat for more (see below)\n"
    "  -h, --help             this text\n"
    "\n"
    "MARK is CHANNEL:KIND[:FIELD=VALUE,...]; numbers are decimal or 0x hexadecimal.\n"
    "  tesk6-prog, tesk6-comm  sid=, time= or code= (29-bit time code), dist= (0 PC,\n"
    "                          1-3 FD1-FD3), dst=, tx=, rep=\n"
    "  tesk6-rs                id= (35-bit commercial identifier), rep=\n"
    "  tesk2-prog, tesk2-comm  sid=, time= or code= (31-bit time code), dist= (1 PC,\n"
    "                          2 FD; commercial 0), dst=, rep=\n"
    "  tesk2-rs                id= (35-bit commercial identifier), rep=\n"
    "  zelt-prog               layer= (1, 2 or 5), id= (16 bits: three distinct high\n"
    "                          nibbles, low nibble 1-15), time= or minute= (0-40319)\n"
    "  zelt-comm               id= (36-bit commercial identifier; layers 3 and 4)\n"
    "  zelt-flag               value= (3 or 7; layers 3 and 4)\n"
    "Any kind takes ratio=DB: the level of that family on that channel.\n"
    "rep= is the number of repetitions (0, the default: until the end). Messages of\n"
    "one TESK layer play one after the other.\n"
    "\n"
    "Example:\n"
    "  tavikgen -o test.wav --seconds 30 --host pink --ratio -20 \\\n"
    "      --mark 0:tesk6-prog:sid=0x1234 --mark 0:zelt-prog:layer=1,id=0x1234 \\\n"
    "      --mark 1:tesk2-rs:id=0x123456789\n";

[[noreturn]] void UsageError(const std::string& message) {
    std::fprintf(stderr, "tavikgen: %s\nTry 'tavikgen --help'.\n", message.c_str());
    std::exit(kExitUsage);
}

[[noreturn]] void Fail(const std::string& message) {
    std::fprintf(stderr, "tavikgen: %s\n", message.c_str());
    std::exit(kExitFailure);
}

bool ParseDouble(const char* text, double* v) {
    char* end = nullptr;
    errno = 0;
    *v = std::strtod(text, &end);
    return *text != '\0' && *end == '\0' && errno == 0 && std::isfinite(*v);
}

bool ParseLong(const char* text, long long* v) {
    char* end = nullptr;
    errno = 0;
    *v = std::strtoll(text, &end, 0);
    return *text != '\0' && *end == '\0' && errno == 0;
}

struct Options {
    std::string output;
    int rate = 0;  // 0: default
    int channels = 2;
    double seconds = 0;  // 0: default
    bool isFloat = false;
    std::string host = "pink";
    double hostLevelDb = -20;
    double ratioDb = -20;
    uint32_t seed = 1;
    int64_t time = -1;
    std::vector<MarkRequest> marks;
};

Options ParseOptions(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) UsageError(a + " needs " + what);
            return argv[++i];
        };
        long long n = 0;
        double d = 0;
        if (a == "-h" || a == "--help") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        } else if (a == "-o" || a == "--output") {
            o.output = value("a file name");
        } else if (a == "-r" || a == "--rate") {
            if (!ParseLong(value("a rate"), &n) || n < 8000 || n > 192000)
                UsageError("rate must be 8000 to 192000 Hz");
            o.rate = static_cast<int>(n);
        } else if (a == "-n" || a == "--channels") {
            if (!ParseLong(value("a count"), &n) || n < 1 || n > 6)
                UsageError("channels must be 1 to 6");
            o.channels = static_cast<int>(n);
        } else if (a == "-d" || a == "--seconds") {
            if (!ParseDouble(value("a length"), &d) || d <= 0 || d > 24 * 3600)
                UsageError("seconds must be above 0 and at most 86400");
            o.seconds = d;
        } else if (a == "--float") {
            o.isFloat = true;
        } else if (a == "--host") {
            o.host = value("silence, white, pink, music, tones or a file");
        } else if (a == "--host-level") {
            if (!ParseDouble(value("a level"), &d) || d > 0 || d < -120)
                UsageError("host level must be -120 to 0 dBFS");
            o.hostLevelDb = d;
        } else if (a == "--ratio") {
            if (!ParseDouble(value("a ratio"), &d) || std::fabs(d) > 100)
                UsageError("ratio must be -100 to 100 dB");
            o.ratioDb = d;
        } else if (a == "--seed") {
            if (!ParseLong(value("a seed"), &n) || n < 0 || n > 0xFFFFFFFFll)
                UsageError("seed must be 0 to 4294967295");
            o.seed = static_cast<uint32_t>(n);
        } else if (a == "--time") {
            if (!ParseLong(value("POSIX seconds"), &n) || n < 0 || n > 0xFFFFFFFFll)
                UsageError("time must be POSIX seconds");
            o.time = n;
        } else if (a == "-m" || a == "--mark") {
            MarkRequest m;
            std::string error;
            if (!MarkRequest::Parse(value("a message"), &m, &error)) UsageError(error);
            o.marks.push_back(m);
        } else {
            UsageError("unknown option " + a);
        }
    }
    if (o.output.empty()) UsageError("no output file (-o)");
    // A WAV header is completed after the data, which a pipe does not allow.
    if (o.output == "-") UsageError("-o needs a file name (standard output is not supported)");
    for (const auto& m : o.marks) {
        if (m.channel >= o.channels)
            UsageError("message on channel " + std::to_string(m.channel) + " but only " +
                       std::to_string(o.channels) + " channel(s)");
    }
    if (o.time < 0) o.time = static_cast<int64_t>(std::time(nullptr));
    return o;
}

// The host recording, one float signal per file channel.
struct HostFile {
    int rate = 0;
    std::vector<std::vector<float>> channels;
};

HostFile ReadHostFile(const std::string& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
    if (f == nullptr) Fail(path + ": cannot read host audio: " + sf_strerror(nullptr));
    HostFile h;
    h.rate = info.samplerate;
    h.channels.assign(static_cast<size_t>(info.channels), {});
    std::vector<float> buffer(static_cast<size_t>(info.channels) * 4096);
    sf_count_t got;
    while ((got = sf_readf_float(f, buffer.data(), 4096)) > 0) {
        for (sf_count_t i = 0; i < got; ++i)
            for (int c = 0; c < info.channels; ++c)
                h.channels[static_cast<size_t>(c)].push_back(
                    buffer[static_cast<size_t>(i * info.channels + c)]);
    }
    sf_close(f);
    return h;
}

// Watermark of one family on one channel, built from all its messages.
struct Group {
    int channel;
    MarkRequest::Family family;
    double ratioDb;
    std::vector<MarkRequest> marks;
};

std::string Hex(uint64_t v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%llx", static_cast<unsigned long long>(v));
    return b;
}

void WarnIfInvalidCommId(const MarkRequest& m) {
    if (!CUCCValidator::IsValidCommID(static_cast<long>(m.id))) {
        std::fprintf(stderr,
                     "tavikgen: warning: commercial identifier %s on channel %d fails the "
                     "identifier check; filtered display will not report it\n",
                     Hex(m.id).c_str(), m.channel);
    }
}

std::vector<float> SynthesizeTesk6(const Group& g, int rate, double seconds, int64_t time) {
    Tesk6Generator gen(rate);
    for (const auto& m : g.marks) {
        Tesk6Message msg;
        msg.kind = m.kind == MarkRequest::Kind::Program      ? Tesk6Kind::ProgramStandard
                   : m.kind == MarkRequest::Kind::Commercial ? Tesk6Kind::CommercialStandard
                                                          : Tesk6Kind::CommercialRs;
        msg.sid = static_cast<uint16_t>(m.sid);
        msg.dist = static_cast<uint8_t>(m.dist.value_or(0));
        msg.transmission = m.transmission;
        msg.dst = m.dst;
        if (msg.kind == Tesk6Kind::CommercialRs) {
            if (m.id == 0 || m.id >= (1ull << 35)) Fail("TESK 6 identifier must be 1 to 2^35-1");
            msg.commId = m.id;
            WarnIfInvalidCommId(m);
        } else if (m.code) {
            if (*m.code >= (1ull << 29)) Fail("TESK 6 time code must be below 2^29");
            msg.timestamp = static_cast<uint32_t>(*m.code);
        } else {
            uint8_t dst = 0;
            msg.timestamp = PosixToTesk6(static_cast<uint32_t>(m.time.value_or(time)), &dst);
            msg.dst = m.dst || dst != 0;
        }
        gen.Add(msg, m.repetitions);
        std::fprintf(stderr, "  channel %d: %s %s", m.channel, m.KindName().c_str(),
                     msg.kind == Tesk6Kind::CommercialRs
                         ? ("commId " + Hex(msg.commId)).c_str()
                         : ("sid " + std::to_string(msg.sid) + " (" + Hex(msg.sid) +
                            "), time code " + std::to_string(msg.timestamp) + " at 0 s")
                               .c_str());
        std::fputc('\n', stderr);
    }
    std::fprintf(stderr, "  channel %d: TESK 6 sounds %zu messages\n", g.channel,
                 gen.Schedule(seconds).size());
    return gen.Synthesize(seconds);
}

std::vector<float> SynthesizeTesk2(const Group& g, int rate, double seconds, int64_t time) {
    Tesk2Generator gen(rate);
    for (const auto& m : g.marks) {
        Tesk2Message msg;
        msg.kind = m.kind == MarkRequest::Kind::Program      ? Tesk2Kind::ProgramStandard
                   : m.kind == MarkRequest::Kind::Commercial ? Tesk2Kind::CommercialStandard
                                                          : Tesk2Kind::CommercialRs;
        msg.sid = static_cast<uint16_t>(m.sid);
        msg.dist = static_cast<uint8_t>(m.dist.value_or(m.kind == MarkRequest::Kind::Program ? 1 : 0));
        msg.dst = m.dst;
        if (msg.kind == Tesk2Kind::CommercialRs) {
            if (m.id == 0 || m.id >= (1ull << 35)) Fail("TESK 2 identifier must be 1 to 2^35-1");
            msg.commId = m.id;
            WarnIfInvalidCommId(m);
        } else if (m.code) {
            if (*m.code >= (1ull << 31)) Fail("TESK 2 time code must be below 2^31");
            msg.timestamp = static_cast<uint32_t>(*m.code);
        } else {
            const uint32_t code = PosixToTesk2(static_cast<uint32_t>(m.time.value_or(time)));
            msg.timestamp = code & ~TESK2_DST_FLAG;
            msg.dst = m.dst || (code & TESK2_DST_FLAG) != 0;
        }
        gen.Add(msg, m.repetitions);
        std::fprintf(stderr, "  channel %d: %s %s\n", m.channel, m.KindName().c_str(),
                     msg.kind == Tesk2Kind::CommercialRs
                         ? ("commId " + Hex(msg.commId)).c_str()
                         : ("sid " + std::to_string(msg.sid) + " (" + Hex(msg.sid) +
                            "), time code " + std::to_string(msg.timestamp) + " at 0 s")
                               .c_str());
    }
    std::fprintf(stderr, "  channel %d: TESK 2 sounds %zu messages\n", g.channel,
                 gen.Schedule(seconds).size());
    return gen.Synthesize(seconds);
}

std::vector<float> SynthesizeZelt(const Group& g, int rate, double seconds, int64_t time) {
    ZeltGenerator gen(rate);
    for (const auto& m : g.marks) {
        try {
            if (m.kind == MarkRequest::Kind::Program) {
                const uint32_t minute =
                    m.code ? static_cast<uint32_t>(*m.code)
                           : ZeltGenerator::MinuteOfPosixTime(m.time.value_or(time));
                if (m.id > 0xFFFF) Fail("ZELT program id must be 16 bits");
                gen.AddProgram(m.zeltLayer, static_cast<uint16_t>(m.id), minute);
                std::fprintf(stderr, "  channel %d: ZELT program layer %d id 0x%04x, minute %u\n",
                             m.channel, m.zeltLayer, static_cast<unsigned>(m.id), minute);
            } else if (m.kind == MarkRequest::Kind::CommercialRs) {
                if (m.id == 0 || m.id >= (1ull << 36)) Fail("ZELT identifier must be 1 to 2^36-1");
                gen.AddCommercial(m.id);
                WarnIfInvalidCommId(m);
                std::fprintf(stderr, "  channel %d: ZELT commercial commId %s\n", m.channel,
                             Hex(m.id).c_str());
            } else {
                gen.AddFlag(static_cast<int>(m.id));
                std::fprintf(stderr, "  channel %d: ZELT commercial flag %u\n", m.channel,
                             static_cast<unsigned>(m.id));
            }
        } catch (const std::exception& e) {
            Fail("channel " + std::to_string(m.channel) + ": " + m.KindName() + ": " + e.what());
        }
    }
    return gen.Render(seconds, 0.1);
}

}  // namespace

int main(int argc, char** argv) {
    Options o = ParseOptions(argc, argv);

    // Host signal of every output channel.
    HostFile hostFile;
    HostKind kind = HostKind::PinkNoise;
    const bool fromFile = !SignalMix::ParseHostKind(o.host.c_str(), &kind);
    if (fromFile) {
        hostFile = ReadHostFile(o.host);
        if (o.rate == 0) o.rate = hostFile.rate;
        if (hostFile.rate != o.rate)
            Fail(o.host + ": host is at " + std::to_string(hostFile.rate) + " Hz, output at " +
                 std::to_string(o.rate) + " Hz");
        if (hostFile.channels.empty() || hostFile.channels[0].empty())
            Fail(o.host + ": host file holds no audio");
        if (o.seconds == 0) o.seconds = static_cast<double>(hostFile.channels[0].size()) / o.rate;
    }
    if (o.rate == 0) o.rate = 48000;
    if (o.seconds == 0) o.seconds = 60;
    const size_t frames = static_cast<size_t>(std::llround(o.seconds * o.rate));
    const double hostLevel = std::pow(10.0, o.hostLevelDb / 20.0);

    std::vector<std::vector<float>> out(static_cast<size_t>(o.channels));
    for (int c = 0; c < o.channels; ++c) {
        std::vector<float>& ch = out[static_cast<size_t>(c)];
        if (fromFile) {
            const auto& src = hostFile.channels[static_cast<size_t>(c) % hostFile.channels.size()];
            ch.assign(frames, 0.0f);
            std::copy(src.begin(), src.begin() + static_cast<long>(std::min(src.size(), frames)),
                      ch.begin());
        } else {
            ch = SignalMix::MakeHost(kind, frames, hostLevel, o.seed + static_cast<uint32_t>(c),
                                     o.rate);
        }
    }

    // Messages grouped per channel and family; a group shares one generator.
    std::map<std::pair<int, int>, Group> groups;
    for (const auto& m : o.marks) {
        auto key = std::make_pair(m.channel, static_cast<int>(m.family));
        auto it = groups.find(key);
        if (it == groups.end())
            it = groups.emplace(key, Group{m.channel, m.family, o.ratioDb, {}}).first;
        if (m.ratioDb) it->second.ratioDb = *m.ratioDb;
        it->second.marks.push_back(m);
    }

    std::fprintf(stderr, "tavikgen: %s: %d Hz, %d channel%s, %.1f s, %s, host %s\n",
                 o.output.c_str(), o.rate, o.channels, o.channels == 1 ? "" : "s", o.seconds,
                 o.isFloat ? "float" : "16-bit", o.host.c_str());
    // Each family's ratio is taken against the host alone (MixSeveral).
    std::vector<std::vector<std::vector<float>>> familyMarks(out.size());
    std::vector<std::vector<double>> familyRatios(out.size());
    for (const auto& [key, g] : groups) {
        std::vector<float> wm;
        switch (g.family) {
            case MarkRequest::Family::Tesk6:
                wm = SynthesizeTesk6(g, o.rate, o.seconds, o.time);
                break;
            case MarkRequest::Family::Tesk2:
                wm = SynthesizeTesk2(g, o.rate, o.seconds, o.time);
                break;
            case MarkRequest::Family::Zelt:
                wm = SynthesizeZelt(g, o.rate, o.seconds, o.time);
                break;
        }
        wm.resize(frames, 0.0f);
        if (SignalMix::Rms(wm) <= 0) {
            std::fprintf(stderr, "tavikgen: warning: channel %d: no complete message fits\n",
                         g.channel);
            continue;
        }
        familyMarks[static_cast<size_t>(g.channel)].push_back(std::move(wm));
        familyRatios[static_cast<size_t>(g.channel)].push_back(g.ratioDb);
    }
    // Over silence the ratios are taken against the nominal host level.
    for (size_t c = 0; c < out.size(); ++c)
        out[c] = SignalMix::MixSeveral(out[c], familyMarks[c], familyRatios[c], hostLevel);

    // Interleave and write.
    SF_INFO info{};
    info.samplerate = o.rate;
    info.channels = o.channels;
    info.format = SF_FORMAT_WAV | (o.isFloat ? SF_FORMAT_FLOAT : SF_FORMAT_PCM_16);
    SNDFILE* f = sf_open(o.output.c_str(), SFM_WRITE, &info);
    if (f == nullptr) Fail(o.output + ": cannot write: " + sf_strerror(nullptr));
    sf_count_t written = 0;
    float peak = 0;
    if (o.isFloat) {
        std::vector<float> inter(frames * static_cast<size_t>(o.channels));
        for (size_t i = 0; i < frames; ++i)
            for (int c = 0; c < o.channels; ++c) {
                const float v = out[static_cast<size_t>(c)][i];
                peak = std::max(peak, std::fabs(v));
                inter[i * static_cast<size_t>(o.channels) + static_cast<size_t>(c)] = v;
            }
        written = sf_writef_float(f, inter.data(), static_cast<sf_count_t>(frames));
    } else {
        std::vector<std::vector<int16_t>> pcm;
        for (const auto& ch : out) {
            for (float v : ch) peak = std::max(peak, std::fabs(v));
            pcm.push_back(SignalMix::ToInt16(ch));
        }
        const std::vector<int16_t> inter = SignalMix::Interleave(pcm);
        written = sf_writef_short(f, inter.data(), static_cast<sf_count_t>(frames));
    }
    const bool ok = written == static_cast<sf_count_t>(frames);
    if (sf_close(f) != 0 || !ok) Fail(o.output + ": write failed");
    if (peak > 1.0f)
        std::fprintf(stderr, "tavikgen: warning: peak %.2f above full scale%s\n", peak,
                     o.isFloat ? "" : " (clipped)");
    return 0;
}
