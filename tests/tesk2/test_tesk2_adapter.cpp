// TESK 2 hybrid decoder adapter: construction rules, engine block sizes, the
// detection JSON text and the marking of redundant standard commercial records.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "audiocore/IAudioConsumerCallback.h"
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "dsp/CUCCValidator.h"

using Kelvane::TESKII::CTesk2HybridDecoder;

namespace {

class Collect : public Kelvane::AudioCore::IAudioConsumerCallback {
public:
    void init(void*, int, int, int, char*) override {}
    void ResultCallback(std::string json) override { texts.push_back(json); }
    void LogCallback(int code, const char* text) override { logs.emplace_back(code, text); }
    void Shutdown() override {}
    std::vector<std::string> texts;
    std::vector<std::pair<int, std::string>> logs;
};

_T2M_Detection_t Det(uint32_t layer, uint32_t field) {
    _T2M_Detection_t d;
    memset(&d, 0, sizeof d);
    d.layer = layer;
    d.quality = 11;
    d.strength = 300;
    d.lastSymAge = 1000;
    d.firstSymAge = 2877;
    d.phase = 17;
    d.symbols[0] = T2_MARKER;
    d.sid = 4242;
    d.timestamp = 946000000;
    d.field = field;
    return d;
}

// A Reed-Solomon detection with a valid identifier and a strong quality.
_T2M_Detection_t CommRs(uint32_t depth) {
    _T2M_Detection_t d = Det(2, 3);
    for (d.commId = 0x2B5C3D1E7ull; !CUCCValidator::IsValidCommID(long(d.commId));) ++d.commId;
    d.sid = 0;
    d.timestamp = 0xFFFFFFFFu;
    d.depth = uint8_t(depth);
    d.quality = 51905;
    return d;
}

rapidjson::Document ParseT2(const std::string& text) {
    rapidjson::Document doc;
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    EXPECT_TRUE(doc.HasMember("TESK2")) << text;
    return doc;
}

std::vector<unsigned> RedundantFlags(CT2WatermarkTableManager& t) {
    t.SetStatusOfWatermarkTableRecords();
    std::vector<unsigned> flags;
    for (uint32_t i = 0; i < t.Count(); ++i) {
        auto doc = ParseT2(CTesk2HybridDecoder::RecordToJson(t.Record(i), 3000));
        flags.push_back(doc["TESK2"]["redundantCommStd"].GetUint());
    }
    return flags;
}

}  // namespace

TEST(Tesk2Adapter, UnsupportedInputRatesAreRefused) {
    for (int rate : {8000, 16000, 22050, 72000}) {
        try {
            CTesk2HybridDecoder bad(rate);
            ADD_FAILURE() << rate << " accepted";
        } catch (const std::invalid_argument& e) {
            EXPECT_STREQ(e.what(), "Sample rate is not supported by TESK 2 decoder.");
        }
    }
    for (int rate : {24000, 44100, 48000}) EXPECT_NO_THROW(CTesk2HybridDecoder{rate});
}

TEST(Tesk2Adapter, EngineTakesOnly64SampleBlocks) {
    CTesk2Engine engine(nullptr);
    std::vector<signed char> buf(256, 0);
    EXPECT_EQ(engine.ProcessAudioBuffer(buf.data(), 128), 0);
    EXPECT_EQ(engine.ProcessAudioBuffer(buf.data(), 129), 0);
    EXPECT_EQ(engine.FrameCounter(), 2u);
    EXPECT_EQ(engine.ProcessAudioBuffer(buf.data(), 256), -1);
    EXPECT_EQ(engine.ProcessAudioBuffer(nullptr, 128), -1);
    EXPECT_EQ(engine.FrameCounter(), 2u);
}

TEST(Tesk2Adapter, SilenceGivesNoTextAndNullBlocksAreLogged) {
    CTesk2HybridDecoder d(24000);
    d.init("");
    Collect cb;
    d.RegisterResultCallback(cb);
    d.RegisterLogCallback(cb);
    std::vector<unsigned char> zeros(24000 * 2 * 5, 0);  // 5 s
    Kelvane::AudioCore::CAudioBlock block(zeros.data(), unsigned(zeros.size()), 1, 24000, 16,
                                          Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
    EXPECT_EQ(d.ProcessAudioBlock(block), 0);
    EXPECT_EQ(d.FlushData(), 0);
    EXPECT_TRUE(cb.texts.empty());
    EXPECT_EQ(d.ProcessBuffer(nullptr, &d), -1);
    EXPECT_EQ(d.ProcessBuffer(zeros.data(), nullptr), -1);
    ASSERT_EQ(cb.logs.size(), 2u);
    EXPECT_EQ(cb.logs[0].second, "ProcessBuffer, TESK 2 Engine: NULL data pointer.");
    EXPECT_EQ(cb.logs[1].second, "ProcessBuffer, TESK 2 Engine: NULL pointer to control block");
}

TEST(Tesk2Adapter, JsonTextOfStandardAndReedSolomonRecords) {
    Tesk2Record_t rec;
    memset(&rec, 0, sizeof rec);
    rec.status = 1;
    rec.detection = Det(1, 0);
    const std::string std0 = CTesk2HybridDecoder::RecordToJson(rec, 3000);
    EXPECT_EQ(std0,
              "{\"TESK2\":{\"elapsedTime\":7.0,\"layer\":\"COMM_STD\",\"sid\":4242,"
              "\"firstSymAge\":2877,\"lastSymAge\":1000,\"quality\":11,\"strength\":300,"
              "\"depth\":0,\"phase\":17,\"timestamp\":946000000,\"dst\":0,"
              "\"systemTime\":1734918400,\"dist\":\"COMM_STD\",\"sampleBlockIndex\":2625,"
              "\"redundantCommStd\":0}}");

    rec.detection = CommRs(0);
    auto doc = ParseT2(CTesk2HybridDecoder::RecordToJson(rec, 3000));
    const auto& o = doc["TESK2"];
    EXPECT_STREQ(o["layer"].GetString(), "COMM_RS");
    EXPECT_FALSE(o.HasMember("sid"));
    EXPECT_EQ(strtoull(o["commId"].GetString(), nullptr, 16), rec.detection.commId);
    EXPECT_EQ(o["timestamp"].GetInt(), -1);
    EXPECT_STREQ(o["dist"].GetString(), "UN");
    EXPECT_FALSE(o.HasMember("transmission"));

    // An age beyond the decoded time falls back to the decoded time alone.
    rec.detection = Det(0, 2);
    rec.detection.lastSymAge = 9000;
    doc = ParseT2(CTesk2HybridDecoder::RecordToJson(rec, 3000));
    EXPECT_DOUBLE_EQ(doc["TESK2"]["elapsedTime"].GetDouble(), 8.0);
    EXPECT_STREQ(doc["TESK2"]["dist"].GetString(), "FD");
}

// A Reed-Solomon record with a valid identifier marks standard commercial records
// as redundant: a strong one (depth 0) every one, a weaker one only those whose
// distribution field is above 1. Without a valid identifier nothing is marked.
TEST(Tesk2Adapter, ReedSolomonRecordMarksStandardCommercialRecords) {
    CT2WatermarkTableManager t;
    _T2M_Detection_t a = Det(1, 0), b = Det(1, 2), prog = Det(0, 3);
    const _T2M_Detection_t rs0 = CommRs(0), rs1 = CommRs(1);
    _T2M_Detection_t invalid = rs0;
    invalid.commId = 0;
    const struct {
        const _T2M_Detection_t* rs;
        unsigned validUcc;
        std::vector<unsigned> flags;
    } cases[] = {{nullptr, 0, {0, 0, 0}},
                 {&rs0, 1, {1, 1, 0, 0}},
                 {&rs1, 1, {0, 1, 0, 0}},
                 {&invalid, 0, {0, 0, 0, 0}}};
    for (const auto& c : cases) {
        t.Reset();
        const _T2M_Detection_t* added[] = {&a, &b, &prog, c.rs};
        for (const _T2M_Detection_t* d : added)
            if (d != nullptr) t.AddWatermark(const_cast<_T2M_Detection_t*>(d), 1);
        EXPECT_EQ(t.ValidUccCount(), c.validUcc);
        EXPECT_EQ(RedundantFlags(t), c.flags) << c.flags.size();
    }
    // A 21st detection of one block is dropped.
    t.Reset();
    for (int i = 0; i < 21; ++i) t.AddWatermark(&a, uint32_t(i));
    EXPECT_EQ(t.Count(), 20u);
}
