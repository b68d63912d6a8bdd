// Reporter of the TESK 6 engine: writes every detection into the decoder's
// table manager for the current block.
#ifndef TAVIK_DECODERS_TESK6_CT6WATERMARKREPORTER_H
#define TAVIK_DECODERS_TESK6_CT6WATERMARKREPORTER_H

#include "decoders/tesk6/CBaseOutputReporter.h"
#include "decoders/tesk6/CT6WatermarkTableManager.h"

class CT6WatermarkReporter : public CBaseOutputReporter {
public:
    CT6WatermarkReporter() = default;
    // writer: the CT6WatermarkTableManager (not owned; null disables).
    void SetDataWriter(void* writer) override;
    // detection: a _T6M_Detection_t; value unused; frame: core frame counter.
    // Does nothing without a table manager.
    void DataCallback(void* detection, float value, int frame) override;

private:
    CT6WatermarkTableManager* m_table = nullptr;
};

#endif  // TAVIK_DECODERS_TESK6_CT6WATERMARKREPORTER_H
