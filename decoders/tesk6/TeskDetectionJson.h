// JSON text of one TESK 6 or TESK 2 detection.
//
// The decoder adapters, the detection filters and the filtered callbacks of
// both TESK families write the same compact object {"<family>":{...}} with
// the same members in the same order:
//   "elapsedTime" (double), "layer" (text), "commId" ("0x%llx" text, Reed-
//   Solomon commercial layer only) or "sid" (unsigned), "firstSymAge",
//   "lastSymAge" (integers, ms), "quality" (unsigned), "strength" (integer),
//   "depth", "phase" (unsigned), "timestamp" (integer), "dst", "systemTime"
//   (unsigned), "dist" (text), "transmission" (unsigned, only where the
//   family has it), "sampleBlockIndex", "redundantCommStd" (unsigned).
// What goes into the members (family key, distribution names, how the POSIX
// time is derived, whether "transmission" exists) is each family's own rule
// and is decided by the caller; this writer only fixes the text's shape.
#ifndef TAVIK_DECODERS_TESK6_TESKDETECTIONJSON_H
#define TAVIK_DECODERS_TESK6_TESKDETECTIONJSON_H

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>
#include <stdint.h>

#include <cstdio>
#include <string>

// A number member of a detection text not written as an integer (1e300, 2.5)
// as a 64-bit integer: truncated toward zero and pinned to the int64 range (a
// value beyond it has no int64 form; NaN gives 0).
inline int64_t TeskInt64(double v) {
    if (!(v == v)) return 0;
    if (v >= 9223372036854775808.0) return INT64_MAX;
    if (v < -9223372036854775808.0) return INT64_MIN;
    return int64_t(v);
}

// Whole seconds of an elapsed time (or of a difference of two), truncated
// toward zero and pinned to +-2^40 s: far beyond any audio, and small enough
// that sums and differences with other such values and with time codes stay
// within int64.
inline int64_t TeskElapsedSeconds(double seconds) {
    constexpr double kLimit = 1099511627776.0;  // 2^40
    if (!(seconds == seconds)) return 0;
    if (seconds > kLimit) return int64_t(kLimit);
    if (seconds < -kLimit) return -int64_t(kLimit);
    return int64_t(seconds);
}

// The member values of one detection text, already in their written form.
struct TeskDetectionText {
    double elapsedTime = 0.0;
    const char* layer = "UN";  // "PROG", "COMM_STD", "COMM_RS" or "UN"
    bool commRs = false;       // writes "commId" in place of "sid"
    uint64_t commId = 0;
    uint32_t sid = 0;
    int32_t firstSymAge = 0;
    int32_t lastSymAge = 0;
    uint32_t quality = 0;
    int32_t strength = 0;
    uint32_t depth = 0;
    uint32_t phase = 0;
    int32_t timestamp = 0;
    uint32_t dst = 0;
    uint32_t systemTime = 0;
    const char* dist = "";
    bool hasTransmission = false;  // TESK 6 texts carry "transmission", TESK 2 texts do not
    uint32_t transmission = 0;
    uint32_t sampleBlockIndex = 0;
    uint32_t redundantCommStd = 0;
};

// Layer name of a detection record's layer number (0, 1, 2; "UN" otherwise).
inline const char* TeskLayerName(uint32_t layer) {
    switch (layer) {
        case 0:
            return "PROG";
        case 1:
            return "COMM_STD";
        case 2:
            return "COMM_RS";
        default:
            return "UN";
    }
}

// The compact text {"<familyKey>":{members of t}}.
inline std::string TeskDetectionJson(const char* familyKey, const TeskDetectionText& t) {
    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key(familyKey);
    w.StartObject();
    w.Key("elapsedTime");
    w.Double(t.elapsedTime);
    w.Key("layer");
    w.String(t.layer);
    if (t.commRs) {
        char hex[32];
        snprintf(hex, sizeof(hex), "0x%llx", (unsigned long long)t.commId);
        w.Key("commId");
        w.String(hex);
    } else {
        w.Key("sid");
        w.Uint(t.sid);
    }
    w.Key("firstSymAge");
    w.Int(t.firstSymAge);
    w.Key("lastSymAge");
    w.Int(t.lastSymAge);
    w.Key("quality");
    w.Uint(t.quality);
    w.Key("strength");
    w.Int(t.strength);
    w.Key("depth");
    w.Uint(t.depth);
    w.Key("phase");
    w.Uint(t.phase);
    w.Key("timestamp");
    w.Int(t.timestamp);
    w.Key("dst");
    w.Uint(t.dst);
    w.Key("systemTime");
    w.Uint(t.systemTime);
    w.Key("dist");
    w.String(t.dist);
    if (t.hasTransmission) {
        w.Key("transmission");
        w.Uint(t.transmission);
    }
    w.Key("sampleBlockIndex");
    w.Uint(t.sampleBlockIndex);
    w.Key("redundantCommStd");
    w.Uint(t.redundantCommStd);
    w.EndObject();
    w.EndObject();
    return std::string(sb.GetString(), sb.GetSize());
}

#endif  // TAVIK_DECODERS_TESK6_TESKDETECTIONJSON_H
