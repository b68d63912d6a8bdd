// Runs the built command-line tools as subprocesses and reads their output.
#pragma once

#include <gtest/gtest.h>
#include <rapidjson/document.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

namespace tool_test {

// The build folder: TAVIK_BINARY_DIR, or else three levels above this test
// program (<build>/tests/tools/<program>).
inline std::string BinaryDir() {
    const char* dir = std::getenv("TAVIK_BINARY_DIR");
    if (dir != nullptr && *dir != '\0') return dir;
    char self[4096] = {0};
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    std::string path(self, n > 0 ? static_cast<size_t>(n) : 0);
    for (int up = 0; up < 3 && !path.empty(); ++up) path.erase(path.find_last_of('/'));
    return path.empty() ? "." : path;
}
inline std::string Tavikdecode() { return BinaryDir() + "/tools/tavikdecode/tavikdecode"; }
inline std::string Tavikgen() { return BinaryDir() + "/tools/tavikgen/tavikgen"; }

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// A scratch folder for one test program, removed at exit of the program.
inline const std::string& ScratchDir() {
    static const std::string dir = [] {
        std::string d = BinaryDir() + "/tests/tools/scratch-" + std::to_string(getpid());
        std::system(("mkdir -p '" + d + "'").c_str());
        std::atexit([] {
            std::system(("rm -rf '" + BinaryDir() + "/tests/tools/scratch-" +
                         std::to_string(getpid()) + "'")
                            .c_str());
        });
        return d;
    }();
    return dir;
}

struct RunResult {
    int status = -1;  // exit status, -1 when the program did not exit normally
    std::string out;  // standard output
    std::string err;  // standard error
};

// Runs `command` through the shell with standard output and error captured.
inline RunResult RunTool(const std::string& command) {
    static int counter = 0;
    const std::string base = ScratchDir() + "/run" + std::to_string(++counter);
    const std::string full = command + " > '" + base + ".out' 2> '" + base + ".err'";
    const int raw = std::system(full.c_str());
    RunResult r;
    r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    r.out = ReadFile(base + ".out");
    r.err = ReadFile(base + ".err");
    return r;
}

// What identifies a delivered code: channel, family, layer and identifier
// (SID, program id or commercial identifier), without times and qualities.
using Payload = std::tuple<unsigned, std::string, std::string, std::string>;

// Parses tavikdecode's output lines. Every line must be a JSON object with
// "channel" and a "detection" holding one family object; failures are
// reported through gtest.
inline std::vector<Payload> ParseLines(const std::string& out) {
    std::vector<Payload> payloads;
    std::istringstream in(out);
    std::string line;
    while (std::getline(in, line)) {
        rapidjson::Document doc;
        doc.Parse(line.c_str());
        if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("channel") ||
            !doc.HasMember("detection") || !doc["detection"].IsObject() ||
            doc["detection"].MemberCount() != 1) {
            ADD_FAILURE() << "not a detection line: " << line;
            continue;
        }
        const auto& det = doc["detection"];
        const std::string family = det.MemberBegin()->name.GetString();
        const auto& body = det.MemberBegin()->value;
        std::string layer, id;
        if (body.HasMember("layer"))
            layer = body["layer"].IsString() ? body["layer"].GetString()
                                             : std::to_string(body["layer"].GetInt());
        if (body.HasMember("sid")) {
            id = "sid " + std::to_string(body["sid"].GetUint());
        } else if (body.HasMember("id") && std::string(body["id"].GetString()) != "N/A") {
            id = std::string("id ") + body["id"].GetString();
        } else if (body.HasMember("commId")) {
            id = std::string("commId ") + body["commId"].GetString();
        }
        payloads.emplace_back(doc["channel"].GetUint(), family, layer, id);
    }
    return payloads;
}

inline std::set<Payload> PayloadSet(const std::string& out) {
    const auto v = ParseLines(out);
    return std::set<Payload>(v.begin(), v.end());
}

}  // namespace tool_test
