// ZELT time code: minutes within a 28-day cycle, written as four distinct
// hexadecimal digits whose ordered-choice rank is the minute.
#pragma once

#include <array>
#include <cstdint>

namespace Kelvane {
namespace ZELT {

class ZELTTimeStamp {
public:
    static constexpr uint32_t kCycleEpoch = 1073174400u;  // 2004-01-04 00:00:00 UTC
    static constexpr uint32_t kCycleSeconds = 2419200u;   // 28 days
    static constexpr uint32_t kInvalid = 0xFFFFFFFFu;

    explicit ZELTTimeStamp(uint16_t code) : m_code(code) {}

    // The four hexadecimal digits of the code, most significant first.
    std::array<uint8_t, 4> getDigits() const;
    // code > 0xEB76 (the code of minute 40319).
    bool isTimeStampGreaterThan28Days() const { return m_code > 0xEB76; }
    // True when two of the four digits are equal.
    static bool isSymbolDuplicated(const std::array<uint8_t, 4>& digits);
    // d0*2730 + d1'*182 + d2'*13 + d3', each primed digit reduced by the
    // number of earlier digits smaller than it.
    static uint32_t decodeDigitsToTimeInMinutes(const std::array<uint8_t, 4>& digits);
    // Minutes * 60, or kInvalid beyond 28 days or with a repeated digit.
    uint32_t getTimeInSeconds() const;
    // Start of the 28-day cycle holding audioTime plus `seconds` (unsigned
    // 32-bit arithmetic, cycles counted from kCycleEpoch).
    static uint32_t convertToUnixTime(uint32_t audioTime, uint32_t seconds);
    // Like convertToUnixTime, but in whichever cycle puts the result nearest to audioTime
    // (within half a cycle): a message sent in the last minutes of a cycle and heard just
    // after the next one began belongs to the cycle that ended, not 28 days ahead. Audio
    // times before kCycleEpoch give convertToUnixTime's result.
    static uint32_t convertToNearestUnixTime(uint32_t audioTime, uint32_t seconds);
    // 0 for an invalid code, else convertToUnixTime(audioTime, getTimeInSeconds()).
    uint32_t getSystemTime(uint32_t audioTime) const;

private:
    uint16_t m_code;
};

}  // namespace ZELT
}  // namespace Kelvane
