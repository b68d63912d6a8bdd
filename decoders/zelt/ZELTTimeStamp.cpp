#include "decoders/zelt/ZELTTimeStamp.h"

namespace Kelvane {
namespace ZELT {

std::array<uint8_t, 4> ZELTTimeStamp::getDigits() const {
    return {static_cast<uint8_t>((m_code >> 12) & 15), static_cast<uint8_t>((m_code >> 8) & 15),
            static_cast<uint8_t>((m_code >> 4) & 15), static_cast<uint8_t>(m_code & 15)};
}

bool ZELTTimeStamp::isSymbolDuplicated(const std::array<uint8_t, 4>& d) {
    for (int i = 0; i < 4; ++i)
        for (int j = i + 1; j < 4; ++j)
            if (d[i] == d[j]) return true;
    return false;
}

uint32_t ZELTTimeStamp::decodeDigitsToTimeInMinutes(const std::array<uint8_t, 4>& d) {
    static const uint32_t kWeights[4] = {2730, 182, 13, 1};
    uint32_t minutes = 0;
    for (int i = 0; i < 4; ++i) {
        uint32_t primed = d[i];
        for (int j = 0; j < i; ++j)
            if (d[j] < d[i]) --primed;
        minutes += primed * kWeights[i];
    }
    return minutes;
}

uint32_t ZELTTimeStamp::getTimeInSeconds() const {
    const std::array<uint8_t, 4> d = getDigits();
    if (isTimeStampGreaterThan28Days() || isSymbolDuplicated(d)) return kInvalid;
    return decodeDigitsToTimeInMinutes(d) * 60u;
}

uint32_t ZELTTimeStamp::convertToUnixTime(uint32_t audioTime, uint32_t seconds) {
    return ((audioTime - kCycleEpoch) / kCycleSeconds) * kCycleSeconds + seconds + kCycleEpoch;
}

uint32_t ZELTTimeStamp::convertToNearestUnixTime(uint32_t audioTime, uint32_t seconds) {
    const uint32_t inCycle = convertToUnixTime(audioTime, seconds);
    if (audioTime < kCycleEpoch) return inCycle;
    const int64_t half = kCycleSeconds / 2;
    const int64_t offset = static_cast<int64_t>(inCycle) - static_cast<int64_t>(audioTime);
    int64_t t = inCycle;
    if (offset > half && t - kCycleSeconds >= kCycleEpoch)
        t -= kCycleSeconds;
    else if (offset < -half && t + kCycleSeconds <= UINT32_MAX)
        t += kCycleSeconds;
    return static_cast<uint32_t>(t);
}

uint32_t ZELTTimeStamp::getSystemTime(uint32_t audioTime) const {
    const uint32_t s = getTimeInSeconds();
    return s == kInvalid ? 0 : convertToUnixTime(audioTime, s);
}

}  // namespace ZELT
}  // namespace Kelvane
