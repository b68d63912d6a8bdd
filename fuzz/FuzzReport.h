// Host report object of the callback fuzz targets: every text a callback hands
// to the host must be one JSON object whose only key names the family.
#pragma once

#include <rapidjson/document.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "app/CTavikReportCallback.h"
#include "app/RunConfiguration.h"

class FuzzReport : public CTavikReportCallback {
public:
    explicit FuzzReport(const char* key) : key_(key) {}
    void setAudioCodes(unsigned int channel, std::string* text) override {
        if (channel >= 6 || text == nullptr) abort();
        rapidjson::Document doc;
        doc.Parse(text->c_str(), text->size());
        if (doc.HasParseError() || !doc.IsObject() || doc.MemberCount() != 1 ||
            !doc.HasMember(key_) || !doc[key_].IsObject())
            abort();
        ++count;
    }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}

    // Configuration record naming this object as the host report object.
    SampleAppConfigurationData Config() {
        SampleAppConfigurationData cfg;
        std::memset(&cfg, 0, sizeof cfg);
        cfg.reportMode = kReportModeJson;
        cfg.reportCallback = this;
        return cfg;
    }

    unsigned count = 0;

private:
    const char* key_;
};
