// TESK 2 engine: keeps the 256-sample analysis window of 24 kHz audio, takes
// a Hann-windowed power spectrum every 64 new samples and runs the decoding
// core on it. Detections go to the reporter together with the core's frame
// counter.
#ifndef TAVIK_DECODERS_TESK2_CTESK2ENGINE_H
#define TAVIK_DECODERS_TESK2_CTESK2ENGINE_H

#include "decoders/tesk2/T2MsgDecode.h"
#include "decoders/tesk6/CBaseOutputReporter.h"

class CTesk2Engine {
public:
    static constexpr int kWindowSamples = 256;
    static constexpr int kFrameSamples = 64;
    static constexpr int kFirstBin = 46;

    // reporter: receives the detections (not owned; may be null).
    explicit CTesk2Engine(CBaseOutputReporter* reporter);
    CTesk2Engine(const CTesk2Engine&) = delete;
    CTesk2Engine& operator=(const CTesk2Engine&) = delete;

    // Zeroes the window and initialises the core; returns T2M_Init's result.
    uint32_t Initialize();

    // data: 64 little-endian 16-bit samples; length in bytes must halve to 64
    // (128 or 129). Returns 0, or -1 (nothing changed) for another length or a
    // null pointer.
    int ProcessAudioBuffer(signed char* data, unsigned int length);

    // Frame counter of the core (frames decoded, modulo 252450000).
    uint32_t FrameCounter() const { return m_state.frameCounter; }

    // Core callback: forwards a detection to the reporter's DataCallback.
    static void T2M_Callback(void* user, const _T2M_Detection_t* detection);

private:
    float m_window[kWindowSamples];
    T2M_State_t m_state;
    CBaseOutputReporter* m_reporter;
    float m_work[kWindowSamples];  // FFT work buffer (128 complex values)
};

#endif  // TAVIK_DECODERS_TESK2_CTESK2ENGINE_H
