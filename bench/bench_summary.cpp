// The speed table of `make bench`, in one run and on one thread:
//   - each engine spectrum against FFTW doing the same job (window, conversion, real
//     transform, power of the same bins), as a time ratio;
//   - the resampler against libsoxr and speexdsp for the same conversions, as multiples of
//     real time (seconds of input converted per second of processor time);
//   - each decoder adapter (48 kHz 16-bit input in 10 ms blocks, resampling included) and the
//     whole one-channel pipeline (meter, the three filtered decoders, host ring), as multiples
//     of real time per channel;
//   - the heap a decoded channel holds.
// Every figure is the median of several timed runs of thread processor time, so other load on
// the machine disturbs it less than wall time would; it is still noisy on a busy machine.
#include <fftw3.h>
#include <malloc.h>
#include <soxr.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/CAudioConsumerManager.h"
#include "audiocore/CAudioResampler.h"
#include "audiocore/CBufferManagerLL.h"
#include "audiocore/CMeter.h"
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/zelt/ZELTDecoderAdapter.h"
#include "dsp/Fft.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"

using namespace Kelvane::Generators;
using Kelvane::AudioCore::CAudioConsumerManager;
using Kelvane::AudioCore::PACKING_MODE_NOT_USED;

namespace {

double ThreadSeconds() {
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

// Median processor time of one call of fn over `runs` runs (after one untimed run).
double MedianSeconds(int runs, const std::function<void()>& fn) {
    fn();
    std::vector<double> t;
    for (int i = 0; i < runs; ++i) {
        const double start = ThreadSeconds();
        fn();
        t.push_back(ThreadSeconds() - start);
    }
    std::sort(t.begin(), t.end());
    return t[t.size() / 2];
}

// ---- FFT ----

class FftwPower {
public:
    explicit FftwPower(int n) : n_(n) {
        in_ = fftwf_alloc_real(n);
        out_ = fftwf_alloc_complex(n / 2 + 1);
        plan_ = fftwf_plan_dft_r2c_1d(n, in_, out_, FFTW_MEASURE);
    }
    ~FftwPower() {
        fftwf_destroy_plan(plan_);
        fftwf_free(in_);
        fftwf_free(out_);
    }
    FftwPower(const FftwPower&) = delete;
    FftwPower& operator=(const FftwPower&) = delete;
    template <typename In>
    void Run(const In* input, const float* window, float* power, int firstBin) {
        if (window != nullptr) {
            for (int i = 0; i < n_; ++i) in_[i] = static_cast<float>(input[i]) * window[i];
        } else {
            for (int i = 0; i < n_; ++i) in_[i] = static_cast<float>(input[i]);
        }
        fftwf_execute(plan_);
        for (int k = firstBin; k <= n_ / 2 - firstBin; ++k)
            power[k] = out_[k][0] * out_[k][0] + out_[k][1] * out_[k][1];
    }

private:
    int n_;
    float* in_;
    fftwf_complex* out_;
    fftwf_plan plan_;
};

volatile float g_sink;

void FftRows() {
    std::mt19937 rng(42);
    std::uniform_real_distribution<float> d(-8000.0f, 8000.0f);
    std::vector<float> f(3072);
    std::vector<int16_t> s(2048);
    for (float& x : f) x = d(rng);
    for (int16_t& x : s) x = static_cast<int16_t>(d(rng));
    std::vector<float> work(3072), power(3072);
    constexpr int kReps = 2000;
    struct Row {
        const char* name;
        std::function<void()> engine, fftw;
    };
    FftwPower f3072(3072), f2048(2048), f256(256);
    const Row rows[] = {
        {"TESK 6: 3072-point float, power from bin 534",
         [&] {
             for (int i = 0; i < kReps; ++i)
                 g_sink = FFT_Flt_3KR4_RealIn_PowerOut_FF(3072, f.data(), work.data(), 534);
         },
         [&] {
             for (int i = 0; i < kReps; ++i) f3072.Run(f.data(), nullptr, power.data(), 534);
             g_sink = power[600];
         }},
        {"ZELT: 2048-point 16-bit, Hamming, power from bin 252",
         [&] {
             for (int i = 0; i < kReps; ++i)
                 g_sink = FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(2048, s.data(), FFT_FLT_HAMMING_2048,
                                                             work.data(), 252);
         },
         [&] {
             for (int i = 0; i < kReps; ++i)
                 f2048.Run(s.data(), FFT_FLT_HAMMING_2048, power.data(), 252);
             g_sink = power[300];
         }},
        {"TESK 2: 256-point float, Hann, power from bin 46",
         [&] {
             for (int i = 0; i < kReps; ++i)
                 g_sink = FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(256, f.data(), FFT_FLT_HANN_256,
                                                             work.data(), 46);
         },
         [&] {
             for (int i = 0; i < kReps; ++i)
                 f256.Run(f.data(), FFT_FLT_HANN_256, power.data(), 46);
             g_sink = power[60];
         }},
    };
    std::printf("\nFFT (one spectrum; FFTW single precision, measured plan)\n");
    std::printf("  %-54s %10s %10s %7s\n", "transform", "engine us", "FFTW us", "ratio");
    for (const Row& r : rows) {
        const double e = MedianSeconds(7, r.engine) / kReps * 1e6;
        const double w = MedianSeconds(7, r.fftw) / kReps * 1e6;
        std::printf("  %-54s %10.2f %10.2f %6.2fx\n", r.name, e, w, e / w);
    }
}

// ---- Resampler ----

struct NullBuffer : Kelvane::AudioCore::IBufferManager {
    int PutData(const unsigned char*, unsigned int length, unsigned int*) override {
        return static_cast<int>(length);
    }
    int GetData(unsigned char**) override { return 0; }
    int GetData(unsigned char*, unsigned int) override { return 0; }
    void ReleaseData() override {}
    void WaitForData() override {}
    void CancelWait() override {}
    void Reset() override {}
    bool GetError() const override { return false; }
};

void ResamplerRows() {
    constexpr double kSeconds = 10.0;
    std::printf(
        "\nResampler (16-bit mono, 10 ms input blocks; times real time; libsoxr at its low\n"
        "quality, speexdsp at quality 3)\n");
    std::printf("  %-18s %10s %10s %10s\n", "conversion", "engine", "libsoxr", "speexdsp");
    const int pairs[][2] = {{48000, 16000}, {48000, 24000}, {48000, 8000},
                            {44100, 16000}, {44100, 24000}, {44100, 8000}};
    for (const auto& pr : pairs) {
        const int in = pr[0], out = pr[1];
        const std::vector<int16_t> pcm = SignalMix::ToInt16(
            SignalMix::MakeHost(HostKind::PinkNoise, static_cast<size_t>(in * kSeconds), 0.1, 9));
        const size_t block = static_cast<size_t>(in) / 100;
        std::vector<int16_t> outBuf(block * 4 + 64);

        const double ours = MedianSeconds(5, [&] {
            Kelvane::AudioCore::CAudioResampler r(1, in, 16, 1, out, 16, 512, 100, 0);
            NullBuffer sink;
            for (size_t i = 0; i + block <= pcm.size(); i += block)
                r.Resample_Int(reinterpret_cast<unsigned char*>(const_cast<int16_t*>(&pcm[i])),
                               static_cast<unsigned>(2 * block), sink);
        });
        const double soxr = MedianSeconds(5, [&] {
            soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
            soxr_quality_spec_t q = soxr_quality_spec(SOXR_LQ, 0);
            soxr_error_t err = nullptr;
            soxr_t s = soxr_create(in, out, 1, &err, &io, &q, nullptr);
            if (err != nullptr) return;
            for (size_t i = 0; i + block <= pcm.size(); i += block) {
                size_t done = 0, made = 0;
                soxr_process(s, &pcm[i], block, &done, outBuf.data(), outBuf.size(), &made);
            }
            soxr_delete(s);
        });
        const double speex = MedianSeconds(5, [&] {
            int err = 0;
            SpeexResamplerState* s = speex_resampler_init(1, static_cast<spx_uint32_t>(in),
                                                          static_cast<spx_uint32_t>(out), 3, &err);
            if (s == nullptr) return;
            for (size_t i = 0; i + block <= pcm.size(); i += block) {
                spx_uint32_t inLen = static_cast<spx_uint32_t>(block);
                spx_uint32_t outLen = static_cast<spx_uint32_t>(outBuf.size());
                speex_resampler_process_int(s, 0, &pcm[i], &inLen, outBuf.data(), &outLen);
            }
            speex_resampler_destroy(s);
        });
        char name[32];
        std::snprintf(name, sizeof name, "%d -> %d", in, out);
        std::printf("  %-18s %9.0fx %9.0fx %9.0fx\n", name, kSeconds / ours, kSeconds / soxr,
                    kSeconds / speex);
    }
}

// ---- Decoders and the whole pipeline ----

constexpr double kAudioSeconds = 20.0;

// One 48 kHz channel of pink noise carrying a TESK 6, a TESK 2 and a ZELT message.
std::vector<int16_t> ThreeFamilyAudio() {
    const size_t frames = static_cast<size_t>(kAudioSeconds * 48000);
    Tesk6Generator t6(48000);
    Tesk6Message m6;
    m6.sid = 0x1234;
    m6.timestamp = 400000000u;
    t6.Add(m6);
    Tesk2Generator t2(48000);
    Tesk2Message m2;
    m2.sid = 0x0abc;
    m2.timestamp = 900000000u;
    t2.Add(m2);
    ZeltGenerator zelt(48000);
    zelt.AddProgram(1, 0x1235, 1000);
    std::vector<float> wm = t6.Synthesize(kAudioSeconds);
    const std::vector<float> w2 = t2.Synthesize(kAudioSeconds);
    const std::vector<float> wz = zelt.Render(kAudioSeconds, 0.05);
    wm.resize(frames, 0.0f);
    for (size_t i = 0; i < frames; ++i)
        wm[i] += (i < w2.size() ? w2[i] : 0.0f) + (i < wz.size() ? wz[i] : 0.0f);
    return SignalMix::ToInt16(
        SignalMix::Mix(wm, SignalMix::MakeHost(HostKind::PinkNoise, frames, 0.1, 3), -20.0));
}

template <typename Adapter>
double AdapterSeconds(const std::vector<int16_t>& pcm) {
    return MedianSeconds(5, [&] {
        Adapter adapter(48000);
        adapter.init("");
        CAudioConsumerManager manager;
        manager.RegisterConsumer(adapter);
        for (size_t i = 0; i + 480 <= pcm.size(); i += 480)
            manager.ProcessAudioBlock(const_cast<int16_t*>(&pcm[i]), 960, 0, 0, 48000, 16,
                                      PACKING_MODE_NOT_USED);
    });
}

const char kAllFamilies[] =
    "{\"Parameters\":[{\"TESK6Filtered\":{}},{\"TESK2Filtered\":{}},{\"ZELTFiltered\":{}}]}";

std::unique_ptr<CMeter> MakeMeter(int channels, CTavikReportImplementation* report,
                                  SampleAppConfigurationData* cfg,
                                  Kelvane::AudioCore::AudioChannelConfiguration* acc) {
    *cfg = SampleAppConfigurationData{};
    cfg->reportCallback = report;
    cfg->reportMode = 1;
    acc->channels = channels;
    acc->sampleRate = 48000;
    acc->bitsPerSample = 16;
    return std::make_unique<CMeter>(
        cfg, nullptr, acc, kAllFamilies,
        std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
        std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
}

void DecoderRows() {
    const std::vector<int16_t> pcm = ThreeFamilyAudio();
    std::printf("\nDecoders (48 kHz 16-bit, 10 ms blocks, %.0f s of audio; times real time per "
                "channel)\n",
                kAudioSeconds);
    const double t6 = AdapterSeconds<Kelvane::TESKVI::CTesk6Decoder>(pcm);
    const double t2 = AdapterSeconds<Kelvane::TESKII::CTesk2HybridDecoder>(pcm);
    const double z = AdapterSeconds<Kelvane::ZELT::ZELTDecoderAdapter>(pcm);
    std::printf("  %-54s %9.0fx\n", "TESK 6 adapter (resampling to 16 kHz, engine)",
                kAudioSeconds / t6);
    std::printf("  %-54s %9.0fx\n", "TESK 2 adapter (resampling to 24 kHz, engine)",
                kAudioSeconds / t2);
    std::printf("  %-54s %9.0fx\n", "ZELT adapter (resampling to 8 kHz, engine)", kAudioSeconds / z);

    static CTavikReportImplementation report;
    ReportT2 = ReportTw = ReportZelt = true;
    bT2RawOutput = bTwRawOutput = bZeltRawOutput = false;
    int codes = 0;
    const double full = MedianSeconds(5, [&] {
        SampleAppConfigurationData cfg;
        Kelvane::AudioCore::AudioChannelConfiguration acc;
        std::unique_ptr<CMeter> meter = MakeMeter(1, &report, &cfg, &acc);
        char text[2048];
        codes = 0;
        for (size_t i = 0; i + 480 <= pcm.size(); i += 480) {
            meter->ProcessAudioBuffer(const_cast<int16_t*>(&pcm[i]), 960, 0, 0);
            while (hostGetAudioCodes(0, text, sizeof text) == 1) ++codes;
        }
    });
    std::printf("  %-54s %9.0fx  (%d codes)\n", "full pipeline: meter, all three filtered decoders",
                kAudioSeconds / full, codes);

    // Heap held by the decoders of one channel: the growth of the heap in use while a meter of
    // six channels is built, per channel.
    SampleAppConfigurationData cfg;
    Kelvane::AudioCore::AudioChannelConfiguration acc;
    const size_t before = mallinfo2().uordblks;
    std::unique_ptr<CMeter> meter = MakeMeter(6, &report, &cfg, &acc);
    const size_t after = mallinfo2().uordblks;
    std::printf("\nMemory: %.0f KiB of heap per channel (all three decoders, six-channel meter)\n",
                static_cast<double>(after - before) / 6.0 / 1024.0);
}

}  // namespace

int main() {
    std::printf("tavik3 speed table (median of timed runs, thread processor time, one thread)\n");
    FftRows();
    ResamplerRows();
    DecoderRows();
    return 0;
}
