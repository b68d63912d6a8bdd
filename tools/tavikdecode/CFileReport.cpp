#include "tools/tavikdecode/CFileReport.h"

#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>

void CFileReport::BeginFile() {
    position_.clear();
    counts_.clear();
    detections_.clear();
}

bool CFileReport::Describe(const std::string& text, Detection* d) {
    rapidjson::Document doc;
    doc.Parse(text.c_str(), text.size());
    if (doc.HasParseError() || !doc.IsObject()) return false;
    static const char* const kFamilies[] = {"TESK6", "TESK2", "ZELT"};
    const rapidjson::Value* body = nullptr;
    for (const char* family : kFamilies) {
        auto it = doc.FindMember(family);
        if (it != doc.MemberEnd() && it->value.IsObject()) {
            d->family = family;
            body = &it->value;
            break;
        }
    }
    if (body == nullptr) return false;

    auto member = [body](const char* key) -> const rapidjson::Value* {
        auto it = body->FindMember(key);
        return it == body->MemberEnd() ? nullptr : &it->value;
    };
    if (const auto* layer = member("layer")) {
        if (layer->IsString()) d->layer = layer->GetString();
        if (layer->IsInt()) d->layer = std::to_string(layer->GetInt());
    }
    // The identifier a person looks for: the SID or commercial identifier of
    // the TESK families, the program id or commercial identifier of ZELT
    // (whichever is not "N/A").
    char buffer[96] = {0};
    const auto* sid = member("sid");
    const auto* commId = member("commId");
    const auto* id = member("id");
    if (sid != nullptr && sid->IsUint()) {
        std::snprintf(buffer, sizeof buffer, "sid %u (0x%04x)", sid->GetUint(), sid->GetUint());
    } else if (id != nullptr && id->IsString() && std::string(id->GetString()) != "N/A") {
        std::snprintf(buffer, sizeof buffer, "id %s", id->GetString());
    } else if (commId != nullptr && commId->IsString()) {
        std::snprintf(buffer, sizeof buffer, "commId %s", commId->GetString());
    }
    d->identifier = buffer;
    // TESK texts carry the exact elapsed audio time; ZELT's is whole seconds,
    // so the feed position (finer) is kept for it.
    if (const auto* elapsed = member("elapsedTime")) {
        if (elapsed->IsDouble()) d->seconds = elapsed->GetDouble();
    }
    return true;
}

void CFileReport::setAudioCodes(unsigned int channel, std::string* text) {
    if (text == nullptr) return;
    Detection d;
    d.channel = channel;
    d.family = "?";
    d.seconds = position_.count(channel) ? position_[channel] : 0.0;
    const bool isJson = Describe(*text, &d);
    d.text = *text;

    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key("channel");
    w.Uint(channel);
    w.Key("detection");
    if (isJson) {
        // Handed on byte for byte, exactly as the host would receive it.
        w.RawValue(text->c_str(), text->size(), rapidjson::kObjectType);
    } else {
        w.String(text->c_str(), static_cast<rapidjson::SizeType>(text->size()));
    }
    w.EndObject();
    std::fwrite(sb.GetString(), 1, sb.GetSize(), out_);
    std::fputc('\n', out_);

    ++counts_[{channel, d.family}];
    detections_.push_back(std::move(d));
}

void CFileReport::LogCallbackMessage(int, char* text) {
    if (text != nullptr) std::fprintf(stderr, "%s\n", text);
}
