// Book-keeping of the soak run: which codes each channel carries in each of its
// segments, and what the host read from the code rings.
//
// A segment is a stretch of one channel's audio with one set of codes; every
// code gets its own on-air start within the segment. A code is expected when it
// was on air for at least `needSeconds` before its segment ended (or the run
// did). A polled report counts for a code of the channel's current segment, or
// of its previous one when it arrives at most `graceSeconds` after that
// segment ended (the decoders report a message some seconds after it ended).
// Anything else is wrong: a code never sent, sent on another channel, reported
// too late, with a time far from the audio clock, or of a kind never sent.
//
// Only the current and previous segment of each channel are kept; older ones
// are folded into the totals, so the ledger's memory stays flat however long
// the run.
#pragma once

#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <unordered_set>
#include <vector>

namespace soak {

enum Kind { kT6Prog, kT6Rs, kT2Prog, kT2Rs, kZeltProg, kZeltRs, kKindCount };
const char* KindName(int kind);

// The identity of a code as the host sees it, e.g. "T6P:4660" or "ZR:0x5a3c96e1d".
std::string CodeKey(int kind, uint64_t value, int zeltLayer = 0);

// What the soak reads from one detection text.
struct ParsedReport {
    bool ok = false;       // a detection of a kind the soak sends
    int kind = -1;         // Kind
    std::string key;       // CodeKey of the code
    std::string problem;   // why ok is false (e.g. "TESK2 COMM_STD")
    double elapsed = 0;    // elapsedTime, seconds of audio
    bool hasTime = false;  // the report carries a time to check
    int64_t timestamp = 0;
    int64_t systemTime = 0;
};
ParsedReport ParseDetection(const char* text);

struct ExpectedCode {
    int kind;
    std::string key;
    double onAirFrom;  // audio seconds
};

struct Totals {
    uint64_t expected[kKindCount] = {};
    uint64_t received[kKindCount] = {};  // expected and reported at least once
    uint64_t missing[kKindCount] = {};
    uint64_t shortOnAir = 0;  // codes on air too briefly to be expected
    uint64_t shortReported = 0;  // of those, reported all the same
    uint64_t reports = 0;
    uint64_t duplicates = 0;     // the same detection text delivered twice
    uint64_t nearRepeats = 0;    // a TESK program code again within 0.3 s
    // A commercial identifier or ZELT program id again within 0.3 s (ZELT: in
    // the same second): the copies several depths report of one message.
    uint64_t copies = 0;
    uint64_t wrongCommStd = 0;   // a standard commercial code (the soak sends none)
    uint64_t wrongUnknown = 0;   // a code never sent, or a kind of text the soak does not send
    uint64_t wrongChannel = 0;   // a code sent on another channel
    uint64_t wrongLate = 0;      // a code of a segment that ended more than the grace ago
    uint64_t wrongTime = 0;      // a time far from the audio clock
    uint64_t Wrong() const {
        return wrongCommStd + wrongUnknown + wrongChannel + wrongLate + wrongTime;
    }
    // TESK program codes reported without a time code (timestamp -1): the
    // detection filter reports a program code so when two detections of it
    // disagree in time; the same block's timed report usually follows.
    uint64_t withoutTime = 0;
    uint64_t Expected() const;
    uint64_t Received() const;
    uint64_t Missing() const;
    std::vector<std::string> wrongExamples;  // at most three of each kind
};

class SoakLedger {
public:
    // startPosix: POSIX time at audio time 0 (the encoders' clock).
    SoakLedger(unsigned channels, uint32_t startPosix, double needSeconds = 30.0,
               double graceSeconds = 30.0);

    // Channel `channel` begins a segment at audio time `t`; its previous segment
    // ends there.
    void StartSegment(unsigned channel, double t, std::vector<ExpectedCode> codes);
    // A detection text polled from `channel` when `t` seconds of audio were fed
    // (a channel beyond the soak's channels counts as a wrong channel).
    void Report(unsigned channel, double t, const char* text);
    // The run ends at audio time t: every open segment is closed.
    void Finish(double t);

    // Totals of the closed segments and every report so far.
    const Totals& totals() const { return totals_; }
    unsigned channelCount() const { return unsigned(channels_.size()); }

private:
    struct Code {
        ExpectedCode code;
        uint64_t reports = 0;
        double lastElapsed = -1e9;
    };
    struct Segment {
        bool open = false;
        double start = 0, end = 1e300;
        std::vector<Code> codes;
    };
    struct Channel {
        Segment current, previous;
        std::deque<std::string> recent;  // latest texts, to find duplicates
        std::unordered_set<std::string> recentSet;
    };
    void Close(Segment& s, double end);
    Code* Find(Segment& s, const std::string& key);
    void Wrong(uint64_t& counter, unsigned channel, double t, const std::string& why,
               const char* text);

    std::vector<Channel> channels_;
    uint32_t startPosix_;
    double need_, grace_;
    Totals totals_;
    std::map<const uint64_t*, int> examplesShown_;
};

}  // namespace soak
