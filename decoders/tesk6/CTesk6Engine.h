// TESK 6 engine: keeps the 3072-sample analysis window of 16 kHz audio, takes
// a power spectrum every 512 new samples and runs the decoding core on it.
// Detections go to the reporter together with the core's frame counter.
#ifndef TAVIK_DECODERS_TESK6_CTESK6ENGINE_H
#define TAVIK_DECODERS_TESK6_CTESK6ENGINE_H

#include "decoders/tesk6/CBaseOutputReporter.h"
#include "decoders/tesk6/T6Msg.h"

class CTesk6Engine {
public:
    static constexpr int kWindowSamples = 3072;
    static constexpr int kFrameSamples = 512;
    static constexpr int kFirstBin = 534;

    // reporter: receives the detections (not owned; may be null).
    explicit CTesk6Engine(CBaseOutputReporter* reporter);
    CTesk6Engine(const CTesk6Engine&) = delete;
    CTesk6Engine& operator=(const CTesk6Engine&) = delete;

    // Zeroes the window and initialises the core; returns T6M_Init's result.
    uint32_t Initialize();

    // data: 512 little-endian 16-bit samples; length in bytes must halve to
    // 512 (1024 or 1025). Returns 0, or -1 (nothing changed) for another length
    // or a null pointer.
    int ProcessAudioBuffer(signed char* data, unsigned int length);

    // Frame counter of the core (frames decoded, modulo 21037500).
    int32_t FrameCounter() const { return m_state.frameCounter; }

    // Core callback: forwards a detection to the reporter.
    static int T6M_Callback(void* user, const _T6M_Detection_t* detection);

private:
    float m_window[kWindowSamples];
    _T6M_State_t m_state;
    CBaseOutputReporter* m_reporter;
    float m_work[kWindowSamples];  // FFT work buffer (1536 complex values)
};

#endif  // TAVIK_DECODERS_TESK6_CTESK6ENGINE_H
