#include "decoders/tesk2/CTesk2Engine.h"

#include <cstring>

#include "dsp/Fft.h"

CTesk2Engine::CTesk2Engine(CBaseOutputReporter* reporter) : m_reporter(reporter) {
    memset(m_work, 0, sizeof(m_work));
    Initialize();
}

uint32_t CTesk2Engine::Initialize() {
    memset(m_window, 0, sizeof(m_window));
    return T2M_Init(&CTesk2Engine::T2M_Callback, this, &m_state);
}

int CTesk2Engine::ProcessAudioBuffer(signed char* data, unsigned int length) {
    if (data == nullptr || length / 2 != kFrameSamples) return -1;
    const unsigned char* b = reinterpret_cast<const unsigned char*>(data);
    memmove(m_window, m_window + kFrameSamples, (kWindowSamples - kFrameSamples) * sizeof(float));
    float* tail = m_window + (kWindowSamples - kFrameSamples);
    for (int i = 0; i < kFrameSamples; ++i) {
        tail[i] = float(int16_t(uint16_t(b[2 * i]) | uint16_t(b[2 * i + 1]) << 8));
    }
    FFT_Flt_4KR4_RealIn_PowerOut_Win_FF(kWindowSamples, m_window, FFT_FLT_HANN_256, m_work,
                                        kFirstBin);
    T2M_Decode(m_work, &m_state);
    return 0;
}

void CTesk2Engine::T2M_Callback(void* user, const _T2M_Detection_t* detection) {
    CTesk2Engine* self = static_cast<CTesk2Engine*>(user);
    if (self == nullptr || self->m_reporter == nullptr) return;
    self->m_reporter->DataCallback(const_cast<_T2M_Detection_t*>(detection), 0.0f,
                                   int(self->m_state.frameCounter));
}
