// ZELT engine: analysis window, power spectrum and decoding core.
//
// Fed with 100 ms blocks of 8000 Hz 16-bit mono audio (800 samples, 1600
// bytes).  Each block slides the 2048-sample window by 800 samples, takes the
// Hamming-windowed power spectrum (bins 252 .. 772 used) and runs one frame of
// the ZELT core.  Detections go to the reporter's DataCallback with the
// core's frame counter.
#pragma once

#include <cstdint>

#include "decoders/tesk6/CBaseOutputReporter.h"
#include "decoders/zelt/ZeltDecoder.h"

class CZeltEngine {
public:
    static constexpr int kWindow = 2048;
    static constexpr int kHop = 800;
    static constexpr int kFirstBin = 252;

    // reporter: receives every detection (not owned, may be null).
    explicit CZeltEngine(CBaseOutputReporter* reporter);

    // Zeroes the window and the FFT area and initialises the core; returns
    // ZELT_Init's result.
    uint32_t Initialize();

    // bytes: 800 little-endian 16-bit samples; size must be 1600 or 1601
    // (the odd byte is ignored), otherwise returns -1 and changes nothing.
    // Returns 0 after one decoded frame.
    int ProcessAudioBuffer(const uint8_t* bytes, uint32_t size);

    const ZeltDecoderState& State() const { return m_state; }
    ZeltDecoderState& MutableState() { return m_state; }

    // Core callback: user = the engine.
    static void ZELT_Callback(void* user, const _ZELT_Detection_t* detection);

private:
    int16_t m_window[kWindow];
    float m_fft[kWindow];  // 1024 complex values; power by bin after the transform
    ZeltDecoderState m_state;
    CBaseOutputReporter* m_reporter;
};
