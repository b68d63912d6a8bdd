// TESK 2 and TESK 6 time codes: conversion to and from POSIX time, broadcast days (starting at
// 03:00 local time) and printable date strings.
//
// Both codes count seconds from a local-time epoch, so every conversion goes through mktime and
// localtime and follows the process's time zone (TZ), including its daylight-saving rules.
//
// TESK 2 code (u32): bits 0-30 seconds since the TESK 2 epoch (1995-01-01 00:00:00 local
//   standard time); bit 31 (TESK2_DST_FLAG) set when the code was made during daylight saving
//   (its seconds count then includes the extra hour).
// TESK 6 code (u32): seconds since the TESK 6 epoch (2010-01-01 00:00:00 local standard time);
//   the daylight-saving flag travels separately as a byte (1 = flagged).
//
// Both codes wrap: a TESK 6 message carries 29 bits of seconds, so its count starts again at 0
// on 2027-01-05 (2^29 s after the epoch; 18:48:32 in UTC), and the 31 bits of a TESK 2 code
// wrap in 2063. The functions taking a `reference` POSIX time (the capture clock, or the start
// time given to a file decoder) place a code in the cycle nearest that reference, so a code
// heard after the rollover is dated after it. A reference within half a cycle of the truth
// (8.5 years for TESK 6, 34 years for TESK 2) gives the right cycle; a reference of 0 (or any
// time before the code's first cycle) gives the first cycle, which is what the functions
// without a reference always use.
//
// Ambiguity flag (out-parameter of the to-POSIX conversions): 0 = no daylight saving,
//   1 = daylight-saving code, 2 = the time falls into the repeated hour at the end of daylight
//   saving (the printing functions then show hour 2).
//
// All POSIX times are handled as u32. None of the functions throws; a failing localtime gives
// 0 (or the documented error value).
//
// Threads: localtime returns a shared static buffer, so these functions must not be called from
// several threads at once; the decoders call them from their processing thread only.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

constexpr uint32_t TESK2_DST_FLAG = 0x80000000u;
// Length of the code cycles in seconds.
constexpr uint32_t TESK6_CODE_CYCLE = 0x20000000u;  // 2^29
constexpr uint32_t TESK2_CODE_CYCLE = 0x80000000u;  // 2^31
// Text conversion results.
constexpr uint32_t TESK_TIME_OK = 0;
constexpr uint32_t TESK_TIME_BAD_BUFFER = 0xFFFFFFFFu;  // null buffer, too small, bad field
constexpr uint32_t TESK_TIME_LOCALTIME_FAILED = 0xFFFFFFFEu;

// a - b for two time codes (seconds, below `cycle`) of a code that wraps every `cycle` seconds:
// the difference of least magnitude, in (-cycle/2, cycle/2]. Across a rollover, code 2 is 4 s
// after code cycle - 2.
inline int64_t TeskCodeDifference(uint32_t a, uint32_t b, uint32_t cycle) {
    int64_t d = (static_cast<int64_t>(a) - static_cast<int64_t>(b)) % static_cast<int64_t>(cycle);
    if (d > static_cast<int64_t>(cycle / 2)) d -= cycle;
    if (d <= -static_cast<int64_t>(cycle / 2)) d += cycle;
    return d;
}
// `code` + `seconds` on the cycle, in 0..cycle-1.
inline uint32_t TeskCodeAdvance(uint32_t code, int64_t seconds, uint32_t cycle) {
    int64_t c = (static_cast<int64_t>(code) + seconds) % static_cast<int64_t>(cycle);
    if (c < 0) c += cycle;
    return static_cast<uint32_t>(c);
}

// Name tables, indexed by tm_wday / tm_mon.
extern const char* const days_of_week_list[7];
extern const char* const short_name_month_list[12];
extern const char* const T6_days_of_week_list[7];
extern const char* const T6_short_name_month_list[12];

// ------------------------------------------------------------------------------------------
// TESK 2
// ------------------------------------------------------------------------------------------

// mktime of 1995-01-01 00:00:00 local time with tm_isdst = 0.
time_t LocalTesk2Epoch();

// mktime of 1970-01-01 00:00:00 local time with tm_isdst = 0: the negated standard-time offset
// of the local zone in seconds.
time_t LocalOffsetFromUtc();

// TESK 2 code -> POSIX time; 0 when localtime fails. `ambiguity` (may be null) receives the
// ambiguity flag (0, 1 or 2, see above).
uint32_t Tesk2ToPosix(uint32_t code, uint8_t* ambiguity);
// As Tesk2ToPosix, with the code's seconds placed in the 2^31-second cycle nearest `reference`.
uint32_t Tesk2ToPosix(uint32_t code, uint8_t* ambiguity, uint32_t reference);

// POSIX time -> TESK 2 code, flagged when daylight saving is in force at that time. Times
// before the epoch give 0 (standard time) or TESK2_DST_FLAG (daylight saving); 0 when
// localtime fails. The seconds wrap at 2^31 (2063) as the broadcast codes do, so they never
// spill into the flag bit.
uint32_t PosixToTesk2(uint32_t posix);

// POSIX time -> TESK 2 code with the flag chosen by `mode` (1 = flagged, the seconds then
// include the extra hour when daylight saving is in force). Clamps to 0 / TESK2_DST_FLAG before
// the epoch; 0 when localtime fails. Seconds wrap at 2^31 as in PosixToTesk2.
uint32_t PosixToTesk2WithDst(uint32_t posix, uint8_t mode);

// Formatters: return TESK_TIME_OK or TESK_TIME_BAD_BUFFER (null buffer or size below the
// minimum; nothing written then). month 0-11; year is the full year (e.g. 1995).
// Format 0 (size >= 20): "MM/DD/YYYY hh:mm:ss".
uint32_t ConvertToFormat0(char* buffer, size_t size, uint8_t month, uint8_t day, uint16_t year,
                          uint8_t hour, uint8_t minute, uint8_t second);
// Format 1 (size >= 25): "Www MM/DD/YY hh:mm:ss AM" with a 12-hour clock (hour padded with a
// space); the buffer is cleared first.
uint32_t ConvertToFormat1(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                          uint16_t year, uint8_t hour, uint8_t minute, uint8_t second);
// Format 2 (size >= 25): "Www Mmm DD hh:mm:ss YYYY".
uint32_t ConvertToFormat2(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                          uint16_t year, uint8_t hour, uint8_t minute, uint8_t second);

// Prints a TESK 2 code in local time in format 0, 1 or 2 (anything else = 0). Returns
// TESK_TIME_OK, TESK_TIME_BAD_BUFFER (null buffer, size below 20, or below the format's
// minimum) or TESK_TIME_LOCALTIME_FAILED. The repeated hour at the end of daylight saving
// prints as hour 2.
uint32_t Tesk2ToTimeStringFormatted(uint32_t code, char* buffer, size_t size, int format);
// Format 0.
uint32_t Tesk2ToTimeString(uint32_t code, char* buffer, size_t size);

// TESK 2 code of the start (03:00:00 local) of the broadcast day containing `code`. Codes below
// 18001 give 1; 1 or 0 when localtime fails.
uint32_t Tesk2ToBroadcastDayStart(uint32_t code);
// Broadcast-day start for unflagged codes that may lie in the hour repeated at the end of
// daylight saving; `fellBehind` (may be null) is set to 1 when the start was taken from the
// previous day after going back across a change. Codes below 18001 give 1.
uint32_t T2ToBDS_FallBehindHour(uint32_t code, uint8_t* fellBehind);
// TESK 2 code of the next broadcast-day start after `code`; 0 when localtime fails.
uint32_t NextTesk2BroadcastDayStart(uint32_t code);
// Seconds from the broadcast-day start to `code` (0 when negative).
uint32_t SecondsSinceBroadcastDayStart(uint32_t code);
uint32_t SecondsSinceBroadcastDayStart_FallBehind(uint32_t code);
// Same as Tesk2ToPosix.
uint32_t Tesk2BroadcastDayStartToPosix(uint32_t code, uint8_t* ambiguity);
// Same as Tesk2ToTimeStringFormatted with format 0.
uint32_t Tesk2BroadcastDayStartToTimeString(uint32_t code, char* buffer, size_t size);

// ------------------------------------------------------------------------------------------
// TESK 6
// ------------------------------------------------------------------------------------------

// mktime of 2010-01-01 00:00:00 local time with tm_isdst = 0.
time_t LocalTesk6Epoch();

// TESK 6 code and daylight-saving flag byte -> POSIX time; 0 when localtime fails. The code
// counts seconds from the epoch as it stands (first cycle for a 29-bit code).
uint32_t Tesk6ToPosix(uint32_t code, uint8_t dstFlag);
// As Tesk6ToPosix, with a 29-bit code placed in the 2^29-second cycle nearest `reference`
// (see Tesk6CodeNearest).
uint32_t Tesk6ToPosix(uint32_t code, uint8_t dstFlag, uint32_t reference);
// As Tesk6ToPosix; `ambiguity` (may be null) receives 0, 1 or 2 (repeated hour).
uint32_t Tesk6ToPosixForDst(uint32_t code, uint8_t dstFlag, uint8_t* ambiguity);
uint32_t Tesk6ToPosixForDst(uint32_t code, uint8_t dstFlag, uint8_t* ambiguity,
                            uint32_t reference);
// Seconds since the TESK 6 epoch of the instance of a 29-bit code (below TESK6_CODE_CYCLE) in
// the cycle nearest `reference`: code + k * 2^29 with k >= 0, as long as the POSIX time still
// fits 32 bits. Codes of 2^29 and above (no 29-bit code; e.g. 0xFFFFFFFF for "no time code")
// are returned unchanged.
uint32_t Tesk6CodeNearest(uint32_t code, uint32_t reference);
// TESK 6 code -> TESK 2 code: (E6 + code) - E2, bit 31 set when dstFlag is 1.
uint32_t Tesk6ToTesk2(uint32_t code, uint8_t dstFlag);
// As Tesk6ToTesk2, with the code placed in the cycle nearest `reference` first.
uint32_t Tesk6ToTesk2(uint32_t code, uint8_t dstFlag, uint32_t reference);
// POSIX time -> TESK 6 code; `dstFlag` (may be null) receives 1 when daylight saving is in
// force (the code then includes the extra hour). Times before the epoch give 0. The result is
// the full count of seconds; a message carries its low 29 bits (code % TESK6_CODE_CYCLE).
uint32_t PosixToTesk6(uint32_t posix, uint8_t* dstFlag);

// TESK 6 formatters: as the TESK 2 ones, but every field is range checked (TESK_TIME_BAD_BUFFER
// otherwise): month 0-11, day 1-31, hour 0-23, minute and second 0-59, weekday 0-6, year
// 1900-2099 (formats 0 and 2) or 1995-2094 (format 1).
uint32_t T6ConvertToFormat0(char* buffer, size_t size, uint8_t month, uint8_t day, uint16_t year,
                            uint8_t hour, uint8_t minute, uint8_t second);
uint32_t T6ConvertToFormat1(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                            uint16_t year, uint8_t hour, uint8_t minute, uint8_t second);
uint32_t T6ConvertToFormat2(char* buffer, size_t size, uint8_t weekday, uint8_t month, uint8_t day,
                            uint16_t year, uint8_t hour, uint8_t minute, uint8_t second);

// Prints a TESK 6 code in local time in format 0, 1 or 2 (anything else = 0). Returns
// TESK_TIME_OK, TESK_TIME_BAD_BUFFER (null buffer, size 24 or less, or a field out of range)
// or TESK_TIME_LOCALTIME_FAILED.
uint32_t Tesk6ToTimeStringFormatted(uint32_t code, uint8_t dstFlag, char* buffer, size_t size,
                                    int format);
// As above, with the code placed in the cycle nearest `reference` first.
uint32_t Tesk6ToTimeStringFormatted(uint32_t code, uint8_t dstFlag, char* buffer, size_t size,
                                    int format, uint32_t reference);
// Format 0 with the low byte of `dstFlag`.
uint32_t Tesk6ToTimeString(uint32_t code, uint32_t dstFlag, char* buffer, size_t size);
