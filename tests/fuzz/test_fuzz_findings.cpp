// Inputs the fuzz targets (fuzz/) found faults with, fed through the same
// entry points, with the behaviour each should have.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "app/CTesk6DecoderFilteredCallback.h"
#include "decoders/tesk2/CTesk2DCFilter.h"
#include "decoders/tesk6/CTesk6DCFilter.h"

namespace {

// A TESK 6 detection text with the member values given as JSON number texts.
std::string Tesk6Text(const std::string& firstSymAge, const std::string& timestamp) {
    return R"({"TESK6":{"elapsedTime":11.072,"layer":"PROG","sid":4660,"firstSymAge":)" +
           firstSymAge + R"(,"lastSymAge":1184,"quality":8,"strength":852,"depth":0,"phase":72,)"
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

}  // namespace
