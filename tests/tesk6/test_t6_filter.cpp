// TESK 6 detection filter: confirmation in pairs, Reed-Solomon pass-through,
// parsing failures.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "T6Json.h"
#include "decoders/tesk6/CTesk6DCFilter.h"

using t6test::Det;
using t6test::Field;
using t6test::Json;

namespace {

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
    EXPECT_EQ(Pair(a, At(70.0, 1060)), 0);              // gap above 56488 ms
    EXPECT_EQ(Pair(a, At(15.0, 1005, "COMM_STD")), 0);  // layers never pair
    // negative gap (b starts before a ended): never for the program layer,
    // allowed for commercials
    for (const char* layer : {"PROG", "COMM_STD"})
        EXPECT_EQ(Pair(At(10.0, 1000, layer), At(10.5, 1000, layer)),
                  std::string(layer) == "PROG" ? 0 : 2)
            << layer;
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

TEST(T6DCFilter, ReedSolomonPassesOnlyWithAValidCommIdAndBadTextsThrow) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    Det d = At(5.0, -1, "COMM_RS");
    d.commId = "0x123456789";
    EXPECT_EQ(f.ProcessDetection(Json(d), out), 1);
    rapidjson::Document doc;
    doc.Parse(out[0].c_str());
    EXPECT_STREQ(doc["TESK6"]["commId"].GetString(), "0x123456789");
    EXPECT_FALSE(doc["TESK6"].HasMember("sid"));
    d.commId = "0x0";
    EXPECT_EQ(f.ProcessDetection(Json(d), out), 0);
    EXPECT_TRUE(out.empty());

    try {
        f.ProcessDetection("{\"TESK2\":{}}", out);
        FAIL();
    } catch (const char* e) {
        EXPECT_STREQ(e, "Failed to parse/extract json detection.");
    }
    EXPECT_THROW(f.ProcessDetection("not json", out), const char*);
}

TEST(T6DCFilter, ValidateDetectionScores) {
    _WATERMARK_Detection_t a, b;
    CTesk6DCFilter::ClearDetection(a);
    CTesk6DCFilter::ClearDetection(b);
    a.phase = b.phase = 3;
    b.end = 10000;
    a.start = 12000;
    a.end = 15000;
    b.timestamp = 100;
    a.timestamp = 105;
    EXPECT_EQ(CTesk6DCFilter::ValidateDetection(a, b, 0, 56488), 3);
    a.sid = 9;
    EXPECT_EQ(CTesk6DCFilter::ValidateDetection(a, b, 0, 56488), 2);
    a.timestamp = 120;
    EXPECT_EQ(CTesk6DCFilter::ValidateDetection(a, b, 0, 56488), 0);
    a.sid = 0;
    EXPECT_EQ(CTesk6DCFilter::ValidateDetection(a, b, 0, 56488), 1);
}

}  // namespace
