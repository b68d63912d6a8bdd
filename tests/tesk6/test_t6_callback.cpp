// Filtered TESK 6 callback: switches, raw display, confirmation, time-code
// correction, duplicates, channel numbering.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "T6Json.h"
#include "app/CTavikReportCallback.h"
#include "app/CTesk6DecoderFilteredCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"

using t6test::Det;
using t6test::Field;
using t6test::Json;

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
        ASSERT_EQ(r.codes.size(), 3u);
        EXPECT_EQ(Field(r.codes[2].second), late < 30 ? 1010 : -1) << late;
    }
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
