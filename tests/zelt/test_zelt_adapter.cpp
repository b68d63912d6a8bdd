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

_ZELT_Detection_t Record(uint32_t layer) {
    _ZELT_Detection_t d;
    std::memset(&d, 0, sizeof(d));
    d.layer = layer;
    std::memset(d.symbols, 18, sizeof(d.symbols));
    return d;
}

TEST(ZeltTimeStamp, CodesDigitsAndCycle) {
    EXPECT_EQ(ZELTTimeStamp(0xEB76).getTimeInSeconds(), 40319u * 60u);
    EXPECT_FALSE(ZELTTimeStamp(0xEB76).isTimeStampGreaterThan28Days());
    EXPECT_TRUE(ZELTTimeStamp(0xEB77).isTimeStampGreaterThan28Days());
    EXPECT_EQ(ZELTTimeStamp(0xEB77).getTimeInSeconds(), 0xFFFFFFFFu);
    EXPECT_EQ(ZELTTimeStamp(0x1123).getTimeInSeconds(), 0xFFFFFFFFu);
    EXPECT_EQ(ZELTTimeStamp(0x1123).getSystemTime(1500000000u), 0u);
    EXPECT_EQ(ZELTTimeStamp(0x0123).getTimeInSeconds(), 0u);
    const auto digits = ZELTTimeStamp(0xA3F7).getDigits();
    EXPECT_EQ(digits[0], 10);
    EXPECT_EQ(digits[3], 7);
    EXPECT_EQ(ZELTTimeStamp::convertToUnixTime(1073174400u + 2419200u + 5u, 60u),
              1073174400u + 2419200u + 60u);
    // Agrees with the generator's minute encoding.
    const uint32_t t = 1767225600u + 12345u;  // 2026-01-01 + a few hours
    const uint32_t minute = Kelvane::Generators::ZeltGenerator::MinuteOfPosixTime(t);
    EXPECT_EQ(ZELTTimeStamp::convertToUnixTime(t, minute * 60u),
              (uint32_t)Kelvane::Generators::ZeltGenerator::PosixTimeOfMinute(t, minute));
}

TEST(ZeltTimeStamp, NearestCycleAroundABoundary) {
    const uint32_t cycle = ZELTTimeStamp::kCycleSeconds;
    const uint32_t boundary = ZELTTimeStamp::kCycleEpoch + 287u * cycle;  // 2026-01-04
    const uint32_t last = 40319u * 60u;
    // Mid-cycle both rules agree.
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary + 5u, 60u), boundary + 60u);
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary + cycle / 2, last),
              ZELTTimeStamp::convertToUnixTime(boundary + cycle / 2, last));
    // The last minute of a cycle heard just after the boundary, and the first minute of the
    // next cycle heard just before it (an encoder clock a little ahead).
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary + 30u, last), boundary - 60u);
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(boundary - 30u, 0u), boundary);
    // Nothing before the first cycle.
    EXPECT_EQ(ZELTTimeStamp::convertToNearestUnixTime(ZELTTimeStamp::kCycleEpoch + 10u, last),
              ZELTTimeStamp::kCycleEpoch + last);
}

// A program message carrying the last minute of a cycle, decoded from audio that starts just
// after the next cycle began (and the first minute of a cycle, heard just before it began),
// is dated in the cycle it was sent in, not 28 days away.
TEST(ZeltAdapter, SystemTimeAcrossACycleBoundary) {
    const uint32_t boundary = ZELTTimeStamp::kCycleEpoch + 287u * ZELTTimeStamp::kCycleSeconds;
    struct Case {
        uint32_t start, minute, expected;
    };
    for (const Case c :
         {Case{boundary + 5u, 40319u, boundary - 60u}, Case{boundary - 20u, 0u, boundary}}) {
        ZELTDecoderAdapter a(8000);
        a.init("");
        Sink sink;
        a.RegisterResultCallback(sink);
        Kelvane::Generators::ZeltGenerator gen(8000);
        gen.AddProgram(1, 0x4D29, c.minute);
        const auto pcm = gen.RenderMixed(20.0, Kelvane::Generators::HostKind::PinkNoise, -20.0);
        for (size_t off = 0; off + 800 <= pcm.size(); off += 800) {
            Kelvane::AudioCore::CAudioBlock block(
                reinterpret_cast<const unsigned char*>(pcm.data() + off), 1600, 1, 8000, 16,
                Kelvane::AudioCore::PACKING_MODE_NOT_USED, c.start);
            ASSERT_EQ(a.ProcessAudioBlock(block), 0);
        }
        int exact = 0;
        for (const std::string& t : sink.texts) {
            rapidjson::Document doc;
            doc.Parse(t.c_str());
            const auto& z = doc["ZELT"];
            if (z["layer"].GetInt() != 1 || z["timestamp"].GetInt64() != (int64_t)c.minute)
                continue;
            EXPECT_EQ(z["systemTime"].GetUint(), c.expected) << t;
            ++exact;
        }
        EXPECT_GT(exact, 0) << "minute " << c.minute;
        a.UnregisterResultCallback(sink);
    }
}

TEST(ZeltAdapter, LayerValues) {
    int layer = -1;
    char comm[32], id[32];
    int64_t ts = 0;
    _ZELT_Detection_t d = Record(2);
    d.id = 0xA3F7;
    d.timestamp = 777;
    ASSERT_TRUE(ZELTDecoderAdapter::SetLayerValues(d, &layer, comm, id, &ts));
    EXPECT_EQ(layer, 2);
    EXPECT_STREQ(id, "0xa3f7");
    EXPECT_STREQ(comm, "N/A");
    EXPECT_EQ(ts, 777);

    d = Record(4);
    d.commId = 0x123456789ull;
    d.timestamp = 65535;
    ASSERT_TRUE(ZELTDecoderAdapter::SetLayerValues(d, &layer, comm, id, &ts));
    EXPECT_STREQ(id, "N/A");
    EXPECT_STREQ(comm, "0x123456789");
    EXPECT_EQ(ts, -1);

    d = Record(5);
    d.id = 3;
    ASSERT_TRUE(ZELTDecoderAdapter::SetLayerValues(d, &layer, comm, id, &ts));
    EXPECT_STREQ(id, "0x0003");

    for (uint32_t l : {0u, 3u, 6u}) {
        d = Record(l);
        EXPECT_FALSE(ZELTDecoderAdapter::SetLayerValues(d, &layer, comm, id, &ts));
        EXPECT_EQ(layer, 0);
    }
}

TEST(ZeltAdapter, RatesAndInit) {
    EXPECT_THROW(ZELTDecoderAdapter(7999), std::invalid_argument);
    EXPECT_TRUE(ZELTDecoderAdapter::isValidInputSampleRate(8000));
    EXPECT_TRUE(ZELTDecoderAdapter::isValidInputSampleRate(48000));
    ZELTDecoderAdapter a(8000);
    a.init("");
    int ma, mi, pa;
    a.GetVersion(&ma, &mi, &pa);
    EXPECT_EQ(ma * 100 + mi * 10 + pa, 218);
    ASSERT_NE(a.Engine(), nullptr);
}

// Builds a one-record table by running the engine core's callback path.
TEST(ZeltAdapter, DocumentsOfDecodedMessages) {
    ZELTDecoderAdapter a(8000);
    a.init("");
    Sink sink;
    a.RegisterResultCallback(sink);
    a.RegisterLogCallback(sink);
    Kelvane::Generators::ZeltGenerator gen(8000);
    gen.AddProgram(1, 0x4D29, 4321);
    gen.AddCommercial(0x0A1B2C3D4ull);
    const auto pcm = gen.RenderMixed(20.0, Kelvane::Generators::HostKind::Silence, 0);
    for (size_t off = 0; off + 800 <= pcm.size(); off += 800)
        ASSERT_EQ(a.ProcessBuffer(const_cast<int16_t*>(pcm.data() + off), a.Engine()), 0);
    ASSERT_FALSE(sink.texts.empty());
    bool prog = false, comm = false;
    for (const std::string& t : sink.texts) {
        EXPECT_EQ(t.find(' '), std::string::npos);
        rapidjson::Document doc;
        doc.Parse(t.c_str());
        ASSERT_FALSE(doc.HasParseError()) << t;
        const auto& z = doc["ZELT"];
        // Member order is part of the document.
        static const char* kKeys[] = {
            "elapsedTime", "layer",  "firstSymAge",     "lastSymAge", "quality",
            "strength",    "depth",  "phase",           "id",         "timestamp",
            "systemTime",  "commId", "sampleBlockIndex"};
        int k = 0;
        for (auto m = z.MemberBegin(); m != z.MemberEnd(); ++m, ++k)
            ASSERT_STREQ(m->name.GetString(), kKeys[k]);
        ASSERT_EQ(k, 13);
        if (z["layer"].GetInt() == 1 && std::string(z["id"].GetString()) == "0x4d29" &&
            z["timestamp"].GetInt() == 4321) {
            prog = true;
            EXPECT_STREQ(z["commId"].GetString(), "N/A");
        }
        if (z["layer"].GetInt() == 4) {
            comm = true;
            EXPECT_STREQ(z["commId"].GetString(), "0xa1b2c3d4");
            EXPECT_EQ(z["timestamp"].GetInt(), -1);
            EXPECT_EQ(z["systemTime"].GetUint(), 0u);
            EXPECT_STREQ(z["id"].GetString(), "N/A");
            EXPECT_GE(z["sampleBlockIndex"].GetInt64(), 0);
        }
    }
    EXPECT_TRUE(prog);
    EXPECT_TRUE(comm);
    a.UnregisterResultCallback(sink);
    a.UnregisterLogCallback(sink);
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
// once per evaluation (and again in the next evaluation).
TEST(ZeltAdapter, DepthsOfOneEvaluationShareTheSampleBlockIndex) {
    const uint64_t comm = 0x5A3C96E1Dull;
    ASSERT_TRUE(CUCCValidator::IsValidCommID(static_cast<long>(comm)));
    ZELTDecoderAdapter a(8000);
    a.init("");
    Sink sink;
    a.RegisterResultCallback(sink);
    HostCodes host;
    SampleAppConfigurationData cfg{};
    cfg.reportCallback = &host;
    cfg.reportMode = kReportModeJson;
    ZELTDecoderFilteredCallback filtered;
    char name[] = "ch0";
    filtered.init(&cfg, 2, 1, 8, name);
    a.RegisterResultCallback(filtered);
    const bool report = ReportZelt, raw = bZeltRawOutput;
    ReportZelt = true;
    bZeltRawOutput = false;

    Kelvane::Generators::ZeltGenerator gen(8000);
    gen.AddCommercial(comm);
    const auto pcm = gen.RenderMixed(60.0, Kelvane::Generators::HostKind::PinkNoise, -20.0, 11);
    int blocksWithComm = 0, blocksWithCopies = 0;
    for (size_t off = 0; off + 800 <= pcm.size(); off += 800) {
        const size_t before = sink.texts.size();
        ASSERT_EQ(a.ProcessBuffer(const_cast<int16_t*>(pcm.data() + off), a.Engine()), 0);
        std::vector<int64_t> indices;
        for (size_t i = before; i < sink.texts.size(); ++i) {
            rapidjson::Document doc;
            doc.Parse(sink.texts[i].c_str());
            const auto& z = doc["ZELT"];
            if (z["layer"].GetInt() != 4) continue;
            EXPECT_STREQ(z["commId"].GetString(), "0x5a3c96e1d");
            indices.push_back(z["sampleBlockIndex"].GetInt64());
        }
        if (indices.empty()) continue;
        ++blocksWithComm;
        if (indices.size() > 1) ++blocksWithCopies;
        for (int64_t i : indices) EXPECT_EQ(i, indices[0]) << "block at " << off / 800;
    }
    ReportZelt = report;
    bZeltRawOutput = raw;
    ASSERT_GT(blocksWithCopies, 0) << "no evaluation reported from two depths";
    int forwarded = 0;
    for (const std::string& t : host.codes) forwarded += t.find("\"layer\":4") != std::string::npos;
    EXPECT_EQ(forwarded, blocksWithComm);
    a.UnregisterResultCallback(filtered);
    a.UnregisterResultCallback(sink);
}

TEST(ZeltAdapter, ProcessBufferErrors) {
    ZELTDecoderAdapter a(8000);
    a.init("");
    Sink sink;
    a.RegisterLogCallback(sink);
    uint8_t block[1600] = {};
    EXPECT_EQ(a.ProcessBuffer(nullptr, a.Engine()), -1);
    EXPECT_EQ(a.ProcessBuffer(block, nullptr), -2);
    ASSERT_EQ(sink.logs.size(), 2u);
    EXPECT_EQ(sink.logs[0].first, -1);
    EXPECT_EQ(sink.logs[0].second, "ProcessBuffer, DecodeBuffer: NULL data pointer.");
    EXPECT_EQ(sink.logs[1].second, "ProcessBuffer, ZELT Engine: Null pointer");
    EXPECT_EQ(a.Engine()->ProcessAudioBuffer(block, 1599), -1);
    EXPECT_EQ(a.Engine()->ProcessAudioBuffer(block, 1601), 0);
    a.UnregisterLogCallback(sink);
}

TEST(ZeltAdapter, FlushFeedsSilenceUpToOnePointSevenSeconds) {
    for (bool withData : {true, false}) {
        ZELTDecoderAdapter a(8000);
        a.init("");
        // One and a half blocks: one runs at once, half a block stays buffered.
        const unsigned int samples = withData ? 1200 : 800;
        std::vector<int16_t> pcm(samples, 100);
        Kelvane::AudioCore::CAudioBlock block(pcm.data(), samples * 2, 1, 8000, 16,
                                              Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
        ASSERT_EQ(a.ProcessAudioBlock(block), 0);
        const uint32_t before = a.Engine()->State().frameCounter;
        EXPECT_EQ(before, 1u);
        a.FlushData();
        const uint32_t frames = a.Engine()->State().frameCounter - before;
        // 1.7 s in all: the partial block and 16 silent ones, or 17 silent ones.
        EXPECT_EQ(frames, 17u) << withData;
        EXPECT_EQ(a.Engine()->State().frameCounter, withData ? 18u : 18u);
    }
}

}  // namespace

namespace {

TEST(ZeltFactories, BothNamesMakeTheAdapterAndTheFilteredCallback) {
    WatermarkAudioConsumerFactoryImplementation decoders;
    for (const char* name : {"ZELT", "ZELTFiltered"}) {
        auto c = decoders.make(name, 48000);
        EXPECT_NE(dynamic_cast<ZELTDecoderAdapter*>(c.get()), nullptr) << name;
    }
    EXPECT_THROW(decoders.make("ZELT", 7000), std::invalid_argument);
    WatermarkAudioConsumerCallbackFactoryImplementation callbacks;
    auto cb = callbacks.make("ZELTFiltered");
    EXPECT_NE(dynamic_cast<ZELTDecoderFilteredCallback*>(cb.get()), nullptr);
}

}  // namespace
