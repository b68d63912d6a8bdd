#include "timebase/TeskTime.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

const char* const days_of_week_list[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const short_name_month_list[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const T6_days_of_week_list[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
const char* const T6_short_name_month_list[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

namespace {

constexpr uint32_t kSecondsMask = 0x7FFFFFFFu;
constexpr uint32_t kHour = 3600;
constexpr uint32_t kFiveHours = 18000;
constexpr int kBroadcastDayHour = 3;

// Broken-down local time of a POSIX time. localtime_r keeps the result out of the C library's
// shared buffer; tzset first so a changed TZ is always honoured, as plain localtime does.
bool Local(uint32_t posix, struct tm* out) {
    tzset();
    const time_t t = static_cast<time_t>(posix);
    return localtime_r(&t, out) != nullptr;
}

bool IsDst(const struct tm& t) { return t.tm_isdst > 0; }

// mktime of a local date at midnight, read as standard time.
time_t LocalStandardMidnight(int year, int month, int day) {
    struct tm t;
    std::memset(&t, 0, sizeof t);
    t.tm_year = year - 1900;
    t.tm_mon = month;
    t.tm_mday = day;
    t.tm_isdst = 0;
    return mktime(&t);
}

// u32 view of a signed difference, clamped below at 0.
uint32_t ClampedDiff(int64_t a, int64_t b) { return a < b ? 0 : static_cast<uint32_t>(a - b); }

uint8_t TwelveHour(uint8_t hour) {
    if (hour == 0) return 12;
    return hour > 12 ? static_cast<uint8_t>(hour - 12) : hour;
}

bool ValidClock(uint8_t month, uint8_t day, uint8_t hour, uint8_t minute, uint8_t second) {
    return month <= 11 && day >= 1 && day <= 31 && hour <= 23 && minute <= 59 && second <= 59;
}

// Broken-down fields narrowed to 8 bits as printed; hour 2 for the ambiguous hour.
struct PrintFields {
    uint8_t weekday, month, day, hour, minute, second;
    uint16_t year;
};

PrintFields Narrow(const struct tm& t, uint8_t ambiguity) {
    PrintFields f;
    f.weekday = static_cast<uint8_t>(t.tm_wday);
    f.month = static_cast<uint8_t>(t.tm_mon);
    f.day = static_cast<uint8_t>(t.tm_mday);
    f.hour = ambiguity == 2 ? 2 : static_cast<uint8_t>(t.tm_hour);
    f.minute = static_cast<uint8_t>(t.tm_min);
    f.second = static_cast<uint8_t>(t.tm_sec);
    f.year = static_cast<uint16_t>(1900 + static_cast<uint8_t>(t.tm_year));
    return f;
}

// Offset k * cycle (k >= 0) that puts epoch + seconds + offset nearest to `reference`, the sum
// still fitting a u32 POSIX time. References before the first instance give 0.
int64_t NearestCycleOffset(int64_t epoch, int64_t seconds, int64_t cycle, uint32_t reference) {
    const int64_t first = epoch + seconds;
    if (static_cast<int64_t>(reference) <= first) return 0;
    int64_t k = (static_cast<int64_t>(reference) - first + cycle / 2) / cycle;
    while (k > 0 && first + k * cycle > static_cast<int64_t>(UINT32_MAX)) --k;
    return k * cycle;
}

// TESK 2 seconds since the epoch (any cycle) and daylight-saving flag -> POSIX time.
uint32_t Tesk2SecondsToPosix(int64_t seconds, uint8_t f, uint8_t* ambiguity) {
    uint8_t amb = f;
    uint32_t p = static_cast<uint32_t>(seconds + LocalTesk2Epoch() - (f ? kHour : 0));
    struct tm t;
    uint32_t result;
    if (!Local(p, &t)) {
        result = 0;
    } else if (!IsDst(t)) {
        result = f ? p + kHour : p;
    } else if (!f) {
        // An unflagged code during daylight saving counts wall-clock time without the extra
        // hour; an hour-3 reading that falls back to hour 1 is the clock hour 2 skipped at the
        // change and is flagged as ambiguous.
        const int hourBefore = t.tm_hour;
        p -= kHour;
        struct tm t2;
        if (hourBefore == 3 && Local(p, &t2) && t2.tm_hour == 1) amb = 2;
        result = p;
    } else {
        result = p;
    }
    if (ambiguity != nullptr) *ambiguity = amb;
    return result;
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// TESK 2
// ---------------------------------------------------------------------------------------------

time_t LocalTesk2Epoch() { return LocalStandardMidnight(1995, 0, 1); }

time_t LocalOffsetFromUtc() { return LocalStandardMidnight(1970, 0, 1); }

uint32_t Tesk2ToPosix(uint32_t code, uint8_t* ambiguity) {
    return Tesk2SecondsToPosix(code & kSecondsMask, (code & TESK2_DST_FLAG) ? 1 : 0, ambiguity);
}

uint32_t Tesk2ToPosix(uint32_t code, uint8_t* ambiguity, uint32_t reference) {
    const int64_t seconds = code & kSecondsMask;
    return Tesk2SecondsToPosix(
        seconds + NearestCycleOffset(LocalTesk2Epoch(), seconds, TESK2_CODE_CYCLE, reference),
        (code & TESK2_DST_FLAG) ? 1 : 0, ambiguity);
}

uint32_t PosixToTesk2(uint32_t posix) {
    struct tm t;
    if (!Local(posix, &t)) return 0;
    const int64_t e2 = LocalTesk2Epoch();
    if (!IsDst(t)) return ClampedDiff(posix, e2) & kSecondsMask;
    const int64_t shifted = static_cast<int64_t>(posix) + kHour;
    if (shifted < e2) return TESK2_DST_FLAG;
    return (static_cast<uint32_t>(shifted - e2) & kSecondsMask) | TESK2_DST_FLAG;
}

uint32_t PosixToTesk2WithDst(uint32_t posix, uint8_t mode) {
    const bool flagged = mode == 1;
    struct tm t;
    if (!Local(posix, &t)) return 0;
    const int64_t e2 = LocalTesk2Epoch();
    const uint32_t flag = flagged ? TESK2_DST_FLAG : 0;
    int64_t p = posix;
    if (IsDst(t) && flagged) p += kHour;
    if (p < e2) return flag;
    return (static_cast<uint32_t>(p - e2) & kSecondsMask) | flag;
}

uint32_t ConvertToFormat0(char* buffer, size_t size, uint8_t month, uint8_t day, uint16_t year,
                          uint8_t hour, uint8_t minute, uint8_t second) {
    if (buffer == nullptr || size < 20) return TESK_TIME_BAD_BUFFER;
    snprintf(buffer, size, "%02d/%02d/%04d %02d:%02d:%02d", month + 1, day, year, hour, minute,
             second);
    return TESK_TIME_OK;
}

uint32_t ConvertToFormat1(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                          uint16_t year, uint8_t hour, uint8_t minute, uint8_t second) {
    // The name lookups must stay inside the tables.
    if (buffer == nullptr || size < 25 || weekday > 6) return TESK_TIME_BAD_BUFFER;
    std::memset(buffer, 0, size);
    snprintf(buffer, size, "%s %02d/%02d/%02d %2d:%02d:%02d %s", days_of_week_list[weekday],
             month + 1, day, year % 100, TwelveHour(hour), minute, second, hour < 12 ? "AM" : "PM");
    return TESK_TIME_OK;
}

uint32_t ConvertToFormat2(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                          uint16_t year, uint8_t hour, uint8_t minute, uint8_t second) {
    if (buffer == nullptr || size < 25 || weekday > 6 || month > 11) return TESK_TIME_BAD_BUFFER;
    snprintf(buffer, size, "%s %s %02d %02d:%02d:%02d %04d", days_of_week_list[weekday],
             short_name_month_list[month], day, hour, minute, second, year);
    return TESK_TIME_OK;
}

uint32_t Tesk2ToTimeStringFormatted(uint32_t code, char* buffer, size_t size, int format) {
    if (buffer == nullptr || size < 20) return TESK_TIME_BAD_BUFFER;
    uint8_t amb = 0;
    const uint32_t p = Tesk2ToPosix(code, &amb);
    struct tm t;
    if (!Local(p, &t)) return TESK_TIME_LOCALTIME_FAILED;
    const PrintFields f = Narrow(t, amb);
    switch (format) {
        case 1:
            return ConvertToFormat1(buffer, size, f.weekday, f.month, f.day, f.year, f.hour,
                                    f.minute, f.second);
        case 2:
            return ConvertToFormat2(buffer, size, f.weekday, f.month, f.day, f.year, f.hour,
                                    f.minute, f.second);
        default:
            return ConvertToFormat0(buffer, size, f.month, f.day, f.year, f.hour, f.minute,
                                    f.second);
    }
}

uint32_t Tesk2ToTimeString(uint32_t code, char* buffer, size_t size) {
    return Tesk2ToTimeStringFormatted(code, buffer, size, 0);
}

uint32_t Tesk2ToBroadcastDayStart(uint32_t code) {
    if (code < 18001) return 1;
    uint8_t flag = 0;
    uint32_t p = Tesk2ToPosix(code, &flag);
    struct tm t;
    if (!Local(p, &t)) return 1;
    if (flag == 2 || t.tm_hour < kBroadcastDayHour) {
        // Before 03:00 the time belongs to the previous broadcast day. Going back five hours
        // lands safely on the previous calendar day, whatever changes lie in between.
        const bool wasDst = IsDst(t);
        p -= kFiveHours;
        if (!Local(p, &t)) return 0;
        if (IsDst(t) && flag == 0 && !wasDst) flag = 1;
    }
    t.tm_sec = 0;
    t.tm_min = 0;
    t.tm_hour = kBroadcastDayHour;
    time_t s = mktime(&t);
    if (t.tm_isdst > 0 && flag == 0) s += kHour;
    return PosixToTesk2WithDst(static_cast<uint32_t>(s), flag);
}

uint32_t T2ToBDS_FallBehindHour(uint32_t code, uint8_t* fellBehind) {
    if (fellBehind != nullptr) *fellBehind = 0;
    if (code < 18001) return 1;
    if (code & TESK2_DST_FLAG) return Tesk2ToBroadcastDayStart(code);
    uint32_t p = Tesk2ToPosix(code, nullptr);
    struct tm t;
    if (!Local(p, &t)) return 0;
    uint8_t mode = 0;
    if (t.tm_hour < kBroadcastDayHour) {
        p -= kFiveHours;
        if (!Local(p, &t)) return 0;
        mode = 1;
        if (t.tm_hour > 0 && fellBehind != nullptr) *fellBehind = 1;
    }
    t.tm_sec = 0;
    t.tm_min = 0;
    t.tm_hour = kBroadcastDayHour;
    const time_t s = mktime(&t);
    return PosixToTesk2WithDst(static_cast<uint32_t>(s), mode);
}

uint32_t NextTesk2BroadcastDayStart(uint32_t code) {
    const uint8_t f = (code & TESK2_DST_FLAG) ? 1 : 0;
    uint32_t p = Tesk2ToPosix(code, nullptr);
    struct tm t;
    if (!Local(p, &t)) return 0;
    const bool wasDst = IsDst(t);
    // Step to hour 4 of the day of the next start (today before 03:00, else tomorrow); from there
    // a daylight-saving change cannot move the clock across 03:00.
    const int hoursAhead = t.tm_hour < kBroadcastDayHour ? 4 - t.tm_hour : 28 - t.tm_hour;
    p += static_cast<uint32_t>(hoursAhead) * kHour;
    if (!Local(p, &t)) return 0;
    t.tm_sec = 0;
    t.tm_min = 0;
    t.tm_hour = kBroadcastDayHour;
    time_t s = mktime(&t);
    if (t.tm_isdst > 0) {
        // An unflagged code during daylight saving counts without the extra hour (see
        // Tesk2ToPosix), so the start is shifted as the broadcast-day start does.
        if (f == 0) s += kHour;
        return PosixToTesk2WithDst(static_cast<uint32_t>(s), f);
    }
    return PosixToTesk2WithDst(static_cast<uint32_t>(s), wasDst ? 0 : f);
}

uint32_t SecondsSinceBroadcastDayStart(uint32_t code) {
    const uint32_t b = Tesk2ToBroadcastDayStart(code);
    if (!(b & TESK2_DST_FLAG)) {
        const uint32_t v = (code & TESK2_DST_FLAG) ? (code & kSecondsMask) - kHour : code;
        return v < b ? 0 : v - b;
    }
    const uint32_t w = (code & TESK2_DST_FLAG) ? b : (b & kSecondsMask) - kHour;
    return code < w ? 0 : code - w;
}

uint32_t SecondsSinceBroadcastDayStart_FallBehind(uint32_t code) {
    const uint32_t b = T2ToBDS_FallBehindHour(code, nullptr);
    if (code >= b) return code - b;
    if ((b & TESK2_DST_FLAG) && !(code & TESK2_DST_FLAG)) {
        // The flagged start carries the extra hour only when it lies in daylight saving; a
        // start flagged in standard time (from the previous day before 03:00) does not.
        struct tm t;
        const bool startInDst = Local(Tesk2ToPosix(b, nullptr), &t) && IsDst(t);
        const uint64_t sum =
            static_cast<uint64_t>(code | TESK2_DST_FLAG) + (startInDst ? kHour : 0);
        return b > sum ? 0 : static_cast<uint32_t>(sum - b);
    }
    return 0;
}

uint32_t Tesk2BroadcastDayStartToPosix(uint32_t code, uint8_t* ambiguity) {
    return Tesk2ToPosix(code, ambiguity);
}

uint32_t Tesk2BroadcastDayStartToTimeString(uint32_t code, char* buffer, size_t size) {
    return Tesk2ToTimeStringFormatted(code, buffer, size, 0);
}

// ---------------------------------------------------------------------------------------------
// TESK 6
// ---------------------------------------------------------------------------------------------

time_t LocalTesk6Epoch() { return LocalStandardMidnight(2010, 0, 1); }

uint32_t Tesk6ToPosixForDst(uint32_t code, uint8_t dstFlag, uint8_t* ambiguity) {
    uint8_t amb = dstFlag;
    uint32_t p = static_cast<uint32_t>(static_cast<int64_t>(code) + LocalTesk6Epoch() -
                                       (dstFlag ? kHour : 0));
    struct tm t;
    uint32_t result;
    if (!Local(p, &t)) {
        result = 0;
    } else if (!IsDst(t)) {
        amb = dstFlag != 0;
        result = dstFlag ? p + kHour : p;
    } else {
        amb = dstFlag != 0;
        if (!dstFlag) {
            const int hourBefore = t.tm_hour;
            p -= kHour;
            struct tm t2;
            if (hourBefore == 3 && Local(p, &t2) && t2.tm_hour == 1) amb = 2;
        }
        result = p;
    }
    if (ambiguity != nullptr) *ambiguity = amb;
    return result;
}

uint32_t Tesk6ToPosixForDst(uint32_t code, uint8_t dstFlag, uint8_t* ambiguity,
                            uint32_t reference) {
    return Tesk6ToPosixForDst(Tesk6CodeNearest(code, reference), dstFlag, ambiguity);
}

uint32_t Tesk6ToPosix(uint32_t code, uint8_t dstFlag) {
    return Tesk6ToPosixForDst(code, dstFlag, nullptr);
}

uint32_t Tesk6ToPosix(uint32_t code, uint8_t dstFlag, uint32_t reference) {
    return Tesk6ToPosixForDst(Tesk6CodeNearest(code, reference), dstFlag, nullptr);
}

uint32_t Tesk6CodeNearest(uint32_t code, uint32_t reference) {
    if (code >= TESK6_CODE_CYCLE) return code;
    return static_cast<uint32_t>(
        code + NearestCycleOffset(LocalTesk6Epoch(), code, TESK6_CODE_CYCLE, reference));
}

uint32_t Tesk6ToTesk2(uint32_t code, uint8_t dstFlag) {
    const uint32_t c =
        static_cast<uint32_t>(static_cast<int64_t>(code) + LocalTesk6Epoch() - LocalTesk2Epoch());
    return dstFlag == 1 ? (c | TESK2_DST_FLAG) : c;
}

uint32_t Tesk6ToTesk2(uint32_t code, uint8_t dstFlag, uint32_t reference) {
    const uint32_t c = static_cast<uint32_t>(static_cast<int64_t>(Tesk6CodeNearest(code, reference)) +
                                             LocalTesk6Epoch() - LocalTesk2Epoch()) &
                       kSecondsMask;
    return dstFlag == 1 ? (c | TESK2_DST_FLAG) : c;
}

uint32_t PosixToTesk6(uint32_t posix, uint8_t* dstFlag) {
    if (dstFlag != nullptr) *dstFlag = 0;
    struct tm t;
    if (!Local(posix, &t)) return 0;
    const int64_t e6 = LocalTesk6Epoch();
    if (!IsDst(t)) return ClampedDiff(posix, e6);
    if (dstFlag != nullptr) *dstFlag = 1;
    return ClampedDiff(static_cast<int64_t>(posix) + kHour, e6);
}

uint32_t T6ConvertToFormat0(char* buffer, size_t size, uint8_t month, uint8_t day, uint16_t year,
                            uint8_t hour, uint8_t minute, uint8_t second) {
    if (buffer == nullptr || size < 20 || !ValidClock(month, day, hour, minute, second) ||
        year < 1900 || year > 2099) {
        return TESK_TIME_BAD_BUFFER;
    }
    return ConvertToFormat0(buffer, size, month, day, year, hour, minute, second);
}

uint32_t T6ConvertToFormat1(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                            uint16_t year, uint8_t hour, uint8_t minute, uint8_t second) {
    if (buffer == nullptr || size < 25 || weekday > 6 ||
        !ValidClock(month, day, hour, minute, second) || year < 1995 || year > 2094) {
        return TESK_TIME_BAD_BUFFER;
    }
    std::memset(buffer, 0, size);
    const char* w = T6_days_of_week_list[weekday];
    snprintf(buffer, size, "%c%c%c %02d/%02d/%02d %2d:%02d:%02d %cM", w[0], w[1], w[2], month + 1,
             day, year % 100, TwelveHour(hour), minute, second, hour < 12 ? 'A' : 'P');
    return TESK_TIME_OK;
}

uint32_t T6ConvertToFormat2(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                            uint16_t year, uint8_t hour, uint8_t minute, uint8_t second) {
    if (buffer == nullptr || size < 25 || weekday > 6 ||
        !ValidClock(month, day, hour, minute, second) || year < 1900 || year > 2099) {
        return TESK_TIME_BAD_BUFFER;
    }
    const char* w = T6_days_of_week_list[weekday];
    const char* m = T6_short_name_month_list[month];
    snprintf(buffer, size, "%c%c%c %c%c%c %02d %02d:%02d:%02d %04d", w[0], w[1], w[2], m[0], m[1],
             m[2], day, hour, minute, second, year);
    return TESK_TIME_OK;
}

uint32_t Tesk6ToTimeStringFormatted(uint32_t code, uint8_t dstFlag, char* buffer, size_t size,
                                    int format) {
    if (buffer == nullptr || size <= 24) return TESK_TIME_BAD_BUFFER;
    uint8_t amb = 0;
    const uint32_t p = Tesk6ToPosixForDst(code, dstFlag, &amb);
    struct tm t;
    if (!Local(p, &t)) return TESK_TIME_LOCALTIME_FAILED;
    const PrintFields f = Narrow(t, amb);
    switch (format) {
        case 1:
            return T6ConvertToFormat1(buffer, size, f.weekday, f.month, f.day, f.year, f.hour,
                                      f.minute, f.second);
        case 2:
            return T6ConvertToFormat2(buffer, size, f.weekday, f.month, f.day, f.year, f.hour,
                                      f.minute, f.second);
        default:
            return T6ConvertToFormat0(buffer, size, f.month, f.day, f.year, f.hour, f.minute,
                                      f.second);
    }
}

uint32_t Tesk6ToTimeStringFormatted(uint32_t code, uint8_t dstFlag, char* buffer, size_t size,
                                    int format, uint32_t reference) {
    return Tesk6ToTimeStringFormatted(Tesk6CodeNearest(code, reference), dstFlag, buffer, size,
                                      format);
}

uint32_t Tesk6ToTimeString(uint32_t code, uint32_t dstFlag, char* buffer, size_t size) {
    return Tesk6ToTimeStringFormatted(code, static_cast<uint8_t>(dstFlag & 0xFF), buffer, size, 0);
}
