// Reporter between the ZELT engine and the table of the current block.
#pragma once

#include "decoders/tesk6/CBaseOutputReporter.h"
#include "decoders/zelt/ZeltWatermarkTableManager.h"

class ZeltWatermarkReporter : public CBaseOutputReporter {
public:
    ZeltWatermarkReporter() = default;
    // Does nothing: the adapter links the table with SetTable.
    void SetDataWriter(void* writer) override { (void)writer; }
    // detection: a _ZELT_Detection_t; value unused; frame: core frame counter.
    // Adds it to the table when one is set.
    void DataCallback(void* detection, float value, int frame) override;

    void SetTable(ZeltWatermarkTableManager* table) { m_table = table; }

private:
    ZeltWatermarkTableManager* m_table = nullptr;
};
