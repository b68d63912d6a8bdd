#include "decoders/tesk6/CTesk6Engine.h"

#include <string.h>

#include "dsp/Fft.h"

CTesk6Engine::CTesk6Engine(CBaseOutputReporter* reporter) : m_reporter(reporter) { Initialize(); }

uint32_t CTesk6Engine::Initialize() {
    memset(m_window, 0, sizeof(m_window));
    memset(m_work, 0, sizeof(m_work));
    return T6M_Init(&CTesk6Engine::T6M_Callback, this, &m_state);
}

int CTesk6Engine::ProcessAudioBuffer(signed char* data, unsigned int length) {
    if (data == nullptr || length / 2 != kFrameSamples) return -1;
    memmove(m_window, m_window + kFrameSamples, (kWindowSamples - kFrameSamples) * sizeof(float));
    const unsigned char* b = reinterpret_cast<const unsigned char*>(data);
    float* tail = m_window + (kWindowSamples - kFrameSamples);
    for (int i = 0; i < kFrameSamples; ++i) {
        tail[i] = float(int16_t(uint16_t(b[2 * i] | (b[2 * i + 1] << 8))));
    }
    FFT_Flt_3KR4_RealIn_PowerOut_FF(kWindowSamples, m_window, m_work, kFirstBin);
    T6M_Decode(m_work, &m_state);
    return 0;
}

int CTesk6Engine::T6M_Callback(void* user, const _T6M_Detection_t* detection) {
    CTesk6Engine* self = static_cast<CTesk6Engine*>(user);
    if (self != nullptr && self->m_reporter != nullptr) {
        self->m_reporter->DataCallback(const_cast<_T6M_Detection_t*>(detection), 0.0f,
                                       self->m_state.frameCounter);
    }
    return 0;
}
