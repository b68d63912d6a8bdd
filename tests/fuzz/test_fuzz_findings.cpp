// Inputs the fuzz targets (fuzz/) found faults with, fed through the same
// entry points, with the behaviour each should have.
#include <gtest/gtest.h>

#include <cstdint>
#include <regex>
#include <string>
#include <vector>

#include "app/CHybridDecoderFilteredCallback.h"
#include "app/CTavikReportCallback.h"
#include "app/CTesk6DecoderFilteredCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/ZELTDecoderFilteredCallback.h"
#include "decoders/tesk2/CTesk2DCFilter.h"
#include "decoders/tesk6/CTesk6DCFilter.h"

namespace {

// A TESK 6 detection text with the member values given as JSON number texts.
std::string Tesk6Text(const std::string& firstSymAge, const std::string& timestamp) {
    return R"({"TESK6":{"elapsedTime":11.072,"layer":"PROG","sid":4660,"firstSymAge":)" +
           firstSymAge +
           R"(,"lastSymAge":1184,"quality":8,"strength":852,"depth":0,"phase":72,)"
           R"("timestamp":)" +
           timestamp +
           R"(,"dst":0,"systemTime":1767225610,"dist":"PC","transmission":0,)"
           R"("sampleBlockIndex":346,"redundantCommStd":0}})";
}

// Numbers beyond the 64-bit range in integer members (a double to integer
// conversion without a result) read as the nearest 64-bit value, in the
// detection filters of both families and in the filtered callbacks.
TEST(FuzzFindings, HugeNumbersInDetectionTextsArePinned) {
    std::vector<std::string> out;
    CTesk6DCFilter t6;
    t6.ProcessDetection(Tesk6Text("1e300", "-1e300"), out);
    EXPECT_EQ(t6.Current().start, uint32_t(INT64_MAX));
    EXPECT_EQ(t6.Current().timestamp, uint32_t(INT64_MIN));
    t6.ProcessDetection(Tesk6Text("2.5e3", "7"), out);
    EXPECT_EQ(t6.Current().start, 2500u);

    std::string t2 = Tesk6Text("1e300", "12");
    t2.replace(t2.find("TESK6"), 5, "TESK2");
    t2.erase(t2.find(R"("transmission":0,)"), 17);
    CTesk2DCFilter f2;
    f2.ProcessDetection(t2, out);
    EXPECT_EQ(f2.Current().start, uint32_t(INT64_MAX));

    Watermark_Detection_Record_t r;
    ASSERT_TRUE(CTesk6DecoderFilteredCallback::ExtractRecord(Tesk6Text("1e300", "-1e300"), r));
    EXPECT_EQ(r.firstSymAge, int32_t(INT64_MAX));
    EXPECT_EQ(r.timestamp, int32_t(INT64_MIN));
}

// The text with member `key` set to the JSON value text `value`.
std::string With(const std::string& text, const std::string& key, const std::string& value) {
    return std::regex_replace(text, std::regex("\"" + key + "\":[^,}]*"),
                              "\"" + key + "\":" + value);
}

std::string AsTesk2(std::string text) {
    text.replace(text.find("TESK6"), 5, "TESK2");
    return text.erase(text.find(R"("transmission":0,)"), 17);
}

// Sample block indices from 2^27 on (TESK 6; 2^24 for TESK 2) give block
// times beyond 32 bits of ms, a float to integer conversion without a result
// (the sanitizer build checks it here). No decoder writes such indices, so
// all that is asked of the filters is to read them; a pair at ordinary
// indices is still confirmed.
TEST(FuzzFindings, HugeSampleBlockIndicesAreRead) {
    const std::string first = Tesk6Text("2528", "504921610");
    const std::string second = With(With(first, "elapsedTime", "13.072"), "timestamp", "504921612");
    for (const uint32_t base : {346u, 4000000000u}) {
        std::vector<std::string> out;
        const std::string a = With(first, "sampleBlockIndex", std::to_string(base));
        const std::string b = With(second, "sampleBlockIndex", std::to_string(base + 62));
        const std::string b2 = With(second, "sampleBlockIndex", std::to_string(base + 750));
        CTesk6DCFilter t6;
        CTesk2DCFilter t2;
        t6.ProcessDetection(a, out);
        t2.ProcessDetection(AsTesk2(a), out);
        const int pairs6 = t6.ProcessDetection(b, out);
        const int pairs2 = t2.ProcessDetection(AsTesk2(b2), out);
        if (base == 346u) {
            EXPECT_EQ(pairs6, 2);
            EXPECT_EQ(pairs2, 2);
        }
    }
}

class Codes : public CTavikReportCallback {
public:
    void setAudioCodes(unsigned int, std::string* text) override { texts.push_back(*text); }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}
    std::vector<std::string> texts;
};

// Runs `texts` through a filtered callback of type Callback on channel 0.
template <class Callback>
std::vector<std::string> Filtered(const std::vector<std::string>& texts) {
    Codes codes;
    SampleAppConfigurationData cfg{};
    cfg.reportMode = kReportModeJson;
    cfg.reportCallback = &codes;
    Callback callback;
    char name[] = "ch0";
    callback.init(&cfg, 1, 0, 0, name);
    for (const std::string& t : texts) callback.ResultCallback(t);
    diagMessage.reset();
    return codes.texts;
}

// A confirmed program pair whose elapsed times lie 1e300 s apart reaches the
// time-code anchors, whose differences in whole seconds had no int64 value
// (checked by the fuzz build; both codes are still reported).
TEST(FuzzFindings, HugeElapsedTimesReachTheAnchors) {
    ReportTw = ReportT2 = true;
    bTwRawOutput = bT2RawOutput = false;
    const std::string first = Tesk6Text("2528", "504921610");
    const std::string second =
        With(With(With(first, "elapsedTime", "1e300"), "timestamp", "504921612"),
             "sampleBlockIndex", "408");
    EXPECT_EQ(Filtered<CTesk6DecoderFilteredCallback>({first, second}).size(), 2u);
    const std::string second2 = With(second, "sampleBlockIndex", "1096");
    EXPECT_EQ(Filtered<CHybridDecoderFilteredCallback>({AsTesk2(first), AsTesk2(second2)}).size(),
              2u);
}

// The filtered ZELT callback hands a passing text to the host verbatim (a layer 3 record
// needs no confirmation); a text with another member beside "ZELT" is not a detection text
// and must not reach the host, which expects one object with one family key.
TEST(FuzzFindings, ZeltTextWithAnotherTopLevelMemberIsNotPassedOn) {
    ReportZelt = true;
    bZeltRawOutput = false;
    const std::string record =
        R"({"ZELT":{"elapsedTime":12,"layer":3,"firstSymAge":0,"sampleBlockIndex":266}})";
    EXPECT_EQ(Filtered<ZELTDecoderFilteredCallback>({record}).size(), 1u);
    EXPECT_TRUE(
        Filtered<ZELTDecoderFilteredCallback>({R"({"":"0x5","ZELT":)" + record.substr(8)}).empty());
}

}  // namespace
