// Live capture through PortAudio: up to three stereo input streams (front L/R,
// centre C/LFE, surround Ls/Rs) interleaved into one six-channel, 48000 Hz,
// 16-bit block ring that the decode driver (app/DecodeAudio.h) empties.
//
// Threads. Each open stream calls its callback on a PortAudio thread; the
// callbacks only copy 480 frames into the ring, publish them and (stream A)
// post semGetAudio. Everything else (opening, reconfiguration, reading the
// ring, diagnostics) runs on the driver thread.
//
// The ring hand-over. Each slot has one fill flag per stream. A stream writes
// its two channels of a slot only while its flag for that slot is clear, and
// sets the flag (release) when done; the driver copies a stream's channels only
// while the flag is set (acquire) and clears it afterwards (release). So no byte
// of the ring is ever written and read at the same time, whatever the timing
// of the three devices. A stream whose next slot is still unread drops its
// block and counts it; the driver reports the count. Channels of a stream that
// has not filled the slot read as silence. Blocks are taken in the order they
// were written.
#pragma once

#include <portaudio.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>

#include "app/HostInterface.h"
#include "audiocore/AudioChannelConfiguration.h"

// Fixed capture format.
constexpr int kCaptureSampleRate = 48000;       // Hz
constexpr unsigned kCaptureFrames = 480;        // frames per callback and per block (10 ms)
constexpr unsigned kCaptureChannels = 6;        // L, R, C, LFE, Ls, Rs
constexpr unsigned kCaptureStreamChannels = 2;  // channels each stream fills
constexpr unsigned kCaptureSlots = 8;           // blocks in the ring
constexpr unsigned kCaptureSlotBytes = 11520;   // bytes per slot; the first 5760 carry audio
constexpr unsigned kCaptureBlockBytes = kCaptureFrames * kCaptureChannels * 2;  // 5760
// Slot the driver reads first. Half a ring (40 ms) behind the writers, so
// streams B and C, which do not signal, have filled a slot before it is read.
constexpr uint16_t kCaptureFirstTail = 4;
// Seconds the driver waits for a block before it reports a time-out.
constexpr int kCaptureWaitSeconds = 5;

// One capture stream. Three of them, owned by the driver for the whole run.
struct AudioDevice_t {
    uint8_t useInput;   // the stream has an input side (always 1)
    uint8_t useOutput;  // the stream has an output side (always 0)
    PaStreamParameters inputParameters;
    PaStreamParameters outputParameters;  // never filled
    // streamIndex and channelCount are consecutive: their address is the
    // user-data pointer handed to PortAudio; the callback reads the stream index
    // as the first 16-bit value and the channel count as the second.
    uint16_t streamIndex;   // 0 (A, channels 0-1), 1 (B, 2-3), 2 (C, 4-5)
    uint16_t channelCount;  // channels delivered by the device (1 or 2)
    PaStream* stream;       // null while closed
    PaStreamCallback* callback;
};

// ---------------------------------------------------------------------------
// Process-wide capture state, shared by the callbacks and the driver.

// The block ring: slot s holds frames of 6 interleaved 16-bit samples; sample j
// of frame f of stream k sits at 16-bit position 6 * f + 2 * k + j.
extern int16_t streamingInBuffer[kCaptureSlots][kCaptureSlotBytes / 2];
// Slot each stream writes next (0..7); written by that stream's callback only.
extern std::atomic<uint16_t> inHeadA;
extern std::atomic<uint16_t> inHeadB;
extern std::atomic<uint16_t> inHeadC;
// Slot the driver reads next (0..7, starts at kCaptureFirstTail); driver only.
extern uint16_t inTail;
// Bytes per block handed to the decoder (6 x 480 x 2); driver only.
extern uint16_t streamingBufferSize;
// Posted once per stream-A block.
extern sem_t semGetAudio;
// The six-channel capture format (6 channels, 48000 Hz, 16 bits, packing mode 3).
extern Kelvane::AudioCore::AudioChannelConfiguration audioChannelConfiguration;

// Fill flags, one per slot and stream: 1 while the stream's channels of the
// slot hold a block the driver has not taken.
extern std::atomic<uint8_t> captureSlotFilled[kCaptureSlots][3];
// Blocks each stream dropped because its next slot was still unread, and
// failed semaphore posts of stream A. Written by the callbacks, reported by the
// driver (LiveCapture::PostCaptureProblems).
extern std::atomic<uint32_t> captureDroppedBlocks[3];
extern std::atomic<uint32_t> captureSignalFailures;

// Next ring index: old + 1, or 0 when the old value was above 6 (runs 0..7).
inline uint16_t NextCaptureSlot(uint16_t index) {
    return index > kCaptureSlots - 2 ? 0 : static_cast<uint16_t>(index + 1);
}

// ---------------------------------------------------------------------------
// The capture operations. Apart from the three callbacks and WriteCaptureBlock,
// every function runs on the driver thread.
class LiveCapture {
public:
    LiveCapture() = default;
    LiveCapture(const LiveCapture&) = delete;
    LiveCapture& operator=(const LiveCapture&) = delete;
    // Closes whatever CloseStreaming has not closed.
    ~LiveCapture();

    // Clears the ring: every slot silent, heads 0, inTail kCaptureFirstTail,
    // counters 0. Slots kCaptureFirstTail..7 count as filled (with silence) for
    // every stream, so the driver's first four blocks are silent and a stream
    // can be at most four blocks ahead of the driver before it drops blocks.
    // Only while no stream runs.
    static void ResetCaptureRing();

    // Initialises semGetAudio (unshared, count 0). Returns false (errno set) on
    // failure. CloseStreaming destroys it.
    bool CreateSemaphore();

    // Opens the capture: OpenStreaming, then the three device contexts from
    // `config` (stream 0 from the L/R device with callback A, 1 from C/LFE with
    // B, 2 from Ls/Rs with C), then for every stream whose device is not -99:
    // OpenAudioDevice and Pa_StartStream; a failure of either posts
    // "in openSoundCard not able to start stream %d" and goes on with the next.
    // A stored device channel count of 0 opens the stream with 2 channels.
    // Returns 0 (at least one stream runs, or none was asked for), 1 (the audio
    // library failed to initialise, or no requested stream could be started) or
    // 2 (the audio library reports no devices).
    int openSoundCard(AudioDevice_t devices[3], uiConfiguration_t* config);

    // Initialises PortAudio. On success posts "\n\nPortAudio version number =
    // %d\nPortAudio version text = %s" and returns 0; on failure posts "An error
    // occured while using the portaudio stream", "Error number: %d", "Error
    // message: %s" and returns -1.
    int OpenStreaming();

    // Fills one device context: clears both device numbers, stores the flags,
    // stream index, input channel count and callback. Only if inputChannels >= 1,
    // inputDevice != -99 and useInput: channel count, device (-1 = the default
    // input device; if there is none, posts "ERROR: No input device found." and
    // leaves device 0), paInt16, the device's default low output latency as the
    // suggested latency, no host-specific data. The output side mirrors this
    // under its own condition. Returns true when a side was configured.
    static bool SetPaDeviceContext(AudioDevice_t* device, uint16_t streamIndex, int inputDevice,
                                   int inputChannels, bool useInput, int outputDevice,
                                   int outputChannels, bool useOutput, PaStreamCallback* callback);

    // Opens the context's stream (48000 Hz, 480 frames, paClipOff, its callback,
    // &streamIndex as user data). 0 on success; 1 on failure after posting
    // "in openAudioDevice Error opening Stream".
    static int OpenAudioDevice(AudioDevice_t* device);
    // The same, posting "Error opening input stream" (input only) or "Error
    // opening input and output streams" on failure.
    static int ReopenAudioDevice(AudioDevice_t* device);

    // Posts "Selected input is %d (%s, %s, %s)\n" (number, name, host API, and
    // "full-duplex", "input only" or "output only") for device `device`; nothing
    // for a number PortAudio does not know. `channels` is not used.
    static void showSelectedDevices(int device, int channels);

    // Acts on the host's reconfigure request. For each stream i below
    // channelCount / 2: stops and closes its stream (posting "Stream %d stopped",
    // or "Not able to stop stream %d"), takes device i from `config` (-1 = the
    // default input device), and unless it is -99 reopens it
    // (ReopenAudioDevice), describes it (showSelectedDevices) and starts it
    // (posting "Stream %d restarted", or "Not able to restart stream %d"). Ring
    // slots and head indices are kept. Then clears the reconfigure flag.
    void ReconfigureStreams(AudioDevice_t devices[3], uiConfiguration_t* config);

    // Stops and closes every open stream, destroys semGetAudio and terminates
    // PortAudio (if it was initialised).
    void CloseStreaming(AudioDevice_t devices[3]);

    // Driver side of the ring. Waits for the next stream-A block: true when one
    // was signalled, false after kCaptureWaitSeconds without one, after another
    // wait failure, or as soon as `*stop` (when given) turns true; the wait looks
    // at `stop` every 100 ms. Retries a wait interrupted by a signal. If the
    // real-time clock cannot be read, prints the system error for
    // "clock_gettime" and ends the process with status 1.
    static bool WaitForBlock(const std::atomic<bool>* stop = nullptr);
    // Copies `bytes` (at most kCaptureSlotBytes) of slot inTail into `out`, taking
    // each stream's channels only if that stream filled the slot (else silence),
    // hands the slot back to the streams and advances inTail.
    static void TakeBlock(uint8_t* out, unsigned bytes);
    // Posts a diagnostic for blocks dropped and failed semaphore posts since the
    // last call ("Capture overrun: stream %d dropped %u blocks", "Not able to set
    // event for PA callback A").
    static void PostCaptureProblems();

    // The stream callbacks (input, output, frame count, time info, status flags,
    // user data). They write into the ring the stream's block: the first 480
    // frames of `input` (missing frames, or all of them for a null input, as
    // silence), publish it and advance their head; stream A then posts
    // semGetAudio. No allocation, lock or I/O. Always return paContinue.
    static int paStreamLineInCallbackA(const void* input, void* output, unsigned long frameCount,
                                       const PaStreamCallbackTimeInfo* timeInfo,
                                       PaStreamCallbackFlags statusFlags, void* userData);
    static int paStreamLineInCallbackB(const void* input, void* output, unsigned long frameCount,
                                       const PaStreamCallbackTimeInfo* timeInfo,
                                       PaStreamCallbackFlags statusFlags, void* userData);
    static int paStreamLineInCallbackC(const void* input, void* output, unsigned long frameCount,
                                       const PaStreamCallbackTimeInfo* timeInfo,
                                       PaStreamCallbackFlags statusFlags, void* userData);

    // What each callback does, for stream `stream` (0..2): `userData` points at
    // the stream index and channel count pair; only the channel count c is read
    // from it. `input` holds frames of c interleaved 16-bit samples; the first
    // two of each frame become the stream's two channels (a missing second one,
    // c < 2, is silence). Returns true when the block was written, false when
    // it was dropped because the stream's next slot is still unread.
    static bool WriteCaptureBlock(unsigned stream, const void* input, unsigned long frameCount,
                                  const void* userData);

private:
    bool paInitialised_ = false;
    bool semaphoreCreated_ = false;
};
