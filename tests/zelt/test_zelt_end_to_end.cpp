// ZELT from audio to the host rings: generated messages at -20 dB in pink
// noise through a real CMeter ("ZELTFiltered"), the application's factories,
// host report object and filtered callbacks, read back with the host's
// code-ring reader.
#include <gtest/gtest.h>
#include <rapidjson/document.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/CMeter.h"
#include "dsp/CUCCValidator.h"
#include "generators/ZeltGenerator.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::ZeltGenerator;

namespace {

struct HostRecord {
    unsigned channel = 0;
    std::string text;
    int layer = 0;
    std::string id, commId;
    int64_t timestamp = 0;
    uint64_t systemTime = 0;
    int64_t sampleBlockIndex = 0;
    double seconds = 0;  // audio fed when the record was taken from the ring
};

void DrainRings(std::vector<HostRecord>& out, double seconds) {
    char buffer[4096];
    for (unsigned ch = 0; ch < kReportChannels; ++ch)
        while (hostGetAudioCodes(ch, buffer, sizeof buffer) == 1) {
            HostRecord r;
            r.channel = ch;
            r.text = buffer;
            r.seconds = seconds;
            rapidjson::Document doc;
            doc.Parse(buffer);
            if (!doc.HasParseError() && doc.IsObject() && doc.HasMember("ZELT")) {
                const auto& z = doc["ZELT"];
                r.layer = z["layer"].GetInt();
                r.id = z["id"].GetString();
                r.commId = z["commId"].GetString();
                r.timestamp = z["timestamp"].GetInt64();
                r.systemTime = z["systemTime"].GetUint64();
                r.sampleBlockIndex = z["sampleBlockIndex"].GetInt64();
            }
            out.push_back(r);
        }
}

// Feeds 48 kHz 16-bit mono signals of one length, one per meter channel, in
// 10 ms blocks with capture start time `startTime`, flushes, and returns the
// host records in arrival order.
std::vector<HostRecord> RunMeter(const std::vector<std::vector<int16_t>>& channels,
                                 uint32_t startTime, bool raw = false) {
    for (auto& ring : reportedChannel) ring.reset();
    ReportZelt = true;
    bZeltRawOutput = raw;
    static CTavikReportImplementation report;  // the host report object lives for the process
    SampleAppConfigurationData cfg{};
    cfg.configValid = 1;
    cfg.reportCallback = &report;
    cfg.reportMode = kReportModeJson;
    Kelvane::AudioCore::AudioChannelConfiguration ac;
    ac.channels = static_cast<int32_t>(channels.size());
    ac.sampleRate = 48000;
    ac.bitsPerSample = 16;
    std::vector<HostRecord> out;
    const size_t n = channels[0].size();
    {
        CMeter meter(&cfg, nullptr, &ac, "{\"Parameters\":[{\"ZELTFiltered\":{}}]}",
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        for (size_t off = 0; off + 480 <= n; off += 480) {
            for (size_t c = 0; c < channels.size(); ++c)
                meter.ProcessAudioBuffer(const_cast<int16_t*>(channels[c].data() + off), 960,
                                         static_cast<int>(c), startTime);
            if (off % 48000 == 0) DrainRings(out, off / 48000.0);
        }
        for (size_t c = 0; c < channels.size(); ++c) meter.FlushData(static_cast<int>(c));
    }
    DrainRings(out, n / 48000.0);
    bZeltRawOutput = true;
    return out;
}

constexpr uint32_t kStart = 1767225600u + 3 * 3600 + 17 * 60 + 20;  // 2026-01-01 03:17:20 UTC
constexpr double kSeconds = 60.0;
constexpr double kRatioDb = -20.0;

std::string Hex(unsigned long long v, const char* format = "0x%llx") {
    char b[32];
    std::snprintf(b, sizeof b, format, v);
    return b;
}

uint64_t AcceptedCommId(uint64_t from, bool valid) {
    for (uint64_t id = from;; ++id)
        if (CUCCValidator::IsValidCommID(static_cast<long>(id)) == valid) return id;
}

std::vector<HostRecord> RunOne(const ZeltGenerator& gen, bool raw = false, uint32_t seed = 11) {
    return RunMeter({gen.RenderMixed(kSeconds, HostKind::PinkNoise, kRatioDb, seed)}, kStart, raw);
}

TEST(ZeltEndToEnd, ProgramMessagesOnLayersOneTwoAndFive) {
    const int layers[3] = {1, 2, 5};
    const uint16_t ids[3] = {0x1235, 0xA3F7, 0x0C81};
    const uint32_t base = ZeltGenerator::MinuteOfPosixTime(kStart);
    for (int i = 0; i < 3; ++i) {
        const uint32_t minute = base + 7 * i;
        ZeltGenerator gen(48000);
        gen.AddProgram(layers[i], ids[i], minute);
        // The message on channel 1 of a two-channel meter; channel 0 is silent.
        const auto wm = gen.RenderMixed(kSeconds, HostKind::PinkNoise, kRatioDb, 11 + i);
        const auto recs = RunMeter({std::vector<int16_t>(wm.size(), 0), wm}, kStart);
        int exact = 0;
        double first = -1;
        for (const auto& r : recs) {
            EXPECT_EQ(r.channel, 1u) << r.text;
            if (r.layer != layers[i] || r.id != Hex(ids[i], "0x%04llx")) continue;
            EXPECT_EQ(r.commId, "N/A");
            // A message found in the first, partial period may lack its time code.
            if (r.timestamp == 65535) continue;
            EXPECT_EQ(r.timestamp, (int64_t)minute) << r.text;
            EXPECT_EQ(r.systemTime, (uint64_t)ZeltGenerator::PosixTimeOfMinute(kStart, minute));
            if (first < 0) first = r.seconds;
            ++exact;
        }
        EXPECT_GE(exact, 5) << "layer " << layers[i];
        RecordProperty("first_report_s_layer" + std::to_string(layers[i]), std::to_string(first));
    }
}

TEST(ZeltEndToEnd, CommercialReedSolomonMessage) {
    const uint64_t comm = AcceptedCommId(0x5A3C96E1Dull, true);
    ZeltGenerator gen(48000);
    gen.AddCommercial(comm);
    const auto recs = RunOne(gen);
    int found = 0;
    std::set<std::pair<std::string, int64_t>> seen;
    for (const auto& r : recs) {
        if (r.layer != 4) continue;
        EXPECT_EQ(r.commId, Hex(comm)) << r.text;
        EXPECT_EQ(r.id, "N/A");
        EXPECT_EQ(r.timestamp, -1);
        EXPECT_EQ(r.systemTime, 0u);
        // The duplicate rule: one record per identifier and sample block.
        EXPECT_TRUE(seen.insert({r.commId, r.sampleBlockIndex}).second) << r.text;
        ++found;
    }
    EXPECT_GE(found, 10);
}

TEST(ZeltEndToEnd, IdentifierRejectedByTheValidatorNeverReachesTheHost) {
    const uint64_t comm = AcceptedCommId(0x5A3C96E1Dull, false);
    ZeltGenerator gen(48000);
    gen.AddCommercial(comm);
    const auto wm = gen.RenderMixed(20.0, HostKind::PinkNoise, kRatioDb, 5);
    const auto filtered = RunMeter({wm}, kStart, false);
    for (const auto& r : filtered) EXPECT_NE(r.layer, 4) << r.text;
    // The decoder does find it: raw display shows it.
    const auto raw = RunMeter({wm}, kStart, true);
    int rawComm = 0;
    for (const auto& r : raw) rawComm += r.layer == 4 && r.commId == Hex(comm);
    EXPECT_GT(rawComm, 0);
}

TEST(ZeltEndToEnd, CommercialFlagPatterns) {
    for (int value : {3, 7}) {
        ZeltGenerator gen(48000);
        gen.AddFlag(value);
        const auto recs = RunOne(gen, false, 20 + value);
        int found = 0;
        for (const auto& r : recs) {
            EXPECT_NE(r.layer, 4) << r.text;
            if (r.layer == 5 && r.id == Hex(value, "0x%04llx")) {
                EXPECT_EQ(r.commId, "N/A");
                // Flags carry minutes of decoding (frames / 600) as their time.
                EXPECT_GE(r.timestamp, 0);
                EXPECT_LE(r.timestamp, 1);
                ++found;
            }
        }
        EXPECT_GE(found, 20) << value;
    }
}

// Confirmation of program codes in filtered display.  Audio: after a lead-in
// of host, one 4.8 s period of the program message per entry of `minutes`
// (-1: a period of host only), then `tailSeconds` of host; the message at
// `ratioDb` against the host.
std::vector<int16_t> ProgramPeriods(int layer, uint16_t id, const std::vector<int>& minutes,
                                    size_t leadSamples, double tailSeconds, uint32_t seed,
                                    double ratioDb = kRatioDb) {
    const size_t period = 48000 * 48 / 10;
    const size_t n =
        leadSamples + minutes.size() * period + static_cast<size_t>(tailSeconds * 48000);
    std::vector<float> mix =
        Kelvane::Generators::SignalMix::MakeHost(HostKind::PinkNoise, n, 0.1, seed);
    const double gain = std::pow(10.0, ratioDb / 20.0);  // watermark and host both at RMS 0.1
    for (size_t p = 0; p < minutes.size(); ++p) {
        if (minutes[p] < 0) continue;
        ZeltGenerator gen(48000);
        gen.AddProgram(layer, id, static_cast<uint32_t>(minutes[p]));
        const auto wm = gen.Render(4.8);
        for (size_t i = 0; i < wm.size(); ++i)
            mix[leadSamples + p * period + i] += static_cast<float>(gain * wm[i]);
    }
    return Kelvane::Generators::SignalMix::ToInt16(mix);
}

std::vector<HostRecord> OfCode(const std::vector<HostRecord>& recs, int layer, uint16_t id) {
    std::vector<HostRecord> out;
    for (const auto& r : recs)
        if (r.layer == layer && r.id == Hex(id, "0x%04llx")) out.push_back(r);
    return out;
}

// The first detection of a code with a time code is never reported; each
// later one, from audio of its own, reaches the host unchanged (a detection
// without a time code before it is dropped).  All three program layers,
// one to three repetitions at places that straddle the decoder's 4.8 s
// searches (two repetitions then give one detection only).
TEST(ZeltConfirmation, EveryDetectionButTheFirstReachesTheHost) {
    const int layers[3] = {1, 2, 5};
    const uint16_t ids[3] = {0x4C93, 0x7A21, 0xE05B};
    const uint32_t minute = ZeltGenerator::MinuteOfPosixTime(kStart);
    for (int i = 0; i < 3; ++i)
        for (int periods = 1; periods <= 3; ++periods) {
            const std::vector<int> minutes(periods, static_cast<int>(minute));
            const size_t lead = 48000 + 7919 * (3 * i + periods);  // 1.2 .. 1.8 s
            const auto pcm = ProgramPeriods(layers[i], ids[i], minutes, lead, 15.0, 40 + periods);
            const auto raw = OfCode(RunMeter({pcm}, kStart, true), layers[i], ids[i]);
            ASSERT_GE(raw.size(), static_cast<size_t>(periods - 1)) << layers[i];
            // Expected: every detection after the first one with a time code.
            std::vector<std::string> expected;
            bool first = true;
            for (const auto& r : raw)
                if (!first)
                    expected.push_back(r.text);
                else if (r.timestamp != 65535)
                    first = false;
            const auto host = RunMeter({pcm}, kStart);
            std::vector<std::string> got;
            for (const auto& r : host) got.push_back(r.text);
            EXPECT_EQ(got, expected) << "layer " << layers[i] << ", " << periods << " periods";
        }
}

// Repetitions aligned with layer 2's searches (one detection each).  Two whose
// minutes disagree with the 4.8 s between them confirm nothing; a third that
// agrees with the second does, with the later minute.  A message that moves
// within its period (here by 1.2 s) is not confirmed by its earlier place.
TEST(ZeltConfirmation, MinutesAndPhaseMustAgree) {
    const uint16_t id = 0x3D5E;
    const int m = static_cast<int>(ZeltGenerator::MinuteOfPosixTime(kStart));
    const size_t aligned = 29 * 4800;  // layer 2 searches after frames 29, 77, 125, ...
    {
        const auto pcm = ProgramPeriods(2, id, {m, m + 30}, aligned, 12.0, 7);
        EXPECT_EQ(OfCode(RunMeter({pcm}, kStart, true), 2, id).size(), 2u);
        EXPECT_TRUE(RunMeter({pcm}, kStart).empty());
    }
    {
        const auto pcm = ProgramPeriods(2, id, {m, m + 30, m + 30}, aligned, 12.0, 8);
        EXPECT_EQ(OfCode(RunMeter({pcm}, kStart, true), 2, id).size(), 3u);
        const auto got = RunMeter({pcm}, kStart);
        ASSERT_EQ(got.size(), 1u);
        EXPECT_EQ(got[0].timestamp, m + 30);
    }
    {
        // The second repetition starts 12 slots later in the 48-slot period.
        const size_t period = 48000 * 48 / 10, shift = 48000 * 12 / 10;
        auto a = ProgramPeriods(2, id, {m}, aligned, 0.0, 9);
        const auto b = ProgramPeriods(2, id, {m, m}, shift, 12.0, 10);
        ASSERT_EQ(a.size(), aligned + period);
        a.insert(a.end(), b.begin(), b.end());
        EXPECT_EQ(OfCode(RunMeter({a}, kStart, true), 2, id).size(), 3u);
        EXPECT_TRUE(RunMeter({a}, kStart).empty());
    }
}

// A commercial flag is one bit: it too needs a second evaluation on audio the
// first did not use.  One 2.4 s pattern period is seen by overlapping
// evaluations (the raw display shows it) but never reaches the host; a
// longer run does.
TEST(ZeltConfirmation, FlagsNeedIndependentAudioToo) {
    for (int value : {3, 7}) {
        ZeltGenerator gen(48000);
        gen.AddFlag(value);
        const auto wm = gen.Render(2.4);
        std::vector<float> mix =
            Kelvane::Generators::SignalMix::MakeHost(HostKind::PinkNoise, 48000 * 12, 0.1, value);
        for (size_t i = 0; i < wm.size(); ++i) mix[33333 + i] += static_cast<float>(0.1 * wm[i]);
        const auto pcm = Kelvane::Generators::SignalMix::ToInt16(mix);
        const auto raw = OfCode(RunMeter({pcm}, kStart, true), 5, static_cast<uint16_t>(value));
        EXPECT_GE(raw.size(), 1u) << value;
        EXPECT_TRUE(OfCode(RunMeter({pcm}, kStart), 5, static_cast<uint16_t>(value)).empty());
    }
}

// A flag is sent in every 2.4 s period of a commercial. Two single periods of
// the pattern 21.6 s apart (in different halves of the 4.8 s program period,
// as the tones of a program message mixed with other families' tones on a
// tonal host fill it now and then) are not one flag on air: each is read, but
// nothing reaches the host.
TEST(ZeltConfirmation, FlagReadingsFarApartDoNotConfirmEachOther) {
    ZeltGenerator gen(48000);
    gen.AddFlag(7);
    const auto wm = gen.Render(2.4);
    std::vector<float> mix =
        Kelvane::Generators::SignalMix::MakeHost(HostKind::PinkNoise, 48000 * 32, 0.1, 7);
    for (size_t start : {size_t{33333}, size_t{33333 + 48000 * 216 / 10}})
        for (size_t i = 0; i < wm.size(); ++i) mix[start + i] += static_cast<float>(0.1 * wm[i]);
    const auto pcm = Kelvane::Generators::SignalMix::ToInt16(mix);
    const auto raw = OfCode(RunMeter({pcm}, kStart, true), 5, 7);
    ASSERT_GE(raw.size(), 2u);
    EXPECT_GT(raw.back().sampleBlockIndex - raw.front().sampleBlockIndex, 150);
    EXPECT_TRUE(OfCode(RunMeter({pcm}, kStart), 5, 7).empty());
}

// Readings of flag value 3 or 7 among `recs`.
std::vector<HostRecord> Flags(const std::vector<HostRecord>& recs) {
    std::vector<HostRecord> out;
    for (const auto& r : recs)
        if (r.layer == 5 && (r.id == "0x0003" || r.id == "0x0007")) out.push_back(r);
    return out;
}

std::vector<int16_t> Pcm(const std::vector<float>& wm) {
    return Kelvane::Generators::SignalMix::ToInt16(wm);
}

// A layer 5 program message alone on otherwise silent audio (at -40 dBFS, as
// at -20 dB to a -20 dBFS host that fell silent): the tones of one
// half of its 4.8 s period fill the flag 7 pattern on layers 3 and 4, every
// 4.8 s at the same place (the raw display shows these readings).  Only the
// program code reaches the host.  Sent together with a real flag, the flag
// (repeating every 2.4 s) is reported as before.
TEST(ZeltConfirmation, ProgramTonesDoNotMakeAFlag) {
    const uint16_t id = 0x9E68;
    const uint32_t minute = 2089;
    ZeltGenerator program(48000);
    program.AddProgram(5, id, minute);
    const auto pcm = Pcm(program.Render(60.0, 0.01));
    ASSERT_GE(Flags(RunMeter({pcm}, kStart, true)).size(), 2u);
    const auto host = RunMeter({pcm}, kStart);
    for (const auto& r : host) EXPECT_EQ(r.id, Hex(id, "0x%04llx")) << r.text;
    for (const auto& r : OfCode(host, 5, id)) EXPECT_EQ(r.timestamp, minute) << r.text;
    EXPECT_GE(OfCode(host, 5, id).size(), 8u);

    ZeltGenerator both(48000);
    both.AddProgram(5, id, minute);
    both.AddFlag(7);
    const auto withFlag = RunMeter({Pcm(both.Render(60.0, 0.01))}, kStart);
    const auto flags = Flags(withFlag);
    ASSERT_GE(flags.size(), 20u);
    for (const auto& r : flags) EXPECT_EQ(r.id, "0x0007");
    EXPECT_LT(flags.front().seconds, 10.0);
    EXPECT_GE(OfCode(withFlag, 5, id).size(), 8u);
}

// Flag markers beneath a commercial identifier message (here a weaker flag
// pattern 0.7 s off the message's period) are read as the runner-up symbols
// of their slots; layers 3 and 4 carry the identifier, so no flag is
// reported while it lasts.  Once the identifier message ends, the flag alone
// is reported.
TEST(ZeltConfirmation, NoFlagWhileACommercialIdentifierIsOnAir) {
    const uint64_t commId = AcceptedCommId(0x7e2671a40ull, true);
    const double withComm = 30.0, alone = 30.0;
    ZeltGenerator comm(48000), flag(48000);
    comm.AddCommercial(commId);
    flag.AddFlag(7);
    const auto c = comm.Render(withComm);
    const auto f = flag.Render(withComm + alone + 1.0, 0.05);
    std::vector<float> mix(static_cast<size_t>((withComm + alone) * 48000), 0.0f);
    const size_t shift = 48000 * 7 / 10;
    for (size_t i = 0; i < mix.size(); ++i) mix[i] = f[i + shift] + (i < c.size() ? c[i] : 0.0f);
    const auto pcm = Pcm(mix);
    const int64_t commEnd = static_cast<int64_t>(withComm * 10);  // frames
    size_t rawUnder = 0;
    for (const auto& r : Flags(RunMeter({pcm}, kStart, true)))
        rawUnder += r.sampleBlockIndex < commEnd;
    ASSERT_GE(rawUnder, 2u);
    const auto host = RunMeter({pcm}, kStart);
    size_t ids = 0;
    for (const auto& r : host) ids += r.layer == 4 && r.commId == Hex(commId);
    EXPECT_GE(ids, 10u);
    const auto flags = Flags(host);
    ASSERT_GE(flags.size(), 5u);
    for (const auto& r : flags) {
        EXPECT_EQ(r.id, "0x0007");
        EXPECT_GT(r.sampleBlockIndex, commEnd) << r.text;
    }
}

// A program code's four time symbols are a minute of the 28-day cycle; a
// reading whose symbols are no minute at all (the first one 15, rank above
// 40319) misread them and is not reported, even while the code is tracked.
// The periods before and after it, with the minute sent, are.
TEST(ZeltConfirmation, TimeSymbolsOfNoMinuteAreNotReported) {
    const uint16_t id = 0x4C93, donor = 0xF5A7;  // the donor's position 1 is symbol 15
    const uint32_t minute = 2089;                // time symbols 0, 12, 7, 11
    const size_t period = 48000 * 48 / 10, symbol = 48000 * 4 / 10;
    ZeltGenerator a(48000), b(48000);
    a.AddProgram(2, id, minute);
    b.AddProgram(2, donor, minute);
    const auto good = a.Render(4.8), other = b.Render(4.8);
    std::vector<float> bad = good;  // time symbol 0 (position 8) replaced by 15
    std::copy(other.begin() + symbol, other.begin() + 2 * symbol, bad.begin() + 8 * symbol);
    const size_t lead = 29 * 4800;  // layer 2 searches after frames 29, 77, 125, ...
    std::vector<float> mix =
        Kelvane::Generators::SignalMix::MakeHost(HostKind::PinkNoise, lead + 5 * period, 0.1, 5);
    const double gain = std::pow(10.0, -10.0 / 20.0);
    const std::vector<const std::vector<float>*> periods = {&good, &good, &bad, &good};
    for (size_t p = 0; p < periods.size(); ++p)
        for (size_t i = 0; i < period; ++i)
            mix[lead + p * period + i] += static_cast<float>(gain * (*periods[p])[i]);
    const auto pcm = Pcm(mix);
    bool misread = false;
    for (const auto& r : OfCode(RunMeter({pcm}, kStart, true), 2, id))
        misread = misread || r.timestamp >= 40320;
    ASSERT_TRUE(misread);
    const auto host = OfCode(RunMeter({pcm}, kStart), 2, id);
    EXPECT_GE(host.size(), 2u);
    for (const auto& r : host) EXPECT_EQ(r.timestamp, minute) << r.text;
}

TEST(ZeltEndToEnd, SilenceGivesNoReport) {
    const std::vector<int16_t> silence(48000 * 60, 0);
    EXPECT_TRUE(RunMeter({silence, silence}, kStart).empty());
}

}  // namespace
