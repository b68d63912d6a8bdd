// What the filtered TESK 6 and TESK 2 report callbacks have in common: the
// host plumbing (report object and settings from the run configuration,
// channel number, report switches and raw display, setAudioCodes, console
// log), the record read back from a detection text, and the two steps that
// are the same in both families (repeated Reed-Solomon commercial detections,
// repeats within 0.3 s). Each family's callback keeps its own filter, anchor
// step and text rules. Adds no virtual operation to IAudioConsumerCallback.
#ifndef TAVIK_APP_CTESKFILTEREDCALLBACK_H
#define TAVIK_APP_CTESKFILTEREDCALLBACK_H

#include <rapidjson/document.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audiocore/IAudioConsumerCallback.h"
#include "audiocore/LocalJsonDocument.h"
#include "decoders/tesk6/TeskDetectionJson.h"

class CTavikReportCallback;

// One decoded detection, as read back from a detection text.
struct Watermark_Detection_Record_t {
    int32_t layer;        // 0 PROG, 1 COMM_STD, 2 COMM_RS
    int32_t firstSymAge;  // ms
    int32_t lastSymAge;   // ms
    uint16_t quality;
    int16_t strength;
    uint16_t depth;
    uint16_t phase;
    uint16_t sid;           // 0 for COMM_RS
    int32_t timestamp;      // the family's time code; negative = unknown
    uint16_t distribution;  // the family's distribution code
    uint16_t dst;           // 0 or 1
    uint32_t transmission;  // TESK 6: 0, 1, or 2 for any larger value; TESK 2: 0
    uint64_t commId;        // COMM_RS only
    double elapsedTime;     // s
    uint32_t sampleBlockIndex;
    uint32_t redundantComm;
    uint32_t systemTime;  // "systemTime" read: dates a rebuilt text in the same code cycle
    uint8_t noAnchor;     // timestamp negative
    uint8_t corrected;    // timestamp replaced by a corrected time code
    uint8_t commRs;       // COMM_RS layer
};

class CTeskFilteredCallback : public Kelvane::AudioCore::IAudioConsumerCallback {
public:
    // Prints "Code %d: %s" / "Error code %d" with output to console set.
    void LogCallback(int code, const char* text) override;
    void Shutdown() override {}

    int Channel() const { return m_channel; }
    // SIDs and commercial identifiers the callback holds state for (anchors,
    // last reports, repeat checks); bounded by the codes heard in the last
    // kForgetAfterSeconds of audio.
    size_t RememberedIds() const { return m_anchor0.size() + m_lastSampleBlock.size(); }

    // A SID or identifier not detected for this long (audio seconds) is
    // forgotten: a long-running channel that hears ever new codes keeps its
    // memory flat. A code that comes back later starts as a new one (its first
    // detection is an anchor again), which costs one detection of time
    // correction and nothing else: every rule that reads this state looks at
    // most a few minutes back.
    static constexpr double kForgetAfterSeconds = 3600.0;
    // How often (audio seconds) the idle codes are looked for.
    static constexpr double kForgetSweepSeconds = 600.0;

    // Channel number N of a trailing "ch<N>" in `name`; -1 when there is none.
    static int ChannelFromName(const char* name);

protected:
    CTeskFilteredCallback() = default;
    ~CTeskFilteredCallback() override = default;

    // Takes the report object from the SampleAppConfigurationData `config`;
    // only when there is one, also the date/time display, report mode and
    // console output. Returns whether the instance is configured.
    bool Configure(void* config);
    // Channel from the trailing "ch<N>" of name, or else from `counter`, which
    // is incremented either way.
    void AssignChannel(const char* name, int32_t& counter);
    // False when a text needs no more work: the family is switched off
    // (`reportFamily` clear), the instance is unconfigured, the text went to
    // the host unchanged (`rawOutput`), or it does not mention `familyKey`.
    bool NeedsFiltering(bool reportFamily, bool rawOutput, const std::string& json,
                        const char* familyKey);
    // Hands a text to the host ring of the channel.
    void Report(const std::string& text);

    // Zeroes `r`, parses `json` into `doc` and fills every member of the record
    // that both families read the same way (all but distribution,
    // transmission and the no-anchor flag). Returns the object under
    // `familyKey`, or null when the text does not parse or has none.
    static const rapidjson::Value* ReadRecord(Kelvane::AudioCore::LocalJsonDocument& doc,
                                              const std::string& json, const char* familyKey,
                                              Watermark_Detection_Record_t& r);
    // Integer member (any JSON number) as its 64-bit value; 0 when absent.
    static int64_t ReadInt(const rapidjson::Value& o, const char* key);
    // The members of a record's host text that both families write the same
    // way (layer "PROG" unless 1 or 2); the family adds "systemTime", "dist"
    // and, for TESK 6, "transmission".
    static TeskDetectionText TextOf(const Watermark_Detection_Record_t& r);

    // COMM_RS: true when the record repeats the sample block index last
    // reported for its commId (drop it); otherwise remembers the index.
    bool RepeatedCommRs(const Watermark_Detection_Record_t& r);
    // Repeat suppression: false (drop) when the last reported detection of
    // the SID is less than 0.3 s older; a reported record with a time code of
    // at least 1 becomes the SID's last one.
    bool DuplicateStep(const Watermark_Detection_Record_t& r);
    // Notes that the record's SID (or commercial identifier) was heard at its
    // elapsed time and, every kForgetSweepSeconds, forgets the codes idle for
    // kForgetAfterSeconds. Called first for every record the filter releases.
    void NoteHeard(const Watermark_Detection_Record_t& r);
    // Drops the per-SID state of `sid`; a family with more per-SID state adds
    // its own.
    virtual void ForgetSid(unsigned sid);

    using RecordPtr = std::unique_ptr<Watermark_Detection_Record_t>;

    struct AnchorSlots {
        RecordPtr& anchor0;
        RecordPtr& anchor1;
        RecordPtr& main;
    };
    // First part of the anchor step, the same in both families: a record with
    // a negative time code gets the no-anchor flag; any other becomes anchor 0
    // of its SID, or anchor 1 when anchor 0 is taken and anchor 1 is free.
    // Returns the SID's three anchor slots.
    AnchorSlots StoreAnchor(Watermark_Detection_Record_t& r);

    CTavikReportCallback* m_report = nullptr;
    int32_t m_channel = 0;
    bool m_showDateTime = false;
    int32_t m_reportMode = 1;
    bool m_outputToConsole = false;
    std::vector<std::string> m_filterOutput;
    std::map<unsigned, RecordPtr> m_anchor0;
    std::map<unsigned, RecordPtr> m_anchor1;
    std::map<unsigned, RecordPtr> m_mainAnchor;
    std::map<unsigned, double> m_lastElapsed;
    struct CommSighting {
        uint32_t sampleBlockIndex;
        double heardAt;  // elapsed s
    };
    std::map<uint64_t, CommSighting> m_lastSampleBlock;
    std::map<unsigned, int32_t> m_correctionCount;
    std::map<unsigned, double> m_sidLastSeen;  // elapsed s of the SID's last record
    double m_lastSweep = 0.0;
};

#endif  // TAVIK_APP_CTESKFILTEREDCALLBACK_H
