#include "tools/tavik-soak/SoakSignal.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "dsp/CUCCValidator.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"
#include "timebase/TeskTime.h"

namespace soak {

using namespace Kelvane::Generators;

namespace {

constexpr double kHostRms = 0.1;
constexpr double kHostLoopSeconds = 20.0;
constexpr int64_t kMinSegmentBlocks = 60 * 100;   // 1 minute
constexpr int64_t kMaxSegmentBlocks = 600 * 100;  // 10 minutes
constexpr double kMinRatioDb = -20.0;
constexpr double kMaxRatioDb = -16.0;
constexpr double kMaxDelaySeconds = 1.0;

// Repetition periods in samples at 48 kHz.
constexpr size_t kT6ProgramPeriod = 150 * 512 * 3;  // 4.8 s
constexpr size_t kT6CommPeriod = 50 * 512 * 3;      // 1.6 s
constexpr size_t kT2ProgramPeriod = 1496 * 64 * 2;  // 3.989 s
constexpr size_t kT2CommPeriod = 748 * 64 * 2;      // 1.995 s
constexpr size_t kZeltProgramPeriod = 48 * 4800;    // 4.8 s
constexpr size_t kZeltCommPeriod = 24 * 4800;       // 2.4 s
// TESK program messages are rendered this many periods at a time.
constexpr size_t kProgramWindowPeriods = 5;

double Seconds(size_t samples) { return double(samples) / kRate; }

void Scale(std::vector<float>& v, double gain) {
    for (float& x : v) x = float(x * gain);
}

// Scales a TESK render to `rms` (its RMS over the whole render, gaps included,
// as the mixing of test files measures it).
double GainFor(const std::vector<float>& v, double rms) {
    const double now = SignalMix::Rms(v);
    return now > 0 ? rms / now : 0.0;
}

// A signal that repeats exactly: rendered once, replayed.
class Tile : public Component {
public:
    Tile(std::vector<float> period, size_t delay) {
        buf_ = std::move(period);
        delay_ = delay;
    }

protected:
    void Refill(int64_t) override { pos_ = 0; }
};

// ZELT program message: repeats exactly while its minute stays; rendered again
// when the minute at the start of a repetition has changed.
class ZeltProgram : public Component {
public:
    ZeltProgram(int layer, uint16_t id, double rms, uint32_t startPosix, size_t delay)
        : layer_(layer), id_(id), rms_(rms), startPosix_(startPosix) {
        delay_ = delay;
    }

protected:
    void Refill(int64_t at) override {
        const uint32_t minute =
            ZeltGenerator::MinuteOfPosixTime(int64_t(startPosix_) + at / kRate);
        if (buf_.empty() || minute != minute_) {
            ZeltGenerator gen(kRate);
            gen.AddProgram(layer_, id_, minute);
            buf_ = gen.Render(Seconds(kZeltProgramPeriod), rms_);
            minute_ = minute;
        }
        pos_ = 0;
    }

private:
    int layer_;
    uint16_t id_;
    double rms_;
    uint32_t startPosix_;
    uint32_t minute_ = 0;
};

// TESK 6 or TESK 2 program message, whose time code follows the encoder clock:
// rendered a window of whole periods at a time.
template <class Generator, class Message, size_t Period, uint32_t CodeMask>
class TeskProgram : public Component {
public:
    TeskProgram(const Message& message, double clock, double rms, size_t delay)
        : message_(message), code0_(message.timestamp), clock_(clock), rms_(rms) {
        delay_ = delay;
    }

protected:
    void Refill(int64_t) override {
        Message m = message_;
        const double whole = std::floor(clock_);
        m.timestamp = (code0_ + uint32_t(whole)) & CodeMask;
        m.clockFraction = clock_ - whole;
        Generator gen(kRate);
        gen.Add(m, 0);
        buf_ = gen.Synthesize(Seconds(Period * kProgramWindowPeriods));
        if (gain_ == 0) gain_ = GainFor(buf_, rms_);
        Scale(buf_, gain_);
        clock_ += Seconds(Period * kProgramWindowPeriods);
        pos_ = 0;
    }

private:
    Message message_;
    uint32_t code0_;
    double clock_;  // encoder clock at the window start, seconds after code0_
    double rms_;
    double gain_ = 0;
};

using Tesk6Program = TeskProgram<Tesk6Generator, Tesk6Message, kT6ProgramPeriod, (1u << 29) - 1>;
using Tesk2Program = TeskProgram<Tesk2Generator, Tesk2Message, kT2ProgramPeriod, 0x7FFFFFFFu>;

}  // namespace

void Component::AddTo(float* out, size_t count, int64_t at) {
    while (count > 0) {
        if (delay_ > 0) {
            const size_t n = std::min(delay_, count);
            delay_ -= n;
            out += n;
            at += int64_t(n);
            count -= n;
            continue;
        }
        if (pos_ >= buf_.size()) {
            Refill(at);
            if (buf_.empty()) return;
        }
        const size_t n = std::min(buf_.size() - pos_, count);
        const float* src = buf_.data() + pos_;
        for (size_t i = 0; i < n; ++i) out[i] += src[i];
        pos_ += n;
        out += n;
        at += int64_t(n);
        count -= n;
    }
}

uint16_t ZeltProgramId(uint64_t n) {
    // Spread consecutive numbers over the whole id space (7919 is prime to
    // 50400), so the codes of neighbouring channels differ in more than the
    // key nibble, which the decoder's key repair can misread.
    n = (n % 50400) * 7919 % 50400;
    const unsigned key = unsigned(n % 15) + 1;
    uint64_t m = n / 15;
    const unsigned a = unsigned(m % 16);
    m /= 16;
    unsigned bi = unsigned(m % 15), ci = unsigned(m / 15);
    unsigned b = 0, c = 0;
    for (unsigned v = 0, k = 0; v < 16; ++v) {
        if (v == a) continue;
        if (k++ == bi) b = v;
    }
    for (unsigned v = 0, k = 0; v < 16; ++v) {
        if (v == a || v == b) continue;
        if (k++ == ci) c = v;
    }
    return uint16_t(a << 12 | b << 8 | c << 4 | key);
}

uint16_t TeskSid(uint64_t n, uint32_t stride) {
    return uint16_t((n % 65535) * stride % 65535 + 1);
}

SoakChannel::SoakChannel(unsigned channel, uint64_t seed, uint32_t startPosix, SoakLedger* ledger)
    : channel_(channel),
      startPosix_(startPosix),
      ledger_(ledger),
      rng_(seed * 1000003u + channel) {
    host_ = SignalMix::MakeHost(channel % 2 == 0 ? HostKind::PinkNoise : HostKind::WhiteNoise,
                                size_t(kHostLoopSeconds * kRate), kHostRms,
                                uint32_t(seed * 7 + channel + 1));
}

void SoakChannel::StartSegment() {
    std::uniform_int_distribution<int64_t> blocks(kMinSegmentBlocks, kMaxSegmentBlocks);
    std::uniform_real_distribution<double> ratio(kMinRatioDb, kMaxRatioDb), unit(0.0, 1.0),
        level(0.5, 1.5);
    std::uniform_int_distribution<size_t> delay(0, size_t(kMaxDelaySeconds * kRate));
    std::uniform_int_distribution<uint64_t> id35(1, (1ull << 35) - 1);
    auto rmsAt = [&] { return kHostRms * std::pow(10.0, ratio(rng_) / 20.0); };
    auto commId = [&] {
        uint64_t id = 0;
        do id = id35(rng_);
        while (!CUCCValidator::IsValidCommID(long(id)));
        return id;
    };

    const double t = Seconds(size_t(at_));
    segmentEnd_ = at_ + blocks(rng_) * kBlockFrames;
    level_ = float(level(rng_));
    const uint64_t n = serial_++ * 6 + channel_;  // unique over all channels
    parts_.clear();
    std::vector<ExpectedCode> codes;
    auto add = [&](int kind, std::string key, Component* part, size_t d) {
        parts_.emplace_back(part);
        codes.push_back(ExpectedCode{kind, std::move(key), t + Seconds(d)});
    };

    // Encoder clocks run from the audio clock with a sub-second phase of their own.
    auto clockAt = [&](size_t d, double& fraction) {
        const double posix = double(startPosix_) + t + Seconds(d) + unit(rng_);
        fraction = posix - std::floor(posix);
        return uint32_t(std::floor(posix));
    };
    {
        size_t d = delay(rng_);
        Tesk6Message m;
        m.kind = Tesk6Kind::ProgramStandard;
        m.sid = TeskSid(n, 7919);
        uint8_t dst = 0;
        double fraction = 0;
        m.timestamp = PosixToTesk6(clockAt(d, fraction), &dst);
        m.dst = dst != 0;
        m.clockFraction = 0;
        add(kT6Prog, CodeKey(kT6Prog, m.sid), new Tesk6Program(m, fraction, rmsAt(), d), d);
    }
    {
        size_t d = delay(rng_);
        Tesk6Message m;
        m.kind = Tesk6Kind::CommercialRs;
        m.commId = commId();
        Tesk6Generator gen(kRate);
        gen.Add(m, 0);
        std::vector<float> period = gen.Synthesize(Seconds(kT6CommPeriod));
        Scale(period, GainFor(period, rmsAt()));
        add(kT6Rs, CodeKey(kT6Rs, m.commId), new Tile(std::move(period), d), d);
    }
    {
        size_t d = delay(rng_);
        Tesk2Message m;
        m.kind = Tesk2Kind::ProgramStandard;
        m.sid = TeskSid(n, 104729 % 65535);
        m.dist = 1;
        double fraction = 0;
        const uint32_t code = PosixToTesk2(clockAt(d, fraction));
        m.timestamp = code & ~TESK2_DST_FLAG;
        m.dst = (code & TESK2_DST_FLAG) != 0;
        m.clockFraction = 0;
        add(kT2Prog, CodeKey(kT2Prog, m.sid), new Tesk2Program(m, fraction, rmsAt(), d), d);
    }
    {
        size_t d = delay(rng_);
        Tesk2Message m;
        m.kind = Tesk2Kind::CommercialRs;
        m.dist = 0;
        m.commId = commId();
        Tesk2Generator gen(kRate);
        gen.Add(m, 0);
        std::vector<float> period = gen.Synthesize(Seconds(kT2CommPeriod));
        Scale(period, GainFor(period, rmsAt()));
        add(kT2Rs, CodeKey(kT2Rs, m.commId), new Tile(std::move(period), d), d);
    }
    {
        size_t d = delay(rng_);
        static const int kLayers[3] = {1, 2, 5};
        const int layer = kLayers[(serial_ + channel_) % 3];
        const uint16_t id = ZeltProgramId(n);
        add(kZeltProg, CodeKey(kZeltProg, id, layer),
            new ZeltProgram(layer, id, rmsAt(), startPosix_, d), d);
    }
    {
        size_t d = delay(rng_);
        const uint64_t id = commId();
        ZeltGenerator gen(kRate);
        gen.AddCommercial(id);
        std::vector<float> period = gen.Render(Seconds(kZeltCommPeriod), rmsAt());
        add(kZeltRs, CodeKey(kZeltRs, id), new Tile(std::move(period), d), d);
    }
    if (verbose_) {
        std::fprintf(stderr, "channel %u at %.2f s, %.2f s long:", channel_, t,
                     Seconds(size_t(segmentEnd_ - at_)));
        for (const ExpectedCode& c : codes) std::fprintf(stderr, " %s", c.key.c_str());
        std::fputc('\n', stderr);
    }
    ledger_->StartSegment(channel_, t, std::move(codes));
    ++segments_;
}

void SoakChannel::NextBlock(int16_t* out) {
    if (at_ >= segmentEnd_) StartSegment();
    for (int i = 0; i < kBlockFrames; ++i) {
        mix_[i] = host_[hostPos_];
        if (++hostPos_ == host_.size()) hostPos_ = 0;
    }
    for (auto& part : parts_) part->AddTo(mix_, kBlockFrames, at_);
    for (int i = 0; i < kBlockFrames; ++i) {
        const float v = std::nearbyint(mix_[i] * level_ * 32768.0f);
        out[i] = int16_t(std::max(-32768.0f, std::min(32767.0f, v)));
    }
    at_ += kBlockFrames;
}

}  // namespace soak
