// TESK 2 / TESK 6 time base under UTC and under zones with daylight saving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string>
#include <utility>

#include "timebase/TeskTime.h"

namespace {

// Every test sets the zone it runs in.
void SetZone(const char* zone) {
    setenv("TZ", zone, 1);
    tzset();
}

uint32_t Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    std::tm t{second, minute, hour, day, month - 1, year - 1900, 0, 0, 0, 0, nullptr};
    return static_cast<uint32_t>(timegm(&t));
}

struct tm Local(uint32_t p) {
    const time_t t = p;
    struct tm lt;
    localtime_r(&t, &lt);
    return lt;
}

// 03:00 local of the broadcast day containing p (dayOffset 0) or of the next one (1),
// computed with the C library alone.
uint32_t ExpectedDayStart(uint32_t p, int dayOffset) {
    struct tm lt = Local(p);
    lt.tm_mday += dayOffset - (lt.tm_hour < 3 ? 1 : 0);
    lt.tm_hour = 3;
    lt.tm_min = lt.tm_sec = 0;
    lt.tm_isdst = -1;
    return static_cast<uint32_t>(mktime(&lt));
}

std::string T2Text(uint32_t code, int format) {
    char buf[40];
    EXPECT_EQ(Tesk2ToTimeStringFormatted(code, buf, sizeof buf, format), TESK_TIME_OK);
    return buf;
}

std::string T6Text(uint32_t code, uint8_t flag, int format) {
    char buf[40];
    EXPECT_EQ(Tesk6ToTimeStringFormatted(code, flag, buf, sizeof buf, format), TESK_TIME_OK);
    return buf;
}

}  // namespace

TEST(TeskTimeUtc, EpochsAndConversions) {
    SetZone("UTC");
    EXPECT_EQ(LocalTesk2Epoch(), 788918400);
    EXPECT_EQ(LocalTesk6Epoch(), 1262304000);
    EXPECT_EQ(LocalOffsetFromUtc(), 0);
    uint8_t amb = 9, f = 9;
    EXPECT_EQ(Tesk2ToPosix(0, &amb), 788918400u);
    EXPECT_EQ(amb, 0);
    EXPECT_EQ(Tesk6ToPosix(0, 0), 1262304000u);
    EXPECT_EQ(Tesk6ToTesk2(0, 0), 473385600u);
    EXPECT_EQ(Tesk6ToTesk2(10, 1), (473385600u + 10) | TESK2_DST_FLAG);
    // A flagged code in a zone without daylight saving still denotes its own instant.
    EXPECT_EQ(Tesk2ToPosix(1000 | TESK2_DST_FLAG, &amb), 788918400u + 1000);
    EXPECT_EQ(amb, 1);
    EXPECT_EQ(PosixToTesk2(788918400u + 77), 77u);
    EXPECT_EQ(PosixToTesk2(788918399u), 0u);
    EXPECT_EQ(PosixToTesk2WithDst(788918400u + 77, 1), 77u | TESK2_DST_FLAG);
    EXPECT_EQ(PosixToTesk2WithDst(100, 1), TESK2_DST_FLAG);
    EXPECT_EQ(PosixToTesk6(1262304000u + 5, &f), 5u);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(PosixToTesk6(1262303999u, &f), 0u);
}

TEST(TeskTimeUtc, PrintFormats) {
    SetZone("UTC");
    EXPECT_EQ(T2Text(0, 0), "01/01/1995 00:00:00");
    EXPECT_EQ(T2Text(0, 1), "Sun 01/01/95 12:00:00 AM");
    EXPECT_EQ(T2Text(0, 2), "Sun Jan 01 00:00:00 1995");
    EXPECT_EQ(T2Text(0, 7), "01/01/1995 00:00:00");  // unknown format falls back to 0
    const uint32_t afternoon = 13 * 3600 + 5 * 60 + 9;
    EXPECT_EQ(T2Text(afternoon, 1), "Sun 01/01/95  1:05:09 PM");
    EXPECT_EQ(T2Text(12 * 3600, 1), "Sun 01/01/95 12:00:00 PM");
    EXPECT_EQ(T2Text(11 * 3600, 1), "Sun 01/01/95 11:00:00 AM");
    char buf[40];
    EXPECT_EQ(Tesk2ToTimeString(0, buf, sizeof buf), TESK_TIME_OK);
    EXPECT_STREQ(buf, "01/01/1995 00:00:00");
    EXPECT_EQ(Tesk2BroadcastDayStartToTimeString(0, buf, sizeof buf), TESK_TIME_OK);

    // 2024-02-29 17:45:30 UTC, a Thursday.
    const uint32_t p = Utc(2024, 2, 29, 17, 45, 30);
    const uint32_t c6 = PosixToTesk6(p, nullptr);
    EXPECT_EQ(T6Text(c6, 0, 0), "02/29/2024 17:45:30");
    EXPECT_EQ(T6Text(c6, 0, 1), "Thu 02/29/24  5:45:30 PM");
    EXPECT_EQ(T6Text(c6, 0, 2), "Thu Feb 29 17:45:30 2024");
    EXPECT_EQ(T2Text(PosixToTesk2(p), 2), "Thu Feb 29 17:45:30 2024");
    EXPECT_EQ(Tesk6ToTimeString(c6, 0x100, buf, sizeof buf), TESK_TIME_OK);  // low byte only
    EXPECT_STREQ(buf, "02/29/2024 17:45:30");
}

TEST(TeskTimeUtc, BufferAndFieldChecks) {
    SetZone("UTC");
    char buf[40];
    std::memset(buf, 'x', sizeof buf);
    EXPECT_EQ(Tesk2ToTimeStringFormatted(0, buf, 19, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(buf[0], 'x');
    EXPECT_EQ(Tesk2ToTimeStringFormatted(0, nullptr, 40, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(Tesk2ToTimeStringFormatted(0, buf, 20, 0), TESK_TIME_OK);
    EXPECT_EQ(Tesk2ToTimeStringFormatted(0, buf, 24, 1), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(Tesk2ToTimeStringFormatted(0, buf, 24, 2), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(Tesk2ToTimeStringFormatted(0, buf, 25, 1), TESK_TIME_OK);
    EXPECT_EQ(Tesk6ToTimeStringFormatted(0, 0, buf, 24, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(Tesk6ToTimeStringFormatted(0, 0, nullptr, 40, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(Tesk6ToTimeStringFormatted(0, 0, buf, 25, 1), TESK_TIME_OK);

    // Name lookups never leave the tables.
    EXPECT_EQ(ConvertToFormat1(buf, 40, 7, 0, 1, 1995, 0, 0, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(ConvertToFormat2(buf, 40, 0, 12, 1, 1995, 0, 0, 0), TESK_TIME_BAD_BUFFER);

    // TESK 6 formatters accept their ranges' ends and refuse one step beyond.
    EXPECT_EQ(T6ConvertToFormat0(buf, 40, 11, 31, 2099, 23, 59, 59), TESK_TIME_OK);
    EXPECT_STREQ(buf, "12/31/2099 23:59:59");
    EXPECT_EQ(T6ConvertToFormat0(buf, 40, 12, 1, 2000, 0, 0, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(T6ConvertToFormat0(buf, 40, 0, 0, 2000, 0, 0, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(T6ConvertToFormat0(buf, 40, 0, 1, 2000, 24, 0, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(T6ConvertToFormat1(buf, 40, 6, 0, 1, 2094, 0, 0, 0), TESK_TIME_OK);
    EXPECT_STREQ(buf, "Sat 01/01/94 12:00:00 AM");
    EXPECT_EQ(T6ConvertToFormat1(buf, 40, 6, 0, 1, 2095, 0, 0, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(T6ConvertToFormat1(buf, 40, 6, 0, 1, 1994, 0, 0, 0), TESK_TIME_BAD_BUFFER);
    EXPECT_EQ(T6ConvertToFormat2(buf, 40, 1, 11, 25, 1900, 8, 0, 0), TESK_TIME_OK);
    EXPECT_STREQ(buf, "Mon Dec 25 08:00:00 1900");
    EXPECT_EQ(T6ConvertToFormat2(buf, 24, 1, 11, 25, 1900, 8, 0, 0), TESK_TIME_BAD_BUFFER);
}

TEST(TeskTimeDst, EpochsAndRoundTrips) {
    for (const char* zoneName : {"America/New_York", "Europe/Berlin", "UTC"}) {
        SCOPED_TRACE(zoneName);
        SetZone(zoneName);
        std::mt19937 rng(2024);
        std::uniform_int_distribution<uint32_t> span(Utc(1995, 1, 2, 0, 0), Utc(2060, 1, 1, 0, 0));
        for (int i = 0; i < 3000; ++i) {
            const uint32_t p = span(rng);
            const bool dst = Local(p).tm_isdst > 0;
            const uint32_t c2 = PosixToTesk2(p);
            ASSERT_EQ((c2 & TESK2_DST_FLAG) != 0, dst) << p;
            ASSERT_EQ(Tesk2ToPosix(c2, nullptr), p) << p;
            if (p < Utc(2010, 1, 2, 0, 0)) continue;
            uint8_t f = 9;
            const uint32_t c6 = PosixToTesk6(p, &f);
            ASSERT_EQ(f, dst ? 1 : 0);
            ASSERT_EQ(Tesk6ToPosix(c6, f), p) << p;
            ASSERT_EQ(Tesk2ToPosix(Tesk6ToTesk2(c6, f), nullptr), p) << p;  // the same instant
        }
    }
    SetZone("America/New_York");
    EXPECT_EQ(LocalTesk2Epoch(), 788918400 + 5 * 3600);
    EXPECT_EQ(LocalTesk6Epoch(), 1262304000 + 5 * 3600);
    EXPECT_EQ(LocalOffsetFromUtc(), 5 * 3600);
    // Before the epoch: 0 in standard time, the bare flag in daylight saving.
    EXPECT_EQ(PosixToTesk2(Utc(1994, 12, 1, 12, 0)), 0u);
    EXPECT_EQ(PosixToTesk2(Utc(1994, 7, 1, 12, 0)), TESK2_DST_FLAG);
    EXPECT_EQ(PosixToTesk6(Utc(2009, 7, 1, 12, 0), nullptr), 0u);
}

// The hour repeated when daylight saving ends prints with its wall-clock hour whichever of its
// two passes the code denotes (hour 02 in Berlin, hour 01 in New York), and each pass converts
// back to its own instant.
TEST(TeskTimeDst, RepeatedHourAtEndOfDaylightSaving) {
    const struct {
        const char* zone;
        uint32_t pass[2];  // the first (daylight-saving) and the second (standard) pass
        const char* text;
    } cases[] = {
        {"Europe/Berlin",
         {Utc(2024, 10, 27, 0, 30), Utc(2024, 10, 27, 1, 30)},
         "10/27/2024 02:30:00"},
        {"America/New_York",
         {Utc(2024, 11, 3, 5, 30), Utc(2024, 11, 3, 6, 30)},
         "11/03/2024 01:30:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        SetZone(c.zone);
        for (int i = 0; i < 2; ++i) {
            const uint8_t dst = i == 0 ? 1 : 0;
            const uint32_t c2 = PosixToTesk2(c.pass[i]);
            EXPECT_EQ((c2 & TESK2_DST_FLAG) != 0, dst == 1);
            EXPECT_EQ(T2Text(c2, 0), c.text);
            uint8_t amb = 9, f = 9;
            EXPECT_EQ(Tesk2ToPosix(c2, &amb), c.pass[i]);
            EXPECT_EQ(amb, dst);
            const uint32_t c6 = PosixToTesk6(c.pass[i], &f);
            EXPECT_EQ(f, dst);
            EXPECT_EQ(T6Text(c6, f, 0), c.text);
            EXPECT_EQ(Tesk6ToPosixForDst(c6, f, &amb), c.pass[i]);
            EXPECT_EQ(amb, dst);
        }
    }
}

// An unflagged code that counts the clock hour skipped when daylight saving starts is marked
// ambiguous (2) and prints hour 02.
TEST(TeskTimeDst, SkippedHourIsMarkedAmbiguous) {
    const struct {
        const char* zone;
        uint32_t standardReading;  // code + epoch, read as standard time
        const char* text;
    } cases[] = {
        {"America/New_York", Utc(2024, 3, 10, 7, 30), "03/10/2024 02:30:00"},
        {"Europe/Berlin", Utc(2024, 3, 31, 1, 30), "03/31/2024 02:30:00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.zone);
        SetZone(c.zone);
        const uint32_t c2 = c.standardReading - static_cast<uint32_t>(LocalTesk2Epoch());
        uint8_t amb = 0;
        EXPECT_EQ(Tesk2ToPosix(c2, &amb), c.standardReading - 3600);
        EXPECT_EQ(amb, 2);
        EXPECT_EQ(T2Text(c2, 0), c.text);
        const uint32_t c6 = c.standardReading - static_cast<uint32_t>(LocalTesk6Epoch());
        EXPECT_EQ(Tesk6ToPosixForDst(c6, 0, &amb), c.standardReading - 3600);
        EXPECT_EQ(amb, 2);
        EXPECT_EQ(T6Text(c6, 0, 0), c.text);
        EXPECT_EQ(T6Text(c6, 0, 1).substr(13), " 2:30:00 AM");
        // An hour later in the same day the reading is unambiguous.
        EXPECT_EQ(Tesk2ToPosix(c2 + 3600, &amb), c.standardReading);
        EXPECT_EQ(amb, 0);
    }
}

// Broadcast-day start, next start and seconds since the start, checked against the C library at
// every ten-minute mark and 599 s after it (so at 03:00:00 and 02:59:59 of every day), over
// three days around each daylight-saving change and in zones without a change.
TEST(TeskTimeDst, BroadcastDayAcrossChanges) {
    const std::pair<const char*, uint32_t> windows[] = {
        {"America/New_York", Utc(2024, 3, 9, 0, 0)},
        {"America/New_York", Utc(2024, 11, 2, 0, 0)},
        {"Europe/Berlin", Utc(2024, 3, 30, 0, 0)},
        {"Europe/Berlin", Utc(2024, 10, 26, 0, 0)},
        {"America/New_York", Utc(2024, 7, 1, 0, 0)},
        {"Europe/Berlin", Utc(2024, 1, 10, 0, 0)},
        {"UTC", Utc(2024, 3, 30, 0, 0)},
    };
    for (const auto& [zoneName, from] : windows) {
        SCOPED_TRACE(std::string(zoneName) + " from " + std::to_string(from));
        SetZone(zoneName);
        for (uint32_t p = from; p < from + 3 * 86400; p += 600) {
            for (uint32_t q : {p, p + 599}) {
                const uint32_t start = ExpectedDayStart(q, 0);
                const uint32_t c = PosixToTesk2(q);
                const uint32_t bds = Tesk2ToBroadcastDayStart(c);
                ASSERT_EQ(Tesk2ToPosix(bds, nullptr), start) << q;
                ASSERT_EQ(Tesk2BroadcastDayStartToPosix(bds, nullptr), start) << q;
                ASSERT_EQ(Tesk2ToPosix(NextTesk2BroadcastDayStart(c), nullptr),
                          ExpectedDayStart(q, 1))
                    << q;
                ASSERT_EQ(SecondsSinceBroadcastDayStart(c), q - start) << q;
                ASSERT_EQ(SecondsSinceBroadcastDayStart_FallBehind(c), q - start) << q;
                uint8_t fellBehind = 9;
                ASSERT_EQ(Tesk2ToPosix(T2ToBDS_FallBehindHour(c, &fellBehind), nullptr), start);
                const bool early = Local(q).tm_hour < 3 && !(c & TESK2_DST_FLAG);
                ASSERT_EQ(fellBehind, early ? 1 : 0) << q;
            }
        }
    }
}

// Codes before the first broadcast day start map to code 1. (The grid above reaches 03:00:00 and
// 02:59:59 of every day, and the 25-hour day of the repeated hour.)
TEST(TeskTimeDst, BroadcastDayBeforeTheFirstStart) {
    SetZone("America/New_York");
    EXPECT_EQ(Tesk2ToBroadcastDayStart(0), 1u);
    EXPECT_EQ(Tesk2ToBroadcastDayStart(18000), 1u);
    uint8_t fb = 9;
    EXPECT_EQ(T2ToBDS_FallBehindHour(18000, &fb), 1u);
    EXPECT_EQ(fb, 0);
}

// The 29-bit TESK 6 code wraps on 2027-01-05 and the 31-bit TESK 2 code in 2063: with a
// reference clock a code is dated in the cycle nearest it, whatever side of a rollover the
// code and the clock are on. Without one (or with a reference before the code's first
// cycle), the first cycle as always.
TEST(TeskTimeRollover, CodesAreDatedInTheCycleNearestTheReference) {
    SetZone("UTC");
    const uint32_t r6 = Utc(2027, 1, 5, 18, 48, 32);
    ASSERT_EQ(r6, 1262304000u + TESK6_CODE_CYCLE);
    for (uint32_t ref : {r6 - 5, r6, r6 + 5, r6 + 86400 * 30, r6 - 86400 * 30}) {
        SCOPED_TRACE(ref);
        EXPECT_EQ(Tesk6ToPosix(TESK6_CODE_CYCLE - 3, 0, ref), r6 - 3);
        EXPECT_EQ(Tesk6ToPosix(4, 0, ref), r6 + 4);
        EXPECT_EQ(Tesk2ToPosix(Tesk6ToTesk2(4, 0, ref), nullptr), r6 + 4);
    }
    EXPECT_EQ(Tesk6ToPosix(4, 0), 1262304004u);
    EXPECT_EQ(Tesk6ToPosix(4, 0, 0), 1262304004u);
    EXPECT_EQ(Tesk6ToPosix(4, 0, 1000000000u), 1262304004u);
    // Two cycles on, as far as 32-bit POSIX time reaches; never past it.
    EXPECT_EQ(Tesk6ToPosix(4, 0, r6 + TESK6_CODE_CYCLE), r6 + TESK6_CODE_CYCLE + 4);
    EXPECT_EQ(Tesk6CodeNearest(TESK6_CODE_CYCLE - 1, UINT32_MAX), 5 * TESK6_CODE_CYCLE - 1);
    EXPECT_LE(LocalTesk6Epoch() + 5 * int64_t(TESK6_CODE_CYCLE) - 1, int64_t(UINT32_MAX));
    // "No time code" is no 29-bit code and keeps its old reading.
    EXPECT_EQ(Tesk6ToPosix(0xFFFFFFFFu, 0, r6), Tesk6ToPosix(0xFFFFFFFFu, 0));
    char text[40];
    ASSERT_EQ(Tesk6ToTimeStringFormatted(4, 0, text, sizeof text, 0, r6), TESK_TIME_OK);
    EXPECT_STREQ(text, "01/05/2027 18:48:36");

    const uint32_t r2 = Utc(2063, 1, 19, 3, 14, 8);
    ASSERT_EQ(r2, 788918400u + TESK2_CODE_CYCLE);
    EXPECT_EQ(PosixToTesk2(r2 + 5), 5u);  // wraps; never sets the flag bit
    EXPECT_EQ(PosixToTesk2WithDst(r2 + 5, 1), 5u | TESK2_DST_FLAG);
    for (uint32_t ref : {r2 - 5, r2 + 5}) {
        EXPECT_EQ(Tesk2ToPosix(5, nullptr, ref), r2 + 5);
        EXPECT_EQ(Tesk2ToPosix(TESK2_CODE_CYCLE - 2, nullptr, ref), r2 - 2);
    }
    EXPECT_EQ(Tesk2ToPosix(5, nullptr, 0), 788918405u);
}

// Daylight-saving codes of the second TESK 6 cycle convert back to their own instants in zones
// with daylight saving, as the first cycle's do, with references years away.
TEST(TeskTimeRollover, DaylightSavingRulesHoldInTheSecondCycle) {
    for (const char* zoneName : {"America/New_York", "Europe/Berlin"}) {
        SCOPED_TRACE(zoneName);
        SetZone(zoneName);
        std::mt19937 rng(77);
        std::uniform_int_distribution<uint32_t> span(Utc(2024, 1, 1, 0, 0), Utc(2034, 1, 1, 0, 0));
        std::uniform_int_distribution<int32_t> skew(-4 * 365 * 86400, 4 * 365 * 86400);
        for (int i = 0; i < 2000; ++i) {
            const uint32_t p = span(rng);
            const uint32_t ref = uint32_t(int64_t(p) + skew(rng));
            uint8_t f = 9;
            const uint32_t sent = PosixToTesk6(p, &f) % TESK6_CODE_CYCLE;
            ASSERT_EQ(f, Local(p).tm_isdst > 0 ? 1 : 0);
            ASSERT_EQ(Tesk6ToPosix(sent, f, ref), p) << p << " " << ref;
            ASSERT_EQ(Tesk2ToPosix(Tesk6ToTesk2(sent, f, ref), nullptr), p) << p;
        }
    }
}
