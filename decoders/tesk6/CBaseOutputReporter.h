// Reporter interface between a decoder engine and the table of detections of
// the current audio block. The engines call DataCallback for every detection
// their decoding core emits; the reporter hands it to its data writer.
#ifndef TAVIK_DECODERS_TESK6_CBASEOUTPUTREPORTER_H
#define TAVIK_DECODERS_TESK6_CBASEOUTPUTREPORTER_H

class CBaseOutputReporter {
public:
    virtual ~CBaseOutputReporter() = default;
    // Stores the object detections are written to (the decoder's table
    // manager); the base ignores it.
    virtual void SetDataWriter(void* writer) { (void)writer; }
    // One detection record of the core (type known to the concrete reporter),
    // a value the reporter may ignore, and the core's frame counter.
    virtual void DataCallback(void* detection, float value, int frame) = 0;
};

#endif  // TAVIK_DECODERS_TESK6_CBASEOUTPUTREPORTER_H
