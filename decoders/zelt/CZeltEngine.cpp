#include "decoders/zelt/CZeltEngine.h"

#include <cstring>

#include "dsp/Fft.h"

CZeltEngine::CZeltEngine(CBaseOutputReporter* reporter) : m_reporter(reporter) { Initialize(); }

uint32_t CZeltEngine::Initialize() {
    std::memset(m_window, 0, sizeof(m_window));
    std::memset(m_fft, 0, sizeof(m_fft));
    return ZELT_Init(&CZeltEngine::ZELT_Callback, this, &m_state);
}

int CZeltEngine::ProcessAudioBuffer(const uint8_t* bytes, uint32_t size) {
    if (bytes == nullptr || (size != 1600 && size != 1601)) return -1;
    std::memmove(m_window, m_window + kHop, (kWindow - kHop) * sizeof(int16_t));
    int16_t* fresh = m_window + (kWindow - kHop);
    for (int i = 0; i < kHop; ++i)
        fresh[i] = static_cast<int16_t>(static_cast<uint16_t>(bytes[2 * i]) |
                                        (static_cast<uint16_t>(bytes[2 * i + 1]) << 8));
    FFT_Flt_4KR4_RealIn_PowerOut_Win_IF(kWindow, m_window, FFT_FLT_HAMMING_2048, m_fft, kFirstBin);
    ZELT_Decode(m_fft, &m_state);
    return 0;
}

void CZeltEngine::ZELT_Callback(void* user, const _ZELT_Detection_t* detection) {
    CZeltEngine* engine = static_cast<CZeltEngine*>(user);
    if (engine == nullptr || engine->m_reporter == nullptr) return;
    engine->m_reporter->DataCallback(const_cast<_ZELT_Detection_t*>(detection), 0.0f,
                                     static_cast<int>(engine->m_state.frameCounter));
}
