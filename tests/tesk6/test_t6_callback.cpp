// Filtered TESK 6 callback: switches, raw display, confirmation, time-code
// correction, duplicates, channel numbering.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "app/CTavikReportCallback.h"
#include "app/CTesk6DecoderFilteredCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"

namespace {

class FakeReport : public CTavikReportCallback {
public:
    void setAudioCodes(unsigned int channel, std::string* text) override {
        codes.emplace_back(channel, *text);
    }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}
    std::vector<std::pair<unsigned, std::string>> codes;
};

struct Det {
    std::string layer = "PROG";
    unsigned sid = 100;
    std::string commId;
    int firstAge = 1500;
    int lastAge = 1500;
    long long timestamp = 1000;
    double elapsed = 10.0;
    unsigned redundant = 0;
};

std::string Json(const Det& d) {
    char buf[64];
    snprintf(buf, sizeof(buf), "%.3f", d.elapsed);
    std::string s =
        std::string("{\"TESK6\":{\"elapsedTime\":") + buf + ",\"layer\":\"" + d.layer + "\",";
    if (d.layer == "COMM_RS")
        s += "\"commId\":\"" + d.commId + "\",";
    else
        s += "\"sid\":" + std::to_string(d.sid) + ",";
    // the block index follows the elapsed time (last symbol 1.5 s earlier)
    const unsigned block = unsigned((d.elapsed + 1.5) / 0.032 + 0.5);
    s += "\"firstSymAge\":" + std::to_string(d.firstAge) +
         ",\"lastSymAge\":" + std::to_string(d.lastAge) +
         ",\"quality\":8,\"strength\":300,\"depth\":0,\"phase\":5,\"timestamp\":" +
         std::to_string(d.timestamp) +
         ",\"dst\":0,\"systemTime\":0,\"dist\":\"FD1\",\"transmission\":0,\"sampleBlockIndex\":" +
         std::to_string(block) + ",\"redundantCommStd\":" + std::to_string(d.redundant) + "}}";
    return s;
}

long long Ts(const std::string& json) {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    return doc["TESK6"]["timestamp"].GetInt64();
}

class T6Callback : public ::testing::Test {
protected:
    void SetUp() override {
        ReportTw = true;
        bTwRawOutput = false;
        memset(&cfg, 0, sizeof(cfg));
        cfg.reportCallback = &report;
        cfg.reportMode = kReportModeJson;
        char name[] = "ch0";
        cb.init(&cfg, 4, 1, 4, name);
    }
    void TearDown() override {
        ReportTw = true;
        bTwRawOutput = false;
    }
    FakeReport report;
    SampleAppConfigurationData cfg;
    CTesk6DecoderFilteredCallback cb;
};

TEST_F(T6Callback, ChannelComesFromTheChannelName) {
    EXPECT_EQ(CTesk6DecoderFilteredCallback::ChannelFromName("ch0"), 0);
    EXPECT_EQ(CTesk6DecoderFilteredCallback::ChannelFromName("input.wav.ch1"), 1);
    EXPECT_EQ(CTesk6DecoderFilteredCallback::ChannelFromName(".ch12"), 12);
    EXPECT_EQ(CTesk6DecoderFilteredCallback::ChannelFromName("input"), -1);
    EXPECT_EQ(CTesk6DecoderFilteredCallback::ChannelFromName(nullptr), -1);
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
    EXPECT_EQ(Ts(report.codes[0].second), 1000);
    EXPECT_EQ(Ts(report.codes[1].second), 1005);
    EXPECT_THROW(cb.ResultCallback("{\"TESK6\":"), std::runtime_error);
    cb.ResultCallback("{\"OTHER\":1}");
    EXPECT_EQ(report.codes.size(), 2u);
}

TEST_F(T6Callback, RepeatsWithinThreeTenthsOfASecondAreDropped) {
    for (double gap : {0.2, 0.3}) {
        FakeReport r;
        cfg.reportCallback = &r;
        CTesk6DecoderFilteredCallback c;
        char name[] = "ch0";
        c.init(&cfg, 4, 1, 4, name);
        Det d;
        c.ResultCallback(Json(d));
        d.elapsed += gap;
        c.ResultCallback(Json(d));
        EXPECT_EQ(r.codes.size(), gap < 0.25 ? 1u : 2u) << gap;
    }
}

TEST_F(T6Callback, TimestampZeroDoesNotSetTheLastElapsedTime) {
    Det d;
    d.timestamp = 0;
    cb.ResultCallback(Json(d));
    d.elapsed += 0.1;
    cb.ResultCallback(Json(d));
    EXPECT_EQ(report.codes.size(), 2u);
}

TEST_F(T6Callback, ReedSolomonRepeatsOfOneBlockAreDropped) {
    Det d;
    d.layer = "COMM_RS";
    d.commId = "0x123456789";
    d.timestamp = -1;
    cb.ResultCallback(Json(d));
    cb.ResultCallback(Json(d));
    d.elapsed += 1.6;
    cb.ResultCallback(Json(d));
    ASSERT_EQ(report.codes.size(), 2u);
    EXPECT_NE(report.codes[0].second.find("\"commId\":\"0x123456789\""), std::string::npos);
}

// A confirmed pair sets the main anchor; a later detection whose time code
// disagrees is reported with the anchor's time code advanced by the elapsed
// time; 30 s after the anchor nothing is corrected.
TEST_F(T6Callback, TimeCodesAreCorrectedAgainstTheAnchor) {
    Det d;
    cb.ResultCallback(Json(d));
    d.elapsed = 15.0;
    d.timestamp = 1005;
    cb.ResultCallback(Json(d));
    ASSERT_EQ(report.codes.size(), 2u);
    d.elapsed = 20.0;
    d.timestamp = 1500;  // disagrees: the filter reports it with timestamp -1
    cb.ResultCallback(Json(d));
    ASSERT_EQ(report.codes.size(), 3u);
    EXPECT_EQ(Ts(report.codes[2].second), 1010);

    FakeReport r;
    cfg.reportCallback = &r;
    CTesk6DecoderFilteredCallback c;
    char name[] = "ch0";
    c.init(&cfg, 4, 1, 4, name);
    Det e;
    c.ResultCallback(Json(e));
    e.elapsed = 15.0;
    e.timestamp = 1005;
    c.ResultCallback(Json(e));
    e.elapsed = 45.5;  // 30.5 s after the anchor, time code disagrees
    e.timestamp = 2000;
    c.ResultCallback(Json(e));
    e.elapsed = 50.3;
    e.timestamp = 9000;
    c.ResultCallback(Json(e));
    ASSERT_EQ(r.codes.size(), 4u);
    // The filter reports the disagreeing detections without a time code; the
    // anchor is too old to correct them.
    EXPECT_EQ(Ts(r.codes[2].second), -1);
    EXPECT_EQ(Ts(r.codes[3].second), -1);
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
    EXPECT_NE(out.find("\"layer\":\"COMM_RS\",\"commId\":\"0xff\",\"firstSymAge\""),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("\"dist\":\"Undefined\""), std::string::npos);
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
