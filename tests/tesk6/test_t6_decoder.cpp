// TESK 6 engine, table manager and decoder adapter.
#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "T6Pipeline.h"
#include "audiocore/CAudioBlock.h"
#include "decoders/tesk6/CT6WatermarkTableManager.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/tesk6/CTesk6Engine.h"
#include "generators/SignalMix.h"
#include "generators/Tesk6Generator.h"
#include "timebase/TeskTime.h"

using Kelvane::AudioCore::CAudioBlock;
using Kelvane::TESKVI::CTesk6Decoder;
using t6test::Capture;
using namespace Kelvane::Generators;

namespace {

_T6M_Detection_t Detection(uint32_t layer) {
    _T6M_Detection_t d;
    memset(&d, 0, sizeof(d));
    d.layer = layer;
    d.firstSymAge = 3200;
    d.lastSymAge = 1600;
    d.quality = 8;
    d.strength = 321;
    d.depth = 1;
    d.phase = 17;
    d.symbols[0] = 128;
    d.sid = 4242;
    d.timestamp = 100;
    d.dist = 2;
    d.dst = 1;
    d.transmission = 1;
    return d;
}

TEST(T6Decoder, JsonMembersInOrder) {
    Tesk6Record_t r;
    memset(&r, 0, sizeof(r));
    r.detection = Detection(T6M_LAYER_PROG);
    r.status = 1;
    // frame 1000: 32 s decoded, last symbol 1.6 s ago
    EXPECT_EQ(CTesk6Decoder::RecordToJson(r, 1000),
              "{\"TESK6\":{\"elapsedTime\":30.4,\"layer\":\"PROG\",\"sid\":4242,"
              "\"firstSymAge\":3200,\"lastSymAge\":1600,\"quality\":8,\"strength\":321,"
              "\"depth\":1,\"phase\":17,\"timestamp\":100,\"dst\":1,\"systemTime\":" +
                  std::to_string(Tesk6ToPosix(100, 1)) +
                  ","
                  "\"dist\":\"FD2\",\"transmission\":1,\"sampleBlockIndex\":950,"
                  "\"redundantCommStd\":0}}");
    r.detection = Detection(T6M_LAYER_COMM_RS);
    r.detection.commId = 255;
    r.detection.timestamp = 0xFFFFFFFF;
    r.detection.dist = 0;
    r.status = 0;
    const std::string rs = CTesk6Decoder::RecordToJson(r, 10);  // 0.32 s < last symbol age
    for (const char* part :
         {"\"elapsedTime\":0.32,\"layer\":\"COMM_RS\",\"commId\":\"0xff\",\"firstSymAge\"",
          "\"timestamp\":-1,", "\"dist\":\"PC\"", "\"redundantCommStd\":1}}"})
        EXPECT_NE(rs.find(part), std::string::npos) << part << " in " << rs;
    EXPECT_EQ(rs.find("\"sid\""), std::string::npos);
    r.detection.layer = 7;
    r.detection.dist = 9;
    const std::string un = CTesk6Decoder::RecordToJson(r, 10);
    for (const char* part : {"\"layer\":\"UN\",\"sid\"", "\"dist\":\"Undefined\""})
        EXPECT_NE(un.find(part), std::string::npos) << part << " in " << un;
}

TEST(T6TableManager, RedundantStandardCommercials) {
    CT6WatermarkTableManager t;
    _T6M_Detection_t rs = Detection(T6M_LAYER_COMM_RS);
    rs.commId = 0x123456789ull;
    _T6M_Detection_t std1 = Detection(T6M_LAYER_COMM_STD);
    std1.dist = 1;
    std1.transmission = 0;
    _T6M_Detection_t twcc = Detection(T6M_LAYER_COMM_STD);
    twcc.dist = 0;
    twcc.transmission = 1;
    t.AddWatermark(&std1, 5);
    t.SetStatusOfWatermarkTableRecords();
    EXPECT_EQ(t.Record(0).status, 1);  // alone: reported normally
    t.AddWatermark(&rs, 5);
    t.AddWatermark(&twcc, 5);
    t.SetStatusOfWatermarkTableRecords();
    EXPECT_EQ(t.Record(0).status, 0);
    EXPECT_EQ(t.Record(1).status, 1);
    EXPECT_EQ(t.Record(2).status, 1);
    // An invalid commId does not make standard records redundant.
    t.Reset();
    rs.commId = 0;
    t.AddWatermark(&rs, 5);
    t.AddWatermark(&std1, 5);
    t.SetStatusOfWatermarkTableRecords();
    EXPECT_EQ(t.Record(1).status, 1);
    // At most 20 records per block.
    t.Reset();
    for (int i = 0; i < 25; ++i) t.AddWatermark(&std1, uint32_t(i));
    EXPECT_EQ(t.Count(), 20u);
    EXPECT_EQ(t.Record(19).frame, 19u);
}

TEST(T6Engine, BlockLengthIsChecked) {
    CTesk6Engine e(nullptr);
    std::vector<signed char> buf(2048, 0);
    EXPECT_EQ(e.ProcessAudioBuffer(buf.data(), 2048), -1);
    EXPECT_EQ(e.FrameCounter(), 0);
    EXPECT_EQ(e.ProcessAudioBuffer(buf.data(), 1024), 0);
    EXPECT_EQ(e.ProcessAudioBuffer(buf.data(), 1025), 0);
    EXPECT_EQ(e.FrameCounter(), 2);
    EXPECT_EQ(e.ProcessAudioBuffer(nullptr, 1024), -1);
}

TEST(T6Decoder, RatesAndFailures) {
    EXPECT_THROW(CTesk6Decoder(8000), std::invalid_argument);
    EXPECT_THROW(CTesk6Decoder(12000), std::invalid_argument);
    EXPECT_NO_THROW(CTesk6Decoder(44100).init(""));
    CTesk6Decoder d(16000);
    d.init("");
    Capture cap;
    d.RegisterLogCallback(cap);
    std::vector<char> block(1024, 0);
    EXPECT_EQ(d.ProcessBuffer(nullptr, &d), -1);
    EXPECT_EQ(d.ProcessBuffer(block.data(), nullptr), -1);
    ASSERT_EQ(cap.logs.size(), 2u);
    EXPECT_EQ(cap.logs[0], "-1 DecodeBuffer: NULL data pointer.");
    EXPECT_EQ(cap.logs[1], "-1 ProcessBuffer, TESK 6 Engine: NULL pointer to control block");
}

// Silence gives nothing; a message still being accumulated at the end of the
// input comes out only with the flush.
TEST(T6Decoder, SilenceAndFlush) {
    Tesk6Generator g(16000);
    Tesk6Message m;
    m.kind = Tesk6Kind::ProgramStandard;
    m.sid = 99;
    m.timestamp = 5000;
    g.Add(m, 1);
    std::vector<int16_t> audio(size_t(16000 * 2), 0);  // 2 s of silence first
    const auto wm = SignalMix::ToInt16(g.Synthesize(1.6));
    audio.insert(audio.end(), wm.begin(), wm.end());

    CTesk6Decoder d(16000);
    d.init("");
    Capture cap;
    d.RegisterResultCallback(cap);
    auto feed = [&](size_t from, size_t to) {
        for (size_t pos = from; pos < to; pos += 160) {
            CAudioBlock b(audio.data() + pos, unsigned(std::min<size_t>(160, to - pos) * 2), 1,
                          16000, 16, Kelvane::AudioCore::PACKING_MODE_NOT_USED, 0);
            d.ProcessAudioBlock(b);
        }
        EXPECT_TRUE(cap.texts.empty());
    };
    feed(0, 2 * 16000);
    feed(2 * 16000, audio.size());
    d.shutdown();
    ASSERT_FALSE(cap.texts.empty());
    EXPECT_NE(cap.texts[0].find("\"sid\":99,"), std::string::npos) << cap.texts[0];
}

}  // namespace
