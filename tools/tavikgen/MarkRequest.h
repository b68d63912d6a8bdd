// One watermark message requested on the tavikgen command line:
//   CHANNEL:KIND[:FIELD=VALUE,...]
// e.g. "0:tesk6-prog:sid=0x1234,time=1767225600", "1:zelt-comm:id=0x123456789".
//
// Kinds and their fields (numbers are decimal or 0x hexadecimal):
//   tesk6-prog, tesk6-comm   sid, time | code, dist (0 PC, 1..3 FD1..FD3), dst, tx, rep
//   tesk6-rs                 id (35 bits), rep
//   tesk2-prog, tesk2-comm   sid, time | code, dist (1 PC, 2 FD; commercial 0), dst, rep
//   tesk2-rs                 id (35 bits), rep
//   zelt-prog                layer (1, 2 or 5), id (16 bits), time | minute
//   zelt-comm                id (36 bits)
//   zelt-flag                value (3 or 7)
// Every kind also takes ratio=DB, overriding the global watermark-to-host ratio.
// time: POSIX seconds of the encoder clock at the start of the audio (default:
// the generator's --time); code: the family's own time code instead.
// rep: repetitions of the message (0, the default, repeats it to the end).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

struct MarkRequest {
    enum class Family { Tesk6, Tesk2, Zelt };
    enum class Kind { Program, Commercial, CommercialRs, Flag };

    int channel = 0;
    Family family = Family::Tesk6;
    Kind kind = Kind::Program;
    uint64_t sid = 0;              // TESK SID
    uint64_t id = 0;               // commercial identifier, ZELT program id, or ZELT flag value
    std::optional<uint64_t> time;  // POSIX seconds
    std::optional<uint64_t> code;  // family time code (TESK) or minute (ZELT)
    std::optional<uint64_t> dist;
    bool dst = false;
    bool transmission = false;
    unsigned repetitions = 0;
    int zeltLayer = 1;
    std::optional<double> ratioDb;

    // Parses one --mark argument; on failure returns false with a reason in *error.
    static bool Parse(const std::string& text, MarkRequest* out, std::string* error);
    // "TESK 6 program" style name of the kind.
    std::string KindName() const;
};
