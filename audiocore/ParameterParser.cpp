#include "audiocore/ParameterParser.h"

#include <rapidjson/document.h>

#include "audiocore/Exceptions.h"

std::vector<std::string> ParameterParser::getDecoders(const std::string& document) {
    rapidjson::Document doc;
    // Parsed with its length so an embedded NUL cannot cut the text short; the default flags
    // refuse anything but whitespace after the root value.
    doc.Parse(document.c_str(), document.size());
    if (doc.HasParseError() || !doc.IsObject()) throw InvalidJSONInput(document);
    const auto parameters = doc.FindMember("Parameters");
    if (parameters == doc.MemberEnd() || !parameters->value.IsArray()) {
        throw InvalidJSONInput(document);
    }
    std::vector<std::string> names;
    for (const auto& element : parameters->value.GetArray()) {
        if (!element.IsObject()) throw InvalidJSONInput(document);
        for (const auto& member : element.GetObject()) {
            names.emplace_back(member.name.GetString(), member.name.GetStringLength());
        }
    }
    return names;
}
