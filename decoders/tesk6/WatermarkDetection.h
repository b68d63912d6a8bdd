// Detection record shared by the TESK 6 and TESK 2 detection filters.
//
// The filters parse one detection JSON text into this record, keep recent
// records in a ring and compare them to confirm detections in pairs.
#ifndef TAVIK_DECODERS_TESK6_WATERMARKDETECTION_H
#define TAVIK_DECODERS_TESK6_WATERMARKDETECTION_H

#include <stdint.h>

typedef struct _WATERMARK_Detection_t {
    uint32_t layer;             // 0 PROG, 1 COMM_STD, 2 COMM_RS
    uint32_t start;             // on input "firstSymAge" (ms); inside a ring: absolute time (ms)
    uint32_t end;               // on input "lastSymAge" (ms); inside a ring: absolute time (ms)
    uint16_t quality;           // strong positions, or the Reed-Solomon quality value
    int16_t strength;           // sum of position margins
    uint16_t depth;             // accumulation depth k (0..3)
    uint16_t phase;             // frame phase of the detection (0..49 for valid records)
    uint32_t sid;               // source identifier, 0 when the text has no "sid"
    uint32_t timestamp;         // time code (0xFFFFFFFF when unknown)
    uint16_t dist;              // "PC" 0, "FD1" 1, "FD2" 2, "FD3" 3, any other text 4
    uint16_t dst;               // daylight-saving flag
    uint32_t transmission;      // transmission flag
    uint64_t commId;            // commercial identifier (Reed-Solomon layer), else 0
    double elapsedTime;         // seconds of audio decoded when the detection was made
    uint32_t sampleBlockIndex;  // 32 ms block index of the detection
    uint32_t redundant;         // "redundantCommStd" value
    uint32_t systemTime;        // "systemTime" read: the reference that places a re-emitted
                                // time code in the right cycle of the wrapping code
} _WATERMARK_Detection_t;

#endif  // TAVIK_DECODERS_TESK6_WATERMARKDETECTION_H
