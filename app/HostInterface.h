// The library's boundary with the host program: the host settings, the
// process-wide report queues (one detection ring per channel, one diagnostic
// ring, one level record per channel), the decoder family switches, and the five
// functions the host calls.
//
// Threads. The host calls setConfiguration and the three get functions from its
// own threads (one thread at a time per queue); the decoder thread writes the
// detection rings and the level records; diagnostics are posted from the decoder
// thread, the sound library's callback threads and setConfiguration. Every shared
// value here is an atomic or a single-producer single-consumer ring, so none of
// this needs a lock on the reading side.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "app/TextRing.h"

class CTavikReportCallback;

// Number of audio channels the host can read (detection rings, level records).
constexpr unsigned int kReportChannels = 6;
// Diagnostic texts are formatted into buffers of this size (at most 239
// characters); hosts pass getDiagMessage a buffer of at least this size.
constexpr unsigned int kDiagTextSize = 240;

// Sound streams (stereo pairs) and their index in uiConfiguration_t::device.
constexpr int kStreamCount = 3;
constexpr int kStreamLR = 0;    // front L and R
constexpr int kStreamCLfe = 1;  // centre and LFE
constexpr int kStreamLsRs = 2;  // surround Ls and Rs

// Device number sentinels.
constexpr int16_t kDeviceDefaultInput = -1;  // the default input device (65535 unsigned)
constexpr int16_t kDeviceNotUsed = -99;      // stream not used (65437 unsigned)

// Bits of the host mode word.
constexpr uint16_t kModeFamilyMask = 0x3;  // 0: TESK 2 + TESK 6, 1: ZELT, 2/3: all three
constexpr uint16_t kModeRawDisplay = 0x4;  // raw code display

// Host settings, written by setConfiguration on the host thread and read by the
// driver and capture layer on the decoder thread. All fields are zero at load.
struct uiConfiguration_t {
    std::atomic<uint16_t> mode{0};          // host mode word (kModeFamilyMask, kModeRawDisplay)
    std::atomic<uint16_t> channelCount{0};  // audio channels to decode (0..6); streams = half
    // Device number per stream (kStreamLR, kStreamCLfe, kStreamLsRs); -1 default
    // input device, -99 stream not used.
    std::atomic<int16_t> device[kStreamCount] = {{0}, {0}, {0}};
    // Channel count of each stream's device; set to 2 whenever its device changes.
    std::atomic<uint16_t> deviceChannels[kStreamCount] = {{0}, {0}, {0}};
    // 0 until the first accepted setConfiguration; the driver waits for it. Set
    // last (after every other field) by setConfiguration.
    std::atomic<uint8_t> configured{0};
    // Set by setConfiguration when a device or the channel count changes after the
    // first configuration; the driver's capture loop reopens the streams and
    // clears it.
    std::atomic<uint8_t> reconfigure{0};
};
extern uiConfiguration_t uiConfiguration;

// Ring types of the host queues.
using pReportedChannel = TextRing;
using pDiagMessage = TextRing;

// One detection ring per audio channel; written through
// CTavikReportImplementation::setAudioCodes, read by getAudioCodes.
extern pReportedChannel reportedChannel[kReportChannels];
// The diagnostic ring; written by setDiagMessage, read by getDiagMessage.
extern pDiagMessage diagMessage;

// Latest audio levels of one channel, handed from the level meter to
// getAudioLevels. Both levels and the fresh flag travel in one atomic word, so
// the host always reads a pair that belongs together, and each pair at most once.
struct audioLevel_t {
    // Word value meaning "no fresh levels": both halves INT32_MAX, a pair no
    // level (always at most 0) can form.
    static constexpr uint64_t kNoLevels = 0x7FFFFFFF7FFFFFFFull;
    // Average level in the high half, peak level in the low half.
    std::atomic<uint64_t> levels{kNoLevels};

    // Decoder side: stores a new pair (positive values are stored as 0), replacing
    // any pair the host has not taken, and marks it fresh.
    void publish(int32_t average, int32_t peak);
    // Host side: if a fresh pair is waiting, stores it through the pointers, clears
    // the fresh state and returns true; otherwise returns false and leaves them.
    bool take(int32_t* average, int32_t* peak);
    bool fresh() const { return levels.load(std::memory_order_acquire) != kNoLevels; }
};
extern audioLevel_t reportedAudioLevelChannel[kReportChannels];

// Decoder family switches, read by the report callbacks for every result: a
// family whose switch is off reports nothing. All true at load.
extern std::atomic<bool> ReportZelt;  // ZELT
extern std::atomic<bool> ReportT2;    // TESK 2
extern std::atomic<bool> ReportTw;    // TESK 6
// Raw display switches: with one on, that family's callback forwards every
// detection text unfiltered. All true at load.
extern std::atomic<bool> bZeltRawOutput;
extern std::atomic<bool> bT2RawOutput;
extern std::atomic<bool> bTwRawOutput;

// Staging text for diagnostics: fill it, then call setDiagMessage(&sDiagMessage).
// Each thread has its own, so posting from several threads never shares it.
extern thread_local std::string sDiagMessage;

// Posts a copy of *text to the diagnostic ring. A null text is ignored; a full
// ring (49 unread messages) keeps its messages and drops this one. Safe to call
// from any thread: concurrent posters are serialised by a short spin lock.
void setDiagMessage(std::string* text);

// printf-style convenience: formats into a kDiagTextSize buffer (longer texts are
// cut at 239 characters) and posts the result with setDiagMessage.
void postDiagMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Splits `text` into integers: read an integer (strtol rules: optional leading
// white space and sign, base 10), skip exactly one character (the separator, of
// any kind), repeat until no integer can be read. Values beyond the range of int
// are clamped to INT_MIN / INT_MAX. A null text yields no values.
std::vector<int> parseInts(const char* text);

// Hook into the decode driver (app/RunDecoder.cpp): builds the factories and the
// driver and runs it on the calling thread with `report` as host report object.
// Returns only by an exception (std::invalid_argument or another
// std::exception), which hostStartDecoding prints.
void runDecoder(int argc, char** argv, CTavikReportCallback* report);
using DecoderRunner = void (*)(int argc, char** argv, CTavikReportCallback* report);

// ---------------------------------------------------------------------------
// The host functions. The implementations are hostXxx below (part of the
// application library, so tests and tools can call them); libtavik3.so exports
// them under the names startDecoding, setConfiguration, getAudioCodes,
// getAudioLevels and getDiagMessage (C++ linkage, parameter types as declared
// at the end of this file; see app/HostExports.cpp and app/tavik3.map).

// Runs the decoder on the calling thread: clears the configured flag, creates the
// process's host report object (once; it is never deleted), and calls runDecoder.
// While the host has not configured the library the driver waits, so in practice
// the call does not come back.
// An std::invalid_argument is printed to standard error as "Invalid argument: "
// + text + newline, any other std::exception as "AudioSDK exception caught",
// newline, text, newline. Returns 1 after such an exception, 0 if runDecoder
// returns normally.
int hostStartDecoding(int argc, char** argv);
// hostStartDecoding with another runner in place of runDecoder.
int startDecodingWith(DecoderRunner runner, int argc, char** argv);

// Applies the host configuration string: five integers (mode word, channel count,
// L/R device, C/LFE device, Ls/Rs device) separated by single characters, e.g.
// "0,6,1,2,3"; extra integers are ignored. Posts "\nRequest to update to %s
// configuration" and then, for an accepted string: one "\nUpdating ... sound card
// settings to %d device" per changed device, the family message and the display
// message. A changed device gets channel count 2; a change of device or channel
// count after the first configuration sets the reconfigure flag; the configured
// flag is then set.
// Rejected (nothing changes, a diagnostic says why): null text, fewer than five
// integers, channel count outside 0..6, a device number below -1 other than -99
// or above 32767.
// Returns the configured flag (1 after any accepted string).
int hostSetConfiguration(const char* text);

// Takes the oldest unread detection text of `channel` into `buffer` (at most
// length - 1 bytes, NUL-terminated). Returns 1 if a text was taken, 0 if none was
// waiting, the channel is 6 or above, the buffer is null or the length is 0.
int hostGetAudioCodes(unsigned int channel, char* buffer, unsigned int length);

// Takes the latest average and peak level of `channel`. Returns 1 and stores both
// if new levels arrived since the last call; 0 (nothing stored) otherwise, for a
// channel of 6 or above, or for a null pointer.
int hostGetAudioLevels(unsigned int channel, int* average, int* peak);

// Takes the oldest unread diagnostic text into `buffer` (at most length - 1 bytes,
// NUL-terminated). Returns 1 if a text was taken; 0 if none was waiting, the
// buffer is null or the length is 0.
int hostGetDiagMessage(char* buffer, unsigned int length);

// The exported names, defined only in libtavik3.so (app/HostExports.cpp). Each
// forwards to its hostXxx counterpart.
#define TAVIK_EXPORT __attribute__((visibility("default")))
TAVIK_EXPORT int startDecoding(int argc, char** argv);
TAVIK_EXPORT int setConfiguration(char* text);
TAVIK_EXPORT int getAudioCodes(unsigned int channel, char* buffer, unsigned int length);
TAVIK_EXPORT int getAudioLevels(unsigned int channel, int* average, int* peak);
TAVIK_EXPORT int getDiagMessage(char* buffer, unsigned int length);
