// Filtered ZELT callback: switches, raw display, layer filter, layer-4
// identifier check and duplicate rule, channel numbering.
#include <gtest/gtest.h>

#include <algorithm>
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

// The first commercial identifier from `from` on that the validator accepts
// (or rejects), in hex.
std::string CommId(long from, bool valid) {
    while (CUCCValidator::IsValidCommID(from) != valid) ++from;
    char b[32];
    std::snprintf(b, sizeof b, "0x%lx", from);
    return b;
}

class ZeltCallback : public ::testing::Test {
protected:
    void SetUp() override {
        ReportZelt = true;
        bZeltRawOutput = false;
        cfg.reportCallback = &rec;
        cfg.reportMode = kReportModeJson;
        char name[] = "input.wav.ch1";
        cb.init(&cfg, 2, 1, 8, name);
    }
    void TearDown() override { bZeltRawOutput = true; }
    Recorder rec;
    SampleAppConfigurationData cfg{};
    ZELTDecoderFilteredCallback cb;
};

TEST_F(ZeltCallback, LayerFourConfirmationDuplicateAndValidityRules) {
    const std::string good = CommId(0x123456789L, true);
    cb.ResultCallback(Doc(4, good, 10));  // first sighting: held back
    cb.ResultCallback(Doc(4, good, 10));  // same block: duplicate
    cb.ResultCallback(Doc(4, good, 12));  // shares the first one's audio: held back
    cb.ResultCallback(Doc(4, good, 40));  // audio of its own: confirmed, forwarded
    cb.ResultCallback(Doc(4, good, 40));  // duplicate
    cb.ResultCallback(Doc(4, good, 41));  // the confirmed identifier passes at once
    cb.ResultCallback(Doc(4, good, 10));  // differs from the last accepted block
    const std::string other = CommId(0x223456789L, true);
    cb.ResultCallback(Doc(4, other, 100));
    cb.ResultCallback(Doc(4, other, 100 + 1801 + 3));  // more than 3 minutes on: a new sighting
    cb.ResultCallback(Doc(4, CommId(0x111111111L, false), 12));
    cb.ResultCallback(Doc(4, CommId(0x111111111L, false), 60));
    cb.ResultCallback(Doc(4, "nonsense", 13));
    cb.ResultCallback(Doc(4, "0xfffffffffffffffffff", 14));  // overflow reads as 0
    const std::vector<std::pair<unsigned, std::string>> expected = {
        {1, Doc(4, good, 40)}, {1, Doc(4, good, 41)}, {1, Doc(4, good, 10)}};
    EXPECT_EQ(rec.codes, expected);
    // An identifier not heard for 10 minutes needs confirming again.
    cb.ResultCallback(Doc(4, good, 41 + 6001));
    EXPECT_EQ(rec.codes.size(), 3u);
}

// A channel that hears ever new identifiers keeps a bounded memory of them, and
// forgetting never lets a copy of the current message through.
TEST_F(ZeltCallback, IdentifierMemoryStaysBounded) {
    const std::string steady = CommId(0x123456789L, true);
    long next = 0x200000000L;
    size_t most = 0;
    for (long long block = 0; block < 20000; ++block) {
        const std::string fresh = CommId(next, true);
        next = std::stol(fresh, nullptr, 16) + 1;
        cb.ResultCallback(Doc(4, fresh, block));
        cb.ResultCallback(Doc(4, steady, block));
        cb.ResultCallback(Doc(4, steady, block));  // a copy from another depth
        most = std::max(most, cb.RememberedCommIds());
    }
    // The fresh identifiers are never confirmed; the steady one is from block 3 on.
    EXPECT_EQ(rec.codes.size(), 20000u - 3u);
    EXPECT_LE(most, 2 * ZELTDecoderFilteredCallback::kForgetAfterCommRecords);
}

TEST_F(ZeltCallback, LayersOutsideOneToFiveAndBadRecordsAreDropped) {
    for (const std::string& bad :
         {Doc(0, "N/A", 1), Doc(6, "N/A", 1), std::string("{\"ZELT\":{\"layer\":1}}"),
          std::string("{\"ZELT\":{\"layer\":\"1\",\"sampleBlockIndex\":1}}"),
          std::string("{\"TESK6\":{}}")})
        cb.ResultCallback(bad);
    testing::internal::CaptureStderr();
    cb.ResultCallback("{\"ZELT\":");
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "*** error: could not parse JSON\n");
    EXPECT_TRUE(rec.codes.empty());
    // Program records wait for a confirmation (one without a time code never
    // gets one); layer 3 passes as before.
    for (int layer : {1, 2, 3, 5}) cb.ResultCallback(Doc(layer, "N/A", 1));
    ASSERT_EQ(rec.codes.size(), 1u);
    EXPECT_EQ(rec.codes[0].second, Doc(3, "N/A", 1));
}

TEST_F(ZeltCallback, SwitchesRawDisplayAndLegacyMode) {
    bZeltRawOutput = true;  // raw display passes everything
    cb.ResultCallback(Doc(6, "N/A", 1));
    cb.ResultCallback(Doc(4, CommId(0x111111111L, false), 1));
    cb.ResultCallback("not json at all");
    EXPECT_EQ(rec.codes.size(), 3u);
    ReportZelt = false;  // ZELT reporting off: nothing, raw or filtered
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
    legacy.ResultCallback(Doc(4, CommId(0x123456789L, true), 1));
    const std::string comm = Doc(4, CommId(0x123456789L, true), 40);
    legacy.ResultCallback(comm);
    legacy.LogCallback(-2, "boom");
    legacy.LogCallback(-3, "");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), comm + "\nCode -2: boom\nError code -3\n");
    EXPECT_EQ(rec.codes.size(), 3u);
}

TEST_F(ZeltCallback, ChannelComesFromTheNameAndNullReportIsSilent) {
    // Two "meters" in one process: both number their callbacks from 0.
    for (int meter = 0; meter < 2; ++meter)
        for (int ch = 0; ch < 2; ++ch) {
            ZELTDecoderFilteredCallback c;
            std::string name = "m.ch" + std::to_string(ch);
            c.init(&cfg, 2, 1, 8, name.data());
            EXPECT_EQ(c.Channel(), (uint32_t)ch);
        }
    EXPECT_EQ(ZELTDecoderFilteredCallback::ChannelFromName("ch12"), 12);
    EXPECT_EQ(ZELTDecoderFilteredCallback::ChannelFromName("x"), -1);

    SampleAppConfigurationData none{};
    ZELTDecoderFilteredCallback unconfigured;
    char name[] = "ch3";
    unconfigured.init(&none, 2, 1, 8, name);
    unconfigured.ResultCallback(Doc(1, "N/A", 1));  // must not crash or report
    EXPECT_TRUE(rec.codes.empty());
}

}  // namespace
