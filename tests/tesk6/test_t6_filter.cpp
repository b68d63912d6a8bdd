// TESK 6 detection filter and the filtered callback around it: confirmation
// in pairs, Reed-Solomon pass-through, parsing failures, switches, raw
// display, time-code correction, duplicates, channel numbering.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/CTavikReportCallback.h"
#include "app/CTesk6DecoderFilteredCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "decoders/tesk6/CTesk6DCFilter.h"
#include "dsp/CUCCValidator.h"

namespace {

// A TESK 6 detection text as the decoder writes it.
struct Det {
    std::string layer = "PROG";
    unsigned sid = 100;
    std::string commId;
    int firstAge = 1500;
    int lastAge = 1500;
    unsigned phase = 5;
    long long timestamp = 1000;
    std::string dist = "FD1";
    unsigned transmission = 0;
    unsigned dst = 0;
    long long sampleBlockIndex = -1;  // -1: from the elapsed time (last symbol 1.5 s earlier)
    double elapsed = 10.0;
    unsigned redundant = 0;
    int strength = 300;
    int quality = 8;
};

std::string Json(const Det& d) {
    char t[64];
    snprintf(t, sizeof(t), "%.3f", d.elapsed);
    std::string s =
        std::string("{\"TESK6\":{\"elapsedTime\":") + t + ",\"layer\":\"" + d.layer + "\",";
    if (d.layer == "COMM_RS")
        s += "\"commId\":\"" + d.commId + "\",";
    else
        s += "\"sid\":" + std::to_string(d.sid) + ",";
    const long long block =
        d.sampleBlockIndex >= 0 ? d.sampleBlockIndex : (long long)((d.elapsed + 1.5) / 0.032 + 0.5);
    s += "\"firstSymAge\":" + std::to_string(d.firstAge) +
         ",\"lastSymAge\":" + std::to_string(d.lastAge) +
         ",\"quality\":" + std::to_string(d.quality) +
         ",\"strength\":" + std::to_string(d.strength) +
         ",\"depth\":0,\"phase\":" + std::to_string(d.phase) +
         ",\"timestamp\":" + std::to_string(d.timestamp) +
         ",\"dst\":" + std::to_string(d.dst) + ",\"systemTime\":0,\"dist\":\"" + d.dist +
         "\",\"transmission\":" + std::to_string(d.transmission) +
         ",\"sampleBlockIndex\":" + std::to_string(block) +
         ",\"redundantCommStd\":" + std::to_string(d.redundant) + "}}";
    return s;
}

// An integer member of a TESK 6 text.
long long Field(const std::string& json, const char* key = "timestamp") {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    return doc["TESK6"][key].GetInt64();
}

// A detection made at audio time t seconds.
Det At(double t, long long ts, const std::string& layer = "PROG") {
    Det d;
    d.layer = layer;
    d.firstAge = 3000;
    d.phase = 10;
    d.sampleBlockIndex = (long long)(t / 0.032);
    d.elapsed = t - 1.5;
    d.timestamp = ts;
    return d;
}

// Number of texts the filter reports for b after seeing a.
int Pair(const Det& a, const Det& b) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    f.ProcessDetection(Json(a), out);
    return f.ProcessDetection(Json(b), out);
}

TEST(T6DCFilter, ProgramPairIsReportedOnceOlderFirst) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    EXPECT_EQ(f.ProcessDetection(Json(At(10.0, 1000)), out), 0);
    EXPECT_TRUE(out.empty());
    ASSERT_EQ(f.ProcessDetection(Json(At(15.0, 1005)), out), 2);
    EXPECT_EQ(Field(out[0]), 1000);
    EXPECT_EQ(Field(out[1]), 1005);
    // ages are re-based on the newest detection: the older one is ~5 s older
    EXPECT_NEAR(double(Field(out[0], "lastSymAge") - Field(out[1], "lastSymAge")), 5000.0, 40.0);
    // A third matching detection reports only itself.
    ASSERT_EQ(f.ProcessDetection(Json(At(19.8, 1010)), out), 1);
    EXPECT_EQ(Field(out[0]), 1010);
    // A pair whose time codes disagree is reported without them.
    CTesk6DCFilter g;
    g.ProcessDetection(Json(At(10.0, 1000)), out);
    ASSERT_EQ(g.ProcessDetection(Json(At(15.0, 1015)), out), 2);
    EXPECT_EQ(Field(out[0]), -1);
    EXPECT_EQ(Field(out[1]), -1);
}

TEST(T6DCFilter, PairingRules) {
    const Det a = At(10.0, 1000);
    Det b = At(15.0, 1005);
    // phase more than 2 apart (mod 50): no pair; 49 vs 1 is only 2 apart
    Det a2 = a, b2 = b;
    b2.phase = 13;
    EXPECT_EQ(Pair(a2, b2), 0);
    a2.phase = 49;
    b2.phase = 1;
    EXPECT_EQ(Pair(a2, b2), 2);
    b2 = b;
    b2.dist = "FD2";  // other distribution
    EXPECT_EQ(Pair(a, b2), 0);
    // time codes that disagree: a program pair is reported without them (see
    // above), a commercial pair not at all
    EXPECT_EQ(Pair(At(10.0, 1000, "COMM_STD"), At(15.0, 1015, "COMM_STD")), 0);
    EXPECT_EQ(Pair(a, At(70.0, 1060)), 0);              // gap above 56488 ms
    EXPECT_EQ(Pair(a, At(15.0, 1005, "COMM_STD")), 0);  // layers never pair
    // b's span starts before a's last symbol: never a pair (the program
    // layer by its gap, commercials because the two readings share audio)
    for (const char* layer : {"PROG", "COMM_STD"})
        EXPECT_EQ(Pair(At(10.0, 1000, layer), At(10.5, 1000, layer)), 0) << layer;
}

// A commercial pair must come from separate stretches of audio: a deeper
// detection re-reads the repetitions an earlier shallower one was made from.
// Last symbols 3.2 s apart with spans of 2.944 s and 6.144 s overlap
// (noise read twice); with a 1.344 s span the second reading stands alone.
TEST(T6DCFilter, CommercialPairsNeedSeparateAudio) {
    for (const char* layer : {"COMM_STD", "COMM_RS"}) {
        for (int secondSpan : {6144, 1344}) {
            Det a = At(1720.544 + 1.5, 474740912, layer), b = At(1723.744 + 1.5, 474740915, layer);
            a.commId = b.commId = "0x123456789";
            a.lastAge = 1000;
            a.firstAge = 1000 + 2944;
            b.lastAge = 1000;
            b.firstAge = 1000 + secondSpan;
            EXPECT_EQ(Pair(a, b), secondSpan == 1344 ? 2 : 0) << layer << " " << secondSpan;
        }
    }
    // Reed-Solomon pairs also need the same commId and phase
    Det a = At(10.0, -1, "COMM_RS"), b = At(15.0, -1, "COMM_RS");
    a.commId = "0x123456789";
    b.commId = "0x12345678a";
    EXPECT_EQ(Pair(a, b), 0);
    b.commId = a.commId;
    b.phase = a.phase + 3;
    EXPECT_EQ(Pair(a, b), 0);
    b.phase = a.phase;
    EXPECT_EQ(Pair(a, b), 2);
    EXPECT_EQ(Pair(a, At(70.0, -1, "COMM_RS")), 0);  // gap above 56488 ms
}

// Empty ring slots must not confirm anything, even a detection whose fields
// happen to match a cleared record (SID 0, "PC", phase 0).
TEST(T6DCFilter, EmptySlotsNeverConfirm) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    Det d = At(2.0, -1);
    d.sid = 0;
    d.dist = "PC";
    d.phase = 0;
    d.firstAge = 1000;
    d.lastAge = 500;
    EXPECT_EQ(f.ProcessDetection(Json(d), out), 0);
}

// A program detection at t whose seven 7-bit symbols are w (SID, flags and
// distribution in the first three, the time code in the rest), at the phase
// and strength given (those of At when negative).
Det ProgramFromSymbols(const std::vector<int>& w, double t, int phase = -1, int strength = -1) {
    static const char* kDist[] = {"PC", "FD1", "FD2", "FD3"};
    Det d = At(t, ((long long)(w[2] & 1) << 28) | (w[3] << 21) | (w[4] << 14) | (w[5] << 7) | w[6]);
    d.sid = unsigned((w[0] << 9) | (w[1] << 2) | (w[2] >> 5));
    d.transmission = unsigned((w[2] >> 4) & 1);
    d.dist = kDist[(w[2] >> 2) & 3];
    d.dst = unsigned((w[2] >> 1) & 1);
    if (phase >= 0) d.phase = unsigned(phase);
    if (strength >= 0) d.strength = strength;
    return d;
}

// A program message read with its symbols out of place (one symbol spacing
// early, or every second symbol) names a code never sent, with a time code
// that runs on like the true one; while the true code is in the ring such
// readings are dropped. An unrelated code is still reported.
TEST(T6DCFilter, DisplacedProgramReadingsAreDropped) {
    const std::vector<int> trueCode = {1, 37, 41, 112, 98, 93, 48};  // SID 661, FD2
    const std::vector<std::vector<int>> displaced = {{1, 1, 37, 41, 112, 98, 48},
                                                     {37, 37, 112, 112, 93, 93, 48}};
    for (const auto& slip : displaced) {
        CTesk6DCFilter f;
        std::vector<std::string> out;
        f.ProcessDetection(Json(ProgramFromSymbols(trueCode, 10.0)), out);
        std::vector<int> later = trueCode;
        later[6] += 5;
        EXPECT_EQ(f.ProcessDetection(Json(ProgramFromSymbols(later, 15.0)), out), 2);
        f.ProcessDetection(Json(ProgramFromSymbols(slip, 20.0)), out);
        std::vector<int> slipLater = slip;
        slipLater[6] += 5;
        EXPECT_EQ(f.ProcessDetection(Json(ProgramFromSymbols(slipLater, 25.0)), out), 0);
        const std::vector<int> other = {5, 17, 64, 112, 99, 10, 20};
        f.ProcessDetection(Json(ProgramFromSymbols(other, 30.0)), out);
        std::vector<int> otherLater = other;
        otherLater[6] += 5;
        EXPECT_EQ(f.ProcessDetection(Json(ProgramFromSymbols(otherLater, 35.0)), out), 2);
    }
}

// Weaker program readings near a reported code's phase that misread it are dropped:
// - across symbol boundaries: a reading a few frames off takes each symbol from where it
//   meets a neighbour (here symbols 1, 2 and 5 from the next place);
// - in the code's own slot, on its time code, with a data symbol misread (one encoder
//   sends one program message per slot), or with any one data symbol misread;
// - a whole symbol early or late (one symbol spacing, 6 frames, off its phase), with one
//   further symbol misread, however strong.
// The same symbols are a code of their own far off that phase or when read stronger.
TEST(T6DCFilter, WeakerMisreadingsNearAReportedCodeAreDropped) {
    const std::vector<int> trueCode = {34, 38, 45, 112, 113, 103, 37};
    const std::vector<int> straddled = {38, 45, 45, 112, 103, 103, 42};
    std::vector<int> otherSid = trueCode;
    otherSid[1] = 57;
    otherSid[6] += 10;
    std::vector<int> otherTime = trueCode;  // the SID's last bits and the time code's top bit
    otherTime[2] ^= 0x21;
    otherTime[6] += 10;
    // A whole symbol late (the marker's place read as symbol 1) or early (the running last
    // symbol read as symbol 6), each with one further symbol misread.
    const std::vector<int> late = {99, 34, 38, 45, 112, 100, 47};
    const std::vector<int> early = {38, 45, 112, 113, 9, 77, 47};
    const struct {
        const std::vector<int>* reading;
        unsigned phase;
        int strength;
        int reported;
    } kCases[] = {{&straddled, 13, 150, 0}, {&straddled, 7, 150, 0}, {&straddled, 30, 150, 2},
                  {&straddled, 13, 900, 2}, {&otherSid, 10, 150, 0}, {&otherSid, 12, 150, 0},
                  {&otherSid, 20, 150, 2},  {&otherSid, 10, 900, 2},  {&otherTime, 10, 150, 0},
                  {&otherTime, 10, 900, 2}, {&late, 16, 900, 0},      {&late, 30, 150, 2},
                  {&early, 4, 900, 0},      {&early, 40, 150, 2}};
    for (const auto& k : kCases) {
        SCOPED_TRACE(testing::Message() << (*k.reading)[1] << " at phase " << k.phase);
        CTesk6DCFilter f;
        std::vector<std::string> out;
        f.ProcessDetection(Json(ProgramFromSymbols(trueCode, 10.0, 10, 600)), out);
        std::vector<int> later = trueCode;
        later[6] += 5;
        ASSERT_EQ(f.ProcessDetection(Json(ProgramFromSymbols(later, 15.0, 10, 600)), out), 2);
        std::vector<int> reading = *k.reading;
        f.ProcessDetection(Json(ProgramFromSymbols(reading, 20.0, k.phase, k.strength)), out);
        reading[6] += 5;
        EXPECT_EQ(
            f.ProcessDetection(Json(ProgramFromSymbols(reading, 25.0, k.phase, k.strength)), out),
            k.reported);
        // The reported code itself goes on being reported after a misreading was dropped.
        later[6] += 10;
        if (k.reported == 0) {
            EXPECT_EQ(f.ProcessDetection(Json(ProgramFromSymbols(later, 25.0, 10, 600)), out), 1);
        }
    }
}

// A Reed-Solomon reading decoded with a correction whose code word is a confirmed standard
// commercial message read one place on (four of its symbols the message's symbols 1 to 4) is
// that message misread, and never pairs; the same identifier in a slot no standard message
// overlaps is a code of its own.
TEST(T6DCFilter, ReedSolomonReadingOfAConfirmedStandardCommercialIsDropped) {
    const std::vector<int> standard = {43, 63, 33, 112, 98, 117, 67};
    uint64_t id = 0;
    for (int first = 1; first < 128; ++first) {
        id = uint64_t(first) << 28;
        for (int i = 0; i < 4; ++i) id |= uint64_t(standard[size_t(i)]) << (7 * (3 - i));
        if (CUCCValidator::IsValidCommID(long(id))) break;
    }
    ASSERT_TRUE(CUCCValidator::IsValidCommID(long(id)));
    char hex[24];
    snprintf(hex, sizeof hex, "0x%llx", static_cast<unsigned long long>(id));
    for (unsigned rsPhase : {13u, 40u}) {
        SCOPED_TRACE(rsPhase);
        CTesk6DCFilter f;
        std::vector<std::string> out;
        Det a = ProgramFromSymbols(standard, 10.0, 7);
        std::vector<int> later = standard;
        later[6] += 5;
        Det b = ProgramFromSymbols(later, 15.0, 7);
        a.layer = b.layer = "COMM_STD";
        f.ProcessDetection(Json(a), out);
        ASSERT_EQ(f.ProcessDetection(Json(b), out), 2);
        int reported = 0;
        for (double t : {20.0, 25.0}) {
            Det r = At(t, -1, "COMM_RS");
            r.commId = hex;
            r.phase = rsPhase;
            reported += f.ProcessDetection(Json(r), out);
        }
        EXPECT_EQ(reported, rsPhase == 13 ? 0 : 2);
    }
}

// A standard commercial reading of a Reed-Solomon message taken across symbol boundaries:
// each of its symbols is one of the identifier's at the same place or the place before or
// after it (here 49 49 83 105 105 55 from the identifier 49 83 15 105 55), so it escapes the
// check of symbols 1 to 5, and two such readings 20 s apart agree in SID and time. While the
// identifier is confirmed, decoded without a correction, they are not reported; without it
// they are a code of their own.
TEST(T6DCFilter, StandardReadingAcrossSymbolsOfAHeardIdentifierIsDropped) {
    const char* id = "0x31a63f4b7";
    ASSERT_TRUE(CUCCValidator::IsValidCommID(long(0x31a63f4b7ull)));
    auto standard = [](double t, int last) {
        Det d = ProgramFromSymbols({49, 49, 83, 105, 105, 55, last}, t, 7);
        d.layer = "COMM_STD";
        return d;
    };
    for (bool heard : {true, false}) {
        SCOPED_TRACE(heard);
        CTesk6DCFilter f;
        std::vector<std::string> out;
        if (heard) {
            for (double t : {10.0, 15.0}) {
                Det r = At(t, -1, "COMM_RS");
                r.commId = id;
                r.phase = 7;
                r.quality = 51008;
                f.ProcessDetection(Json(r), out);
            }
            ASSERT_EQ(out.size(), 2u);
        }
        EXPECT_EQ(f.ProcessDetection(Json(standard(20.0, 27)), out), 0);
        EXPECT_EQ(f.ProcessDetection(Json(standard(40.0, 47)), out), heard ? 0 : 2);
    }
}

TEST(T6DCFilter, ReedSolomonNeedsAValidCommIdTwiceAndBadTextsThrow) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    Det d = At(5.0, -1, "COMM_RS");
    d.commId = "0x123456789";
    EXPECT_EQ(f.ProcessDetection(Json(d), out), 0);
    d = At(8.2, -1, "COMM_RS");
    d.commId = "0x123456789";
    ASSERT_EQ(f.ProcessDetection(Json(d), out), 2);
    rapidjson::Document doc;
    doc.Parse(out[1].c_str());
    EXPECT_STREQ(doc["TESK6"]["commId"].GetString(), "0x123456789");
    EXPECT_FALSE(doc["TESK6"].HasMember("sid"));
    CTesk6DCFilter g;
    d.commId = "0x0";
    for (double t : {5.0, 8.2}) {
        d = At(t, -1, "COMM_RS");
        d.commId = "0x0";
        EXPECT_EQ(g.ProcessDetection(Json(d), out), 0);
        EXPECT_TRUE(out.empty());
    }

    try {
        f.ProcessDetection("{\"TESK2\":{}}", out);
        FAIL();
    } catch (const char* e) {
        EXPECT_STREQ(e, "Failed to parse/extract json detection.");
    }
    EXPECT_THROW(f.ProcessDetection("not json", out), const char*);
}

class FakeReport : public CTavikReportCallback {
public:
    void setAudioCodes(unsigned int channel, std::string* text) override {
        codes.emplace_back(channel, *text);
    }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}
    std::vector<std::pair<unsigned, std::string>> codes;
};

class T6Callback : public ::testing::Test {
protected:
    void SetUp() override {
        ReportTw = true;
        bTwRawOutput = false;
        memset(&cfg, 0, sizeof(cfg));
        cfg.reportMode = kReportModeJson;
        Init(cb, report);
    }
    void TearDown() override { SetUp(); }
    // Sets `c` up on channel "ch0" reporting to `r`.
    void Init(CTesk6DecoderFilteredCallback& c, FakeReport& r) {
        cfg.reportCallback = &r;
        char name[] = "ch0";
        c.init(&cfg, 4, 1, 4, name);
    }
    FakeReport report;
    SampleAppConfigurationData cfg;
    CTesk6DecoderFilteredCallback cb;
};

TEST_F(T6Callback, ChannelComesFromTheChannelName) {
    const struct {
        const char* name;
        int ch;
    } kNames[] = {{"ch0", 0}, {"input.wav.ch1", 1}, {".ch12", 12}, {"input", -1}, {nullptr, -1}};
    for (const auto& n : kNames)
        EXPECT_EQ(CTesk6DecoderFilteredCallback::ChannelFromName(n.name), n.ch) << n.ch;
    // A second meter's callbacks start at channel 0 again.
    for (int meter = 0; meter < 2; ++meter) {
        for (int ch = 0; ch < 2; ++ch) {
            CTesk6DecoderFilteredCallback c;
            std::string name = "f.wav.ch" + std::to_string(ch);
            c.init(&cfg, 4, 1, 4, &name[0]);
            EXPECT_EQ(c.Channel(), ch);
        }
    }
}

TEST_F(T6Callback, RawDisplayForwardsEveryTextUnchanged) {
    bTwRawOutput = true;
    Det d;
    d.redundant = 1;
    const std::string text = Json(d);
    cb.ResultCallback(text);
    cb.ResultCallback("not even json");
    ASSERT_EQ(report.codes.size(), 2u);
    EXPECT_EQ(report.codes[0].second, text);
    EXPECT_EQ(report.codes[1].second, "not even json");
    ReportTw = false;
    cb.ResultCallback(text);
    EXPECT_EQ(report.codes.size(), 2u);
}

TEST_F(T6Callback, FilteredDisplayNeedsConfirmationAndDropsRedundant) {
    Det a;
    a.redundant = 1;
    cb.ResultCallback(Json(a));
    a.elapsed = 15.0;
    a.timestamp = 1005;
    cb.ResultCallback(Json(a));
    EXPECT_TRUE(report.codes.empty());
    // unconfirmed single detection: nothing; its partner confirms both
    Det b;
    cb.ResultCallback(Json(b));
    EXPECT_TRUE(report.codes.empty());
    b.elapsed = 14.8;
    b.timestamp = 1005;
    cb.ResultCallback(Json(b));
    ASSERT_EQ(report.codes.size(), 2u);
    EXPECT_EQ(Field(report.codes[0].second), 1000);
    EXPECT_EQ(Field(report.codes[1].second), 1005);
    EXPECT_THROW(cb.ResultCallback("{\"TESK6\":"), std::runtime_error);
    cb.ResultCallback("{\"OTHER\":1}");
    EXPECT_EQ(report.codes.size(), 2u);
}

// The duplicate step: a repeat within 0.3 s is dropped (a time code of 0 does
// not set the last elapsed time), and so is a Reed-Solomon repeat of one block.
TEST_F(T6Callback, DuplicatesAreDropped) {
    const struct {
        long long ts;
        double gap;
        size_t reported;
    } kCases[] = {{1000, 0.2, 1}, {1000, 0.3, 2}, {0, 0.1, 2}};
    for (const auto& k : kCases) {
        FakeReport r;
        CTesk6DecoderFilteredCallback c;
        Init(c, r);
        Det d;
        d.timestamp = k.ts;
        c.ResultCallback(Json(d));
        d.elapsed += k.gap;
        c.ResultCallback(Json(d));
        EXPECT_EQ(r.codes.size(), k.reported) << k.ts << " " << k.gap;
    }
    cfg.reportCallback = &report;
    Det d;
    d.layer = "COMM_RS";
    d.commId = "0x123456789";
    d.timestamp = -1;
    // a pair of separate readings, then the second one again
    cb.ResultCallback(Json(d));
    d.elapsed += 1.6;
    cb.ResultCallback(Json(d));
    cb.ResultCallback(Json(d));
    ASSERT_EQ(report.codes.size(), 2u);
    EXPECT_NE(report.codes[0].second.find("\"commId\":\"0x123456789\""), std::string::npos);
}

// A confirmed pair sets the main anchor; a later detection whose time code
// disagrees is reported with the anchor's time code advanced by the elapsed
// time; 30 s after the anchor nothing dates it, and a program code without a
// time code never reaches the host.
TEST_F(T6Callback, TimeCodesAreCorrectedAgainstTheAnchor) {
    for (double late : {20.0, 45.5}) {
        FakeReport r;
        CTesk6DecoderFilteredCallback c;
        Init(c, r);
        Det d;
        c.ResultCallback(Json(d));
        d.elapsed = 15.0;
        d.timestamp = 1005;
        c.ResultCallback(Json(d));
        d.elapsed = late;  // time code disagrees: the filter reports it without one
        d.timestamp = 1500;
        c.ResultCallback(Json(d));
        ASSERT_EQ(r.codes.size(), late < 30 ? 3u : 2u) << late;
        if (late < 30) {
            EXPECT_EQ(Field(r.codes[2].second), 1010);
        }
    }
}

// Six hours of a channel that hears a new programme SID and a new commercial
// identifier every 20 s besides one SID that stays on air: every code is
// reported, the steady SID keeps its repeat rule, and the state held stays
// within the codes of the last hour and a bit.
TEST_F(T6Callback, StateOfCodesGoneQuietIsForgotten) {
    size_t most = 0;
    unsigned sid = 1000;
    double lastSteady = 0.0;
    long comm = 0x123456789L;
    size_t rounds = 0;
    for (double t = 20.0; t < 6 * 3600.0; t += 20.0) {
        ++rounds;
        Det d = At(t, 5000 + (long long)t);
        d.sid = ++sid;
        cb.ResultCallback(Json(d));
        Det e = At(t + 5.0, 5005 + (long long)t);
        e.sid = sid;
        cb.ResultCallback(Json(e));
        while (!CUCCValidator::IsValidCommID(++comm)) {
        }
        char id[32];
        snprintf(id, sizeof id, "0x%lx", comm);
        for (double at : {t + 2.0, t + 5.5}) {
            Det c = At(at, -1, "COMM_RS");
            c.commId = id;
            cb.ResultCallback(Json(c));
        }
        Det s = At(t + 10.0, 90000 + (long long)t);
        s.sid = 7;
        s.phase = 40;  // another encoder's slot: the changing codes' one is taken
        cb.ResultCallback(Json(s));
        lastSteady = s.elapsed;
        most = std::max(most, cb.RememberedIds());
    }
    size_t steady = 0;
    for (const auto& c : report.codes)
        if (c.second.find("\"sid\":7,") != std::string::npos) ++steady;
    EXPECT_EQ(report.codes.size() - steady, 4 * rounds);
    EXPECT_GE(steady, rounds - 2);
    const double window = CTesk6DecoderFilteredCallback::kForgetAfterSeconds +
                          CTesk6DecoderFilteredCallback::kForgetSweepSeconds;
    EXPECT_LE(most, size_t(2 * window / 20.0) + 4);
    // The steady SID was never forgotten: a repeat 0.1 s after its last report is dropped.
    const size_t before = report.codes.size();
    Det s = At(lastSteady + 1.6, 90000 + 6 * 3600);
    s.sid = 7;
    s.phase = 40;
    cb.ResultCallback(Json(s));
    EXPECT_EQ(report.codes.size(), before);
}

TEST_F(T6Callback, OutputTextFields) {
    Watermark_Detection_Record_t r;
    ASSERT_TRUE(CTesk6DecoderFilteredCallback::ExtractRecord(
        "{\"TESK6\":{\"elapsedTime\":1.5,\"layer\":\"COMM_RS\",\"commId\":\"0xff\","
        "\"timestamp\":-1,\"dist\":\"FD9\",\"transmission\":7,\"dst\":3}}",
        r));
    EXPECT_EQ(r.commId, 255u);
    EXPECT_EQ(r.distribution, 4);
    EXPECT_EQ(r.transmission, 2u);
    EXPECT_EQ(r.dst, 1);
    const std::string out = CTesk6DecoderFilteredCallback::BuildOutput(r);
    for (const char* part :
         {"\"layer\":\"COMM_RS\",\"commId\":\"0xff\",\"firstSymAge\"", "\"dist\":\"Undefined\""})
        EXPECT_NE(out.find(part), std::string::npos) << part << " in " << out;
    ASSERT_TRUE(CTesk6DecoderFilteredCallback::ExtractRecord(
        "{\"TESK6\":{\"elapsedTime\":1.5,\"layer\":\"XYZ\",\"sid\":5,\"timestamp\":3}}", r));
    EXPECT_NE(CTesk6DecoderFilteredCallback::BuildOutput(r).find("\"layer\":\"PROG\",\"sid\":5"),
              std::string::npos);
}

TEST_F(T6Callback, UnconfiguredInstanceReportsNothing) {
    SampleAppConfigurationData empty;
    memset(&empty, 0, sizeof(empty));
    CTesk6DecoderFilteredCallback c;
    char name[] = "ch0";
    c.init(&empty, 4, 1, 4, name);
    bTwRawOutput = true;
    EXPECT_NO_THROW(c.ResultCallback(Json(Det())));
}

}  // namespace
