// TESK 6 decoder adapter for the audio metering framework.
//
// Fed with 16-bit mono audio (resampled to 16 kHz when the input rate is
// higher), it runs CTesk6Engine on every 512-sample block, gathers the
// detections of the block in a CT6WatermarkTableManager, marks redundant
// standard commercial records and hands each record, as one compact JSON text
// with the single key "TESK6", to every registered result callback.
//
// JSON members, in this order: "elapsedTime" (seconds, double), "layer"
// ("PROG", "COMM_STD", "COMM_RS", else "UN"), "commId" ("0x%llx", Reed-Solomon
// layer only) or "sid", "firstSymAge", "lastSymAge" (ms), "quality",
// "strength", "depth", "phase", "timestamp" (signed; -1 for COMM_RS), "dst",
// "systemTime" (POSIX time of the time code), "dist" ("PC", "FD1", "FD2",
// "FD3", else "Undefined"), "transmission" (0/1), "sampleBlockIndex" (32 ms
// block of the detection), "redundantCommStd" (1 for a redundant record).
#ifndef TAVIK_DECODERS_TESK6_CTESK6DECODER_H
#define TAVIK_DECODERS_TESK6_CTESK6DECODER_H

#include <memory>
#include <string>

#include "audiocore/BaseAudioConsumer.h"
#include "decoders/tesk6/CT6WatermarkReporter.h"
#include "decoders/tesk6/CT6WatermarkTableManager.h"
#include "decoders/tesk6/CTesk6Engine.h"

namespace Kelvane {
namespace TESKVI {

class CTesk6Decoder : public Kelvane::AudioCore::BaseAudioConsumer {
public:
    static constexpr unsigned int kDecoderRate = 16000;
    static constexpr int kBlockBytes = 1024;  // 512 samples of 16 bits

    // Only constructs the base; init() must not be called on such an object
    // before an input rate is known (it then assumes 16000).
    CTesk6Decoder();
    // inputSampleRate: 16000, or a higher rate the consumer manager accepts for
    // a 16000 Hz decoder. Anything else throws std::invalid_argument
    // "Sample rate not supported for TESK 6 decoder".
    explicit CTesk6Decoder(int inputSampleRate);
    ~CTesk6Decoder() override;

    unsigned int GetRequiredSampleRate() override { return kDecoderRate; }
    unsigned short GetRequiredBitsPerSample() override { return 16; }
    unsigned int GetRequiredBlockSize() override { return 0; }
    void GetVersion(int* major, int* minor, int* patch) override;
    int FlushData() override;
    bool IsStereoSupported() override { return false; }
    // The parameter document is not read. Creates the resampler (when the
    // input rate is not 16000), reporter, engine, table manager and buffer
    // manager. Throws std::runtime_error "TESK 6 init: Unable to create
    // resampler." or "TESK 6 init: Unable to create linked-list buffer.".
    void init(std::string parameters) override;
    // Flushes (FlushData).
    void shutdown() override;
    // One 1024-byte block: -1 (null data or control block, logged), -2 (engine
    // failure, logged) or 0 after reporting the block's detections.
    int ProcessBuffer(void* data, void* controlBlock) override;

    double GetMessageLengthInSeconds() const { return 0.0000625; }

    // JSON text of record `index` of a table; `frameCounter` is the counter
    // used for "elapsedTime" and "sampleBlockIndex". "systemTime" dates the
    // 29-bit time code in the cycle nearest `audioTime` (POSIX seconds of the
    // audio, the capture clock; 0 gives the first cycle).
    static std::string RecordToJson(const Tesk6Record_t& record, uint32_t frameCounter,
                                    uint32_t audioTime = 0);

private:
    std::unique_ptr<CTesk6Engine> m_t6Engine;
    std::unique_ptr<CT6WatermarkReporter> m_reporter;
    std::unique_ptr<CT6WatermarkTableManager> m_table;
};

}  // namespace TESKVI
}  // namespace Kelvane

#endif  // TAVIK_DECODERS_TESK6_CTESK6DECODER_H
