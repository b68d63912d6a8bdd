// Report callback for the decoder key "TESK2Filtered", one per audio channel.
// Every TESK 2 detection text of the hybrid decoder arrives in ResultCallback.
// With the TESK 2 raw-output switch on, the text goes to the host unchanged;
// otherwise redundant standard commercial texts are dropped, the rest pass
// the TESK 2 detection filter (confirmation in pairs), program detections get
// the distribution tally (after more than 20 PC/FD detections of a SID the
// majority wins), time codes are corrected against per-SID anchors, repeats
// within 0.3 s are dropped, and a rebuilt TESK 2 text goes to the host ring
// of the callback's channel with setAudioCodes.
//
// Unparseable texts never leave this callback: they are dropped (the
// redundancy check) or reported on standard error (record extraction).
#ifndef TAVIK_APP_CHYBRIDDECODERFILTEREDCALLBACK_H
#define TAVIK_APP_CHYBRIDDECODERFILTEREDCALLBACK_H

#include <cstdint>
#include <map>
#include <string>

#include "app/CTeskFilteredCallback.h"
#include "decoders/tesk2/CTesk2DCFilter.h"

class CHybridDecoderFilteredCallback : public CTeskFilteredCallback {
public:
    struct DistTally {
        uint32_t pc = 0;
        uint32_t fd = 0;
        uint32_t other = 0;
    };

    CHybridDecoderFilteredCallback();
    ~CHybridDecoderFilteredCallback() override;

    // config: the SampleAppConfigurationData. Without a report object the
    // instance stays unconfigured and reports nothing. The host channel is the
    // trailing "ch<N>" of name ("ch0", "input.wav.ch1"); only a name without
    // one falls back to the process-wide counter m_nHybridChannelSelection.
    void init(void* config, int major, int minor, int patch, char* name) override;
    void ResultCallback(std::string json) override;

    // Fills a record from a TESK 2 detection text; false when it does not
    // parse (the record then holds what was read, zero otherwise).
    // "dist": "COMM_STD" 0, "PC" 1, "FD" 2, other 3; transmission stays 0; the
    // no-anchor flag is set for a timestamp of -1 outside COMM_RS.
    static bool ExtractRecord(const std::string& json, Watermark_Detection_Record_t& record);
    // The TESK 2 output text of a record.
    static std::string BuildOutput(const Watermark_Detection_Record_t& record);

    static int32_t m_nHybridChannelSelection;

private:
    void HandleFiltered(const std::string& text);
    void DistributionFix(Watermark_Detection_Record_t& r);
    void AnchorStep(Watermark_Detection_Record_t& r);
    // Also drops the SID's distribution votes.
    void ForgetSid(unsigned sid) override;

    CTesk2DCFilter m_filter;
    bool m_mainAnchorReplaced = false;
    std::map<unsigned, DistTally> m_distTally;
};

#endif  // TAVIK_APP_CHYBRIDDECODERFILTEREDCALLBACK_H
