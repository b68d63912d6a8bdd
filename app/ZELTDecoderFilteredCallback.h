// Report callback of the filtered ZELT decoder ("ZELTFiltered"), one per
// audio channel.
//
// Every detection text of the channel's ZELT decoder arrives in
// ResultCallback. With the ZELT family switched off (ReportZelt) nothing is
// reported; in raw display (bZeltRawOutput) the text goes to the host
// unchanged.  Otherwise records of layers outside 1..5 are dropped, and a
// layer-4 record passes only when its commercial identifier is accepted by
// CUCCValidator and was not already reported for the same sample block;
// records that pass go unchanged to the host ring of the channel
// (setAudioCodes) in report mode 1, or are printed (output to console) in
// any other mode.
//
// The channel is the number N of the trailing "ch<N>" of the channel name the
// meter passes to init ("ch0", "input.wav.ch1"), so every meter numbers its
// callbacks from 0.  Without a report object in the configuration record the
// instance stays unconfigured and reports nothing.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "audiocore/IAudioConsumerCallback.h"

class CTavikReportCallback;

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

private:
    CTavikReportCallback* m_report = nullptr;
    uint32_t m_channel = 0;
    bool m_outputToConsole = false;
    int32_t m_reportMode = 1;
    uint32_t m_major = 0, m_minor = 0, m_patch = 0;
    std::map<int64_t, uint32_t> m_lastBlockOfCommId;
};
