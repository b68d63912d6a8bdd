#include "generators/SignalMix.h"

#include <algorithm>
#include <cmath>

namespace Kelvane {
namespace Generators {

namespace {

// Small deterministic generator (xorshift64*), so noise does not depend on the
// standard library's distributions.
class NoiseSource {
public:
    explicit NoiseSource(uint32_t seed) : state_(0x9E3779B97F4A7C15ull ^ (uint64_t(seed) << 1)) {
        if (state_ == 0) state_ = 1;
    }
    // Gaussian sample (Box-Muller), mean 0, variance 1.
    double Gauss() {
        if (haveSpare_) {
            haveSpare_ = false;
            return spare_;
        }
        double u1 = Uniform01();
        double u2 = Uniform01();
        if (u1 < 1e-300) u1 = 1e-300;
        double r = std::sqrt(-2.0 * std::log(u1));
        spare_ = r * std::sin(2.0 * M_PI * u2);
        haveSpare_ = true;
        return r * std::cos(2.0 * M_PI * u2);
    }

private:
    double Uniform01() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        uint64_t v = state_ * 0x2545F4914F6CDD1Dull;
        return double(v >> 11) * (1.0 / 9007199254740992.0);
    }
    uint64_t state_;
    bool haveSpare_ = false;
    double spare_ = 0.0;
};

void ScaleToRms(std::vector<float>& x, double rms) {
    double cur = SignalMix::Rms(x);
    if (cur <= 0.0) return;
    float g = float(rms / cur);
    for (float& v : x) v *= g;
}

}  // namespace

std::vector<float> SignalMix::MakeHost(HostKind kind, std::size_t count, double rms,
                                       uint32_t seed) {
    std::vector<float> out(count, 0.0f);
    if (kind == HostKind::Silence || count == 0) return out;
    NoiseSource src(seed);
    if (kind == HostKind::WhiteNoise) {
        for (auto& v : out) v = float(src.Gauss());
    } else {
        // Sum of first-order low-pass sections whose poles are spread so that
        // the total approximates a 1/f power spectrum over the audio band.
        double b0 = 0, b1 = 0, b2 = 0, b3 = 0, b4 = 0, b5 = 0, b6 = 0;
        for (auto& v : out) {
            double w = src.Gauss();
            b0 = 0.99886 * b0 + w * 0.0555179;
            b1 = 0.99332 * b1 + w * 0.0750759;
            b2 = 0.96900 * b2 + w * 0.1538520;
            b3 = 0.86650 * b3 + w * 0.3104856;
            b4 = 0.55000 * b4 + w * 0.5329522;
            b5 = -0.7616 * b5 - w * 0.0168980;
            v = float(b0 + b1 + b2 + b3 + b4 + b5 + b6 + w * 0.5362);
            b6 = w * 0.115926;
        }
    }
    ScaleToRms(out, rms);
    return out;
}

double SignalMix::Rms(const float* samples, std::size_t count) {
    if (count == 0 || samples == nullptr) return 0.0;
    double acc = 0.0;
    for (std::size_t i = 0; i < count; ++i) acc += double(samples[i]) * samples[i];
    return std::sqrt(acc / double(count));
}

double SignalMix::Rms(const std::vector<float>& samples) {
    return Rms(samples.data(), samples.size());
}

double SignalMix::RatioDb(const std::vector<float>& watermark, const std::vector<float>& host) {
    double w = Rms(watermark);
    double h = Rms(host);
    if (h <= 0.0) return INFINITY;
    if (w <= 0.0) return -INFINITY;
    return 20.0 * std::log10(w / h);
}

std::vector<float> SignalMix::Mix(const std::vector<float>& watermark,
                                  const std::vector<float>& host, double ratioDb) {
    std::size_t n = std::max(watermark.size(), host.size());
    std::vector<float> out(n, 0.0f);
    double w = Rms(watermark);
    double h = Rms(host);
    double g = 1.0;
    if (h > 0.0 && w > 0.0) g = h * std::pow(10.0, ratioDb / 20.0) / w;
    for (std::size_t i = 0; i < n; ++i) {
        double v = 0.0;
        if (i < host.size()) v += host[i];
        if (i < watermark.size()) v += g * watermark[i];
        out[i] = float(v);
    }
    return out;
}

std::vector<float> SignalMix::MixSeveral(const std::vector<float>& host,
                                          const std::vector<std::vector<float>>& watermarks,
                                          const std::vector<double>& ratiosDb,
                                          double silentReferenceRms) {
    // The reference is measured once, before anything is added: a watermark
    // mixed in later must not be scaled against the host plus earlier ones.
    double reference = Rms(host);
    if (reference <= 0.0) reference = silentReferenceRms;
    std::vector<double> acc(host.begin(), host.end());
    for (std::size_t k = 0; k < watermarks.size(); ++k) {
        const std::vector<float>& wm = watermarks[k];
        const double rms = Rms(wm);
        if (rms <= 0.0) continue;
        const double ratio = k < ratiosDb.size() ? ratiosDb[k] : 0.0;
        const double g = reference * std::pow(10.0, ratio / 20.0) / rms;
        const std::size_t n = std::min(wm.size(), acc.size());
        for (std::size_t i = 0; i < n; ++i) acc[i] += g * wm[i];
    }
    return std::vector<float>(acc.begin(), acc.end());
}

std::vector<int16_t> SignalMix::ToInt16(const std::vector<float>& samples) {
    std::vector<int16_t> out(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        double v = std::nearbyint(double(samples[i]) * 32768.0);
        if (!(v >= -32768.0)) v = -32768.0;  // also catches NaN
        if (v > 32767.0) v = 32767.0;
        out[i] = int16_t(v);
    }
    return out;
}

std::vector<int16_t> SignalMix::Interleave(const std::vector<std::vector<int16_t>>& channels) {
    std::size_t frames = 0;
    for (const auto& c : channels) frames = std::max(frames, c.size());
    std::size_t nc = channels.size();
    std::vector<int16_t> out(frames * nc, 0);
    for (std::size_t c = 0; c < nc; ++c)
        for (std::size_t i = 0; i < channels[c].size(); ++i) out[i * nc + c] = channels[c][i];
    return out;
}

}  // namespace Generators
}  // namespace Kelvane
