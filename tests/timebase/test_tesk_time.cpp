// TESK 2 / TESK 6 time base under UTC and under zones with daylight saving.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "timebase/TeskTime.h"

namespace {

// Sets TZ for the lifetime of the object and restores the previous value afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone) {
        const char* old = std::getenv("TZ");
        hadOld_ = old != nullptr;
        if (hadOld_) old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard() {
        if (hadOld_) {
            setenv("TZ", old_.c_str(), 1);
        } else {
            unsetenv("TZ");
        }
        tzset();
    }

private:
    bool hadOld_ = false;
    std::string old_;
};

uint32_t Utc(int year, int month, int day, int hour, int minute, int second = 0) {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month - 1;
    t.tm_mday = day;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return static_cast<uint32_t>(timegm(&t));
}

// 03:00 local of the broadcast day containing p (dayOffset 0) or of the next one (1),
// computed with the C library alone.
uint32_t ExpectedDayStart(uint32_t p, int dayOffset) {
    const time_t t = p;
    struct tm lt;
    localtime_r(&t, &lt);
    if (lt.tm_hour < 3) lt.tm_mday -= 1;
    lt.tm_mday += dayOffset;
    lt.tm_hour = 3;
    lt.tm_min = 0;
    lt.tm_sec = 0;
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
    ZoneGuard zone("UTC");
    EXPECT_EQ(LocalTesk2Epoch(), 788918400);
    EXPECT_EQ(LocalTesk6Epoch(), 1262304000);
    EXPECT_EQ(LocalOffsetFromUtc(), 0);
    uint8_t amb = 9;
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
    uint8_t f = 9;
    EXPECT_EQ(PosixToTesk6(1262304000u + 5, &f), 5u);
    EXPECT_EQ(f, 0);
    EXPECT_EQ(PosixToTesk6(1262303999u, &f), 0u);
}

TEST(TeskTimeUtc, PrintFormats) {
    ZoneGuard zone("UTC");
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
    ZoneGuard zone("UTC");
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
        ZoneGuard zone(zoneName);
        std::mt19937 rng(2024);
        std::uniform_int_distribution<uint32_t> span(Utc(1995, 1, 2, 0, 0), Utc(2060, 1, 1, 0, 0));
        for (int i = 0; i < 3000; ++i) {
            const uint32_t p = span(rng);
            const time_t t = p;
            struct tm lt;
            localtime_r(&t, &lt);
            const uint32_t c2 = PosixToTesk2(p);
            ASSERT_EQ((c2 & TESK2_DST_FLAG) != 0, lt.tm_isdst > 0) << p;
            ASSERT_EQ(Tesk2ToPosix(c2, nullptr), p) << p;
            if (p >= Utc(2010, 1, 2, 0, 0)) {
                uint8_t f = 9;
                const uint32_t c6 = PosixToTesk6(p, &f);
                ASSERT_EQ(f, lt.tm_isdst > 0 ? 1 : 0);
                ASSERT_EQ(Tesk6ToPosix(c6, f), p) << p;
                // Both codes name the same instant.
                ASSERT_EQ(Tesk2ToPosix(Tesk6ToTesk2(c6, f), nullptr), p) << p;
            }
        }
    }
    ZoneGuard ny("America/New_York");
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
    struct Case {
        const char* zone;
        uint32_t firstPass, secondPass;
        const char* text;
    };
    const Case cases[] = {
        {"Europe/Berlin", Utc(2024, 10, 27, 0, 30), Utc(2024, 10, 27, 1, 30),
         "10/27/2024 02:30:00"},
        {"America/New_York", Utc(2024, 11, 3, 5, 30), Utc(2024, 11, 3, 6, 30),
         "11/03/2024 01:30:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        ZoneGuard zone(c.zone);
        const uint32_t a = PosixToTesk2(c.firstPass);
        const uint32_t b = PosixToTesk2(c.secondPass);
        EXPECT_TRUE(a & TESK2_DST_FLAG);
        EXPECT_FALSE(b & TESK2_DST_FLAG);
        EXPECT_EQ(T2Text(a, 0), c.text);
        EXPECT_EQ(T2Text(b, 0), c.text);
        uint8_t amb = 9;
        EXPECT_EQ(Tesk2ToPosix(a, &amb), c.firstPass);
        EXPECT_EQ(amb, 1);
        EXPECT_EQ(Tesk2ToPosix(b, &amb), c.secondPass);
        EXPECT_EQ(amb, 0);
        uint8_t fa = 0, fb = 0;
        const uint32_t a6 = PosixToTesk6(c.firstPass, &fa);
        const uint32_t b6 = PosixToTesk6(c.secondPass, &fb);
        EXPECT_EQ(fa, 1);
        EXPECT_EQ(fb, 0);
        EXPECT_EQ(T6Text(a6, fa, 0), c.text);
        EXPECT_EQ(T6Text(b6, fb, 0), c.text);
        EXPECT_EQ(Tesk6ToPosixForDst(a6, fa, &amb), c.firstPass);
        EXPECT_EQ(amb, 1);
    }
}

// An unflagged code that counts the clock hour skipped when daylight saving starts is marked
// ambiguous (2) and prints hour 02.
TEST(TeskTimeDst, SkippedHourIsMarkedAmbiguous) {
    struct Case {
        const char* zone;
        uint32_t standardReading;  // code + epoch, read as standard time
        const char* text;
    };
    const Case cases[] = {
        {"America/New_York", Utc(2024, 3, 10, 7, 30), "03/10/2024 02:30:00"},
        {"Europe/Berlin", Utc(2024, 3, 31, 1, 30), "03/31/2024 02:30:00"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.zone);
        ZoneGuard zone(c.zone);
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

// Broadcast-day start, next start and seconds since the start, checked against the C library
// every ten minutes over three days around each daylight-saving change, and around 03:00.
TEST(TeskTimeDst, BroadcastDayAcrossChanges) {
    struct Window {
        const char* zone;
        uint32_t from;
    };
    const Window windows[] = {
        {"America/New_York", Utc(2024, 3, 9, 0, 0)},
        {"America/New_York", Utc(2024, 11, 2, 0, 0)},
        {"Europe/Berlin", Utc(2024, 3, 30, 0, 0)},
        {"Europe/Berlin", Utc(2024, 10, 26, 0, 0)},
        {"America/New_York", Utc(2024, 7, 1, 0, 0)},
        {"Europe/Berlin", Utc(2024, 1, 10, 0, 0)},
        {"UTC", Utc(2024, 3, 30, 0, 0)},
    };
    for (const Window& w : windows) {
        SCOPED_TRACE(std::string(w.zone) + " from " + std::to_string(w.from));
        ZoneGuard zone(w.zone);
        for (uint32_t p = w.from; p < w.from + 3 * 86400; p += 600) {
            for (uint32_t q : {p, p + 599}) {
                const uint32_t start = ExpectedDayStart(q, 0);
                const uint32_t next = ExpectedDayStart(q, 1);
                const uint32_t c = PosixToTesk2(q);
                ASSERT_EQ(Tesk2ToPosix(Tesk2ToBroadcastDayStart(c), nullptr), start) << q;
                ASSERT_EQ(Tesk2BroadcastDayStartToPosix(Tesk2ToBroadcastDayStart(c), nullptr),
                          start);
                ASSERT_EQ(Tesk2ToPosix(NextTesk2BroadcastDayStart(c), nullptr), next) << q;
                ASSERT_EQ(SecondsSinceBroadcastDayStart(c), q - start) << q;
                uint8_t fellBehind = 9;
                const uint32_t fb = T2ToBDS_FallBehindHour(c, &fellBehind);
                ASSERT_EQ(Tesk2ToPosix(fb, nullptr), start) << q;
                const time_t t = q;
                struct tm lt;
                localtime_r(&t, &lt);
                const bool early = lt.tm_hour < 3 && !(c & TESK2_DST_FLAG);
                ASSERT_EQ(fellBehind, early ? 1 : 0) << q;
                ASSERT_EQ(SecondsSinceBroadcastDayStart_FallBehind(c), q - start) << q;
            }
        }
    }
}

TEST(TeskTimeDst, BroadcastDayEdges) {
    ZoneGuard zone("America/New_York");
    EXPECT_EQ(Tesk2ToBroadcastDayStart(0), 1u);
    EXPECT_EQ(Tesk2ToBroadcastDayStart(18000), 1u);
    uint8_t fb = 9;
    EXPECT_EQ(T2ToBDS_FallBehindHour(18000, &fb), 1u);
    EXPECT_EQ(fb, 0);
    // 02:59:59 belongs to the previous day, 03:00:00 starts a new one; the next start after
    // 01:00 is 03:00 of the same day.
    const uint32_t three = Utc(2024, 1, 10, 8, 0);  // 03:00 EST
    EXPECT_EQ(Tesk2ToPosix(Tesk2ToBroadcastDayStart(PosixToTesk2(three)), nullptr), three);
    EXPECT_EQ(SecondsSinceBroadcastDayStart(PosixToTesk2(three)), 0u);
    EXPECT_EQ(Tesk2ToPosix(Tesk2ToBroadcastDayStart(PosixToTesk2(three - 1)), nullptr),
              three - 86400);
    EXPECT_EQ(SecondsSinceBroadcastDayStart(PosixToTesk2(three - 1)), 86399u);
    EXPECT_EQ(Tesk2ToPosix(NextTesk2BroadcastDayStart(PosixToTesk2(three - 7200)), nullptr), three);
    EXPECT_EQ(Tesk2ToPosix(NextTesk2BroadcastDayStart(PosixToTesk2(three)), nullptr),
              three + 86400);
    // The broadcast day that contains the repeated hour is 25 hours long.
    const uint32_t fallDayStart = Utc(2024, 11, 2, 7, 0);    // 03:00 EDT
    const uint32_t lastSecond = Utc(2024, 11, 3, 8, 0) - 1;  // 02:59:59 EST
    EXPECT_EQ(SecondsSinceBroadcastDayStart(PosixToTesk2(lastSecond)), lastSecond - fallDayStart);
    EXPECT_EQ(lastSecond - fallDayStart, 25u * 3600 - 1);
}
