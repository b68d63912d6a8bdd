// The TESK 6 rules of a detection text (see TeskDetectionJson.h for its
// shape): the family key and the distribution names. Shared by the decoder
// adapter, the detection filter and the filtered callback.
#ifndef TAVIK_DECODERS_TESK6_TESK6DETECTIONTEXT_H
#define TAVIK_DECODERS_TESK6_TESK6DETECTIONTEXT_H

#include <stdint.h>
#include <string.h>

constexpr const char* kTesk6Key = "TESK6";

// "dist" text of a distribution code: 0 "PC", 1 "FD1", 2 "FD2", 3 "FD3",
// anything else "Undefined".
inline const char* Tesk6DistName(uint32_t dist) {
    static const char* const kNames[4] = {"PC", "FD1", "FD2", "FD3"};
    return dist < 4 ? kNames[dist] : "Undefined";
}

// Distribution code of a "dist" text: the inverse of Tesk6DistName, 4 for any
// other text.
inline uint16_t Tesk6DistCode(const char* text) {
    return !strcmp(text, "PC")    ? 0
           : !strcmp(text, "FD1") ? 1
           : !strcmp(text, "FD2") ? 2
           : !strcmp(text, "FD3") ? 3
                                  : 4;
}

#endif  // TAVIK_DECODERS_TESK6_TESK6DETECTIONTEXT_H
