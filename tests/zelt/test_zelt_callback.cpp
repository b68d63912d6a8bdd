// Filtered ZELT callback: switches, raw display, layer filter, layer-4
// identifier check and duplicate rule, channel numbering.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/CTavikReportCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/ZELTDecoderFilteredCallback.h"
#include "dsp/CUCCValidator.h"

namespace {

struct Recorder : CTavikReportCallback {
    std::vector<std::pair<unsigned, std::string>> codes;
    void setAudioCodes(unsigned int channel, std::string* text) override {
        codes.emplace_back(channel, *text);
    }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}
};

std::string Doc(int layer, const std::string& commId, long long block) {
    return "{\"ZELT\":{\"elapsedTime\":3,\"layer\":" + std::to_string(layer) +
           ",\"firstSymAge\":0,\"lastSymAge\":0,\"quality\":8,\"strength\":500,\"depth\":0,"
           "\"phase\":3,\"id\":\"0x1235\",\"timestamp\":-1,\"systemTime\":0,\"commId\":\"" +
           commId + "\",\"sampleBlockIndex\":" + std::to_string(block) + "}}";
}

// A commercial identifier the validator accepts, and one it rejects.
long ValidId() {
    for (long id = 0x123456789L;; ++id)
        if (CUCCValidator::IsValidCommID(id)) return id;
}
long InvalidId() {
    for (long id = 0x111111111L;; ++id)
        if (!CUCCValidator::IsValidCommID(id)) return id;
}
std::string Hex(long v) {
    char b[32];
    std::snprintf(b, sizeof b, "0x%lx", v);
    return b;
}

class ZeltCallback : public ::testing::Test {
protected:
    void SetUp() override {
        ReportZelt = true;
        bZeltRawOutput = false;
        cfg = SampleAppConfigurationData{};
        cfg.reportCallback = &rec;
        cfg.reportMode = kReportModeJson;
        char name[] = "input.wav.ch1";
        cb.init(&cfg, 2, 1, 8, name);
    }
    void TearDown() override {
        ReportZelt = true;
        bZeltRawOutput = true;
    }
    Recorder rec;
    SampleAppConfigurationData cfg;
    ZELTDecoderFilteredCallback cb;
};

TEST_F(ZeltCallback, LayerFourDuplicateAndValidityRules) {
    const std::string good = Hex(ValidId()), bad = Hex(InvalidId());
    cb.ResultCallback(Doc(4, good, 10));
    cb.ResultCallback(Doc(4, good, 10));  // same block: duplicate
    cb.ResultCallback(Doc(4, good, 11));  // later block: forwarded again
    cb.ResultCallback(Doc(4, good, 10));  // differs from the last accepted block
    cb.ResultCallback(Doc(4, bad, 12));
    cb.ResultCallback(Doc(4, "nonsense", 13));
    cb.ResultCallback(Doc(4, "0xfffffffffffffffffff", 14));  // overflow reads as 0
    ASSERT_EQ(rec.codes.size(), 3u);
    for (const auto& c : rec.codes) EXPECT_EQ(c.first, 1u);
    EXPECT_EQ(rec.codes[0].second, Doc(4, good, 10));
    EXPECT_EQ(rec.codes[1].second, Doc(4, good, 11));
}

TEST_F(ZeltCallback, LayersOutsideOneToFiveAndBadRecordsAreDropped) {
    cb.ResultCallback(Doc(0, "N/A", 1));
    cb.ResultCallback(Doc(6, "N/A", 1));
    cb.ResultCallback("{\"ZELT\":{\"layer\":1}}");  // no sampleBlockIndex
    cb.ResultCallback("{\"ZELT\":{\"layer\":\"1\",\"sampleBlockIndex\":1}}");
    cb.ResultCallback("{\"TESK6\":{}}");
    testing::internal::CaptureStderr();
    cb.ResultCallback("{\"ZELT\":");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "*** error: could not parse JSON\n");
    EXPECT_TRUE(rec.codes.empty());
    for (int layer : {1, 2, 3, 5}) cb.ResultCallback(Doc(layer, "N/A", 1));
    EXPECT_EQ(rec.codes.size(), 4u);
}

TEST_F(ZeltCallback, SwitchesRawDisplayAndLegacyMode) {
    bZeltRawOutput = true;
    cb.ResultCallback(Doc(6, "N/A", 1));
    cb.ResultCallback(Doc(4, Hex(InvalidId()), 1));
    cb.ResultCallback("not json at all");
    EXPECT_EQ(rec.codes.size(), 3u);
    ReportZelt = false;
    cb.ResultCallback(Doc(1, "N/A", 1));
    bZeltRawOutput = false;
    cb.ResultCallback(Doc(1, "N/A", 1));
    EXPECT_EQ(rec.codes.size(), 3u);

    ReportZelt = true;
    ZELTDecoderFilteredCallback legacy;
    SampleAppConfigurationData c2 = cfg;
    c2.reportMode = 0;
    c2.outputToConsole = true;
    char name[] = "ch0";
    legacy.init(&c2, 2, 1, 8, name);
    testing::internal::CaptureStdout();
    legacy.ResultCallback(Doc(2, "N/A", 1));
    legacy.LogCallback(-2, "boom");
    legacy.LogCallback(-3, "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              Doc(2, "N/A", 1) + "\nCode -2: boom\nError code -3\n");
    EXPECT_EQ(rec.codes.size(), 3u);
}

TEST(ZeltCallbackInit, ChannelComesFromTheNameAndNullReportIsSilent) {
    Recorder rec;
    SampleAppConfigurationData cfg{};
    cfg.reportCallback = &rec;
    cfg.reportMode = kReportModeJson;
    ReportZelt = true;
    bZeltRawOutput = true;
    // Two "meters" in one process: both number their callbacks from 0.
    for (int meter = 0; meter < 2; ++meter) {
        for (int ch = 0; ch < 2; ++ch) {
            ZELTDecoderFilteredCallback cb;
            std::string name = "m.ch" + std::to_string(ch);
            cb.init(&cfg, 2, 1, 8, name.data());
            EXPECT_EQ(cb.Channel(), (uint32_t)ch);
        }
    }
    EXPECT_EQ(ZELTDecoderFilteredCallback::ChannelFromName("ch12"), 12);
    EXPECT_EQ(ZELTDecoderFilteredCallback::ChannelFromName("x"), -1);
    EXPECT_EQ(ZELTDecoderFilteredCallback::ParseCommId("0x1f"), 31);
    EXPECT_EQ(ZELTDecoderFilteredCallback::ParseCommId("017"), 15);
    EXPECT_EQ(ZELTDecoderFilteredCallback::ParseCommId("12"), 12);

    SampleAppConfigurationData none{};
    ZELTDecoderFilteredCallback unconfigured;
    char name[] = "ch3";
    unconfigured.init(&none, 2, 1, 8, name);
    unconfigured.ResultCallback(Doc(1, "N/A", 1));  // must not crash or report
    EXPECT_TRUE(rec.codes.empty());
}

}  // namespace
