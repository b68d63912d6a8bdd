// ZELT adapter: JSON documents, layer values, time codes, flushing, errors.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/CTavikReportCallback.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "app/ZELTDecoderFilteredCallback.h"
#include "audiocore/CAudioBlock.h"
#include "audiocore/IAudioConsumerCallback.h"
#include "decoders/zelt/ZELTDecoderAdapter.h"
#include "decoders/zelt/ZELTTimeStamp.h"
#include "dsp/CUCCValidator.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::ZeltGenerator;
using Kelvane::ZELT::ZELTDecoderAdapter;
using Kelvane::ZELT::ZELTTimeStamp;

namespace {

struct Sink : Kelvane::AudioCore::IAudioConsumerCallback {
    std::vector<std::string> texts;
    std::vector<std::pair<int, std::string>> logs;
    void init(void*, int, int, int, char*) override {}
    void ResultCallback(std::string json) override { texts.push_back(json); }
    void LogCallback(int code, const char* text) override { logs.emplace_back(code, text); }
    void Shutdown() override {}
};

// An 8000 Hz adapter whose results and log messages go to `sink`.
struct Adapter {
    Sink sink;
    ZELTDecoderAdapter a{8000};
    Adapter() {
        a.init("");
        a.RegisterResultCallback(sink);
        a.RegisterLogCallback(sink);
    }
    ~Adapter() {
        a.UnregisterResultCallback(sink);
        a.UnregisterLogCallback(sink);
    }
};

const rapidjson::Value& Zelt(rapidjson::Document& doc, const std::string& text) {
    doc.Parse(text.c_str());
    EXPECT_FALSE(doc.HasParseError()) << text;
    return doc["ZELT"];
}

TEST(ZeltTimeStamp, CodesAndCycles) {
    const struct {
        uint16_t code;
        uint32_t seconds;
    } codes[] = {{0xEB76, 40319u * 60u},             // last minute of the cycle
                 {0xEB77, ZELTTimeStamp::kInvalid},  // beyond it
                 {0x1123, ZELTTimeStamp::kInvalid},  // repeated digit
                 {0x0123, 0u}};
    for (const auto& c : codes) EXPECT_EQ(ZELTTimeStamp(c.code).getTimeInSeconds(), c.seconds);
    EXPECT_TRUE(ZELTTimeStamp(0xEB77).isTimeStampGreaterThan28Days());
    EXPECT_EQ(ZELTTimeStamp(0x1123).getSystemTime(1500000000u), 0u);
    const uint32_t epoch = ZELTTimeStamp::kCycleEpoch, cycle = ZELTTimeStamp::kCycleSeconds;
    EXPECT_EQ(ZELTTimeStamp::convertToUnixTime(epoch + cycle + 5u, 60u), epoch + cycle + 60u);

    // Nearest cycle around a boundary (2026-01-04).
    const uint32_t boundary = epoch + 287u * cycle, last = 40319u * 60u;
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary + 5u, 60u), boundary + 60u);
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary + cycle / 2, last),
              ZELTTimeStamp::convertToUnixTime(boundary + cycle / 2, last));
    // The last minute of a cycle heard just after the boundary, and the first
    // minute of the next cycle heard just before it (an encoder clock ahead).
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary + 30u, last), boundary - 60u);
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary - 30u, 0u), boundary);
    // Nothing before the first cycle.
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(epoch + 10u, last), epoch + last);
}

// A program message decoded from audio captured across a cycle boundary is
// dated in the cycle it was sent in, not 28 days away.
TEST(ZeltAdapter, SystemTimeAcrossACycleBoundary) {
    const uint32_t boundary = ZELTTimeStamp::kCycleEpoch + 287u * ZELTTimeStamp::kCycleSeconds;
    const struct {
        uint32_t start, minute, expected;
    } cases[] = {{boundary + 5u, 40319u, boundary - 60u}, {boundary - 20u, 0u, boundary}};
    for (const auto& c : cases) {
        Adapter ad;
        ZeltGenerator gen(8000);
        gen.AddProgram(1, 0x4D29, c.minute);
        const auto pcm = gen.RenderMixed(20.0, HostKind::PinkNoise, -20.0);
        for (size_t off = 0; off + 800 <= pcm.size(); off += 800) {
            Kelvane::AudioCore::CAudioBlock block(pcm.data() + off, 1600, 1, 8000, 16,
                                                  Kelvane::AudioCore::PACKING_MODE_NOT_USED,
                                                  c.start);
            ASSERT_EQ(ad.a.ProcessAudioBlock(block), 0);
        }
        int exact = 0;
        for (const std::string& t : ad.sink.texts) {
            rapidjson::Document doc;
            const auto& z = Zelt(doc, t);
            if (z["layer"].GetInt() != 1 || z["timestamp"].GetInt64() != (int64_t)c.minute)
                continue;
            EXPECT_EQ(z["systemTime"].GetUint(), c.expected) << t;
            ++exact;
        }
        EXPECT_GT(exact, 0) << "minute " << c.minute;
    }
}

TEST(ZeltAdapter, LayerValues) {
    const struct {
        uint32_t layer;
        uint16_t id, timestamp;
        uint64_t commId;
        const char* expected;  // layer, id, commId, timestamp; "0" when not reported
    } cases[] = {{2, 0xA3F7, 777, 0, "2 0xa3f7 N/A 777"},
                 {4, 0, 65535, 0x123456789ull, "4 N/A 0x123456789 -1"},
                 {5, 3, 0, 0, "5 0x0003 N/A 0"},
                 {0, 1, 1, 0, "0"},
                 {3, 1, 1, 0, "0"},
                 {6, 1, 1, 0, "0"}};
    for (const auto& c : cases) {
        _ZELT_Detection_t d;
        std::memset(&d, 0, sizeof(d));
        d.layer = c.layer;
        d.id = c.id;
        d.timestamp = c.timestamp;
        d.commId = c.commId;
        int layer = -1;
        char comm[32], id[32];
        int64_t ts = 0;
        const bool reported = ZELTDecoderAdapter::SetLayerValues(d, &layer, comm, id, &ts);
        EXPECT_EQ(reported, layer != 0);
        std::string got = std::to_string(layer);
        if (reported) got += std::string(" ") + id + " " + comm + " " + std::to_string(ts);
        EXPECT_EQ(got, c.expected);
    }
}

struct HostCodes : CTavikReportCallback {
    std::vector<std::string> codes;
    void setAudioCodes(unsigned int, std::string* text) override { codes.push_back(*text); }
    void LogCallbackMessage(int, char*) override {}
    void calculateMeterLevel(void*, int, int) override {}
};

// When a shallow depth decodes a commercial message too weakly to stop the
// evaluation, the deeper depth reports it again in the same block: both copies
// carry one sample block index, so the filtered callback passes the message
// once per evaluation (and again in the next evaluation).  Every document is
// compact and has its members in their fixed order.
TEST(ZeltAdapter, DepthsOfOneEvaluationShareTheSampleBlockIndex) {
    const uint64_t comm = 0x5A3C96E1Dull;
    ASSERT_TRUE(CUCCValidator::IsValidCommID(static_cast<long>(comm)));
    Adapter ad;
    HostCodes host;
    SampleAppConfigurationData cfg{};
    cfg.reportCallback = &host;
    cfg.reportMode = kReportModeJson;
    ZELTDecoderFilteredCallback filtered;
    char name[] = "ch0";
    filtered.init(&cfg, 2, 1, 8, name);
    ad.a.RegisterResultCallback(filtered);
    const bool report = ReportZelt, raw = bZeltRawOutput;
    ReportZelt = true;
    bZeltRawOutput = false;

    ZeltGenerator gen(8000);
    gen.AddCommercial(comm);
    const auto pcm = gen.RenderMixed(60.0, HostKind::PinkNoise, -20.0, 11);
    int blocksWithComm = 0, blocksWithCopies = 0;
    for (size_t off = 0; off + 800 <= pcm.size(); off += 800) {
        const size_t before = ad.sink.texts.size();
        ASSERT_EQ(ad.a.ProcessBuffer(const_cast<int16_t*>(pcm.data() + off), ad.a.Engine()), 0);
        std::vector<int64_t> indices;
        for (size_t i = before; i < ad.sink.texts.size(); ++i) {
            rapidjson::Document doc;
            const auto& z = Zelt(doc, ad.sink.texts[i]);
            static const char* kKeys[] = {
                "elapsedTime", "layer",  "firstSymAge",     "lastSymAge", "quality",
                "strength",    "depth",  "phase",           "id",         "timestamp",
                "systemTime",  "commId", "sampleBlockIndex"};
            int k = 0;
            for (auto m = z.MemberBegin(); m != z.MemberEnd(); ++m, ++k)
                ASSERT_STREQ(m->name.GetString(), kKeys[k]);
            ASSERT_EQ(k, 13);
            EXPECT_EQ(ad.sink.texts[i].find(' '), std::string::npos);
            if (z["layer"].GetInt() != 4) continue;
            EXPECT_STREQ(z["commId"].GetString(), "0x5a3c96e1d");
            indices.push_back(z["sampleBlockIndex"].GetInt64());
        }
        if (indices.empty()) continue;
        ++blocksWithComm;
        blocksWithCopies += indices.size() > 1;
        for (int64_t i : indices) EXPECT_EQ(i, indices[0]) << "block at " << off / 800;
    }
    ReportZelt = report;
    bZeltRawOutput = raw;
    ad.a.UnregisterResultCallback(filtered);
    ASSERT_GT(blocksWithCopies, 0) << "no evaluation reported from two depths";
    int forwarded = 0;
    for (const std::string& t : host.codes) forwarded += t.find("\"layer\":4") != std::string::npos;
    // The identifier's first blocks wait for a reading from audio of its own; from then on
    // every block is forwarded once.
    EXPECT_LT(forwarded, blocksWithComm);
    EXPECT_GE(forwarded, blocksWithComm - 3);
}

TEST(ZeltAdapter, ProcessBufferErrors) {
    Adapter ad;
    uint8_t block[1600] = {};
    EXPECT_EQ(ad.a.ProcessBuffer(nullptr, ad.a.Engine()), -1);
    EXPECT_EQ(ad.a.ProcessBuffer(block, nullptr), -2);
    const std::vector<std::pair<int, std::string>> logs = {
        {-1, "ProcessBuffer, DecodeBuffer: NULL data pointer."},
        {-1, "ProcessBuffer, ZELT Engine: Null pointer"}};
    EXPECT_EQ(ad.sink.logs, logs);
    EXPECT_EQ(ad.a.Engine()->ProcessAudioBuffer(block, 1599), -1);
    EXPECT_EQ(ad.a.Engine()->ProcessAudioBuffer(block, 1601), 0);
}

// A flush feeds 1.7 s in all: the buffered partial block and 16 silent ones,
// or 17 silent ones.
TEST(ZeltAdapter, FlushFeedsSilenceUpToOnePointSevenSeconds) {
    for (unsigned int samples : {1200u, 800u}) {
        Adapter ad;
        std::vector<int16_t> pcm(samples, 100);
        Kelvane::AudioCore::CAudioBlock block(pcm.data(), samples * 2, 1, 8000, 16,
                                              Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
        ASSERT_EQ(ad.a.ProcessAudioBlock(block), 0);
        EXPECT_EQ(ad.a.Engine()->State().frameCounter, 1u);
        ad.a.FlushData();
        EXPECT_EQ(ad.a.Engine()->State().frameCounter, 18u) << samples;
    }
}

TEST(ZeltFactories, BothNamesMakeTheAdapterAndTheFilteredCallback) {
    WatermarkAudioConsumerFactoryImplementation decoders;
    for (const char* name : {"ZELT", "ZELTFiltered"}) {
        auto c = decoders.make(name, 48000);
        EXPECT_NE(dynamic_cast<ZELTDecoderAdapter*>(c.get()), nullptr) << name;
    }
    EXPECT_THROW(decoders.make("ZELT", 7000), std::invalid_argument);
    EXPECT_THROW(ZELTDecoderAdapter(7999), std::invalid_argument);
    WatermarkAudioConsumerCallbackFactoryImplementation callbacks;
    auto cb = callbacks.make("ZELTFiltered");
    EXPECT_NE(dynamic_cast<ZELTDecoderFilteredCallback*>(cb.get()), nullptr);
}

}  // namespace
