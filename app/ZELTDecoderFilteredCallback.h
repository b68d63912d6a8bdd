// Report callback of the filtered ZELT decoder ("ZELTFiltered"), one per
// audio channel.
//
// Every detection text of the channel's ZELT decoder arrives in
// ResultCallback. With the ZELT family switched off (ReportZelt) nothing is
// reported; in raw display (bZeltRawOutput) the text goes to the host
// unchanged.  Otherwise records of layers outside 1..5 are dropped, and a
// layer-4 record passes only when its commercial identifier is accepted by
// CUCCValidator, was not already seen for the same sample block and is
// confirmed by independent audio (ZeltCommConfirmation below);
// program codes (layers 1, 2 and 5) and commercial flags (layer 5, id 3 or
// 7) pass only once confirmed by independent audio (ZeltConfirmation below);
// records that pass go unchanged to the host ring of the channel
// (setAudioCodes) in report mode 1, or are printed (output to console) in
// any other mode.
//
// The channel is the number N of the trailing "ch<N>" of the channel name the
// meter passes to init ("ch0", "input.wav.ch1"), so every meter numbers its
// callbacks from 0.  Without a report object in the configuration record the
// instance stays unconfigured and reports nothing.
#pragma once

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <string>

#include "audiocore/IAudioConsumerCallback.h"

class CTavikReportCallback;

// Confirmation of ZELT program codes and commercial flags from the fields of
// the detection texts.  A program search accumulates its layer's audio over
// several 4.8 s periods, so successive detections of one code often re-read
// the same history; a code is believed only when a second detection of it
// rests on audio that the first did not use.
//
// Each record is placed on the channel's audio time line in 100 ms frames:
// its end is "sampleBlockIndex" (the frame of the message's last symbol; the
// decoder's frame counter, unwrapped here across its 187 h wrap) and its
// start is (firstSymAge - lastSymAge) / 100 frames earlier, less one symbol
// (4 frames for a program message, 3 for a flag), so [start, end] is all the
// audio its symbols were accumulated from.
//
// Program codes (layer, id, "phase", minute of the 28-day cycle):
// - a code is confirmed when an earlier sighting of the same layer and id
//   ends no later than the new record starts (no shared audio), at most 3
//   minutes of audio before the new record ends, with the same message phase
//   within two 100 ms slots, half a symbol (a real message keeps its place in
//   the 48-slot period), and with minutes that agree with the audio time between them
//   (the minute difference times 60 within 90 s of it).  The confirming
//   record is reported; the first sighting is not.
// - a confirmed code becomes a track: later records of the same layer, id
//   and phase pass at once when their minute agrees with the track in the
//   same way, or when they carry no time code (65535); a record whose minute
//   disagrees is held back and may start a new track of its own.  A track
//   ends after 10 minutes of audio without a record.
// - a record without a time code neither confirms nor is kept as a sighting.
// - a record whose time code is not a minute of the cycle (above 40319 and
//   not 65535) misread its time symbols; it is not reported (the callback
//   drops it before it gets here).
// Commercial flags (value 3 or 7) are confirmed the same way, by value and by
// the place of the pattern in its 2.4 s period (within one slot), without a
// minute, with two further conditions:
// - a flag occupies layers 3 and 4 as the commercial identifier message does,
//   so the two cannot be on air together: a flag record whose audio overlaps
//   that of a commercial identifier record (NoteCommercial) is the identifier
//   message's symbols read as markers; it is dropped, and earlier flag
//   sightings that overlap a commercial record are forgotten;
// - the tones of a program message (4.8 s period) reach the layer 3 and 4
//   bins too, and in quiet audio the symbols of one half of its period can
//   fill the flag pattern, every 4.8 s at the same place; a flag repeats every
//   2.4 s.  So two readings from single 2.4 s periods (depth 0) that sit at
//   the same place of a 4.8 s span (within one slot) do not confirm each
//   other; a reading 2.4 s away, or one accumulated over several periods,
//   does;
// - a flag is sent in every period, so its confirming reading ends at most
//   two periods (4.8 s) after the first: sightings further apart are
//   scattered readings of other tones (a program message with other
//   families' tones on a tonal host fills the pattern now and then, in either
//   half of its period and over several periods at once).
// Fixed-size state: no allocation per record.
class ZeltConfirmation {
public:
    struct Code {
        int layer = 0;         // 1, 2 or 5
        bool flag = false;     // a commercial flag (layer 5, id 3 or 7)
        uint32_t id = 0;       // program id or flag value
        int32_t minute = -1;   // minute of the 28-day cycle, -1 = none
        uint32_t phase = 0;    // program: slot of the last symbol in the 48-slot period;
                               // flag: slot of the pattern in the 24-slot period
        int32_t place48 = -1;  // flag read from one 2.4 s period: frame of the
                               // pattern modulo 48; -1 otherwise
        int64_t end = 0;       // frames, unwrapped
        int64_t start = 0;     // frames, unwrapped
    };
    // The end frame of a record, unwrapped: the decoder's frame counter
    // ("sampleBlockIndex") continued across its wrap.
    int64_t Unwrap(uint32_t sampleBlockIndex);
    // True when the code may reach the host.
    bool Accept(const Code& code);
    // A commercial identifier record read from frames [start, end] of layers
    // 3 and 4: flags overlapping it are not believed.
    void NoteCommercial(int64_t start, int64_t end);

private:
    static constexpr int kSightings = 32;
    static constexpr int kTracks = 8;
    struct Track {
        bool live = false;
        Code last;             // the last record with a time code (or flag)
        int64_t lastSeen = 0;  // end frame of the last record of the code
    };
    bool Agrees(const Code& earlier, const Code& later) const;
    void Remember(const Code& code);

    bool m_haveComm = false;
    int64_t m_commStart = 0;  // audio of the latest commercial identifier record
    int64_t m_commEnd = 0;
    bool m_haveBase = false;
    uint32_t m_lastIndex = 0;
    int64_t m_lastEnd = 0;
    Code m_sightings[kSightings];
    int m_sightingCount = 0;
    int m_nextSighting = 0;
    Track m_tracks[kTracks];
    int m_nextTrack = 0;
};

// Confirmation of ZELT commercial identifiers (layer 4). A Reed-Solomon
// word read off its alignment, or from another layer's tones, can decode to a
// valid identifier that was never sent, and deeper evaluations repeat such a
// reading from the same accumulated audio. An identifier is believed once a
// second record of it rests on audio the first did not use: an earlier
// sighting of the same identifier that ends no later than the new record
// starts, at most 3 minutes of audio before the new record ends. The
// confirming record is reported, the first sighting is not; then every record
// of the identifier passes at once until 10 minutes of audio pass without
// one. Frames are the 100 ms frames of ZeltConfirmation, [start, end] the
// audio the record's symbols came from. Fixed-size state.
class ZeltCommConfirmation {
public:
    bool Accept(int64_t commId, int64_t start, int64_t end);

private:
    static constexpr int kSightings = 32;
    static constexpr int kTracks = 8;
    static constexpr int64_t kMaxGapFrames = 1800;    // 3 minutes
    static constexpr int64_t kTrackEndFrames = 6000;  // 10 minutes
    struct Sighting {
        bool used = false;
        int64_t commId = 0;
        int64_t end = 0;
    };
    struct Track {
        bool live = false;
        int64_t commId = 0;
        int64_t lastSeen = 0;
    };
    Sighting m_sightings[kSightings];
    int m_nextSighting = 0;
    Track m_tracks[kTracks];
    int m_nextTrack = 0;
};

class ZELTDecoderFilteredCallback : public Kelvane::AudioCore::IAudioConsumerCallback {
public:
    ZELTDecoderFilteredCallback() = default;
    ~ZELTDecoderFilteredCallback() override = default;

    // config: the SampleAppConfigurationData of the run; name: channel name.
    // The first configured instance of the process posts the decoder version
    // as a diagnostic.
    void init(void* config, int major, int minor, int patch, char* name) override;
    void ResultCallback(std::string record) override;
    // Prints "Code %d: %s" / "Error code %d" with output to console set.
    void LogCallback(int code, const char* text) override;
    void Shutdown() override {}

    uint32_t Channel() const { return m_channel; }

    // Channel number N of a trailing "ch<N>" in `name`; -1 when there is none.
    static int ChannelFromName(const char* name);
    // "0x.." hexadecimal, "0.." octal, else decimal; 0 for invalid text or overflow.
    static int64_t ParseCommId(const std::string& text);

    // Process-wide count of configured instances (used for channel names
    // without a "ch<N>" suffix, and to post the version once).
    static int32_t m_nZeltChannelSelection;

    // The copies of one commercial message come one after another from one
    // evaluation, so an identifier is forgotten once this many commercial
    // records followed its last one: a channel that hears ever new identifiers
    // keeps its memory flat.
    static constexpr uint64_t kForgetAfterCommRecords = 4096;

    // Commercial identifiers the callback holds state for (bounded by
    // kForgetAfterCommRecords).
    size_t RememberedCommIds() const { return m_lastBlockOfCommId.size(); }

private:
    // Program and flag records (layers 1, 2, 5) through the confirmation.
    bool Confirmed(const rapidjson::Value& obj, int layer, uint32_t sampleBlockIndex);
    // A commercial identifier record through its confirmation.
    bool CommConfirmed(const rapidjson::Value& obj, int64_t commId, uint32_t sampleBlockIndex);

    CTavikReportCallback* m_report = nullptr;
    uint32_t m_channel = 0;
    bool m_outputToConsole = false;
    int32_t m_reportMode = 1;
    uint32_t m_major = 0, m_minor = 0, m_patch = 0;
    // Commercial identifier reports: true when the record repeats the sample
    // block last reported for `commId` (a copy from another depth: drop it);
    // otherwise remembers the block.
    bool RepeatedCommId(int64_t commId, uint32_t sampleBlockIndex);

    struct CommSighting {
        uint32_t sampleBlockIndex;
        uint64_t recordNumber;  // m_commRecords when it was last reported
    };
    std::map<int64_t, CommSighting> m_lastBlockOfCommId;
    uint64_t m_commRecords = 0;
    ZeltConfirmation m_confirm;
    ZeltCommConfirmation m_commConfirm;
};
