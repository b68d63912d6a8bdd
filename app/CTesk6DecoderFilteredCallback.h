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
#include <string>

#include "app/CTeskFilteredCallback.h"
#include "decoders/tesk6/CTesk6DCFilter.h"

class CTesk6DecoderFilteredCallback : public CTeskFilteredCallback {
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

    // Reads a record from a detection text; false when it is not valid JSON
    // or has no "TESK6" object. "dist": "PC" 0, "FD1" 1, "FD2" 2, "FD3" 3,
    // other 4; "transmission" 0, 1, or 2 for any larger value.
    static bool ExtractRecord(const std::string& json, Watermark_Detection_Record_t& record);
    // The host text of a record (report mode 1).
    static std::string BuildOutput(const Watermark_Detection_Record_t& record);

    // Process-wide count of configured instances (kept for channel names
    // without a "ch<N>" suffix).
    static int32_t m_nTesk6ChannelSelection;

private:
    void HandleFiltered(const std::string& text);
    void AnchorStep(Watermark_Detection_Record_t& r);

    CTesk6DCFilter m_filter;
};

#endif  // TAVIK_APP_CTESK6DECODERFILTEREDCALLBACK_H
