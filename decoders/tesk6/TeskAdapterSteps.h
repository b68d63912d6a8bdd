// Two steps that the TESK 6 and TESK 2 decoder adapters take the same way;
// the block sizes, durations, texts and log messages stay with each adapter.
#ifndef TAVIK_DECODERS_TESK6_TESKADAPTERSTEPS_H
#define TAVIK_DECODERS_TESK6_TESKADAPTERSTEPS_H

#include <stdint.h>

#include <algorithm>
#include <string>
#include <vector>

#include "audiocore/CBufferManagerLL.h"

// Reports the detections gathered in `table` during one block: marks the
// redundant records, builds every record's text with toJson(record, frame),
// where frame is the counter stored with the first record, resets the table
// and only then hands the texts, in record order, to notify(text), so a
// callback never sees a half-reported table.
template <class Table, class ToJson, class Notify>
void ReportTeskDetections(Table& table, ToJson toJson, Notify notify) {
    table.SetStatusOfWatermarkTableRecords();
    const uint32_t count = table.Count();
    std::vector<std::string> texts;
    if (count > 0) {
        const uint32_t frame = table.Record(0).frame;
        texts.reserve(count);
        for (uint32_t i = 0; i < count; ++i) texts.push_back(toJson(table.Record(i), frame));
    }
    table.Reset();
    for (auto& t : texts) notify(t);
}

// Pushes out messages still being accumulated: the buffered remainder (up to
// one block, zero-padded), then blocks of zero bytes until the counted time
// (blockSeconds per block, the remainder included) reaches flushSeconds.
// process(block) runs one block; its first negative result ends the flush and
// is returned. Returns 0 otherwise.
template <class Process>
int FlushTeskAdapter(Kelvane::AudioCore::CBufferManagerLL& buffer, int blockBytes,
                     double blockSeconds, double flushSeconds, Process process) {
    std::vector<unsigned char> block(size_t(blockBytes), 0);
    double flushed = 0.0;
    const int got = buffer.GetData(block.data(), unsigned(blockBytes));
    if (got > 0) {
        const int r = process(block.data());
        if (r < 0) return r;
        flushed = blockSeconds;
    }
    std::fill(block.begin(), block.end(), 0);
    while (flushed < flushSeconds) {
        const int r = process(block.data());
        if (r < 0) return r;
        flushed += blockSeconds;
    }
    return 0;
}

#endif  // TAVIK_DECODERS_TESK6_TESKADAPTERSTEPS_H
