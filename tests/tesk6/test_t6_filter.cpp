// TESK 6 detection filter: confirmation in pairs, Reed-Solomon pass-through,
// parsing failures.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <string>
#include <vector>

#include "decoders/tesk6/CTesk6DCFilter.h"

namespace {

struct Det {
    std::string layer = "PROG";
    unsigned sid = 100;
    std::string commId;
    int firstAge = 3000;
    int lastAge = 1500;
    unsigned phase = 10;
    long long timestamp = 1000;
    std::string dist = "FD1";
    unsigned transmission = 0;
    unsigned sampleBlockIndex = 0;
    double elapsed = 0;
};

std::string Json(const Det& d) {
    std::string s = "{\"TESK6\":{\"elapsedTime\":" + std::to_string(d.elapsed) + ",\"layer\":\"" +
                    d.layer + "\",";
    if (d.layer == "COMM_RS")
        s += "\"commId\":\"" + d.commId + "\",";
    else
        s += "\"sid\":" + std::to_string(d.sid) + ",";
    s += "\"firstSymAge\":" + std::to_string(d.firstAge) +
         ",\"lastSymAge\":" + std::to_string(d.lastAge) +
         ",\"quality\":8,\"strength\":300,\"depth\":0,\"phase\":" + std::to_string(d.phase) +
         ",\"timestamp\":" + std::to_string(d.timestamp) +
         ",\"dst\":0,\"systemTime\":0,\"dist\":\"" + d.dist +
         "\",\"transmission\":" + std::to_string(d.transmission) +
         ",\"sampleBlockIndex\":" + std::to_string(d.sampleBlockIndex) +
         ",\"redundantCommStd\":0}}";
    return s;
}

// A detection made at audio time t seconds.
Det At(double t, long long ts, const std::string& layer = "PROG") {
    Det d;
    d.layer = layer;
    d.sampleBlockIndex = unsigned(t / 0.032);
    d.elapsed = t - 1.5;
    d.timestamp = ts;
    return d;
}

long long Field(const std::string& json, const char* key) {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    return doc["TESK6"][key].GetInt64();
}

TEST(T6DCFilter, ProgramPairIsReportedOnceOlderFirst) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    EXPECT_EQ(f.ProcessDetection(Json(At(10.0, 1000)), out), 0);
    EXPECT_TRUE(out.empty());
    Det second = At(15.0, 1005);
    second.sampleBlockIndex = unsigned(15.0 / 0.032);
    ASSERT_EQ(f.ProcessDetection(Json(second), out), 2);
    EXPECT_EQ(Field(out[0], "timestamp"), 1000);
    EXPECT_EQ(Field(out[1], "timestamp"), 1005);
    // ages are re-based on the newest detection: the older one is ~5 s older
    EXPECT_NEAR(double(Field(out[0], "lastSymAge") - Field(out[1], "lastSymAge")), 5000.0, 40.0);
    // A third matching detection reports only itself.
    ASSERT_EQ(f.ProcessDetection(Json(At(19.8, 1010)), out), 1);
    EXPECT_EQ(Field(out[0], "timestamp"), 1010);
}

TEST(T6DCFilter, ProgramPairWithDisagreeingTimeCodesDropsTheTimestamp) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    f.ProcessDetection(Json(At(10.0, 1000)), out);
    ASSERT_EQ(f.ProcessDetection(Json(At(15.0, 1015)), out), 2);
    EXPECT_EQ(Field(out[0], "timestamp"), -1);
    EXPECT_EQ(Field(out[1], "timestamp"), -1);
}

TEST(T6DCFilter, PairingRules) {
    std::vector<std::string> out;
    {  // phase more than 2 apart (mod 50): no pair; 49 vs 1 is only 2 apart
        CTesk6DCFilter f;
        Det a = At(10.0, 1000), b = At(15.0, 1005);
        a.phase = 10;
        b.phase = 13;
        f.ProcessDetection(Json(a), out);
        EXPECT_EQ(f.ProcessDetection(Json(b), out), 0);
        CTesk6DCFilter g;
        a.phase = 49;
        b.phase = 1;
        g.ProcessDetection(Json(a), out);
        EXPECT_EQ(g.ProcessDetection(Json(b), out), 2);
    }
    {  // different SID, distribution or transmission: no pair
        CTesk6DCFilter f;
        Det a = At(10.0, 1000), b = At(15.0, 1005);
        b.dist = "FD2";
        f.ProcessDetection(Json(a), out);
        EXPECT_EQ(f.ProcessDetection(Json(b), out), 0);
    }
    {  // gap above 56488 ms: no pair
        CTesk6DCFilter f;
        f.ProcessDetection(Json(At(10.0, 1000)), out);
        EXPECT_EQ(f.ProcessDetection(Json(At(70.0, 1060)), out), 0);
    }
    {  // negative gap: never for the program layer, allowed for commercials
        for (const char* layer : {"PROG", "COMM_STD"}) {
            CTesk6DCFilter f;
            Det a = At(10.0, 1000, layer);
            Det b = At(10.5, 1000, layer);
            b.firstAge = 3000;  // starts before a ended
            f.ProcessDetection(Json(a), out);
            EXPECT_EQ(f.ProcessDetection(Json(b), out), std::string(layer) == "PROG" ? 0 : 2)
                << layer;
        }
    }
    {  // layers never pair with each other
        CTesk6DCFilter f;
        f.ProcessDetection(Json(At(10.0, 1000, "PROG")), out);
        EXPECT_EQ(f.ProcessDetection(Json(At(15.0, 1005, "COMM_STD")), out), 0);
    }
}

// Empty ring slots must not confirm anything, even a detection whose fields
// happen to match a cleared record (SID 0, "PC", phase 0).
TEST(T6DCFilter, EmptySlotsNeverConfirm) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
    Det d = At(2.0, 0xFFFFFFFF);
    d.sid = 0;
    d.dist = "PC";
    d.phase = 0;
    d.timestamp = -1;
    d.firstAge = 1000;
    d.lastAge = 500;
    EXPECT_EQ(f.ProcessDetection(Json(d), out), 0);
}

TEST(T6DCFilter, ReedSolomonPassesOnlyWithAValidCommId) {
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
}

TEST(T6DCFilter, ParseFailuresThrowCStrings) {
    CTesk6DCFilter f;
    std::vector<std::string> out;
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
    EXPECT_EQ(b.phase, 50);
    EXPECT_EQ(b.timestamp, 0xFFFFFFFFu);
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
