#pragma once

#include <string>

// Writes the decoder parameters document: compact JSON {"Parameters":[...]} with one one-key
// object per bit set in the process mask, in this fixed order:
//   0x1 TESK2, 0x200 TESK2Filtered, 0x1000 TESK6, 0x800 TESK6Filtered, 0x4 TESK6Reduced,
//   0x80 ZELT, 0x400 ZELTFiltered (each with an empty settings object), then the signature
//   generators 0x8 UNITAM, 0x10 PAS, 0x20 DNA, 0x40 TDASH, 0x2000 STREAMFP with their settings.
// Bits 0x2 and 0x100 write nothing.
class Parameter {
public:
    static constexpr int kTesk2 = 0x1;
    static constexpr int kTesk6Reduced = 0x4;
    static constexpr int kUnitam = 0x8;
    static constexpr int kPas = 0x10;
    static constexpr int kDna = 0x20;
    static constexpr int kTdash = 0x40;
    static constexpr int kZelt = 0x80;
    static constexpr int kTesk2Filtered = 0x200;
    static constexpr int kZeltFiltered = 0x400;
    static constexpr int kTesk6Filtered = 0x800;
    static constexpr int kTesk6 = 0x1000;
    static constexpr int kStreamFp = 0x2000;

    // Null strings are written as empty strings.
    std::string createString(int processMask, int tdashMode, int dnaMode, unsigned int streamFpMode,
                             unsigned int streamFpRate, unsigned int streamFpInterval,
                             unsigned int streamFpDeliveryMode, unsigned int streamFpCompress,
                             unsigned int pasDeliveryMode, unsigned int pasInterval,
                             unsigned int unitamInterval, unsigned int unitamDeliveryMode,
                             unsigned int unitamBlockSize, bool generateUts,
                             const char* outputFolder, const char* sourceFileName) const;
};
