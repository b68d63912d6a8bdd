#include "decoders/tesk6/CTesk6Decoder.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "audiocore/CAudioResampler.h"
#include "audiocore/CBufferManagerLL.h"
#include "timebase/TeskTime.h"

namespace Kelvane {
namespace TESKVI {

using Kelvane::AudioCore::BaseAudioConsumer;
using Kelvane::AudioCore::CAudioConsumerManager;
using Kelvane::AudioCore::CAudioResampler;
using Kelvane::AudioCore::CBufferManagerLL;

namespace {

const char* LayerName(uint32_t layer) {
    switch (layer) {
        case T6M_LAYER_PROG:
            return "PROG";
        case T6M_LAYER_COMM_STD:
            return "COMM_STD";
        case T6M_LAYER_COMM_RS:
            return "COMM_RS";
        default:
            return "UN";
    }
}

const char* DistName(uint32_t dist) {
    static const char* const kNames[4] = {"PC", "FD1", "FD2", "FD3"};
    return dist < 4 ? kNames[dist] : "Undefined";
}

constexpr double kFlushSeconds = 2.7;
constexpr double kBlockSeconds = 0.032;

}  // namespace

CTesk6Decoder::CTesk6Decoder() : BaseAudioConsumer() {}

CTesk6Decoder::CTesk6Decoder(int inputSampleRate) : BaseAudioConsumer(1, 1, inputSampleRate) {
    bool valid = inputSampleRate == int(kDecoderRate) ||
                 (inputSampleRate >= int(kDecoderRate) &&
                  CAudioConsumerManager::IsSupportedFrequency(inputSampleRate, kDecoderRate));
    if (!valid) throw std::invalid_argument("Sample rate not supported for TESK 6 decoder");
}

CTesk6Decoder::~CTesk6Decoder() = default;

void CTesk6Decoder::GetVersion(int* major, int* minor, int* patch) {
    if (major) *major = 4;
    if (minor) *minor = 1;
    if (patch) *patch = 4;
}

void CTesk6Decoder::init(std::string parameters) {
    (void)parameters;
    m_requiredSampleRate = kDecoderRate;
    m_sampleFormat = kSampleFormatInt16;
    if (m_inputSampleRate == 0) m_inputSampleRate = int(kDecoderRate);
    if (m_inputSampleRate != int(kDecoderRate)) {
        m_resampler.reset(new CAudioResampler(1, m_inputSampleRate, 16, 1, int(kDecoderRate), 16,
                                              kBlockBytes / 2, 100, 0));
        if (!m_resampler->IsInitialized()) {
            m_resampler.reset();
            throw std::runtime_error("TESK 6 init: Unable to create resampler.");
        }
    }
    m_reporter.reset(new CT6WatermarkReporter());
    m_t6Engine.reset(new CTesk6Engine(m_reporter.get()));
    m_engine = m_t6Engine.get();
    m_table.reset(new CT6WatermarkTableManager());
    m_table->Reset();
    m_reporter->SetDataWriter(m_table.get());
    m_blockSizeBytes = kBlockBytes;
    m_bufferManager.reset(new CBufferManagerLL(kBlockBytes, 0));
    if (m_bufferManager->GetError()) {
        m_bufferManager.reset();
        throw std::runtime_error("TESK 6 init: Unable to create linked-list buffer.");
    }
}

std::string CTesk6Decoder::RecordToJson(const Tesk6Record_t& record, uint32_t frameCounter) {
    const _T6M_Detection_t& d = record.detection;
    const double decoded = double(frameCounter) * 512.0 / 16000.0;
    double elapsed = decoded - double(d.lastSymAge) / 1000.0;
    if (elapsed < 0) elapsed = decoded;

    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key("TESK6");
    w.StartObject();
    w.Key("elapsedTime");
    w.Double(elapsed);
    w.Key("layer");
    w.String(LayerName(d.layer));
    if (d.layer == T6M_LAYER_COMM_RS) {
        char hex[32];
        snprintf(hex, sizeof(hex), "0x%llx", (unsigned long long)d.commId);
        w.Key("commId");
        w.String(hex);
    } else {
        w.Key("sid");
        w.Uint(d.sid);
    }
    w.Key("firstSymAge");
    w.Int(d.firstSymAge);
    w.Key("lastSymAge");
    w.Int(d.lastSymAge);
    w.Key("quality");
    w.Uint(d.quality);
    w.Key("strength");
    w.Int(d.strength);
    w.Key("depth");
    w.Uint(d.depth);
    w.Key("phase");
    w.Uint(d.phase);
    w.Key("timestamp");
    w.Int(int32_t(d.timestamp));
    w.Key("dst");
    w.Uint(d.dst);
    w.Key("systemTime");
    w.Uint(Tesk6ToPosix(d.timestamp, d.dst));
    w.Key("dist");
    w.String(DistName(d.dist));
    w.Key("transmission");
    w.Uint(d.transmission != 0 ? 1u : 0u);
    w.Key("sampleBlockIndex");
    w.Uint(uint32_t(uint64_t(elapsed * 16000.0 / 512.0)));
    w.Key("redundantCommStd");
    w.Uint(record.status == 0 ? 1u : 0u);
    w.EndObject();
    w.EndObject();
    return std::string(sb.GetString(), sb.GetSize());
}

int CTesk6Decoder::ProcessBuffer(void* data, void* controlBlock) {
    if (data == nullptr) {
        NotifyRegisteredLogCallbacks(-1, "DecodeBuffer: NULL data pointer.");
        return -1;
    }
    if (controlBlock == nullptr) {
        NotifyRegisteredLogCallbacks(-1,
                                     "ProcessBuffer, TESK 6 Engine: NULL pointer to control block");
        return -1;
    }
    CTesk6Engine* engine = static_cast<CTesk6Engine*>(controlBlock);
    if (engine->ProcessAudioBuffer(static_cast<signed char*>(data), kBlockBytes) != 0) {
        NotifyRegisteredLogCallbacks(
            -2, "ProcessBuffer, TESK 6 Engine: Error processing audio buffer.");
        if (m_table) m_table->Reset();
        return -2;
    }
    if (!m_table) return 0;
    m_table->SetStatusOfWatermarkTableRecords();
    const uint32_t count = m_table->Count();
    if (count > 0) {
        const uint32_t frame = m_table->Record(0).frame;
        // Texts are built first: a callback may not see a half-reported table.
        std::vector<std::string> texts;
        texts.reserve(count);
        for (uint32_t i = 0; i < count; ++i)
            texts.push_back(RecordToJson(m_table->Record(i), frame));
        m_table->Reset();
        for (auto& t : texts) NotifyRegisteredCallbacks(t);
    } else {
        m_table->Reset();
    }
    return 0;
}

int CTesk6Decoder::FlushData() {
    if (!m_bufferManager || !m_engine) return 0;
    std::vector<unsigned char> block(kBlockBytes, 0);
    double flushed = 0.0;
    int got = m_bufferManager->GetData(block.data(), kBlockBytes);
    if (got > 0) {
        int r = ProcessBuffer(block.data(), m_engine);
        if (r < 0) return r;
        flushed = kBlockSeconds;
    }
    std::fill(block.begin(), block.end(), 0);
    while (flushed < kFlushSeconds) {
        int r = ProcessBuffer(block.data(), m_engine);
        if (r < 0) return r;
        flushed += kBlockSeconds;
    }
    return 0;
}

void CTesk6Decoder::shutdown() { FlushData(); }

}  // namespace TESKVI
}  // namespace Kelvane
