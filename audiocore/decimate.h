// Block-based sample-rate converters ("decimate" library, version "2.4.6").
//
// A conversion is selected by a ratio code. Each code fixes an input block length, an output
// block length and a method:
//   1  cascade of half-band (2:1) and third-band (3:1) FIR decimators, optionally after
//      interleaving zeros (upsampling 2x or 3x) for the 3:2 and 4:3 ratios;
//   2  8th-order IIR low-pass in place, then the 8000 Hz spline interpolator
//      (code 9 first halves the block with the half-band decimator);
//   3  22050 -> 16000: one zero after every sample (441 -> 882), IIR low-pass, then the
//      8000 Hz spline interpolator with gain 2 (882 -> 320);
//   4  IIR low-pass (where the code has a table), then the 24000 Hz spline interpolator;
//   5  plain copy;
//   6  IIR low-pass, then the 22050 Hz spline interpolator.
//
//  code(s)                      in  -> out   method  conversion
//  8                            768 -> 64    1       96000 -> 8000
//  9                            882 -> 80    2       88200 -> 8000
//  10                           450 -> 50    1       72000 -> 8000
//  11, 30                       480 -> 80    1       6:1
//  12                           441 -> 80    2       44100 -> 8000
//  13, 47, 50, 60, 70           480 -> 120   1       4:1
//  14, 31, 51                   480 -> 160   1       3:1
//  15, 32                       441 -> 160   2       22050 -> 8000, 44100 -> 16000
//  16, 33, 40, 52, 61, 72       480 -> 240   1       2:1
//  17, 35                       441 -> 320   3       22050 -> 16000
//  18, 36, 45, 55               480 -> 480   5       copy
//  34                           240 -> 160   1       3:2
//  41                           320 -> 147   6       48000 -> 22050
//  42                           640 -> 441   6       32000 -> 22050
//  43                           160 -> 147   6       24000 -> 22050
//  44                           320 -> 441   6       16000 -> 22050
//  46                           640 -> 147   6       96000 -> 22050
//  53                           441 -> 240   4       44100 -> 24000
//  54                           160 -> 120   1       4:3
//  56, 71                       441 -> 480   4       22050 -> 24000, 44100 -> 48000
//
// Usage: downsample_init() a caller-owned control block once, then for each call set in_ptr,
// in_byte_count and out_ptr and run downsample_main(). Input is consumed completely: samples
// are mixed to mono into the work buffer; each time the work buffer holds a whole input block
// one output block is written at out_ptr (which advances); a partial block stays in the work
// buffer for the next call. out_byte_count tells how many bytes were written. The caller must
// provide room for downsample_max_out_byte_count(in_byte_count) bytes at out_ptr.
// Filter histories, IIR state and the partial block persist in the control block, so
// consecutive calls form one continuous stream. Nothing allocates; nothing throws.
//
// Mixing (integer arithmetic, division truncating toward zero):
//   mono:                  s * left_weight / 100
//   stereo, channel mode 1 (left weight set, right 0):  L * left_weight / 100
//   stereo, channel mode 2 (right weight set, left 0):  R * right_weight / 100
//   stereo, channel mode 3 (both set, or both 0):       (L * left_weight + R * right_weight) / 100
// Stereo input is interleaved L, R.
//
// Messages (returned text; null means success):
//   "Bad convert ratio", "NULL control block pointer", "Control block not inited",
//   "p->in_byte_count < 0", "p->in_byte_count bad stereo alignment",
//   "p->in_byte_count bad mono alignment".
#pragma once

#include <cstdint>

// History area kept in front of every filter buffer (samples). The third-band FIR reads 70
// samples of history, the splines 5.
#define DS_HISTORY 72
// Largest block any stage holds (code 9 input; the 882-sample interleave of method 3).
#define DS_MAX_BLOCK 882
// Largest output block of any code (samples).
#define DS_MAX_OUT_BLOCK 480
// Length of the third cascade buffer.
#define DS_STAGE3_BLOCK 240

// Control block of the 16-bit converters (downsample_init / downsample_main).
typedef struct _DS_Control_t {
    const void* in_ptr;      // input samples of the current call (int16, mono or L/R pairs)
    void* out_ptr;           // where output blocks are written (int16); advanced per block
    int32_t in_byte_count;   // input bytes of the current call
    int32_t out_byte_count;  // output bytes produced by the current call
    int32_t ratio;           // ratio code; 0 = not initialised
    int32_t method;          // 1..6, see above
    int32_t in_block_len;    // samples per input block (mono, after mixing)
    int32_t out_block_len;   // samples per output block
    int32_t left_weight;     // percent
    int32_t right_weight;    // percent
    int32_t channel_mode;    // 0 mono, 1 left only, 2 right only, 3 both
    int32_t fill;            // samples of the current input block already in work[]
    int16_t work[DS_HISTORY + DS_MAX_BLOCK];       // history + input block
    int16_t stage2[DS_HISTORY + DS_MAX_BLOCK];     // history + second cascade / interleave buffer
    int16_t stage3[DS_HISTORY + DS_STAGE3_BLOCK];  // history + third cascade buffer
    float iir_state[8];                            // w1, w2 of the four second-order sections
    int32_t toggle;  // alternates 0/1: offset added to every other sample before the IIR
} _DS_Control_t;

// Control block of the float-output converters (_IF: 16-bit in, float out; _FF: float in and
// out). Same fields with float work buffers. in_ptr holds int16 (_IF) or float (_FF) samples;
// out_ptr receives float samples.
typedef struct _DS_ControlF_t {
    const void* in_ptr;
    void* out_ptr;
    int32_t in_byte_count;
    int32_t out_byte_count;
    int32_t ratio;
    int32_t method;
    int32_t in_block_len;
    int32_t out_block_len;
    int32_t left_weight;
    int32_t right_weight;
    int32_t channel_mode;
    int32_t fill;
    float work[DS_HISTORY + DS_MAX_BLOCK];
    float stage2[DS_HISTORY + DS_MAX_BLOCK];
    float stage3[DS_HISTORY + DS_STAGE3_BLOCK];
    float iir_state[8];
    int32_t toggle;
} _DS_ControlF_t;

// Zeroes the whole control block and sets it up for `ratio`. stereo: 0 mono input, else
// interleaved stereo. Returns null, or "Bad convert ratio" / "NULL control block pointer".
const char* downsample_init(_DS_Control_t* p, int ratio, int stereo, int left_weight,
                            int right_weight);
const char* downsample_init_IF(_DS_ControlF_t* p, int ratio, int stereo, int left_weight,
                               int right_weight);
const char* downsample_init_FF(_DS_ControlF_t* p, int ratio, int stereo, int left_weight,
                               int right_weight);

// Consumes in_byte_count bytes at in_ptr, writes whole output blocks at out_ptr. Returns null
// on success or one of the messages above (nothing is consumed then).
const char* downsample_main(_DS_Control_t* p);
const char* downsample_main_IF(_DS_ControlF_t* p);
const char* downsample_main_FF(_DS_ControlF_t* p);

// Upper bound of the output bytes for in_byte_count input bytes:
// ceil(in_bytes / in_block_bytes) * out_block_len * (2 for int16 output, 4 for float output),
// in_block_bytes = in_block_len * 2 (* 2 again for stereo, * 2 again for float input).
// Returns 0 for a control block that is null or not initialised, or a negative count.
int downsample_max_out_byte_count(const _DS_Control_t* p, int in_byte_count);
int downsample_max_out_byte_count_IF(const _DS_ControlF_t* p, int in_byte_count);
int downsample_max_out_byte_count_FF(const _DS_ControlF_t* p, int in_byte_count);

// 8th-order IIR low-pass of the control block's ratio code, in place over n samples, state
// carried in p->iir_state. Codes without a filter leave the samples unchanged. The 16-bit
// version rounds toward zero and clamps to -32768..32767.
void in_place_lp_filter(_DS_Control_t* p, int16_t* x, int n);
void in_place_lp_filter_FF(_DS_ControlF_t* p, float* x, int n);

// Spline interpolators. `in` points at a block of in_count samples with at least 5 samples of
// history in front of it (in[-5..-1]); the interpolator reads from in[-5] on, writes the
// output samples to `out` (times `gain`; the 16-bit versions round toward zero and clamp) and
// finally copies the last 5 input samples to in[-5..-1] for the next block. The output lags
// the input by three samples. in_count must be a whole number of table runs. Returns the
// number of output samples, or -1 for an unknown ratio code or a bad in_count.
//   do_08k_splines: 441 -> 160 per run (codes 15, 32, 17, 35); every second entry,
//                   441 -> 80 (codes 9, 12).
//   do_16k_splines: 441 -> 320 per run (any code).
//   do_22k_splines: by code: 41 320->147, 42 640->441, 43 160->147, 44 320->441, 46 640->147.
//   do_24k_splines: 147 -> 160 per run (codes 56, 71); every second entry, 147 -> 80 (53).
int do_08k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain);
int do_16k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain);
int do_22k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain);
int do_24k_splines(int ratio, int16_t* in, int in_count, int16_t* out, float gain);
int do_08k_splines_FF(int ratio, float* in, int in_count, float* out, float gain);
int do_16k_splines_FF(int ratio, float* in, int in_count, float* out, float gain);
int do_22k_splines_FF(int ratio, float* in, int in_count, float* out, float gain);
int do_24k_splines_FF(int ratio, float* in, int in_count, float* out, float gain);

// FIR decimators. `in` points at out_count * 2 (or * 3) new samples with DS_HISTORY samples
// of history in front of it (in[-DS_HISTORY..-1]). Output k is the symmetric filter centred on
// input sample 2k - 22 (half-band, 47 taps) or 3k - 33 (third-band, 71 taps), so it
// only reads samples up to the newest one of its group; times `gain` (1, 2 or 3). 16-bit outputs
// round toward zero and clamp to -32768..32767. Afterwards the newest DS_HISTORY input samples are
// copied into the history area so that the next block continues the filter seamlessly.
void decimate2_i16_i16(int16_t* in, int16_t* out, int out_count, int gain);
void decimate2_i16_f32(int16_t* in, float* out, int out_count, int gain);
void decimate2_f32_f32(float* in, float* out, int out_count, int gain);
void decimate3_i16_i16(int16_t* in, int16_t* out, int out_count, int gain);
void decimate3_i16_f32(int16_t* in, float* out, int out_count, int gain);
void decimate3_f32_f32(float* in, float* out, int out_count, int gain);

// Method 1 on floats: runs the code's decimator cascade over the input block in p->work
// (after DS_HISTORY samples of history) and writes one output block to `out`.
// Returns the number of output samples, or -1 when the code is not a method 1 code.
int filter_and_decimate_FF(_DS_ControlF_t* p, float* out);

// Returns "2.4.6".
const char* decimate_GetVersion(void);
