#include "decoders/zelt/ZELTDecoderAdapter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "decoders/zelt/ZELTTimeStamp.h"

namespace Kelvane {
namespace ZELT {

namespace {
constexpr const char* kNullData = "ProcessBuffer, DecodeBuffer: NULL data pointer.";
constexpr const char* kNullEngine = "ProcessBuffer, ZELT Engine: Null pointer";
constexpr const char* kEngineError = "ProcessBuffer, ZELT Engine: Error processing audio buffer.";
}  // namespace

bool ZELTDecoderAdapter::isValidInputSampleRate(int rate) {
    if (rate < (int)kDecoderRate) return false;
    if (rate == (int)kDecoderRate) return true;
    return Kelvane::AudioCore::CAudioConsumerManager::IsSupportedFrequency(rate, kDecoderRate);
}

ZELTDecoderAdapter::ZELTDecoderAdapter(int inputSampleRate)
    : BaseAudioConsumer(1, 1, inputSampleRate) {
    m_requiredSampleRate = kDecoderRate;
    m_sampleFormat = kSampleFormatInt16;
    if (!isValidInputSampleRate(inputSampleRate))
        throw std::invalid_argument("Sample rate not supported for ZELT decoder");
}

ZELTDecoderAdapter::~ZELTDecoderAdapter() {
    // The engine holds a pointer to the reporter: release it first.
    m_engine = nullptr;
    m_zeltEngine.reset();
    m_reporter.reset();
    m_table.reset();
}

void ZELTDecoderAdapter::GetVersion(int* major, int* minor, int* patch) {
    if (major) *major = 2;
    if (minor) *minor = 1;
    if (patch) *patch = 8;
}

void ZELTDecoderAdapter::init(std::string parameters) {
    (void)parameters;
    if (!m_resultCallbacks) throw std::runtime_error("ZELT init: Callback lists not created.");
    if (!m_logCallbacks) throw std::runtime_error("ZELT init: Callback lists not created.");
    SetUpInputPipeline(kDecoderRate, kBlockBytes, "ZELT");
    m_reporter = std::make_unique<ZeltWatermarkReporter>();
    m_zeltEngine = std::make_unique<CZeltEngine>(m_reporter.get());
    m_engine = m_zeltEngine.get();
    m_table = std::make_unique<ZeltWatermarkTableManager>();
    m_table->Reset();
    m_reporter->SetTable(m_table.get());
}

int ZELTDecoderAdapter::ProcessBuffer(void* block, void* engine) {
    if (block == nullptr) {
        NotifyRegisteredLogCallbacks(-1, kNullData);
        return -1;
    }
    if (engine == nullptr) {
        NotifyRegisteredLogCallbacks(-1, kNullEngine);
        return -2;
    }
    CZeltEngine* e = static_cast<CZeltEngine*>(engine);
    if (e->ProcessAudioBuffer(static_cast<const uint8_t*>(block), kBlockBytes) < 0) {
        NotifyRegisteredLogCallbacks(-2, kEngineError);
        return -3;
    }
    ReportZELTWatermarkInJsonStrings(e);
    if (m_table) m_table->Reset();
    return 0;
}

int ZELTDecoderAdapter::FlushData() {
    if (!m_bufferManager) return 0;
    std::vector<unsigned char> block(kBlockBytes, 0);
    const double step = 800.0 / kDecoderRate;
    double flushed = 0.0;
    const int got = m_bufferManager->GetData(block.data(), kBlockBytes);
    if (got > 0) {
        if (ProcessBuffer(block.data(), m_engine) < 0) return 0;
        std::fill(block.begin(), block.end(), 0);
        flushed = step;
    }
    // Count in whole blocks so that rounding of 0.1 s steps cannot add a block.
    const int total = static_cast<int>(ZELT_SECONDS_OF_EOS_AUDIO / step + 0.5);
    for (int n = static_cast<int>(flushed / step + 0.5); n < total; ++n) {
        if (ProcessBuffer(block.data(), m_engine) < 0) break;
        std::fill(block.begin(), block.end(), 0);
    }
    return 0;
}

bool ZELTDecoderAdapter::SetLayerValues(const _ZELT_Detection_t& d, int* layer, char commId[32],
                                        char id[32], int64_t* timestamp) {
    std::snprintf(commId, 32, "N/A");
    std::snprintf(id, 32, "N/A");
    *timestamp = d.timestamp;
    switch (d.layer) {
        case 1:
        case 2:
        case 5:
            std::snprintf(id, 32, "0x%04x", static_cast<unsigned>(d.id));
            break;
        case 4:
            std::snprintf(commId, 32, "0x%llx", static_cast<unsigned long long>(d.commId));
            *timestamp = d.timestamp > 65534 ? -1 : d.timestamp;
            break;
        default:
            *layer = 0;
            return false;
    }
    *layer = static_cast<int>(d.layer);
    return true;
}

void ZELTDecoderAdapter::ReportZELTWatermarkInJsonStrings(CZeltEngine* engine) {
    (void)engine;
    if (!m_table || m_table->Count() == 0) return;
    const uint64_t elapsed = (GetBytesDelivered() / 2) / kDecoderRate;
    // One index per block, taken from the block's first detection: the depths of one
    // commercial evaluation each report the same message with their own age, and the
    // filtered callback recognises those copies by identifier and sample block.
    const auto& first = m_table->At(0);
    const double blockStart = (static_cast<double>(first.frameCounter) * 800.0) / kDecoderRate;
    double t = blockStart - first.detection.lastSymAge * 0.001;
    if (t < 0) t = blockStart;
    const int64_t sampleBlockIndex = static_cast<int64_t>(t * kDecoderRate * 0.00125);
    for (uint32_t i = 0; i < m_table->Count(); ++i) {
        const _ZELT_Detection_t& d = m_table->At(i).detection;
        int layer = 0;
        char commId[32], id[32];
        int64_t timestamp = 0;
        if (!SetLayerValues(d, &layer, commId, id, &timestamp)) continue;

        uint32_t systemTime = 0;
        if (layer != 4 && d.timestamp != 65535)
            systemTime = ZELTTimeStamp::convertToNearestUnixTime(
                GetCurrentTimestamp(), static_cast<uint32_t>(timestamp) * 60u);

        rapidjson::StringBuffer sb;
        rapidjson::Writer<rapidjson::StringBuffer> w(sb);
        w.StartObject();
        w.Key("ZELT");
        w.StartObject();
        w.Key("elapsedTime");
        w.Uint64(elapsed);
        w.Key("layer");
        w.Int(layer);
        w.Key("firstSymAge");
        w.Uint(d.firstSymAge);
        w.Key("lastSymAge");
        w.Uint(d.lastSymAge);
        w.Key("quality");
        w.Uint(d.quality);
        w.Key("strength");
        w.Uint(d.strength);
        w.Key("depth");
        w.Uint(d.depth);
        w.Key("phase");
        w.Uint(d.phase);
        w.Key("id");
        w.String(id);
        w.Key("timestamp");
        w.Int64(timestamp);
        w.Key("systemTime");
        w.Uint(systemTime);
        w.Key("commId");
        w.String(commId);
        w.Key("sampleBlockIndex");
        w.Int64(sampleBlockIndex);
        w.EndObject();
        w.EndObject();
        NotifyRegisteredCallbacks(std::string(sb.GetString(), sb.GetSize()));
    }
}

}  // namespace ZELT
}  // namespace Kelvane
