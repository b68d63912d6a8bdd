#include "decoders/tesk2/CTesk2HybridDecoder.h"

#include <cstdio>
#include <stdexcept>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "decoders/tesk2/Tesk2DetectionText.h"
#include "decoders/tesk6/TeskAdapterSteps.h"
#include "decoders/tesk6/TeskDetectionJson.h"
#include "timebase/TeskTime.h"

namespace Kelvane {
namespace TESKII {

using Kelvane::AudioCore::BaseAudioConsumer;
using Kelvane::AudioCore::CAudioConsumerManager;

namespace {

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
    if (!m_resultCallbacks || !m_logCallbacks) {
        throw std::runtime_error("TESK 2 init: Callback lists not created.");
    }
    if (m_inputSampleRate == 0) m_inputSampleRate = int(kDecoderRate);
    SetUpInputPipeline(kDecoderRate, kBlockBytes, "TESK 2");
    m_reporter.reset(new CT2WatermarkReporter());
    m_t2Engine.reset(new CTesk2Engine(m_reporter.get()));
    m_engine = m_t2Engine.get();
    m_table.reset(new CT2WatermarkTableManager());
    m_table->Reset();
    m_reporter->SetDataWriter(m_table.get());
}

std::string CTesk2HybridDecoder::RecordToJson(const Tesk2Record_t& record, uint32_t frameCounter,
                                              uint32_t audioTime) {
    const _T2M_Detection_t& d = record.detection;
    const double decoded = double(frameCounter) * 64.0 / 24000.0;
    double elapsed = decoded - double(d.lastSymAge) / 1000.0;
    if (elapsed < 0) elapsed = decoded;

    TeskDetectionText t;
    t.elapsedTime = elapsed;
    t.layer = TeskLayerName(d.layer);
    t.commRs = d.layer == T2M_LAYER_COMM_RS;
    t.commId = d.commId;
    t.sid = d.sid;
    t.firstSymAge = d.firstSymAge;
    t.lastSymAge = d.lastSymAge;
    t.quality = d.quality;
    t.strength = d.strength;
    t.depth = d.depth;
    t.phase = d.phase;
    t.timestamp = int32_t(d.timestamp);
    t.dst = d.flag;
    t.systemTime = Tesk2SystemTime(d.timestamp, d.flag, audioTime);
    t.dist = Tesk2DistName(d.field);
    t.sampleBlockIndex = uint32_t(uint64_t(elapsed * 375.0));
    t.redundantCommStd = record.status == 0 ? 1u : 0u;
    return TeskDetectionJson(kTesk2Key, t);
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
    const uint32_t audioTime = GetCurrentTimestamp();
    ReportTeskDetections(
        *m_table,
        [audioTime](const Tesk2Record_t& r, uint32_t frame) {
            return RecordToJson(r, frame, audioTime);
        },
        [this](const std::string& t) { NotifyRegisteredCallbacks(t); });
    return 0;
}

int CTesk2HybridDecoder::FlushData() {
    if (!m_bufferManager || !m_engine) return 0;
    return FlushTeskAdapter(*m_bufferManager, kBlockBytes, kBlockSeconds, kFlushSeconds,
                            [this](void* block) { return ProcessBuffer(block, m_engine); });
}

void CTesk2HybridDecoder::shutdown() { FlushData(); }

}  // namespace TESKII
}  // namespace Kelvane
