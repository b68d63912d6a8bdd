#include "audiocore/ParameterParser.h"

#include <rapidjson/document.h>

#include "audiocore/Exceptions.h"

std::vector<std::string> ParameterParser::getDecoders(const std::string& document) {
    rapidjson::Document doc;
    // A raw NUL is never valid JSON; the parser would take it for the end of the text and
    // ignore whatever follows. The default flags refuse anything but whitespace after the root.
    if (document.find('\0') != std::string::npos) throw InvalidJSONInput(document);
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
