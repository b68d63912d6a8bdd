// TESK 2 detection filter and the filtered TESK 2 callback: pairing on the
// 748-frame circle, negative gaps, ring depth, commercial confirmation, the
// distribution tally, raw display and the channel taken from the name.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/CHybridDecoderFilteredCallback.h"
#include "app/CTavikReportCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "decoders/tesk2/CTesk2DCFilter.h"
#include "dsp/CUCCValidator.h"
#include "dsp/ReedSolomon.h"

namespace {

struct Det {
    uint32_t layer = 0;
    uint32_t sid = 321;
    uint16_t phase = 100;
    uint32_t timestamp = 946000000;
    uint16_t dist = 1;  // PC
    uint16_t dst = 0;
    double elapsed = 10.0;
    uint32_t firstAge = 3000;
    uint32_t lastAge = 1000;
    uint64_t commId = 0;
};

// The decoder's text for a detection made at `elapsed` seconds.
std::string Text(const Det& d) {
    _WATERMARK_Detection_t w;
    memset(&w, 0, sizeof w);
    w.layer = d.layer;
    w.sid = d.sid;
    w.phase = d.phase;
    w.timestamp = d.timestamp;
    w.dist = d.dist;
    w.dst = d.dst;
    w.start = d.firstAge;
    w.end = d.lastAge;
    w.quality = 11;
    w.strength = 200;
    w.commId = d.commId;
    w.elapsedTime = d.elapsed;
    w.sampleBlockIndex = uint32_t(d.elapsed * 375.0);
    std::vector<std::string> out;
    CTesk2DCFilter::emitDetection(w, out);
    return out.at(0);
}

// The same message seen again `reps` program repetitions (3.989 s each) later.
Det Later(Det d, int reps) {
    d.elapsed += reps * 1496 * 64 / 24000.0;
    d.timestamp += 4 * reps;
    return d;
}

// A Reed-Solomon detection with a valid identifier.
Det RsDet() {
    Det rs;
    rs.layer = 2;
    rs.sid = 0;
    rs.timestamp = 0xFFFFFFFFu;
    rs.dist = 3;
    rs.commId = 0x2B5C3D1E7ull;
    return rs;
}

rapidjson::Document Json(const std::string& s) {
    rapidjson::Document doc;
    doc.Parse(s.c_str());
    return doc;
}

class CaptureReport : public CTavikReportCallback {
public:
    void setAudioCodes(unsigned int channel, std::string* text) override {
        texts.push_back(*text);
        channels.push_back(channel);
    }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}
    std::vector<std::string> texts;
    std::vector<unsigned> channels;
};

struct FilteredCallback {
    CaptureReport report;
    CHybridDecoderFilteredCallback cb;
    explicit FilteredCallback(const char* name = "ch0") {
        SampleAppConfigurationData cfg{};
        cfg.reportCallback = &report;
        cfg.reportMode = 1;
        ReportT2 = true;
        bT2RawOutput = false;
        cb.init(&cfg, 4, 1, 3, const_cast<char*>(name));
    }
};

}  // namespace

TEST(Tesk2Filter, ProgramPairsAreReportedOnceOldestFirst) {
    CTesk2DCFilter f;
    std::vector<std::string> out;
    const Det a;
    EXPECT_EQ(f.ProcessDetection(Text(a), out), 0);
    const Det b = Later(a, 1);
    ASSERT_EQ(f.ProcessDetection(Text(b), out), 2);
    EXPECT_DOUBLE_EQ(Json(out[0])["TESK2"]["elapsedTime"].GetDouble(), a.elapsed);
    EXPECT_DOUBLE_EQ(Json(out[1])["TESK2"]["elapsedTime"].GetDouble(), b.elapsed);
    EXPECT_EQ(Json(out[1])["TESK2"]["timestamp"].GetInt64(), int64_t(b.timestamp));
    EXPECT_EQ(Json(out[1])["TESK2"]["lastSymAge"].GetInt(), 1000);
    // A third repetition: only the new entry is reported.
    ASSERT_EQ(f.ProcessDetection(Text(Later(a, 2)), out), 1);

    // Same content, time codes 10 s off: both reported with timestamp -1.
    CTesk2DCFilter g;
    g.ProcessDetection(Text(a), out);
    Det c = Later(a, 1);
    c.timestamp += 10;
    ASSERT_EQ(g.ProcessDetection(Text(c), out), 2);
    for (const auto& s : out) EXPECT_EQ(Json(s)["TESK2"]["timestamp"].GetInt(), -1);
}

// Whether a second detection of the same content pairs with the first: phases
// on the 748-frame circle, never with a negative gap (the second starts 1 s
// before the first ended: not allowed in the program layer, and commercial
// readings of shared audio do not confirm each other), and an entry ages out
// after 32 newer detections.
TEST(Tesk2Filter, PairingOnThe748CircleNegativeGapsAndAgeing) {
    struct Case {
        std::string what;
        Det a, b;
        int others, pairs;
    };
    std::vector<Case> cases;
    for (int p2 : {747, 10, 6, 1495, 751}) {
        Det a;
        a.phase = 0;
        Det b = Later(a, 1);
        b.phase = uint16_t(p2);
        cases.push_back({"phase " + std::to_string(p2), a, b, 0, p2 == 10 ? 0 : 2});
    }
    for (uint32_t layer : {0u, 1u}) {
        Det a;
        a.layer = layer;
        Det b = a;
        b.elapsed += 2.0;
        b.timestamp += 2;
        b.firstAge = 4000;
        cases.push_back({"gap, layer " + std::to_string(layer), a, b, 0, 0});
    }
    for (int others : {30, 32})
        cases.push_back({std::to_string(others) + " newer", Det(), Later(Det(), 1), others,
                         others == 30 ? 2 : 0});
    for (const Case& c : cases) {
        CTesk2DCFilter f;
        std::vector<std::string> out;
        f.ProcessDetection(Text(c.a), out);
        for (int i = 0; i < c.others; ++i) {
            Det o = c.a;
            o.sid = 1000 + i;  // nothing to pair with
            o.elapsed += 0.01 * (i + 1);
            f.ProcessDetection(Text(o), out);
        }
        EXPECT_EQ(f.ProcessDetection(Text(c.b), out), c.pairs) << c.what;
    }
}

// A commercial reading counts only when a second one from separate audio
// repeats its content: a Reed-Solomon identifier needs the same valid commId
// and phase from audio that begins after the first reading's last symbol
// (within 60 s); a deeper reading of the same audio or another identifier
// never confirms, and an invalid identifier is never kept.
TEST(Tesk2Filter, CommercialsNeedASecondReadingFromSeparateAudio) {
    struct Case {
        std::string what;
        Det second;
        int reported;
    };
    const Det rs = RsDet();  // symbols from 8 s to 10 s
    std::vector<Case> cases;
    cases.push_back({"next repetition", Later(rs, 1), 2});
    Det deeper = rs;  // the same audio accumulated once more
    deeper.elapsed += 748 * 64 / 24000.0;
    deeper.firstAge += 4000;  // reaches back to 6 s
    cases.push_back({"deeper reading of the same audio", deeper, 0});
    Det other = Later(rs, 1);
    other.commId = rs.commId + 1;
    while (!CUCCValidator::IsValidCommID(long(other.commId))) ++other.commId;
    cases.push_back({"other identifier", other, 0});
    Det shifted = Later(rs, 1);
    shifted.phase = uint16_t(rs.phase + 40);
    cases.push_back({"other phase", shifted, 0});
    cases.push_back({"62 s later", Later(rs, 16), 0});
    Det standard = Later(rs, 1);  // the same rule holds for standard commercials
    Det firstStandard = rs;
    firstStandard.layer = standard.layer = 1;
    firstStandard.sid = standard.sid = 4321;
    firstStandard.dist = standard.dist = 0;
    firstStandard.timestamp = 946000000;
    standard.timestamp = firstStandard.timestamp + 4;
    for (const Case& c : cases) {
        CTesk2DCFilter f;
        std::vector<std::string> out;
        EXPECT_EQ(f.ProcessDetection(Text(rs), out), 0) << c.what;
        EXPECT_EQ(f.ProcessDetection(Text(c.second), out), c.reported) << c.what;
        if (c.reported) {
            EXPECT_STREQ(Json(out[0])["TESK2"]["commId"].GetString(), "0x2b5c3d1e7");
            EXPECT_STREQ(Json(out[0])["TESK2"]["dist"].GetString(), "UN");
        }
    }
    CTesk2DCFilter f;
    std::vector<std::string> out;
    EXPECT_EQ(f.ProcessDetection(Text(firstStandard), out), 0);
    EXPECT_EQ(f.ProcessDetection(Text(standard), out), 2);
    Det invalid = rs;
    invalid.commId = 0x111111111ull;  // repeated nibbles: invalid
    EXPECT_EQ(f.ProcessDetection(Text(invalid), out), 0);
    EXPECT_EQ(f.ProcessDetection(Text(Later(invalid, 1)), out), 0);
    EXPECT_THROW(f.ProcessDetection("not json", out), const char*);
    EXPECT_THROW(f.ProcessDetection("{\"TESK6\":{}}", out), const char*);
}

// Every Reed-Solomon message also reads as a standard commercial message on the
// same tones: read once at depth 0 and again two repetitions later through an
// accumulation that advanced its time symbols, the two readings agree in time
// and come from separate audio, yet name a code that was never sent. They are
// not reported; a true standard message with the same kind of timing is.
TEST(Tesk2Filter, StandardReadingsOfAReedSolomonMessageAreNotReported) {
    RsCodeParams rs;
    RS_Init(11, 7, 5, RS_11_7_TABLES_CODEGENPOLY, RS_11_7_TABLES_LOOKUPGF,
            RS_11_7_TABLES_LOOKUPGFINV, RS_11_7_TABLES_LOOKUPGFREV, &rs);
    int dropped = 0, tried = 0;
    for (uint64_t commId = 0x2B5C3D1E7ull; tried < 20; commId += 0x10203) {
        if (!CUCCValidator::IsValidCommID(long(commId))) continue;
        ++tried;
        uint8_t word[11];
        for (int i = 0; i < 7; ++i) word[i] = uint8_t((commId >> (5 * (6 - i))) & 31);
        RS_Encode(word, 7, word + 7, &rs);
        // The standard fields of transmitted symbols 1 to 10, time symbols advanced by `inc`.
        const auto standardOf = [&](uint32_t inc, double elapsed) {
            uint32_t v = 0;
            for (int p = 4; p < 10; ++p) v = (v << 5) | word[p];
            v = (v + inc) & 0x3FFFFFFFu;
            Det d;
            d.layer = 1;
            d.sid = (uint32_t(word[0]) << 11) | (word[1] << 6) | (word[2] << 1) | (word[3] >> 4);
            d.dst = uint16_t((word[3] >> 3) & 1);
            d.timestamp = ((uint32_t(word[3]) & 7u) << 28) | (v >> 2);
            d.dist = uint16_t(v & 3u);
            d.elapsed = elapsed;
            return d;
        };
        CTesk2DCFilter f;
        std::vector<std::string> out;
        f.ProcessDetection(Text(standardOf(0, 10.0)), out);
        dropped += f.ProcessDetection(Text(standardOf(16, 10.0 + 2 * 1.995)), out) == 0;
    }
    EXPECT_EQ(dropped, tried);
    // Control: the same timing with a standard message's own content pairs.
    CTesk2DCFilter f;
    std::vector<std::string> out;
    Det a;
    a.layer = 1;
    a.dist = 0;
    f.ProcessDetection(Text(a), out);
    Det b = a;
    b.elapsed += 2 * 1.995;
    b.timestamp += 4;
    EXPECT_EQ(f.ProcessDetection(Text(b), out), 2);
}

// The channel comes from the trailing "ch<N>" of the name, never from a count
// carried over from earlier callbacks (a second meter starts again at 0).
TEST(Tesk2Callback, RawDisplayForwardsEverythingAndFilteredDropsBadTexts) {
    FilteredCallback fc("input.wav.ch3"), a("ch0"), b("ch1"), c("ch0");
    EXPECT_EQ(std::vector<int>({fc.cb.Channel(), a.cb.Channel(), b.cb.Channel(), c.cb.Channel()}),
              std::vector<int>({3, 0, 1, 0}));
    bT2RawOutput = true;
    fc.cb.ResultCallback("anything at all");
    ASSERT_EQ(fc.report.texts.size(), 1u);
    EXPECT_EQ(fc.report.texts[0], "anything at all");
    EXPECT_EQ(fc.report.channels[0], 3u);
    bT2RawOutput = false;
    fc.cb.ResultCallback("{\"TESK2\": not json");
    fc.cb.ResultCallback("{\"TESK2\":{}}");  // parses but is no detection
    std::string redundant = Text(Det());
    redundant.replace(redundant.find("\"redundantCommStd\":0"), 20, "\"redundantCommStd\":1");
    fc.cb.ResultCallback(redundant);
    fc.cb.ResultCallback(Text(Later(Det(), 1)));
    EXPECT_EQ(fc.report.texts.size(), 1u);
    ReportT2 = false;
    fc.cb.ResultCallback(Text(Det()));
    ReportT2 = true;
    EXPECT_EQ(fc.report.texts.size(), 1u);
}

TEST(Tesk2Callback, ConfirmedPairsReachTheHostRebuilt) {
    FilteredCallback fc;
    Det a;
    a.layer = 1;
    a.dist = 0;
    fc.cb.ResultCallback(Text(a));
    Det b = a;  // two repetitions on: read from audio of its own
    b.elapsed += 2 * 748 * 64 / 24000.0;
    b.timestamp += 4;
    fc.cb.ResultCallback(Text(b));
    ASSERT_EQ(fc.report.texts.size(), 2u);
    auto doc = Json(fc.report.texts[1]);
    const auto& o = doc["TESK2"];
    EXPECT_STREQ(o["layer"].GetString(), "COMM_STD");
    EXPECT_STREQ(o["dist"].GetString(), "COMM_STD");
    EXPECT_EQ(o["sid"].GetUint(), 321u);
    EXPECT_EQ(o["timestamp"].GetInt64(), int64_t(b.timestamp));
    EXPECT_EQ(o["systemTime"].GetUint(), 788918400u + b.timestamp);
    EXPECT_FALSE(o.HasMember("transmission"));
}

// A commercial identifier is dropped only when its sample block index equals
// the last one reported for that identifier. One emission can hold the same
// identifier at two depths whose slots were filled one frame apart: their
// indices differ by one and both are reported; the 0.3 s repeat rule of the
// other layers does not apply.
TEST(Tesk2Callback, ReedSolomonRepeatsAreDroppedOnlyAtTheSameSampleBlock) {
    FilteredCallback fc;
    Det first = RsDet();
    first.elapsed = 40.0;  // the earlier, separate reading that confirms the others
    Det rs = first;
    rs.elapsed = 47.742;  // sample block 17903 (depth 0)
    Det deeper = rs;
    deeper.elapsed = 47.739;  // sample block 17902 (depth 2, one frame earlier)
    fc.cb.ResultCallback(Text(first));
    fc.cb.ResultCallback(Text(rs));
    fc.cb.ResultCallback(Text(deeper));
    fc.cb.ResultCallback(Text(deeper));
    ASSERT_EQ(fc.report.texts.size(), 3u);
    EXPECT_EQ(Json(fc.report.texts[1])["TESK2"]["sampleBlockIndex"].GetUint(), 17903u);
    EXPECT_EQ(Json(fc.report.texts[2])["TESK2"]["sampleBlockIndex"].GetUint(), 17902u);
    // Another identifier keeps its own last index.
    Det other = first;
    other.commId = 0x2B5C3D1E7ull + 1;
    while (!CUCCValidator::IsValidCommID(long(other.commId))) ++other.commId;
    fc.cb.ResultCallback(Text(other));
    other.elapsed = rs.elapsed;
    fc.cb.ResultCallback(Text(other));
    EXPECT_EQ(fc.report.texts.size(), 5u);
}

// Program detections alternate PC and FD; once more than 20 are tallied the
// majority decides the reported distribution.
TEST(Tesk2Callback, DistributionTallySettlesOnTheMajority) {
    FilteredCallback fc;
    Det base;
    for (int i = 0; i < 22; ++i) {  // 12 PC, then 10 FD
        Det d = Later(base, i);
        d.dist = i < 12 ? 1 : 2;
        fc.cb.ResultCallback(Text(d));
    }
    // Released: 12 PC texts, then 2 + 8 FD texts (each FD pairs with an older FD).
    ASSERT_EQ(fc.report.texts.size(), 22u);
    auto distOf = [&](size_t i) {
        return std::string(Json(fc.report.texts[i])["TESK2"]["dist"].GetString());
    };
    EXPECT_EQ(distOf(11), "PC");
    EXPECT_EQ(distOf(19), "FD");  // tally 12 PC, 8 FD: not yet more than 20
    EXPECT_EQ(distOf(20), "PC");  // 12 PC, 9 FD
    EXPECT_EQ(distOf(21), "PC");  // 12 PC, 10 FD
}

// A program detection whose time code disagrees is released by the filter with
// timestamp -1; the main anchor set by the two before it supplies a corrected
// time code. Without an anchor the code is not reported.
TEST(Tesk2Callback, AnchorsCorrectATimeCodeTheFilterDropped) {
    FilteredCallback fc;
    const Det a;
    fc.cb.ResultCallback(Text(a));
    fc.cb.ResultCallback(Text(Later(a, 1)));
    ASSERT_EQ(fc.report.texts.size(), 2u);
    Det c = Later(a, 2);
    c.timestamp += 5;
    fc.cb.ResultCallback(Text(c));
    ASSERT_EQ(fc.report.texts.size(), 3u);
    // 3.99 s after the main anchor (the second detection): its time code plus 3.
    EXPECT_EQ(Json(fc.report.texts[2])["TESK2"]["timestamp"].GetInt64(),
              int64_t(a.timestamp) + 4 + 3);

    // A SID never dated: two readings whose time codes disagree reach the host as nothing.
    FilteredCallback fresh;
    Det d;
    d.sid = 4444;
    fresh.cb.ResultCallback(Text(d));
    Det e = Later(d, 1);
    e.timestamp += 10;
    fresh.cb.ResultCallback(Text(e));
    EXPECT_TRUE(fresh.report.texts.empty());
}

// A Reed-Solomon reading whose marker was taken two symbols (128 frames) before a confirmed
// standard commercial's: its symbols 3 to 10 are the standard message's 1 to 8, and the
// decoder repaired the first two (the identifier 0x77cc4cc74 from the standard SID 25190). It
// neither pairs nor confirms; the same identifier in a slot of its own still pairs.
TEST(Tesk2Filter, DisplacedReedSolomonReadingOfAConfirmedStandardCommercial) {
    for (const uint16_t rsPhase : {uint16_t(700 - 128), uint16_t(300)}) {
        CTesk2DCFilter f;
        std::vector<std::string> out;
        Det std;
        std.layer = 1;
        std.sid = 25190;
        std.dist = 0;
        std.phase = 700;
        std.timestamp = 3u << 28 | 20u << 23 | 21u << 18 | 5u << 13 | 13u << 8 | 16u;
        Det rs = RsDet();
        rs.commId = 0x77cc4cc74ull;
        rs.phase = rsPhase;
        ASSERT_TRUE(CUCCValidator::IsValidCommID(long(rs.commId)));
        int rsReports = 0;
        for (int i = 0; i < 5; ++i) {
            Det s = std;
            s.elapsed = 10.0 + 4 * i;
            s.timestamp += 4 * i;
            f.ProcessDetection(Text(s), out);
            if (i >= 1) {
                EXPECT_GT(out.size(), 0u);  // the standard code is confirmed
            }
            if (i == 1 || i == 2) {
                rs.elapsed = s.elapsed + 2.0 + 4 * (i - 1);
                rsReports += f.ProcessDetection(Text(rs), out);
            }
        }
        EXPECT_EQ(rsReports, rsPhase == 300 ? 2 : 0) << "phase " << rsPhase;
    }
}

// A standard commercial confirmed in its slot, then read in the next repetition with its SID
// and a time code 2^18 s off (time symbol 6 misread), and so again two repetitions later: the
// misreading beside the confirmed code neither pairs nor confirms, so the two misreadings,
// which agree with each other, are not reported.
TEST(Tesk2Filter, StandardCommercialWithAMisreadTimeCodeBesideItsConfirmedCode) {
    Det c;
    c.layer = 1;
    c.dist = 0;
    c.sid = 16924;
    c.timestamp = 978382199;
    auto at = [](Det d, double seconds, uint32_t misread) {
        d.elapsed += seconds;
        d.timestamp += uint32_t(seconds + 0.5) + misread;
        return d;
    };
    CTesk2DCFilter f;
    std::vector<std::string> out;
    EXPECT_EQ(f.ProcessDetection(Text(c), out), 0);
    EXPECT_EQ(f.ProcessDetection(Text(at(c, 4, 0)), out), 2);
    EXPECT_EQ(f.ProcessDetection(Text(at(c, 6, 1u << 18)), out), 0);
    EXPECT_EQ(f.ProcessDetection(Text(at(c, 10, 1u << 18)), out), 0);
    // Without the confirmed code the two readings are a code of their own.
    CTesk2DCFilter g;
    EXPECT_EQ(g.ProcessDetection(Text(at(c, 6, 1u << 18)), out), 0);
    EXPECT_EQ(g.ProcessDetection(Text(at(c, 10, 1u << 18)), out), 2);
}

// Two program readings that agree with each other 40 s apart, and readings of the same slot
// between them (depth 3: their spans overlap the first reading's and each other's, so none of
// them pairs). When three repetitions between name another SID on the pair's time line, or put
// the encoder's clock elsewhere whatever SID each reads, the pair agrees in a misread symbol and
// is not reported; two such repetitions, or three that agree on no clock, leave it a pair.
TEST(Tesk2Filter, ReadingsBetweenThatNameAnotherCodeOutvoteAPair) {
    Det first;
    first.sid = 45242;
    first.timestamp = 978385265;
    first.lastAge = 500;
    auto deep = [&](int rep, uint32_t sid, int32_t timeOff) {
        Det d = Later(first, rep);
        d.sid = sid;
        d.timestamp += uint32_t(timeOff);
        d.firstAge = 14000;
        return d;
    };
    struct Case {
        const char* what;
        uint32_t pairSid;
        int32_t pairOff;                // the pair's time code against the true clock
        std::vector<uint32_t> sids;     // the readings between, at repetitions 2, 3, 4
        std::vector<int32_t> timeOffs;  // and their time codes against the true clock
        int reported;
    };
    const uint32_t t = 45818;  // the SID sent
    for (const Case& k : {
             Case{"SID, three between", 45242, 0, {t, t, t}, {0, 0, 0}, 0},
             Case{"SID, two between", 45242, 0, {t, t}, {0, 0}, 2},
             Case{"time, three between", t, 56, {45786, 62202, 58106}, {0, 0, 0}, 0},
             Case{"time, two between", t, 56, {45786, 62202}, {0, 0}, 2},
             Case{"time, no common clock", t, 56, {45786, 62202, 58106}, {0, 9, 21}, 2},
         }) {
        SCOPED_TRACE(k.what);
        CTesk2DCFilter f;
        std::vector<std::string> out;
        Det a = Later(first, 0);
        a.sid = k.pairSid;
        a.timestamp += uint32_t(k.pairOff);
        EXPECT_EQ(f.ProcessDetection(Text(a), out), 0);
        for (size_t i = 0; i < k.sids.size(); ++i)
            EXPECT_EQ(f.ProcessDetection(Text(deep(2 + int(i), k.sids[i], k.timeOffs[i])), out), 0);
        EXPECT_EQ(f.ProcessDetection(Text(Later(a, 10)), out), k.reported);
    }
}

// A program confirmed at repetitions 0 and 1, then read in the next repetition with one symbol
// misread, and so again three repetitions later: symbol 4 (the SID's last bit, the DST flag
// and the time code's top bits), or symbol 10 (the time code's low bits and the
// distribution). Content and time code both differ from the confirmed code's, so no other
// rule sees the contradiction; the misreading beside the confirmed code neither pairs nor
// confirms, so the two misreadings, which agree with each other, are not reported.
TEST(Tesk2Filter, ReadingOneSymbolOffAConfirmedCodeBesideIt) {
    const Det a;  // time code 946000000: low three bits 0
    struct Case {
        const char* symbol;
        uint32_t sidFlip, dst, timeAdd;
        uint16_t dist;
    };
    for (const Case& k : {Case{"4", 1, 1, 2u << 28, 1}, Case{"10", 0, 0, 4, 2}}) {
        SCOPED_TRACE(k.symbol);
        auto misread = [&](int rep) {
            Det d = Later(a, rep);
            d.sid ^= k.sidFlip;
            d.dst = uint16_t(k.dst);
            d.timestamp += k.timeAdd;
            d.dist = k.dist;
            return d;
        };
        CTesk2DCFilter f;
        std::vector<std::string> out;
        EXPECT_EQ(f.ProcessDetection(Text(a), out), 0);
        EXPECT_EQ(f.ProcessDetection(Text(Later(a, 1)), out), 2);
        EXPECT_EQ(f.ProcessDetection(Text(misread(2)), out), 0);
        EXPECT_EQ(f.ProcessDetection(Text(misread(5)), out), 0);
        // Without the confirmed code the two readings are a code of their own.
        CTesk2DCFilter g;
        EXPECT_EQ(g.ProcessDetection(Text(misread(2)), out), 0);
        EXPECT_EQ(g.ProcessDetection(Text(misread(5)), out), 2);
    }
}
