#include "audiocore/CAudioResampler.h"

#include <algorithm>
#include <new>

#include "audiocore/CBufferManagerLL.h"
#include "audiocore/IBufferManager.h"

namespace Kelvane {
namespace AudioCore {

namespace {

struct RatePair {
    int out;
    int in;
    int code1;
    int code2;
    float down1;  // nominal ratios, 22050 Hz targets only
    float down2;
};

const RatePair kPairs[] = {
    {8000, 16000, 16, 0, 0, 0},           {8000, 22050, 15, 0, 0, 0},
    {8000, 24000, 14, 0, 0, 0},           {8000, 32000, 13, 0, 0, 0},
    {8000, 44100, 12, 0, 0, 0},           {8000, 48000, 11, 0, 0, 0},
    {8000, 72000, 10, 0, 0, 0},           {8000, 88200, 61, 12, 0, 0},
    {8000, 96000, 50, 14, 0, 0},          {8000, 176400, 60, 12, 0, 0},
    {8000, 192000, 70, 11, 0, 0},         {12000, 24000, 52, 0, 0, 0},
    {12000, 48000, 13, 0, 0, 0},          {16000, 22050, 35, 0, 0, 0},
    {16000, 24000, 34, 0, 0, 0},          {16000, 32000, 33, 0, 0, 0},
    {16000, 44100, 32, 0, 0, 0},          {16000, 48000, 31, 0, 0, 0},
    {16000, 88200, 61, 32, 0, 0},         {16000, 96000, 30, 0, 0, 0},
    {16000, 176400, 60, 32, 0, 0},        {16000, 192000, 70, 31, 0, 0},
    {22050, 16000, 44, 0, 0.725f, 0},     {22050, 24000, 43, 0, 1.09f, 0},
    {22050, 32000, 42, 0, 1.45f, 0},      {22050, 44100, 40, 0, 2.0f, 0},
    {22050, 48000, 41, 0, 2.17f, 0},      {22050, 88200, 47, 0, 4.0f, 0},
    {22050, 96000, 46, 0, 4.35f, 0},      {22050, 176400, 60, 40, 8.0f, 2.0f},
    {22050, 192000, 70, 41, 8.7f, 2.17f}, {24000, 22050, 56, 0, 0, 0},
    {24000, 32000, 54, 0, 0, 0},          {24000, 44100, 53, 0, 0, 0},
    {24000, 48000, 52, 0, 0, 0},          {24000, 72000, 51, 0, 0, 0},
    {24000, 88200, 61, 53, 0, 0},         {24000, 96000, 50, 0, 0, 0},
    {24000, 176400, 60, 53, 0, 0},        {24000, 192000, 70, 52, 0, 0},
    {48000, 44100, 56, 0, 0, 0},          {48000, 88200, 61, 71, 0, 0},
    {48000, 96000, 72, 0, 0, 0},          {48000, 176400, 60, 71, 0, 0},
    {48000, 192000, 70, 0, 0, 0},
};

const RatePair* FindPair(int inputRate, int outputRate) {
    for (const RatePair& p : kPairs)
        if (p.in == inputRate && p.out == outputRate) return &p;
    return nullptr;
}

bool IsTargetRate(int rate) {
    return rate == 8000 || rate == 12000 || rate == 16000 || rate == 22050 || rate == 24000 ||
           rate == 48000;
}

inline const char* Init(_DS_Control_t* c, int code, int stereo, int lw, int rw) {
    return downsample_init(c, code, stereo, lw, rw);
}
inline const char* Init(_DS_ControlF_t* c, int code, int stereo, int lw, int rw) {
    return downsample_init_FF(c, code, stereo, lw, rw);
}
inline const char* Convert(_DS_Control_t* c) { return downsample_main(c); }
inline const char* Convert(_DS_ControlF_t* c) { return downsample_main_FF(c); }

// Creates and initialises one stage. Sizes: input block bytes (whole frames of the stage's
// input) and output block bytes.
template <typename Ctl>
Ctl* MakeStage(int code, int stereo, int lw, int rw, unsigned int sampleBytes,
               unsigned int* inBlockBytes, unsigned int* outBlockBytes) {
    Ctl* c = new (std::nothrow) Ctl;
    if (!c) return nullptr;
    if (Init(c, code, stereo, lw, rw) != nullptr) {
        delete c;
        return nullptr;
    }
    *inBlockBytes = static_cast<unsigned int>(c->in_block_len) * sampleBytes * (stereo ? 2u : 1u);
    *outBlockBytes = static_cast<unsigned int>(c->out_block_len) * sampleBytes;
    return c;
}

}  // namespace

bool CAudioResampler::ChooseRatioCodes(int inputRate, int outputRate, int* code1, int* code2) {
    int c1 = 0, c2 = 0;
    if (inputRate == outputRate) {
        c1 = 55;
    } else {
        const RatePair* p = FindPair(inputRate, outputRate);
        if (!p) return false;
        c1 = p->code1;
        c2 = p->code2;
    }
    if (code1) *code1 = c1;
    if (code2) *code2 = c2;
    return true;
}

CAudioResampler::CAudioResampler(int inputChannels, int inputRate, unsigned short inputBits,
                                 int outputChannels, int outputRate, unsigned short outputBits,
                                 unsigned int blockSamples, int leftWeight, int rightWeight)
    : m_leftWeight(leftWeight), m_rightWeight(rightWeight), m_blockSamples(blockSamples) {
    if (inputChannels != 1 && inputChannels != 2) return;
    if (inputRate < 8000 || inputRate > 192000) return;
    if (inputBits != 16 && inputBits != 24 && inputBits != 32) return;
    if (outputChannels != 1) return;
    if (outputRate != inputRate && !IsTargetRate(outputRate)) return;
    if (outputBits != 16 && outputBits != 32) return;

    int code1 = 0, code2 = 0;
    if (!ChooseRatioCodes(inputRate, outputRate, &code1, &code2)) return;
    if (outputRate == 22050) {
        if (inputRate == 22050) {
            m_downRatio1 = 1.0f;
        } else {
            const RatePair* p = FindPair(inputRate, outputRate);
            m_downRatio1 = p->down1;
            m_downRatio2 = p->down2;
        }
    }

    m_float = (outputBits == 32);
    m_code1 = code1;
    m_code2 = code2;
    const unsigned int sampleBytes = m_float ? 4u : 2u;
    const int stereo = (inputChannels != 1) ? 1 : 0;
    unsigned int out1 = 0, out2 = 0;
    if (m_float) {
        m_ctl1 = MakeStage<_DS_ControlF_t>(code1, stereo, leftWeight, rightWeight, sampleBytes,
                                           &m_inBlockBytes1, &out1);
        if (m_ctl1 && code2)
            m_ctl2 =
                MakeStage<_DS_ControlF_t>(code2, 0, 100, 0, sampleBytes, &m_inBlockBytes2, &out2);
    } else {
        m_ctl1 = MakeStage<_DS_Control_t>(code1, stereo, leftWeight, rightWeight, sampleBytes,
                                          &m_inBlockBytes1, &out1);
        if (m_ctl1 && code2)
            m_ctl2 =
                MakeStage<_DS_Control_t>(code2, 0, 100, 0, sampleBytes, &m_inBlockBytes2, &out2);
    }
    if (!m_ctl1 || (code2 && !m_ctl2)) {
        Release();
        return;
    }

    // The scratch buffers are nominally 10 bytes per engine sample; they must also hold one
    // whole output block of the stage (a 64-sample engine block at 24000 Hz would otherwise get
    // 640 bytes for the 960-byte output of 22050 -> 24000).
    const unsigned int scratch1 = std::max(10u * blockSamples, out1);
    m_scratch1 = new (std::nothrow) unsigned char[scratch1];
    m_buf1 = new (std::nothrow) CBufferManagerLL(m_inBlockBytes1, 0);
    if (!m_scratch1 || !m_buf1 || m_buf1->GetError()) {
        Release();
        return;
    }
    if (code2) {
        const unsigned int scratch2 = std::max(10u * blockSamples, out2);
        m_scratch2 = new (std::nothrow) unsigned char[scratch2];
        m_buf2 = new (std::nothrow) CBufferManagerLL(m_inBlockBytes2, 0);
        if (!m_scratch2 || !m_buf2 || m_buf2->GetError()) {
            Release();
            return;
        }
    }
    m_initialized = 1;
}

CAudioResampler::~CAudioResampler() { Release(); }

void CAudioResampler::Release() {
    if (m_float) {
        delete static_cast<_DS_ControlF_t*>(m_ctl1);
        delete static_cast<_DS_ControlF_t*>(m_ctl2);
    } else {
        delete static_cast<_DS_Control_t*>(m_ctl1);
        delete static_cast<_DS_Control_t*>(m_ctl2);
    }
    m_ctl1 = m_ctl2 = nullptr;
    delete m_buf1;
    delete m_buf2;
    m_buf1 = m_buf2 = nullptr;
    delete[] m_scratch1;
    delete[] m_scratch2;
    m_scratch1 = m_scratch2 = nullptr;
    m_initialized = 0;
}

template <typename Ctl>
int CAudioResampler::Run(const unsigned char* data, unsigned int length, IBufferManager& output) {
    if (m_buf1->PutData(data, length, nullptr) < 0) return 0;
    Ctl* c1 = static_cast<Ctl*>(m_ctl1);
    Ctl* c2 = static_cast<Ctl*>(m_ctl2);
    int total = 0;
    unsigned char* block = nullptr;
    while (m_buf1->GetData(&block) == static_cast<int>(m_inBlockBytes1)) {
        c1->in_ptr = block;
        c1->in_byte_count = static_cast<int32_t>(m_inBlockBytes1);
        c1->out_ptr = m_scratch1;
        if (Convert(c1) != nullptr) return total;
        m_buf1->ReleaseData();
        if (c1->out_byte_count <= 0) continue;
        if (!c2) {
            int r =
                output.PutData(m_scratch1, static_cast<unsigned int>(c1->out_byte_count), nullptr);
            if (r < 0) return r;
            total += r;
            continue;
        }
        if (m_buf2->PutData(m_scratch1, static_cast<unsigned int>(c1->out_byte_count), nullptr) < 0)
            return total;
        unsigned char* block2 = nullptr;
        while (m_buf2->GetData(&block2) == static_cast<int>(m_inBlockBytes2)) {
            c2->in_ptr = block2;
            c2->in_byte_count = static_cast<int32_t>(m_inBlockBytes2);
            c2->out_ptr = m_scratch2;
            if (Convert(c2) != nullptr) return total;
            m_buf2->ReleaseData();
            if (c2->out_byte_count <= 0) continue;
            int r =
                output.PutData(m_scratch2, static_cast<unsigned int>(c2->out_byte_count), nullptr);
            if (r < 0) return r;
            total += r;
        }
    }
    return total;
}

int CAudioResampler::Resample_Int(const unsigned char* data, unsigned int length,
                                  IBufferManager& output) {
    if (!m_initialized || m_float) return 0;
    return Run<_DS_Control_t>(data, length, output);
}

int CAudioResampler::Resample_Float(const float* data, unsigned int length, IBufferManager& output) {
    if (!m_initialized || !m_float) return 0;
    return Run<_DS_ControlF_t>(reinterpret_cast<const unsigned char*>(data), length, output);
}

unsigned int CAudioResampler::GetBufMag1UnprocessedBytes() const {
    return m_buf1 ? m_buf1->GetAvailableBytes() : 0;
}

unsigned int CAudioResampler::GetBufMag2UnprocessedBytes() const {
    return m_buf2 ? m_buf2->GetAvailableBytes() : 0;
}

unsigned int CAudioResampler::GetUnprocessedBytes() const {
    return m_buf2 ? GetBufMag2UnprocessedBytes() : GetBufMag1UnprocessedBytes();
}

}  // namespace AudioCore
}  // namespace Kelvane
