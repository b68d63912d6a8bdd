#include "decoders/tesk6/CTesk6Decoder.h"

#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "decoders/tesk6/Tesk6DetectionText.h"
#include "decoders/tesk6/TeskAdapterSteps.h"
#include "decoders/tesk6/TeskDetectionJson.h"
#include "timebase/TeskTime.h"

namespace Kelvane {
namespace TESKVI {

using Kelvane::AudioCore::BaseAudioConsumer;
using Kelvane::AudioCore::CAudioConsumerManager;

namespace {

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
    if (m_inputSampleRate == 0) m_inputSampleRate = int(kDecoderRate);
    SetUpInputPipeline(kDecoderRate, kBlockBytes, "TESK 6");
    m_reporter.reset(new CT6WatermarkReporter());
    m_t6Engine.reset(new CTesk6Engine(m_reporter.get()));
    m_engine = m_t6Engine.get();
    m_table.reset(new CT6WatermarkTableManager());
    m_table->Reset();
    m_reporter->SetDataWriter(m_table.get());
}

std::string CTesk6Decoder::RecordToJson(const Tesk6Record_t& record, uint32_t frameCounter,
                                        uint32_t audioTime) {
    const _T6M_Detection_t& d = record.detection;
    const double decoded = double(frameCounter) * 512.0 / 16000.0;
    double elapsed = decoded - double(d.lastSymAge) / 1000.0;
    if (elapsed < 0) elapsed = decoded;

    TeskDetectionText t;
    t.elapsedTime = elapsed;
    t.layer = TeskLayerName(d.layer);
    t.commRs = d.layer == T6M_LAYER_COMM_RS;
    t.commId = d.commId;
    t.sid = d.sid;
    t.firstSymAge = d.firstSymAge;
    t.lastSymAge = d.lastSymAge;
    t.quality = d.quality;
    t.strength = d.strength;
    t.depth = d.depth;
    t.phase = d.phase;
    t.timestamp = int32_t(d.timestamp);
    t.dst = d.dst;
    t.systemTime = Tesk6ToPosix(d.timestamp, d.dst, audioTime);
    t.dist = Tesk6DistName(d.dist);
    t.hasTransmission = true;
    t.transmission = d.transmission != 0 ? 1u : 0u;
    t.sampleBlockIndex = uint32_t(uint64_t(elapsed * 16000.0 / 512.0));
    t.redundantCommStd = record.status == 0 ? 1u : 0u;
    return TeskDetectionJson(kTesk6Key, t);
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
    const uint32_t audioTime = GetCurrentTimestamp();
    ReportTeskDetections(
        *m_table,
        [audioTime](const Tesk6Record_t& r, uint32_t frame) {
            return RecordToJson(r, frame, audioTime);
        },
        [this](const std::string& t) { NotifyRegisteredCallbacks(t); });
    return 0;
}

int CTesk6Decoder::FlushData() {
    if (!m_bufferManager || !m_engine) return 0;
    return FlushTeskAdapter(*m_bufferManager, kBlockBytes, kBlockSeconds, kFlushSeconds,
                            [this](void* block) { return ProcessBuffer(block, m_engine); });
}

void CTesk6Decoder::shutdown() { FlushData(); }

}  // namespace TESKVI
}  // namespace Kelvane
