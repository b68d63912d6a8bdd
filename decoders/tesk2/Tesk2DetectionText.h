// The TESK 2 rules of a detection text (see decoders/tesk6/TeskDetectionJson.h
// for its shape): the family key, the distribution names of the 2-bit field
// and the POSIX time of a time code. Shared by the hybrid decoder adapter, the
// detection filter and the filtered callback. TESK 2 texts have no
// "transmission" member.
#ifndef TAVIK_DECODERS_TESK2_TESK2DETECTIONTEXT_H
#define TAVIK_DECODERS_TESK2_TESK2DETECTIONTEXT_H

#include <stdint.h>
#include <string.h>

#include "timebase/TeskTime.h"

constexpr const char* kTesk2Key = "TESK2";

// "dist" text of the 2-bit distribution field: 0 "COMM_STD", 1 "PC", 2 "FD",
// anything else "UN".
inline const char* Tesk2DistName(uint32_t dist) {
    switch (dist) {
        case 0:
            return "COMM_STD";
        case 1:
            return "PC";
        case 2:
            return "FD";
        default:
            return "UN";
    }
}

// Distribution field of a "dist" text: "COMM_STD" 0, "PC" 1, "FD" 2, any
// other text 3.
inline uint16_t Tesk2DistCode(const char* text) {
    return !strcmp(text, "COMM_STD") ? 0 : !strcmp(text, "PC") ? 1 : !strcmp(text, "FD") ? 2 : 3;
}

// "systemTime" of a detection: the POSIX time of the time code with bit 31
// set when the daylight-saving flag is 1, in the code cycle nearest
// `reference` (the audio clock, or the time the decoder gave the detection).
inline uint32_t Tesk2SystemTime(uint32_t timestamp, uint32_t dstFlag, uint32_t reference) {
    uint8_t ambiguity = 0;
    return Tesk2ToPosix(dstFlag == 1 ? (timestamp | 0x80000000u) : timestamp, &ambiguity,
                        reference);
}

#endif  // TAVIK_DECODERS_TESK2_TESK2DETECTIONTEXT_H
