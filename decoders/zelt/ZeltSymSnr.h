// ZELT bin SNR and per-layer symbol scores.
//
// One 100 ms frame: the power spectrum of a 2048-point window at 8000 Hz
// (bin j = j * 3.90625 Hz) is turned into 513 small SNR figures, one per FFT
// bin 256 .. 768 (1000 .. 3000 Hz), and each of the 18 symbols of a layer is
// scored as the sum of the figures at its ten bins (see ZeltBinTables.h).
#pragma once

#include <cstdint>

#include "decoders/zelt/ZeltBinTables.h"

// Bin SNR record: entry b belongs to FFT bin 256 + b, value 0 .. 24.
struct ZeltBinSnr {
    uint8_t snr[zelt_tables::kBinSnrCount];
};

// Per-frame score of the 18 symbols of one layer (0 .. 240).
struct ZeltSymStore {
    uint8_t score[zelt_tables::kSymbols];
};

// Running sums of the 18 symbol scores of one layer (wrap modulo 65536).
struct ZeltSymAccum {
    uint16_t sum[zelt_tables::kSymbols];
};

// Bin SNR of one frame.
//   spectrum: power values indexed by FFT bin; bins 252 .. 772 are read.
//   out:      figure of FFT bin 256 + b at out->snr[b].
// For each centre bin c with the eight neighbours c-4..c-1 and c+1..c+4: the
// largest neighbour (or 0) is dropped, d = sum of the other seven, and the
// figure is c * 28 / d (four times the centre over the mean of the seven), or
// c / 7 when d is 0, clamped to 0 .. 24 and truncated.
void ZELT_BinSnr(const float* spectrum, ZeltBinSnr* out);

// Symbol scores of layer L (1 .. 5) from a bin SNR record.
//   Store:            store->score[s]  = sum of the ten figures of symbol s
//   Accum:            accum->sum[s]   += that sum (16-bit, wraps)
//   Store_And_Accum:  both.
void ZELT_SymSnr_Layer_1_Store(const ZeltBinSnr* snr, ZeltSymStore* store);
void ZELT_SymSnr_Layer_1_Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_1_Store_And_Accum(const ZeltBinSnr* snr, ZeltSymStore* store,
                                         ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_2_Store(const ZeltBinSnr* snr, ZeltSymStore* store);
void ZELT_SymSnr_Layer_2_Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_2_Store_And_Accum(const ZeltBinSnr* snr, ZeltSymStore* store,
                                         ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_3_Store(const ZeltBinSnr* snr, ZeltSymStore* store);
void ZELT_SymSnr_Layer_3_Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_3_Store_And_Accum(const ZeltBinSnr* snr, ZeltSymStore* store,
                                         ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_4_Store(const ZeltBinSnr* snr, ZeltSymStore* store);
void ZELT_SymSnr_Layer_4_Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_4_Store_And_Accum(const ZeltBinSnr* snr, ZeltSymStore* store,
                                         ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_5_Store(const ZeltBinSnr* snr, ZeltSymStore* store);
void ZELT_SymSnr_Layer_5_Accum(const ZeltBinSnr* snr, ZeltSymAccum* accum);
void ZELT_SymSnr_Layer_5_Store_And_Accum(const ZeltBinSnr* snr, ZeltSymStore* store,
                                         ZeltSymAccum* accum);
