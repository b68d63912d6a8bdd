// Live decoding must not touch the heap once it runs: this program replaces the global
// operator new (every form; the library calls no malloc of its own) with a counting one and
// asserts that, after a warm-up, no allocation happens while frames are processed by
//   - each family's engine, fed watermarked audio at its working rate (FFT, cores, detection
//     searches and the reporter path run);
//   - each decoder adapter, fed 10 ms blocks of a 48 kHz or 44.1 kHz recording without
//     watermarks through a channel's consumer manager as the meter does (block, sample
//     conversion, resampling, buffering, engine). Nothing is reported
//     there; a report is a JSON text and may allocate.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <new>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "decoders/tesk2/CTesk2Engine.h"
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/tesk6/CTesk6Engine.h"
#include "decoders/zelt/CZeltEngine.h"
#include "decoders/zelt/ZELTDecoderAdapter.h"
#include "generators/SignalMix.h"
#include "generators/Tesk2Generator.h"
#include "generators/Tesk6Generator.h"
#include "generators/ZeltGenerator.h"

namespace {
thread_local bool g_counting = false;
thread_local long g_allocations = 0;

void* Allocate(std::size_t n) {
    if (g_counting) ++g_allocations;
    void* p = std::malloc(n == 0 ? 1 : n);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
void* AllocateAligned(std::size_t n, std::align_val_t a) {
    if (g_counting) ++g_allocations;
    const std::size_t align = static_cast<std::size_t>(a);
    void* p = std::aligned_alloc(align, (n + align - 1) / align * align);
    if (p == nullptr) throw std::bad_alloc();
    return p;
}
}  // namespace

void* operator new(std::size_t n) { return Allocate(n); }
void* operator new[](std::size_t n) { return Allocate(n); }
void* operator new(std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t n, const std::nothrow_t&) noexcept {
    try {
        return Allocate(n);
    } catch (...) {
        return nullptr;
    }
}
void* operator new(std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void* operator new[](std::size_t n, std::align_val_t a) { return AllocateAligned(n, a); }
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept { std::free(p); }

namespace {

using namespace Kelvane::Generators;

struct NullReporter : CBaseOutputReporter {
    void DataCallback(void*, float, int) override {}
};

// Counts the allocations made by fn.
template <typename Fn>
long CountAllocations(Fn fn) {
    g_allocations = 0;
    g_counting = true;
    fn();
    g_counting = false;
    return g_allocations;
}

std::vector<int16_t> Marked(const std::vector<float>& wm, uint64_t seed) {
    return SignalMix::ToInt16(
        SignalMix::Mix(wm, SignalMix::MakeHost(HostKind::PinkNoise, wm.size(), 0.1, seed), -15.0));
}

// Feeds pcm to an engine in blocks of `block` samples: the first half warms up, the second
// half is counted.
template <typename Engine, typename Ptr>
long EngineAllocations(Engine& engine, const std::vector<int16_t>& pcm, size_t block) {
    const size_t half = pcm.size() / 2 / block * block;
    auto run = [&](size_t from, size_t to) {
        for (size_t i = from; i + block <= to; i += block)
            engine.ProcessAudioBuffer(reinterpret_cast<Ptr>(const_cast<int16_t*>(&pcm[i])),
                                      static_cast<unsigned>(2 * block));
    };
    run(0, half);
    return CountAllocations([&] { run(half, pcm.size()); });
}

TEST(FrameAllocations, EnginesRunWithoutTheHeap) {
    NullReporter rep;
    {
        Tesk6Generator g(16000);
        Tesk6Message m;
        m.sid = 0x1234;
        m.timestamp = 1000000;
        g.Add(m);
        Tesk6Message rs;
        rs.kind = Tesk6Kind::CommercialRs;
        rs.commId = 0x123456789ull;
        g.Add(rs);
        CTesk6Engine engine(&rep);
        engine.Initialize();
        EXPECT_EQ((EngineAllocations<CTesk6Engine, signed char*>(engine, Marked(g.Synthesize(16), 1),
                                                                 512)),
                  0)
            << "TESK 6";
    }
    {
        Tesk2Generator g(24000);
        Tesk2Message m;
        m.sid = 0x0abc;
        m.timestamp = 946000000;
        g.Add(m);
        CTesk2Engine engine(&rep);
        engine.Initialize();
        EXPECT_EQ((EngineAllocations<CTesk2Engine, signed char*>(engine, Marked(g.Synthesize(12), 2),
                                                                 64)),
                  0)
            << "TESK 2";
    }
    {
        ZeltGenerator g(8000);
        g.AddProgram(1, 0x1235, 1000);
        g.AddCommercial(0x5A3C96E1Full);
        CZeltEngine engine(&rep);
        engine.Initialize();
        EXPECT_EQ((EngineAllocations<CZeltEngine, const uint8_t*>(
                      engine, g.RenderMixed(12, HostKind::PinkNoise, -15.0, 3), 800)),
                  0)
            << "ZELT";
    }
}

// 10 ms blocks of noise through an adapter: 2 s of warm-up, then 4 s counted.
template <typename Adapter>
long AdapterAllocations(int rate, HostKind host) {
    const size_t block = static_cast<size_t>(rate) / 100;
    const std::vector<int16_t> pcm =
        SignalMix::ToInt16(SignalMix::MakeHost(host, static_cast<size_t>(rate) * 6, 0.1, 5));
    Adapter adapter(rate);
    adapter.init("");
    Kelvane::AudioCore::CAudioConsumerManager manager;
    manager.RegisterConsumer(adapter);
    auto run = [&](size_t from, size_t to) {
        for (size_t i = from; i + block <= to; i += block)
            manager.ProcessAudioBlock(const_cast<int16_t*>(&pcm[i]), static_cast<int>(2 * block),
                                      0, 0, rate, 16, Kelvane::AudioCore::PACKING_MODE_NOT_USED);
    };
    run(0, 2 * block * 100);
    return CountAllocations([&] { run(2 * block * 100, pcm.size()); });
}

TEST(FrameAllocations, AdapterPipelinesRunWithoutTheHeap) {
    for (int rate : {48000, 44100}) {
        for (HostKind host : {HostKind::PinkNoise, HostKind::WhiteNoise}) {
            EXPECT_EQ(AdapterAllocations<Kelvane::TESKVI::CTesk6Decoder>(rate, host), 0)
                << "TESK 6 at " << rate;
            EXPECT_EQ(AdapterAllocations<Kelvane::TESKII::CTesk2HybridDecoder>(rate, host), 0)
                << "TESK 2 at " << rate;
            EXPECT_EQ(AdapterAllocations<Kelvane::ZELT::ZELTDecoderAdapter>(rate, host), 0)
                << "ZELT at " << rate;
        }
    }
}

}  // namespace
