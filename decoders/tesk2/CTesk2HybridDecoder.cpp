#include "decoders/tesk2/CTesk2HybridDecoder.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "audiocore/CAudioResampler.h"
#include "audiocore/CBufferManagerLL.h"
#include "timebase/TeskTime.h"

namespace Kelvane {
namespace TESKII {

using Kelvane::AudioCore::BaseAudioConsumer;
using Kelvane::AudioCore::CAudioConsumerManager;
using Kelvane::AudioCore::CAudioResampler;
using Kelvane::AudioCore::CBufferManagerLL;

namespace {

const char* LayerName(uint32_t layer) {
    switch (layer) {
        case T2M_LAYER_PROG:
            return "PROG";
        case T2M_LAYER_COMM_STD:
            return "COMM_STD";
        case T2M_LAYER_COMM_RS:
            return "COMM_RS";
        default:
            return "UN";
    }
}

const char* DistName(uint32_t field) {
    switch (field) {
        case 0:
            return "COMM_STD";
        case 1:
            return "PC";
        case 2:
            return "FD";
        default:
            return "UN";
    }
}

constexpr double kBlockSeconds = 0.0026666666666666666;
constexpr double kFlushSeconds = 2.997333333333333;

}  // namespace

CTesk2HybridDecoder::CTesk2HybridDecoder() : BaseAudioConsumer() {
    m_requiredSampleRate = kDecoderRate;
}

CTesk2HybridDecoder::CTesk2HybridDecoder(int inputSampleRate)
    : BaseAudioConsumer(1, 1, inputSampleRate) {
    m_requiredSampleRate = kDecoderRate;
    const bool valid = inputSampleRate == int(kDecoderRate) ||
                       (inputSampleRate >= int(kDecoderRate) &&
                        CAudioConsumerManager::IsSupportedFrequency(inputSampleRate, kDecoderRate));
    if (!valid) throw std::invalid_argument("Sample rate is not supported by TESK 2 decoder.");
}

CTesk2HybridDecoder::~CTesk2HybridDecoder() = default;

void CTesk2HybridDecoder::GetVersion(int* major, int* minor, int* patch) {
    if (major) *major = 4;
    if (minor) *minor = 1;
    if (patch) *patch = 3;
}

void CTesk2HybridDecoder::init(std::string parameters) {
    (void)parameters;
    m_requiredSampleRate = kDecoderRate;
    m_sampleFormat = kSampleFormatInt16;
    if (!m_resultCallbacks || !m_logCallbacks) {
        throw std::runtime_error("TESK 2 init: Callback lists not created.");
    }
    if (m_inputSampleRate == 0) m_inputSampleRate = int(kDecoderRate);
    if (m_inputSampleRate != int(kDecoderRate)) {
        m_resampler.reset(new CAudioResampler(1, m_inputSampleRate, 16, 1, int(kDecoderRate), 16,
                                              kBlockBytes / 2, 100, 0));
        if (!m_resampler->IsInitialized()) {
            m_resampler.reset();
            throw std::runtime_error("TESK 2 init: Unable to create resampler.");
        }
    }
    m_reporter.reset(new CT2WatermarkReporter());
    m_t2Engine.reset(new CTesk2Engine(m_reporter.get()));
    m_engine = m_t2Engine.get();
    m_table.reset(new CT2WatermarkTableManager());
    m_table->Reset();
    m_reporter->SetDataWriter(m_table.get());
    m_blockSizeBytes = kBlockBytes;
    m_bufferManager.reset(new CBufferManagerLL(kBlockBytes, 0));
    if (m_bufferManager->GetError()) {
        m_bufferManager.reset();
        throw std::runtime_error("TESK 2 init: Unable to create linked-list buffer.");
    }
}

std::string CTesk2HybridDecoder::RecordToJson(const Tesk2Record_t& record, uint32_t frameCounter) {
    const _T2M_Detection_t& d = record.detection;
    const double decoded = double(frameCounter) * 64.0 / 24000.0;
    double elapsed = decoded - double(d.lastSymAge) / 1000.0;
    if (elapsed < 0) elapsed = decoded;

    rapidjson::StringBuffer sb;
    rapidjson::Writer<rapidjson::StringBuffer> w(sb);
    w.StartObject();
    w.Key("TESK2");
    w.StartObject();
    w.Key("elapsedTime");
    w.Double(elapsed);
    w.Key("layer");
    w.String(LayerName(d.layer));
    if (d.layer == T2M_LAYER_COMM_RS) {
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
    w.Uint(d.flag);
    w.Key("systemTime");
    uint8_t ambiguity = 0;
    w.Uint(Tesk2ToPosix(d.flag == 1 ? (d.timestamp | 0x80000000u) : d.timestamp, &ambiguity));
    w.Key("dist");
    w.String(DistName(d.field));
    w.Key("sampleBlockIndex");
    w.Uint(uint32_t(uint64_t(elapsed * 375.0)));
    w.Key("redundantCommStd");
    w.Uint(record.status == 0 ? 1u : 0u);
    w.EndObject();
    w.EndObject();
    return std::string(sb.GetString(), sb.GetSize());
}

int CTesk2HybridDecoder::ProcessBuffer(void* data, void* controlBlock) {
    if (data == nullptr) {
        NotifyRegisteredLogCallbacks(-1, "ProcessBuffer, TESK 2 Engine: NULL data pointer.");
        return -1;
    }
    if (controlBlock == nullptr) {
        NotifyRegisteredLogCallbacks(-1,
                                     "ProcessBuffer, TESK 2 Engine: NULL pointer to control block");
        return -1;
    }
    CTesk2Engine* engine = static_cast<CTesk2Engine*>(controlBlock);
    if (engine->ProcessAudioBuffer(static_cast<signed char*>(data), kBlockBytes) != 0) {
        NotifyRegisteredLogCallbacks(
            -4, "ProcessBuffer, TESK 2 Engine: Error processing audio buffer.");
        if (m_table) m_table->Reset();
        return -2;
    }
    if (!m_table) return 0;
    m_table->SetStatusOfWatermarkTableRecords();
    const uint32_t count = m_table->Count();
    if (count == 0) return 0;
    const uint32_t frame = m_table->Record(0).frame;
    // Texts are built and the table reset before any callback runs, so a
    // callback never sees a half-reported table.
    std::vector<std::string> texts;
    texts.reserve(count);
    for (uint32_t i = 0; i < count; ++i) texts.push_back(RecordToJson(m_table->Record(i), frame));
    m_table->Reset();
    for (auto& t : texts) NotifyRegisteredCallbacks(t);
    return 0;
}

int CTesk2HybridDecoder::FlushData() {
    if (!m_bufferManager || !m_engine) return 0;
    std::vector<unsigned char> block(kBlockBytes, 0);
    double flushed = 0.0;
    const int got = m_bufferManager->GetData(block.data(), kBlockBytes);
    if (got > 0) {
        const int r = ProcessBuffer(block.data(), m_engine);
        if (r < 0) return r;
        flushed = kBlockSeconds;
    }
    std::fill(block.begin(), block.end(), 0);
    while (flushed < kFlushSeconds) {
        const int r = ProcessBuffer(block.data(), m_engine);
        if (r < 0) return r;
        flushed += kBlockSeconds;
    }
    return 0;
}

void CTesk2HybridDecoder::shutdown() { FlushData(); }

}  // namespace TESKII
}  // namespace Kelvane
