#include "decoders/zelt/ZeltSymSnr.h"

namespace {

constexpr int kFirstCentreBin = 256;

inline uint8_t BinFigure(const float* p) {
    // p points at the centre bin; neighbours are p[-4..-1] and p[1..4].
    float sum = 0.0f;
    float largest = 0.0f;
    for (int k = 1; k <= 4; ++k) {
        const float lo = p[-k];
        const float hi = p[k];
        sum += lo + hi;
        if (lo > largest) largest = lo;
        if (hi > largest) largest = hi;
    }
    const float d = sum - largest;
    const float c = p[0];
    float v;
    if (d == 0.0f) {
        v = c * 0.14285715f;
    } else {
        v = (c * 28.0f) / d;
    }
    // NaN or negative input gives 0; the clamp also keeps the conversion defined.
    if (!(v > 0.0f)) return 0;
    if (v > 24.0f) return 24;
    return static_cast<uint8_t>(v);
}

template <int L>
inline uint8_t Score(const ZeltBinSnr* snr, int s) {
    const uint16_t* row = zelt_tables::kLayerBins[L - 1][s];
    unsigned sum = 0;
    for (int t = 0; t < zelt_tables::kTonesPerSymbol; ++t) sum += snr->snr[row[t]];
    return static_cast<uint8_t>(sum);
}

template <int L>
void Store(const ZeltBinSnr* snr, ZeltSymStore* store) {
    for (int s = 0; s < zelt_tables::kSymbols; ++s) store->score[s] = Score<L>(snr, s);
}

template <int L>
void Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum) {
    for (int s = 0; s < zelt_tables::kSymbols; ++s)
        accum->sum[s] = static_cast<uint16_t>(accum->sum[s] + Score<L>(snr, s));
}

template <int L>
void StoreAndAccum(const ZeltBinSnr* snr, ZeltSymStore* store, ZeltSymAccum* accum) {
    for (int s = 0; s < zelt_tables::kSymbols; ++s) {
        const uint8_t v = Score<L>(snr, s);
        store->score[s] = v;
        accum->sum[s] = static_cast<uint16_t>(accum->sum[s] + v);
    }
}

}  // namespace

void ZELT_BinSnr(const float* spectrum, ZeltBinSnr* out) {
    const float* centre = spectrum + kFirstCentreBin;
    for (int b = 0; b < zelt_tables::kBinSnrCount; ++b) out->snr[b] = BinFigure(centre + b);
}

#define ZELT_LAYER_ROUTINES(L)                                                               \
    void ZELT_SymSnr_Layer_##L##_Store(const ZeltBinSnr* snr, ZeltSymStore* store) {         \
        Store<L>(snr, store);                                                                \
    }                                                                                        \
    void ZELT_SymSnr_Layer_##L##_Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum) {         \
        Accum<L>(snr, accum);                                                                \
    }                                                                                        \
    void ZELT_SymSnr_Layer_##L##_Store_And_Accum(const ZeltBinSnr* snr, ZeltSymStore* store, \
                                                 ZeltSymAccum* accum) {                      \
        StoreAndAccum<L>(snr, store, accum);                                                 \
    }

ZELT_LAYER_ROUTINES(1)
ZELT_LAYER_ROUTINES(2)
ZELT_LAYER_ROUTINES(3)
ZELT_LAYER_ROUTINES(4)
ZELT_LAYER_ROUTINES(5)
