// Report callback of the filtered TESK 6 decoder ("TESK6Filtered"), one per
// audio channel.
//
// Every detection text of the channel's TESK 6 decoder arrives in
// ResultCallback. With the TESK 6 family switched off (ReportTw) nothing is
// reported; in raw display (bTwRawOutput) the text goes to the host unchanged;
// otherwise it is confirmed by the detection filter, its time code is
// corrected against per-SID anchors, repeats are dropped, and a rebuilt JSON
// text goes to the host ring of the channel (setAudioCodes).
//
// The channel is the number N of the trailing "ch<N>" of the channel name the
// meter passes to init ("ch0", "input.wav.ch1"), so every meter numbers its
// callbacks from 0.
#ifndef TAVIK_APP_CTESK6DECODERFILTEREDCALLBACK_H
#define TAVIK_APP_CTESK6DECODERFILTEREDCALLBACK_H

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audiocore/IAudioConsumerCallback.h"
#include "decoders/tesk6/CTesk6DCFilter.h"

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
    int32_t timestamp;      // TESK 6 time code; negative = unknown
    uint16_t distribution;  // 0 PC, 1 FD1, 2 FD2, 3 FD3, 4 other
    uint16_t dst;           // 0 or 1
    uint32_t transmission;  // 0, 1, or 2 for any larger value
    uint64_t commId;        // COMM_RS only
    double elapsedTime;     // s
    uint32_t sampleBlockIndex;
    uint32_t redundantComm;
    uint8_t noAnchor;   // timestamp negative
    uint8_t corrected;  // timestamp replaced by a corrected time code
    uint8_t commRs;     // COMM_RS layer
};

class CTesk6DecoderFilteredCallback : public Kelvane::AudioCore::IAudioConsumerCallback {
public:
    CTesk6DecoderFilteredCallback();
    ~CTesk6DecoderFilteredCallback() override;

    // config: the SampleAppConfigurationData of the run. Without a report
    // object in it the instance stays unconfigured and reports nothing.
    void init(void* config, int major, int minor, int patch, char* name) override;
    // Throws std::runtime_error "Received invalid JSON format for TESK 6
    // parameters" for a text that is not JSON; exceptions of the detection
    // filter (C strings) pass through.
    void ResultCallback(std::string json) override;
    // Prints "Code %d: %s" / "Error code %d" with output to console set.
    void LogCallback(int code, const char* text) override;
    void Shutdown() override {}

    int Channel() const { return m_channel; }

    // Reads a record from a detection text; false when it is not valid JSON
    // or has no "TESK6" object.
    static bool ExtractRecord(const std::string& json, Watermark_Detection_Record_t& record);
    // The host text of a record (report mode 1).
    static std::string BuildOutput(const Watermark_Detection_Record_t& record);
    // Channel number N of a trailing "ch<N>" in `name`; -1 when there is none.
    static int ChannelFromName(const char* name);

    // Process-wide count of configured instances (kept for channel names
    // without a "ch<N>" suffix).
    static int32_t m_nTesk6ChannelSelection;

private:
    void HandleFiltered(const std::string& text);
    void AnchorStep(Watermark_Detection_Record_t& r);
    bool DuplicateStep(const Watermark_Detection_Record_t& r);
    void Report(const std::string& text);

    using RecordPtr = std::unique_ptr<Watermark_Detection_Record_t>;

    CTavikReportCallback* m_report = nullptr;
    int32_t m_channel = 0;
    bool m_showDateTime = false;
    int32_t m_reportMode = 1;
    bool m_outputToConsole = false;
    CTesk6DCFilter m_filter;
    std::vector<std::string> m_filterOutput;
    std::map<unsigned, RecordPtr> m_anchor0;
    std::map<unsigned, RecordPtr> m_anchor1;
    std::map<unsigned, RecordPtr> m_mainAnchor;
    std::map<unsigned, double> m_lastElapsed;
    std::map<uint64_t, uint32_t> m_lastSampleBlock;
    std::map<unsigned, int32_t> m_correctionCount;
};

#endif  // TAVIK_APP_CTESK6DECODERFILTEREDCALLBACK_H
