#include "app/ZELTDecoderFilteredCallback.h"

#include <rapidjson/document.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "app/CTavikReportCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "dsp/CUCCValidator.h"

int32_t ZELTDecoderFilteredCallback::m_nZeltChannelSelection = 0;

int ZELTDecoderFilteredCallback::ChannelFromName(const char* name) {
    if (name == nullptr) return -1;
    const size_t len = std::strlen(name);
    size_t digits = 0;
    while (digits < len && std::isdigit(static_cast<unsigned char>(name[len - 1 - digits])))
        ++digits;
    if (digits == 0 || digits > 9 || len < digits + 2) return -1;
    const char* ch = name + len - digits - 2;
    if (ch[0] != 'c' || ch[1] != 'h') return -1;
    return std::atoi(name + len - digits);
}

int64_t ZELTDecoderFilteredCallback::ParseCommId(const std::string& text) {
    if (text.empty()) return 0;
    errno = 0;
    char* end = nullptr;
    const long long v = std::strtoll(text.c_str(), &end, 0);
    if (errno != 0 || end == text.c_str() || *end != '\0') return 0;
    return static_cast<int64_t>(v);
}

void ZELTDecoderFilteredCallback::init(void* config, int major, int minor, int patch, char* name) {
    const SampleAppConfigurationData* cfg = static_cast<const SampleAppConfigurationData*>(config);
    if (cfg == nullptr) return;
    m_outputToConsole = cfg->outputToConsole;
    m_reportMode = cfg->reportMode;
    m_report = cfg->reportCallback;
    if (m_report == nullptr) return;
    m_major = static_cast<uint32_t>(major);
    m_minor = static_cast<uint32_t>(minor);
    m_patch = static_cast<uint32_t>(patch);
    if (m_nZeltChannelSelection == 0)
        postDiagMessage("\nZELT Decoder Version: %d.%d.%d", major, minor, patch);
    const int fromName = ChannelFromName(name);
    m_channel = static_cast<uint32_t>(fromName >= 0 ? fromName : m_nZeltChannelSelection);
    ++m_nZeltChannelSelection;
}

void ZELTDecoderFilteredCallback::LogCallback(int code, const char* text) {
    if (!m_outputToConsole) return;
    if (text != nullptr && text[0] != '\0')
        std::printf("Code %d: %s\n", code, text);
    else
        std::printf("Error code %d\n", code);
}

void ZELTDecoderFilteredCallback::ResultCallback(std::string record) {
    if (!ReportZelt) return;
    if (m_report == nullptr) return;  // unconfigured: nowhere to report
    if (bZeltRawOutput) {
        m_report->setAudioCodes(m_channel, &record);
        return;
    }
    if (record.find("ZELT") == std::string::npos) return;

    rapidjson::Document doc;
    doc.Parse(record.c_str(), record.size());
    if (doc.HasParseError()) {
        std::fprintf(stderr, "*** error: could not parse JSON\n");
        return;
    }
    if (!doc.IsObject()) return;
    const auto z = doc.FindMember("ZELT");
    if (z == doc.MemberEnd() || !z->value.IsObject()) return;
    const auto& obj = z->value;
    const auto sbi = obj.FindMember("sampleBlockIndex");
    const auto lay = obj.FindMember("layer");
    if (sbi == obj.MemberEnd() || !sbi->value.IsUint()) return;
    if (lay == obj.MemberEnd() || !lay->value.IsInt()) return;
    const uint32_t sampleBlockIndex = sbi->value.GetUint();
    const int layer = lay->value.GetInt();
    if (layer < 1 || layer > 5) return;

    if (layer == 4) {
        const auto c = obj.FindMember("commId");
        if (c == obj.MemberEnd() || !c->value.IsString()) return;
        const int64_t commId = ParseCommId(c->value.GetString());
        if (!CUCCValidator::IsValidCommID(static_cast<long>(commId))) return;
        const auto it = m_lastBlockOfCommId.find(commId);
        if (it != m_lastBlockOfCommId.end() && it->second == sampleBlockIndex) return;
        m_lastBlockOfCommId[commId] = sampleBlockIndex;
    }

    if (m_reportMode == 1) {
        m_report->setAudioCodes(m_channel, &record);
    } else if (m_outputToConsole) {
        std::printf("%s\n", record.c_str());
    }
}
