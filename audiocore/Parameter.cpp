#include "audiocore/Parameter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

namespace {

using JsonWriter = rapidjson::Writer<rapidjson::StringBuffer>;

void WriteString(JsonWriter& w, const char* text) { w.String(text != nullptr ? text : ""); }

// {"<name>":{}}
void WriteDecoder(JsonWriter& w, const char* name) {
    w.StartObject();
    w.Key(name);
    w.StartObject();
    w.EndObject();
    w.EndObject();
}

}  // namespace

std::string Parameter::createString(
    int processMask, int tdashMode, int dnaMode, unsigned int streamFpMode,
    unsigned int streamFpRate, unsigned int streamFpInterval, unsigned int streamFpDeliveryMode,
    unsigned int streamFpCompress, unsigned int pasDeliveryMode, unsigned int pasInterval,
    unsigned int unitamInterval, unsigned int unitamDeliveryMode, unsigned int unitamBlockSize,
    bool generateUts, const char* outputFolder, const char* sourceFileName) const {
    rapidjson::StringBuffer buffer;
    JsonWriter w(buffer);
    w.StartObject();
    w.Key("Parameters");
    w.StartArray();

    static const struct {
        int bit;
        const char* name;
    } kDecoders[] = {{kTesk2, "TESK2"},
                     {kTesk2Filtered, "TESK2Filtered"},
                     {kTesk6, "TESK6"},
                     {kTesk6Filtered, "TESK6Filtered"},
                     {kTesk6Reduced, "TESK6Reduced"},
                     {kZelt, "ZELT"},
                     {kZeltFiltered, "ZELTFiltered"}};
    for (const auto& d : kDecoders) {
        if (processMask & d.bit) WriteDecoder(w, d.name);
    }

    if (processMask & kUnitam) {
        w.StartObject();
        w.Key("UNITAM");
        w.StartObject();
        w.Key("UnitID");
        w.Uint(1);
        w.Key("Domain");
        w.String("TMETFFFF");
        w.Key("GenerateUts");
        w.Bool(generateUts);
        w.Key("OutputFolder");
        WriteString(w, outputFolder);
        w.Key("SourceFileName");
        WriteString(w, sourceFileName);
        w.Key("Interval");
        w.Uint(unitamInterval);
        w.Key("SignatureDeliveryMode");
        w.Uint(unitamDeliveryMode);
        w.Key("BlockSize");
        w.Uint(unitamBlockSize);
        w.EndObject();
        w.EndObject();
    }
    if (processMask & kPas) {
        w.StartObject();
        w.Key("PAS");
        w.StartObject();
        w.Key("Interval");
        w.Uint(pasInterval);
        w.Key("SignatureDeliveryMode");
        w.Uint(pasDeliveryMode);
        w.EndObject();
        w.EndObject();
    }
    if (processMask & kDna) {
        w.StartObject();
        w.Key("DNA");
        w.StartObject();
        w.Key("Mode");
        w.Uint(static_cast<unsigned int>(dnaMode));
        w.EndObject();
        w.EndObject();
    }
    if (processMask & kTdash) {
        w.StartObject();
        w.Key("TDASH");
        w.StartObject();
        w.Key("UnitID");
        w.Uint(1);
        w.Key("Mode");
        w.Uint(static_cast<unsigned int>(tdashMode));
        w.EndObject();
        w.EndObject();
    }
    if (processMask & kStreamFp) {
        w.StartObject();
        w.Key("STREAMFP");
        w.StartObject();
        w.Key("Mode");
        w.Uint(streamFpMode);
        w.Key("Rate");
        w.Uint(streamFpRate);
        w.Key("Interval");
        w.Uint(streamFpInterval);
        w.Key("SignatureDeliveryMode");
        w.Uint(streamFpDeliveryMode);
        w.Key("Compress");
        w.Uint(streamFpCompress);
        w.EndObject();
        w.EndObject();
    }

    w.EndArray();
    w.EndObject();
    return std::string(buffer.GetString(), buffer.GetSize());
}
