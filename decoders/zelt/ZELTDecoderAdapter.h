// ZELT decoder adapter: the audio consumer the meter creates for "ZELT" and
// "ZELTFiltered".  It brings its input to 8000 Hz 16-bit mono (resampling
// other rates), cuts it into 100 ms blocks (800 samples, 1600 bytes), runs the
// ZELT engine on each and, after each block, hands every detection of layer
// 1, 2, 4 or 5 to the registered result callbacks as one compact JSON text:
//
// {"ZELT":{"elapsedTime":E,"layer":L,"firstSymAge":ms,"lastSymAge":ms,
//   "quality":Q,"strength":S,"depth":D,"phase":P,"id":"0x%04x"|"N/A",
//   "timestamp":T,"systemTime":posix,"commId":"0x%llx"|"N/A",
//   "sampleBlockIndex":I}}
//
// E = whole seconds of audio consumed; T = minutes within the 28-day cycle
// (program), frame counter / 600 (flags) or -1 (layer 4); systemTime = the
// POSIX time of minute T in the 28-day cycle that puts it nearest to the
// consumer's audio time, 0 for layer 4 and for a record without a time code
// (65535);
// I = index of the 100 ms block of the last symbol of the block's first
// detection (frame counter minus its lastSymAge), the same for every document
// of one block: the copies of one commercial message that several depths
// report in one evaluation share it, and the filtered callback passes one.
//
// Errors: construction with an unsupported rate throws std::invalid_argument
// "Sample rate not supported for ZELT decoder"; init throws std::runtime_error
// when a list, the resampler or the buffer manager cannot be created.
// ProcessBuffer logs (-1, null data), (-1, null engine), (-2, engine failure)
// and returns -1, -2, -3.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audiocore/BaseAudioConsumer.h"
#include "decoders/zelt/CZeltEngine.h"
#include "decoders/zelt/ZeltWatermarkReporter.h"
#include "decoders/zelt/ZeltWatermarkTableManager.h"

namespace Kelvane {
namespace ZELT {

class ZELTDecoderAdapter : public Kelvane::AudioCore::BaseAudioConsumer {
public:
    static constexpr float ZELT_BLOCK_TIME_IN_MS = 100.0f;
    static constexpr double ZELT_SECONDS_OF_EOS_AUDIO = 1.7;
    static constexpr unsigned int kDecoderRate = 8000;
    static constexpr int kBlockBytes = 1600;

    explicit ZELTDecoderAdapter(int inputSampleRate);
    ~ZELTDecoderAdapter() override;

    static bool isValidInputSampleRate(int rate);

    unsigned int GetRequiredSampleRate() override { return 0; }
    unsigned short GetRequiredBitsPerSample() override { return 0; }
    unsigned int GetRequiredBlockSize() override { return 0; }
    void GetVersion(int* major, int* minor, int* patch) override;  // 2, 1, 8
    // Pushes the buffered remainder (zero-padded) and then silence up to 1.7 s
    // through the decoder so that messages still accumulating are reported.
    int FlushData() override;
    bool IsStereoSupported() override { return false; }
    void init(std::string parameters) override;
    void shutdown() override { FlushData(); }
    void Stop() override {}
    int ProcessBuffer(void* block, void* engine) override;

    // Text fields of one record by layer; false (layer 0) for layers that are
    // not reported.  Texts are at most 31 characters.
    static bool SetLayerValues(const _ZELT_Detection_t& d, int* layer, char commId[32], char id[32],
                               int64_t* timestamp);

    CZeltEngine* Engine() { return m_zeltEngine.get(); }

private:
    void ReportZELTWatermarkInJsonStrings(CZeltEngine* engine);

    std::unique_ptr<ZeltWatermarkReporter> m_reporter;
    std::unique_ptr<CZeltEngine> m_zeltEngine;
    std::unique_ptr<ZeltWatermarkTableManager> m_table;
};

}  // namespace ZELT
}  // namespace Kelvane
