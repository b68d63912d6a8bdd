// Reporter of the TESK 2 engine: writes every detection into the decoder's
// table manager for the current block.
#ifndef TAVIK_DECODERS_TESK2_CT2WATERMARKREPORTER_H
#define TAVIK_DECODERS_TESK2_CT2WATERMARKREPORTER_H

#include "decoders/tesk2/CT2WatermarkTableManager.h"
#include "decoders/tesk6/CBaseOutputReporter.h"

class CT2WatermarkReporter : public CBaseOutputReporter {
public:
    CT2WatermarkReporter() = default;
    // writer: the CT2WatermarkTableManager (not owned; null disables).
    void SetDataWriter(void* writer) override;
    // detection: a _T2M_Detection_t; value unused; frame: core frame counter.
    // Does nothing without a table manager.
    void DataCallback(void* detection, float value, int frame) override;

private:
    CT2WatermarkTableManager* m_table = nullptr;
};

#endif  // TAVIK_DECODERS_TESK2_CT2WATERMARKREPORTER_H
