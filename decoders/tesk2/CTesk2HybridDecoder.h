// TESK 2 decoder adapter ("hybrid decoder"): an audio consumer that feeds the
// TESK 2 engine with 24 kHz 16-bit mono blocks of 64 samples (resampling other
// input rates), gathers the detections of each block, marks redundant
// standard commercial records and hands every record to the registered result
// callbacks as one compact JSON text:
//
// {"TESK2":{"elapsedTime":E,"layer":"PROG"|"COMM_STD"|"COMM_RS"|"UN",
//   "sid":N | "commId":"0x..", "firstSymAge":ms,"lastSymAge":ms,"quality":Q,
//   "strength":S,"depth":K,"phase":P,"timestamp":T,"dst":0|1,"systemTime":posix,
//   "dist":"PC"|"FD"|"COMM_STD"|"UN","sampleBlockIndex":I,"redundantCommStd":0|1}}
//
// E = frame counter * 64 / 24000 - lastSymAge / 1000 s (or the first term alone
// when negative), I = E * 375 truncated; "timestamp" is the 31-bit time code as
// a signed value (-1 for COMM_RS); "systemTime" is Tesk2ToPosix of the time
// code with bit 31 set when the daylight-saving flag is 1.
//
// Log codes: -1 null data or control block, -4 engine failure (ProcessBuffer
// then returns -2). Construction throws std::invalid_argument "Sample rate is
// not supported by TESK 2 decoder." for a rate that is neither 24000 nor a
// supported rate above it; init throws std::runtime_error when the resampler
// or the buffer manager cannot be created.
#ifndef TAVIK_DECODERS_TESK2_CTESK2HYBRIDDECODER_H
#define TAVIK_DECODERS_TESK2_CTESK2HYBRIDDECODER_H

#include <memory>
#include <string>

#include "audiocore/BaseAudioConsumer.h"
#include "decoders/tesk2/CT2WatermarkReporter.h"
#include "decoders/tesk2/CT2WatermarkTableManager.h"
#include "decoders/tesk2/CTesk2Engine.h"

namespace Kelvane {
namespace TESKII {

class CTesk2HybridDecoder : public Kelvane::AudioCore::BaseAudioConsumer {
public:
    static constexpr unsigned int kDecoderRate = 24000;
    static constexpr int kBlockBytes = 128;  // 64 samples of 16 bits

    CTesk2HybridDecoder();
    explicit CTesk2HybridDecoder(int inputSampleRate);
    ~CTesk2HybridDecoder() override;

    unsigned int GetRequiredSampleRate() override { return 0; }
    unsigned short GetRequiredBitsPerSample() override { return 0; }
    unsigned int GetRequiredBlockSize() override { return 0; }
    void GetVersion(int* major, int* minor, int* patch) override;  // 4, 1, 3
    // Pushes out what is still being accumulated: the buffered remainder
    // (zero-padded) and then about 3 s of silence.
    int FlushData() override;
    bool IsStereoSupported() override { return false; }
    void init(std::string parameters) override;
    void shutdown() override;
    int ProcessBuffer(void* data, void* controlBlock) override;

    // One sample at 24 kHz.
    double GetMessageLengthInSeconds() const { return 0.000041666666666666665; }

    // The JSON text of one table record; frameCounter is the one stored with
    // the table's first record. "systemTime" dates the 31-bit time code in
    // the cycle nearest `audioTime` (POSIX seconds of the audio; 0 gives the
    // first cycle).
    static std::string RecordToJson(const Tesk2Record_t& record, uint32_t frameCounter,
                                    uint32_t audioTime = 0);

private:
    std::unique_ptr<CTesk2Engine> m_t2Engine;
    std::unique_ptr<CT2WatermarkReporter> m_reporter;
    std::unique_ptr<CT2WatermarkTableManager> m_table;
};

}  // namespace TESKII
}  // namespace Kelvane

#endif  // TAVIK_DECODERS_TESK2_CTESK2HYBRIDDECODER_H
