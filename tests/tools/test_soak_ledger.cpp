// The soak program's book-keeping: how detection texts are read, which codes
// count as expected, received and missing, what counts as wrong, and the code
// numbering that keeps every segment's codes apart.
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "tools/tavik-soak/SoakLedger.h"
#include "tools/tavik-soak/SoakSignal.h"

using namespace soak;

namespace {

constexpr uint32_t kStart = 1767225600u;

std::string T6Prog(unsigned sid, double elapsed, long long timestamp, long long systemTime) {
    return "{\"TESK6\":{\"elapsedTime\":" + std::to_string(elapsed) +
           ",\"layer\":\"PROG\",\"sid\":" + std::to_string(sid) +
           ",\"timestamp\":" + std::to_string(timestamp) +
           ",\"systemTime\":" + std::to_string(systemTime) + "}}";
}
std::string T2Rs(const char* id, double elapsed) {
    return std::string("{\"TESK2\":{\"elapsedTime\":") + std::to_string(elapsed) +
           ",\"layer\":\"COMM_RS\",\"commId\":\"" + id + "\",\"timestamp\":-1,\"systemTime\":0}}";
}
std::string Zelt(int layer, const char* id, const char* commId, double elapsed, long long minute,
                 long long systemTime) {
    return "{\"ZELT\":{\"elapsedTime\":" + std::to_string(elapsed) +
           ",\"layer\":" + std::to_string(layer) + ",\"id\":\"" + id +
           "\",\"timestamp\":" + std::to_string(minute) +
           ",\"systemTime\":" + std::to_string(systemTime) + ",\"commId\":\"" + commId + "\"}}";
}

}  // namespace

TEST(SoakLedger, DetectionTextsGiveTheKeysOfTheCodesSent) {
    ParsedReport r = ParseDetection(T6Prog(4660, 11.0, 5000, kStart + 10).c_str());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.key, CodeKey(kT6Prog, 4660));
    EXPECT_TRUE(r.hasTime);

    r = ParseDetection(T2Rs("0x123456789", 3.0).c_str());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.key, CodeKey(kT2Rs, 0x123456789ull));
    EXPECT_FALSE(r.hasTime);

    r = ParseDetection(Zelt(2, "0xa3f7", "N/A", 12, 100, kStart).c_str());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.key, CodeKey(kZeltProg, 0xa3f7, 2));
    EXPECT_TRUE(r.hasTime);
    // 65535: the message's time symbols were not heard; nothing to check.
    EXPECT_FALSE(ParseDetection(Zelt(1, "0x1234", "N/A", 12, 65535, 0).c_str()).hasTime);

    r = ParseDetection(Zelt(4, "N/A", "0x5a3c96e1d", 12, -1, 0).c_str());
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.key, CodeKey(kZeltRs, 0x5a3c96e1dull));

    // Kinds the soak never sends.
    EXPECT_FALSE(ParseDetection("{\"TESK6\":{\"elapsedTime\":1,\"layer\":\"COMM_STD\",\"sid\":9}}").ok);
    EXPECT_FALSE(ParseDetection("not json").ok);
    EXPECT_FALSE(ParseDetection("{\"OTHER\":{\"elapsedTime\":1,\"layer\":1}}").ok);
}

TEST(SoakLedger, CodesOnAirLongEnoughAreExpectedAndCountOnceReceived) {
    SoakLedger ledger(2, kStart, 30.0, 30.0);
    const std::string sidKey = CodeKey(kT6Prog, 7);
    const std::string rsKey = CodeKey(kT2Rs, 0x123456789ull);
    ledger.StartSegment(0, 0.0, {{kT6Prog, sidKey, 0.5}, {kT2Rs, rsKey, 0.0}});
    ledger.StartSegment(1, 0.0, {{kT6Prog, CodeKey(kT6Prog, 8), 0.0}});
    for (int i = 0; i < 3; ++i) ledger.Report(0, 10.0 + 5 * i, T6Prog(7, 9.0 + 5 * i, 1, kStart + 9 + 5 * i).c_str());
    // A new segment on channel 0 at 100 s; the old one's late reports still count
    // within the grace.
    ledger.StartSegment(0, 100.0, {{kZeltRs, CodeKey(kZeltRs, 0x5a3c96e1dull), 90.0}});
    ledger.Report(0, 110.0, T2Rs("0x123456789", 99.0).c_str());
    ledger.Finish(110.0);

    const Totals& t = ledger.totals();
    EXPECT_EQ(t.expected[kT6Prog], 2u);
    EXPECT_EQ(t.received[kT6Prog], 1u);
    EXPECT_EQ(t.missing[kT6Prog], 1u);  // channel 1's code never came
    EXPECT_EQ(t.received[kT2Rs], 1u);
    // The ZELT code of the segment cut at 110 s was on air 20 s: not expected.
    EXPECT_EQ(t.expected[kZeltRs], 0u);
    EXPECT_EQ(t.shortOnAir, 1u);
    EXPECT_EQ(t.reports, 4u);
    EXPECT_EQ(t.Wrong(), 0u);
    EXPECT_EQ(t.duplicates, 0u);
}

TEST(SoakLedger, WrongReportsAreTold) {
    SoakLedger ledger(2, kStart, 30.0, 30.0);
    ledger.StartSegment(0, 0.0, {{kT6Prog, CodeKey(kT6Prog, 7), 0.0}});
    ledger.StartSegment(1, 0.0, {{kT6Prog, CodeKey(kT6Prog, 8), 0.0}});
    ledger.Report(0, 10.0, T6Prog(9, 9.0, 1, kStart + 9).c_str());      // never sent
    ledger.Report(0, 11.0, T6Prog(8, 10.0, 1, kStart + 10).c_str());    // channel 1's
    ledger.Report(0, 12.0, T6Prog(7, 11.0, 1, kStart + 3600).c_str());  // an hour off
    ledger.Report(0, 14.0, "{\"TESK6\":{\"elapsedTime\":13,\"layer\":\"COMM_STD\",\"sid\":5}}");
    ledger.Report(3, 14.0, T6Prog(7, 13.0, 1, kStart + 13).c_str());  // a channel not fed
    ledger.StartSegment(0, 100.0, {});
    ledger.Report(0, 131.0, T6Prog(7, 98.0, 1, kStart + 98).c_str());  // 31 s after its segment
    const Totals& t = ledger.totals();
    EXPECT_EQ(t.wrongUnknown, 1u);
    EXPECT_EQ(t.wrongChannel, 2u);
    EXPECT_EQ(t.wrongTime, 1u);
    EXPECT_EQ(t.wrongCommStd, 1u);
    EXPECT_EQ(t.wrongLate, 1u);
    EXPECT_EQ(t.Wrong(), 6u);
    EXPECT_FALSE(t.wrongExamples.empty());
}

TEST(SoakLedger, RepeatsAndCopiesAreToldApart) {
    SoakLedger ledger(1, kStart, 30.0, 30.0);
    ledger.StartSegment(0, 0.0,
                        {{kT6Prog, CodeKey(kT6Prog, 7), 0.0}, {kT2Rs, CodeKey(kT2Rs, 0x123456789ull), 0.0}});
    const std::string a = T6Prog(7, 9.0, 1, kStart + 9);
    ledger.Report(0, 10.0, a.c_str());
    ledger.Report(0, 10.1, a.c_str());  // the same text again: delivered twice
    ledger.Report(0, 10.2, T6Prog(7, 9.1, 1, kStart + 9).c_str());  // the filter should drop it
    // The filter's report without a time code of a pair that disagreed.
    ledger.Report(0, 10.2, T6Prog(7, 9.0, -1, 1262303999).c_str());
    ledger.Report(0, 10.3, T2Rs("0x123456789", 9.85).c_str());
    ledger.Report(0, 10.3, T2Rs("0x123456789", 9.853).c_str());  // another depth's copy
    ledger.Report(0, 12.3, T2Rs("0x123456789", 11.84).c_str());  // the next repetition
    const Totals& t = ledger.totals();
    EXPECT_EQ(t.duplicates, 1u);
    EXPECT_EQ(t.nearRepeats, 1u);
    EXPECT_EQ(t.copies, 1u);
    EXPECT_EQ(t.withoutTime, 1u);
    EXPECT_EQ(t.Wrong(), 0u);
}

TEST(SoakSignal, CodeNumbersStayDistinctAndValid) {
    std::set<uint16_t> zelt, sid;
    for (uint64_t n = 0; n < 50400; ++n) {
        const uint16_t id = ZeltProgramId(n);
        const unsigned a = id >> 12, b = (id >> 8) & 15, c = (id >> 4) & 15, key = id & 15;
        ASSERT_TRUE(a != b && b != c && a != c && key >= 1) << std::hex << id;
        zelt.insert(id);
    }
    EXPECT_EQ(zelt.size(), 50400u);
    for (uint64_t n = 0; n < 65535; ++n) sid.insert(TeskSid(n, 7919));
    EXPECT_EQ(sid.size(), 65535u);
    EXPECT_EQ(sid.count(0), 0u);
}
