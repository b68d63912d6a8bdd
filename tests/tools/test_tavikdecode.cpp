// The file decoder and the generator, run as programs: sample formats, rates,
// standard input, several files in one process or in worker processes,
// rates some families cannot run at, options, errors and the
// timeline.
#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace {

// The build folder: TAVIK_BINARY_DIR from the environment, else the one compiled in.
std::string BinaryDir() {
    const char* dir = std::getenv("TAVIK_BINARY_DIR");
    return dir != nullptr && *dir != '\0' ? dir : TAVIK_BINARY_DIR;
}
std::string Tavikgen() { return BinaryDir() + "/tools/tavikgen/tavikgen"; }

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A scratch folder for one test program, removed at exit of the program (the
// exit handler recomputes the path: it runs after the static string is gone).
std::string ScratchPath() {
    return BinaryDir() + "/tests/tools/scratch-" + std::to_string(getpid());
}
const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::system(("mkdir -p '" + ScratchPath() + "'").c_str());
        std::atexit([] { std::system(("rm -rf '" + ScratchPath() + "'").c_str()); });
        return ScratchPath();
    }();
    return dir;
}

struct RunResult {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `command` through the shell with standard output and error captured.
RunResult RunTool(const std::string& command) {
    static int counter = 0;
    const std::string base = ScratchDir() + "/run" + std::to_string(++counter);
    const int raw = std::system((command + " > '" + base + ".out' 2> '" + base + ".err'").c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, ReadFile(base + ".out"),
            ReadFile(base + ".err")};
}

// What identifies a delivered code: channel, family, layer and identifier
// (SID, program id or commercial identifier), without times and qualities.
using Payload = std::tuple<unsigned, std::string, std::string, std::string>;

// Parses tavikdecode's output lines. Every line must be a JSON object with
// "channel" and a "detection" holding one family object; failures are
// reported through gtest.
std::vector<Payload> ParseLines(const std::string& out) {
    std::vector<Payload> payloads;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        rapidjson::Document doc;
        doc.Parse(line.c_str());
        if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("channel") ||
            !doc.HasMember("detection") || !doc["detection"].IsObject() ||
            doc["detection"].MemberCount() != 1) {
            ADD_FAILURE() << "not a detection line: " << line;
            continue;
        }
        const auto& det = doc["detection"];
        const std::string family = det.MemberBegin()->name.GetString();
        const auto& body = det.MemberBegin()->value;
        std::string layer, id;
        if (body.HasMember("layer"))
            layer = body["layer"].IsString() ? body["layer"].GetString()
                                             : std::to_string(body["layer"].GetInt());
        if (body.HasMember("sid")) {
            id = "sid " + std::to_string(body["sid"].GetUint());
        } else if (body.HasMember("id") && std::string(body["id"].GetString()) != "N/A") {
            id = std::string("id ") + body["id"].GetString();
        } else if (body.HasMember("commId")) {
            id = std::string("commId ") + body["commId"].GetString();
        }
        payloads.emplace_back(doc["channel"].GetUint(), family, layer, id);
    }
    return payloads;
}

std::set<Payload> PayloadSet(const std::string& out) {
    const auto v = ParseLines(out);
    return std::set<Payload>(v.begin(), v.end());
}

const std::string kStart = "1767225600";  // 2026-01-01 00:00:00 UTC
const std::string kMarks = " --time " + kStart +
                           " --mark 0:tesk6-prog:sid=0x1234 --mark 0:tesk2-prog:sid=0x0abc"
                           " --mark 0:zelt-prog:layer=1,id=0x1234 --mark 1:tesk6-rs:id=0x123456789"
                           " --mark 1:tesk2-rs:id=0x123456789 --mark 1:zelt-comm:id=0x5a3c96e1d";

const std::set<Payload> kKnown = {
    {0, "TESK6", "PROG", "sid 4660"},
    {0, "TESK2", "PROG", "sid 2748"},
    {0, "ZELT", "1", "id 0x1234"},
    {1, "TESK6", "COMM_RS", "commId 0x123456789"},
    {1, "TESK2", "COMM_RS", "commId 0x123456789"},
    {1, "ZELT", "4", "commId 0x5a3c96e1d"},
};

std::string Scratch(const std::string& name) { return ScratchDir() + "/" + name; }

std::string Decode(const std::string& args) {
    return BinaryDir() + "/tools/tavikdecode/tavikdecode -q --start-time " + kStart + " " + args;
}

// Rewrites a 16-bit file with another sample format (and optionally only its
// first channel), sample for sample, through libsndfile.
void Convert(const std::string& from, const std::string& to, int format, bool firstChannelOnly) {
    SF_INFO in{};
    SNDFILE* src = sf_open(from.c_str(), SFM_READ, &in);
    ASSERT_NE(src, nullptr);
    std::vector<short> all(static_cast<size_t>(in.frames * in.channels));
    ASSERT_EQ(sf_readf_short(src, all.data(), in.frames), in.frames);
    sf_close(src);
    SF_INFO out{};
    out.samplerate = in.samplerate;
    out.channels = firstChannelOnly ? 1 : in.channels;
    out.format = format;
    std::vector<short> data;
    for (sf_count_t i = 0; i < in.frames; ++i)
        for (int c = 0; c < out.channels; ++c) data.push_back(all[i * in.channels + c]);
    SNDFILE* dst = sf_open(to.c_str(), SFM_WRITE, &out);
    ASSERT_NE(dst, nullptr) << sf_strerror(nullptr);
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        // Full scale 1.0 = 32768, so every sample converts back exactly.
        std::vector<float> f(data.begin(), data.end());
        for (float& v : f) v /= 32768.0f;
        ASSERT_EQ(sf_writef_float(dst, f.data(), in.frames), in.frames);
    } else {
        ASSERT_EQ(sf_writef_short(dst, data.data(), in.frames), in.frames);
    }
    sf_close(dst);
}

// The test files, made once per build of the generator and shared by the test
// processes: each is generated into a private folder that is then renamed into
// place, so concurrent test processes never see a half-written set.
std::string FixtureDir() {
    struct stat st {};
    stat(Tavikgen().c_str(), &st);
    const std::string dir =
        BinaryDir() + "/tests/tools/fixtures-" + std::to_string(static_cast<long>(st.st_mtime));
    if (access((dir + "/done").c_str(), F_OK) == 0) return dir;
    const std::string tmp = ScratchDir() + "/fixtures";
    std::system(("mkdir -p '" + tmp + "'").c_str());
    auto in = [&](const std::string& name) { return tmp + "/" + name; };
    // 20 s carry enough repetitions of every message for each family's
    // confirmation (a ZELT program code needs two detections from separate
    // 4.8 s periods, three periods when they straddle the decoder's searches).
    const std::string gen = Tavikgen() + " --seconds 20 --host pink --ratio -20" + kMarks;
    EXPECT_EQ(RunTool(gen + " -o " + in("orig.wav")).status, 0);
    EXPECT_EQ(RunTool(gen + " --rate 44100 -o " + in("r44.wav")).status, 0);
    EXPECT_EQ(RunTool(gen + " --rate 96000 -o " + in("r96.wav")).status, 0);
    Convert(in("orig.wav"), in("pcm24.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_24, false);
    Convert(in("orig.wav"), in("pcm32.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_32, false);
    Convert(in("orig.wav"), in("float.wav"), SF_FORMAT_WAV | SF_FORMAT_FLOAT, false);
    Convert(in("orig.wav"), in("orig.flac"), SF_FORMAT_FLAC | SF_FORMAT_PCM_24, false);
    Convert(in("orig.wav"), in("mono.wav"), SF_FORMAT_WAV | SF_FORMAT_PCM_16, true);
    std::ofstream(in("done")) << "ok";
    if (std::rename(tmp.c_str(), dir.c_str()) != 0) {
        // Another process was first (or the folder is stale from a failed run).
        if (access((dir + "/done").c_str(), F_OK) != 0) return tmp;
    }
    return dir;
}

class Tavikdecode : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        fixtures_ = FixtureDir();
        original_ = RunTool(Decode(Path("orig.wav")));
    }
    static std::string Path(const std::string& name) { return fixtures_ + "/" + name; }
    static inline RunResult original_;
    static inline std::string fixtures_;
};

TEST_F(Tavikdecode, OriginalCarriesEveryKnownPayloadAndASummary) {
    ASSERT_EQ(original_.status, 0) << original_.err;
    const auto found = PayloadSet(original_.out);
    for (const auto& p : kKnown) EXPECT_TRUE(found.count(p)) << std::get<3>(p);
    for (const auto& p : found) EXPECT_LT(std::get<0>(p), 2u);
    EXPECT_NE(original_.err.find("packing mode 3"), std::string::npos);
    EXPECT_TRUE(std::regex_search(original_.err,
                                  std::regex("channel 0: TESK2 [1-9][0-9]*, TESK6 [1-9][0-9]*, "
                                             "ZELT [1-9]")))
        << original_.err;
    EXPECT_NE(original_.err.find("real time per channel"), std::string::npos);
}

// 24-bit, 32-bit integer and float samples reach the meter in their own packing
// mode; their conversion to 16 bits gives back the original samples, so the
// codes must be the very same lines. FLAC is read through the same path.
TEST_F(Tavikdecode, EveryPackingModeDecodesTheSameCodes) {
    const std::vector<std::pair<std::string, std::string>> files = {
        {"pcm24.wav", "packing mode 0"},
        {"pcm32.wav", "packing mode 5"},
        {"float.wav", "packing mode 4"},
        {"orig.flac", "packing mode 0"},
    };
    for (const auto& [file, mode] : files) {
        const RunResult r = RunTool(Decode(Path(file)));
        ASSERT_EQ(r.status, 0) << file << ": " << r.err;
        EXPECT_NE(r.err.find(mode), std::string::npos) << file << ": " << r.err;
        EXPECT_EQ(r.out, original_.out) << file;
    }
}

TEST_F(Tavikdecode, OtherRatesAndMonoDecodeTheSamePayloads) {
    const auto original = PayloadSet(original_.out);
    for (const std::string file : {"r44.wav", "r96.wav"}) {
        const RunResult r = RunTool(Decode(Path(file)));
        ASSERT_EQ(r.status, 0) << file << ": " << r.err;
        const auto found = PayloadSet(r.out);
        for (const auto& p : kKnown) EXPECT_TRUE(found.count(p)) << file << " " << std::get<3>(p);
        for (const auto& p : found) EXPECT_TRUE(original.count(p)) << file << " " << std::get<3>(p);
    }
    const RunResult mono = RunTool(Decode(Path("mono.wav")));
    ASSERT_EQ(mono.status, 0) << mono.err;
    std::set<Payload> channel0;
    for (const auto& p : original)
        if (std::get<0>(p) == 0) channel0.insert(p);
    EXPECT_EQ(PayloadSet(mono.out), channel0);
}

TEST_F(Tavikdecode, StandardInputStream) {
    const RunResult r = RunTool("cat '" + Path("orig.wav") + "' | " + Decode("-"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, original_.out);
    // A stream that ends before the length its header announces is reported
    // (when it ends, since a pipe cannot be measured beforehand).
    const RunResult cut = RunTool("head -c 1000000 '" + Path("orig.wav") + "' | " + Decode("-"));
    EXPECT_EQ(cut.status, 1);
    EXPECT_NE(cut.err.find("-: truncated file"), std::string::npos) << cut.err;
}

// Each file gets a meter of its own whose callbacks number the channels from 0,
// so a second file reports exactly what it reports alone.
TEST_F(Tavikdecode, SeveralFilesInOneProcessEachReportFromChannelZero) {
    const RunResult twice = RunTool(Decode(Path("orig.wav") + " " + Path("orig.wav")));
    ASSERT_EQ(twice.status, 0) << twice.err;
    EXPECT_EQ(twice.out, original_.out + original_.out);

    const RunResult mono = RunTool(Decode(Path("mono.wav")));
    const RunResult both = RunTool(Decode(Path("mono.wav") + " " + Path("orig.wav")));
    ASSERT_EQ(both.status, 0) << both.err;
    EXPECT_EQ(both.out, mono.out + original_.out);
}

TEST_F(Tavikdecode, FamilyChannelAndRawOptions) {
    // Mode word 1: ZELT only.
    const RunResult zelt = RunTool(Decode("--mode 1 " + Path("orig.wav")));
    ASSERT_EQ(zelt.status, 0) << zelt.err;
    std::set<Payload> expected;
    for (const auto& p : PayloadSet(original_.out))
        if (std::get<1>(p) == "ZELT") expected.insert(p);
    EXPECT_EQ(PayloadSet(zelt.out), expected);
    const RunResult tesk = RunTool(Decode("--families tesk6,tesk2 " + Path("orig.wav")));
    for (const auto& p : PayloadSet(tesk.out)) EXPECT_NE(std::get<1>(p), "ZELT");

    // One channel: exactly the original's lines of that channel.
    const RunResult one = RunTool(Decode("--channel 1 " + Path("orig.wav")));
    ASSERT_EQ(one.status, 0) << one.err;
    std::string channel1;
    std::istringstream in(original_.out);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("{\"channel\":1,", 0) == 0) channel1 += line + "\n";
    EXPECT_EQ(one.out, channel1);
    EXPECT_EQ(one.err.find("channel 0:"), std::string::npos);

    // Raw display hands on every detection unfiltered: at least as many codes.
    const RunResult raw = RunTool(Decode("--raw " + Path("orig.wav")));
    ASSERT_EQ(raw.status, 0) << raw.err;
    EXPECT_GT(ParseLines(raw.out).size(), ParseLines(original_.out).size());
}

// Bad input and bad options: a clear message naming the cause, a non-zero
// exit, nothing on standard output, even when good files come first.
TEST_F(Tavikdecode, ErrorsExitNonZeroWithNothingOnStandardOutput) {
    const std::string orig = ReadFile(Path("orig.wav"));
    {
        std::ofstream(Scratch("garbage.wav"), std::ios::binary) << "RIFF1234WAVEnot audio at all";
        std::ofstream(Scratch("truncated.wav"), std::ios::binary)
            << orig.substr(0, orig.size() / 2);
        std::ofstream(Scratch("empty.wav"), std::ios::binary) << "";
        // Header intact, data chunk cut inside a frame.
        std::ofstream(Scratch("cut.wav"), std::ios::binary) << orig.substr(0, 44 + 4 * 1000 + 3);
    }
    SF_INFO wide{};
    wide.samplerate = 48000;
    wide.channels = 17;
    wide.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* f = sf_open(Scratch("wide.wav").c_str(), SFM_WRITE, &wide);
    ASSERT_NE(f, nullptr);
    std::vector<short> zeros(17 * 4800);
    sf_writef_short(f, zeros.data(), 4800);
    sf_close(f);
    ASSERT_EQ(RunTool(Tavikgen() + " --seconds 1 --rate 22050 -o " + Scratch("r22.wav")).status, 0);
    ASSERT_EQ(RunTool(Tavikgen() + " --seconds 1 --rate 11025 -o " + Scratch("r11.wav")).status, 0);

    struct Case {
        std::string args;
        int status;
        std::string message;
    };
    const std::vector<Case> cases = {
        {Scratch("garbage.wav"), 1, "garbage.wav: cannot read audio"},
        {Scratch("empty.wav"), 1, "empty.wav: cannot read audio"},
        {Scratch("truncated.wav"), 1, "truncated.wav: truncated file"},
        {Scratch("cut.wav"), 1, "cut.wav: truncated file"},
        {Scratch("missing.wav"), 1, "missing.wav: cannot read audio"},
        {Scratch("wide.wav"), 1, "unsupported channel count 17"},
        {"--families tesk2 " + Scratch("r22.wav"), 1,
         "22050 Hz is not supported by the TESK 2 decoder"},
        {Scratch("r11.wav"), 1, "11025 Hz is not supported"},
        {Path("orig.wav") + " " + Scratch("garbage.wav"), 1, "garbage.wav"},
        {"--channel 2 " + Path("orig.wav"), 1, "has no channel 2"},
        {"--bogus " + Path("orig.wav"), 2, "unknown option --bogus"},
        {"--mode 9 " + Path("orig.wav"), 2, "mode word"},
        {"--families tesk7 " + Path("orig.wav"), 2, "unknown family"},
        {"--start-time soon " + Path("orig.wav"), 2, "start time"},
        {"--jobs 0 " + Path("orig.wav"), 2, "jobs must be"},
        {"--timeline x.svg " + Path("orig.wav") + " " + Path("orig.wav"), 2, "one input"},
        {"- -", 2, "standard input"},
        {"", 2, "no input file"},
    };
    for (const auto& c : cases) {
        const RunResult r = RunTool(Decode(c.args) + " < /dev/null");
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        EXPECT_EQ(r.out, "") << c.args;
        EXPECT_NE(r.err.find(c.message), std::string::npos) << c.args << ": " << r.err;
    }
}

// A 16 kHz file, made once per test program.
const std::string& File16k() {
    static const std::string path = [] {
        const std::string p = Scratch("r16.wav");
        EXPECT_EQ(RunTool(Tavikgen() + " --seconds 20 --rate 16000 --host pink --ratio -20" +
                          kMarks + " -o " + p)
                      .status,
                  0);
        return p;
    }();
    return path;
}

// TESK 2 cannot run at 16 kHz: the file is decoded for the other two families,
// with a note that says which family was left out and why; only when none of
// the selected families can run is the file refused.
TEST_F(Tavikdecode, RateOneFamilyCannotRunDecodesTheOthers) {
    const RunResult r = RunTool(Decode(File16k()));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("r16.wav: TESK 2 left out: its decoder cannot run at 16000 Hz; "
                         "decoding TESK 6 and ZELT"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("channel 0: TESK6 "), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("TESK2"), std::string::npos) << r.err;
    const auto found = PayloadSet(r.out);
    for (const auto& p : kKnown)
        EXPECT_EQ(found.count(p), std::get<1>(p) == "TESK2" ? 0u : 1u) << std::get<3>(p);
    for (const auto& p : found) EXPECT_TRUE(kKnown.count(p)) << std::get<3>(p);

    // Asked for TESK 2 alone: refused, naming the families that would run.
    const RunResult only = RunTool(Decode("--families tesk2 " + File16k()));
    EXPECT_EQ(only.status, 1);
    EXPECT_EQ(only.out, "");
    EXPECT_NE(only.err.find("16000 Hz is not supported by the TESK 2 decoder"), std::string::npos)
        << only.err;
    EXPECT_NE(only.err.find("TESK 6 and ZELT run at this rate"), std::string::npos) << only.err;
}

// Standard error without the speed figures, which differ from run to run.
std::string WithoutSpeed(const std::string& err) {
    return std::regex_replace(err, std::regex("decoded in [^\n]*"), "decoded");
}

// Several files decoded by worker processes print exactly what one process
// prints, in input order, standard input among them; a file that fails in the
// middle ends the run after its output, as it does in one process.
TEST_F(Tavikdecode, JobsPrintWhatOneProcessPrints) {
    const std::string files =
        Path("orig.wav") + " " + Path("mono.wav") + " " + File16k() + " - " + Path("r44.wav");
    const std::string feed = "cat '" + Path("float.wav") + "' | ";
    const RunResult one = RunTool(feed + Decode("-j 1 " + files));
    ASSERT_EQ(one.status, 0) << one.err;
    EXPECT_EQ(one.out.substr(0, original_.out.size()), original_.out);
    const RunResult two = RunTool(feed + Decode("--jobs 2 " + files));
    EXPECT_EQ(two.status, 0) << two.err;
    EXPECT_EQ(two.out, one.out);
    EXPECT_EQ(WithoutSpeed(two.err), WithoutSpeed(one.err));

    const std::string cut = "head -c 1000000 '" + Path("orig.wav") + "' | ";
    const std::string mixed = Path("mono.wav") + " - " + Path("orig.wav");
    const RunResult cutOne = RunTool(cut + Decode("-j 1 " + mixed));
    const RunResult cutTwo = RunTool(cut + Decode("-j 2 " + mixed));
    EXPECT_EQ(cutOne.status, 1);
    EXPECT_EQ(cutTwo.status, 1);
    EXPECT_EQ(cutTwo.out, cutOne.out);
    EXPECT_EQ(WithoutSpeed(cutTwo.err), WithoutSpeed(cutOne.err));
    EXPECT_NE(cutTwo.err.find("-: truncated file"), std::string::npos) << cutTwo.err;
    EXPECT_EQ(cutTwo.err.find("summary of " + Path("orig.wav")), std::string::npos) << cutTwo.err;
}

TEST_F(Tavikdecode, TimelineNamesEveryDetection) {
    const std::string svg = Scratch("timeline.svg");
    const RunResult r = RunTool(Decode("--timeline " + svg + " " + Path("orig.wav")));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, original_.out);
    const std::string text = ReadFile(svg);
    const RunResult xml = RunTool("xmllint --noout '" + svg + "'");  // a real XML parser
    EXPECT_EQ(xml.status, 0) << xml.err;
    EXPECT_NE(text.find("<svg xmlns=\"http://www.w3.org/2000/svg\""), std::string::npos);

    // One mark with a tooltip per code, naming channel, family and identifier;
    // one row per channel and family.
    std::multiset<std::string> titles;
    const std::regex mark("<rect [^>]*><title>([^<]*)</title></rect>");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), mark);
         it != std::sregex_iterator(); ++it)
        titles.insert((*it)[1]);
    const auto lines = ParseLines(original_.out);
    EXPECT_EQ(titles.size(), lines.size());
    std::map<Payload, size_t> wanted;
    for (const auto& p : lines) ++wanted[p];
    for (const auto& [p, n] : wanted) {
        const std::string prefix = "ch" + std::to_string(std::get<0>(p)) + " " + std::get<1>(p);
        size_t matching = 0;
        for (const auto& t : titles)
            matching += t.rfind(prefix, 0) == 0 && t.find(std::get<3>(p)) != std::string::npos;
        EXPECT_GE(matching, n) << prefix << " " << std::get<3>(p);
    }
    for (const std::string row : {"ch0 TESK6", "ch0 TESK2", "ch0 ZELT", "ch1 TESK6", "ch1 ZELT"})
        EXPECT_NE(text.find(">" + row + "</text>"), std::string::npos) << row;
}

// Rate, channels, frames and sample format of a sound file.
std::string Shape(const std::string& path) {
    SF_INFO i{};
    SNDFILE* f = sf_open(path.c_str(), SFM_READ, &i);
    if (f == nullptr) return "unreadable";
    sf_close(f);
    const int sub = i.format & SF_FORMAT_SUBMASK;
    return std::to_string(i.samplerate) + " Hz, " + std::to_string(i.channels) + " ch, " +
           std::to_string(i.frames) + " frames, " +
           (sub == SF_FORMAT_PCM_16  ? "pcm16"
            : sub == SF_FORMAT_FLOAT ? "float"
                                     : "other");
}

TEST(Tavikgen, FormatsRatesAndBadRequests) {
    // The last one is generated on the first one's output as host file: the
    // host's rate and length carry over (the channel count stays -n's default).
    const struct {
        std::string out, args, shape;
    } made[] = {
        {"g16.wav", "--seconds 2 --rate 32000 -n 3 --host white --mark 2:tesk6-prog:sid=7",
         "32000 Hz, 3 ch, 64000 frames, pcm16"},
        {"gf.wav", "--seconds 2 --float --host silence -n 1 --mark 0:zelt-flag:value=3",
         "48000 Hz, 1 ch, 96000 frames, float"},
        {"onhost.wav", "--host " + Scratch("g16.wav") + " --mark 1:tesk2-rs:id=0x123456789",
         "32000 Hz, 2 ch, 64000 frames, pcm16"},
    };
    for (const auto& m : made) {
        const RunResult r = RunTool(Tavikgen() + " -o " + Scratch(m.out) + " " + m.args);
        ASSERT_EQ(r.status, 0) << m.args << ": " << r.err;
        EXPECT_EQ(Shape(Scratch(m.out)), m.shape) << m.args;
    }

    const std::vector<std::string> bad = {
        "--mark 0:tesk6-prog",                   // no sid
        "--mark 2:tesk6-prog:sid=1",             // channel beyond -n 2
        "--mark 0:tesk5-prog:sid=1",             // unknown kind
        "--mark 0:zelt-prog:layer=3,id=0x1234",  // layer of the commercial message
        "--mark 0:tesk2-prog:sid=1,colour=red",  // unknown field
        "--rate 4000",
        "--channels 7",
    };
    for (const auto& args : bad) {
        const std::string out = Scratch("bad.wav");
        const RunResult r = RunTool(Tavikgen() + " -n 2 -o " + out + " " + args);
        EXPECT_EQ(r.status, 2) << args << ": " << r.err;
        EXPECT_FALSE(r.err.empty()) << args;
        EXPECT_TRUE(ReadFile(out).empty()) << args;
    }
    // Valid syntax, impossible message: refused with status 1.
    const RunResult dup = RunTool(Tavikgen() + " -o " + Scratch("dup.wav") +
                                  " --mark 0:zelt-prog:layer=1,id=0x1234"
                                  " --mark 0:zelt-prog:layer=1,id=0x5678");
    EXPECT_EQ(dup.status, 1) << dup.err;
    EXPECT_EQ(RunTool(Tavikgen() + " --help").status, 0);
}

}  // namespace
