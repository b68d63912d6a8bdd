// Test helper: TESK 6 detection texts as the decoder writes them, for the
// detection filter and the filtered callback.
#pragma once

#include <rapidjson/document.h>

#include <cstdio>
#include <string>

namespace t6test {

struct Det {
    std::string layer = "PROG";
    unsigned sid = 100;
    std::string commId;
    int firstAge = 1500;
    int lastAge = 1500;
    unsigned phase = 5;
    long long timestamp = 1000;
    std::string dist = "FD1";
    unsigned transmission = 0;
    long long sampleBlockIndex = -1;  // -1: from the elapsed time (last symbol 1.5 s earlier)
    double elapsed = 10.0;
    unsigned redundant = 0;
};

inline std::string Json(const Det& d) {
    char t[64];
    snprintf(t, sizeof(t), "%.3f", d.elapsed);
    std::string s =
        std::string("{\"TESK6\":{\"elapsedTime\":") + t + ",\"layer\":\"" + d.layer + "\",";
    if (d.layer == "COMM_RS")
        s += "\"commId\":\"" + d.commId + "\",";
    else
        s += "\"sid\":" + std::to_string(d.sid) + ",";
    const long long block =
        d.sampleBlockIndex >= 0 ? d.sampleBlockIndex : (long long)((d.elapsed + 1.5) / 0.032 + 0.5);
    s += "\"firstSymAge\":" + std::to_string(d.firstAge) +
         ",\"lastSymAge\":" + std::to_string(d.lastAge) +
         ",\"quality\":8,\"strength\":300,\"depth\":0,\"phase\":" + std::to_string(d.phase) +
         ",\"timestamp\":" + std::to_string(d.timestamp) +
         ",\"dst\":0,\"systemTime\":0,\"dist\":\"" + d.dist +
         "\",\"transmission\":" + std::to_string(d.transmission) +
         ",\"sampleBlockIndex\":" + std::to_string(block) +
         ",\"redundantCommStd\":" + std::to_string(d.redundant) + "}}";
    return s;
}

// An integer member of a TESK 6 text.
inline long long Field(const std::string& json, const char* key = "timestamp") {
    rapidjson::Document doc;
    doc.Parse(json.c_str());
    return doc["TESK6"][key].GetInt64();
}

}  // namespace t6test
