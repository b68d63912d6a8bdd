#include "app/LiveCapture.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

int16_t streamingInBuffer[kCaptureSlots][kCaptureSlotBytes / 2];
std::atomic<uint16_t> inHeadA{0};
std::atomic<uint16_t> inHeadB{0};
std::atomic<uint16_t> inHeadC{0};
uint16_t inTail = kCaptureFirstTail;
uint16_t streamingBufferSize = 0;
sem_t semGetAudio;
Kelvane::AudioCore::AudioChannelConfiguration audioChannelConfiguration;

std::atomic<uint8_t> captureSlotFilled[kCaptureSlots][3];
std::atomic<uint32_t> captureDroppedBlocks[3];
std::atomic<uint32_t> captureSignalFailures{0};

namespace {

constexpr int kNotUsed = kDeviceNotUsed;  // -99
constexpr int16_t kSilence = 0;

std::atomic<uint16_t>* const kHeads[3] = {&inHeadA, &inHeadB, &inHeadC};
PaStreamCallback* const kCallbacks[3] = {&LiveCapture::paStreamLineInCallbackA,
                                         &LiveCapture::paStreamLineInCallbackB,
                                         &LiveCapture::paStreamLineInCallbackC};

// Counts already reported by PostCaptureProblems (driver thread only).
uint32_t reportedDrops[3] = {0, 0, 0};
uint32_t reportedSignalFailures = 0;

}  // namespace

LiveCapture::~LiveCapture() {
    AudioDevice_t none[3] = {};
    CloseStreaming(none);
}

void LiveCapture::ResetCaptureRing() {
    std::memset(streamingInBuffer, 0, sizeof streamingInBuffer);
    // The slots from kCaptureFirstTail on start out as silent blocks waiting for
    // the driver: the streams fill slots 0.. while the driver takes those, so
    // the driver stays four blocks behind and no stream can overtake it.
    for (unsigned s = 0; s < kCaptureSlots; ++s) {
        for (auto& flag : captureSlotFilled[s]) {
            flag.store(s >= kCaptureFirstTail ? 1 : 0, std::memory_order_relaxed);
        }
    }
    for (int k = 0; k < 3; ++k) {
        kHeads[k]->store(0, std::memory_order_relaxed);
        captureDroppedBlocks[k].store(0, std::memory_order_relaxed);
        reportedDrops[k] = 0;
    }
    captureSignalFailures.store(0, std::memory_order_relaxed);
    reportedSignalFailures = 0;
    inTail = kCaptureFirstTail;
    streamingBufferSize = kCaptureBlockBytes;
    // No fence needed: the ring is reset only while no stream runs, and
    // starting a stream orders these writes before its first callback.
}

bool LiveCapture::CreateSemaphore() {
    if (semaphoreCreated_) {
        return true;
    }
    if (sem_init(&semGetAudio, 0, 0) != 0) {
        return false;
    }
    semaphoreCreated_ = true;
    return true;
}

int LiveCapture::OpenStreaming() {
    const PaError err = Pa_Initialize();
    if (err != paNoError) {
        postDiagMessage("An error occured while using the portaudio stream");
        postDiagMessage("Error number: %d", err);
        postDiagMessage("Error message: %s", Pa_GetErrorText(err));
        return -1;
    }
    paInitialised_ = true;
    postDiagMessage("\n\nPortAudio version number = %d\nPortAudio version text = %s",
                    Pa_GetVersion(), Pa_GetVersionText());
    return 0;
}

bool LiveCapture::SetPaDeviceContext(AudioDevice_t* device, uint16_t streamIndex, int inputDevice,
                                     int inputChannels, bool useInput, int outputDevice,
                                     int outputChannels, bool useOutput,
                                     PaStreamCallback* callback) {
    if (device == nullptr) {
        return false;
    }
    device->inputParameters.device = 0;
    device->outputParameters.device = 0;
    device->useInput = useInput ? 1 : 0;
    device->useOutput = useOutput ? 1 : 0;
    device->streamIndex = streamIndex;
    device->channelCount = static_cast<uint16_t>(inputChannels < 0 ? 0 : inputChannels);
    device->callback = callback;

    bool configured = false;
    auto fill = [](PaStreamParameters* params, int number, int channels, bool input) {
        if (number == kDeviceDefaultInput) {
            number = input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
            if (number == paNoDevice) {
                postDiagMessage(input ? "ERROR: No input device found."
                                      : "ERROR: No output device found.");
                number = -1;
            }
        }
        params->device = number < 0 ? 0 : number;
        params->channelCount = channels;
        params->sampleFormat = paInt16;
        // The device's default low output latency, as for every stream of this
        // system; an unknown device number gets 0 (opening it fails anyway).
        const PaDeviceInfo* info = number < 0 ? nullptr : Pa_GetDeviceInfo(number);
        params->suggestedLatency = info != nullptr ? info->defaultLowOutputLatency : 0.0;
        params->hostApiSpecificStreamInfo = nullptr;
    };
    if (inputChannels >= 1 && inputDevice != kNotUsed && useInput) {
        fill(&device->inputParameters, inputDevice, inputChannels, true);
        configured = true;
    }
    if (outputChannels >= 1 && outputDevice != kNotUsed && useOutput) {
        fill(&device->outputParameters, outputDevice, outputChannels, false);
        configured = true;
    }
    return configured;
}

namespace {

PaError OpenStream(AudioDevice_t* device) {
    const bool inputOnly = device->useInput != 0 && device->useOutput == 0;
    return Pa_OpenStream(&device->stream, inputOnly ? &device->inputParameters : nullptr,
                         inputOnly ? nullptr : &device->outputParameters, kCaptureSampleRate,
                         kCaptureFrames, paClipOff, device->callback, &device->streamIndex);
}

}  // namespace

int LiveCapture::OpenAudioDevice(AudioDevice_t* device) {
    if (OpenStream(device) != paNoError) {
        device->stream = nullptr;
        postDiagMessage("in openAudioDevice Error opening Stream");
        return 1;
    }
    return 0;
}

int LiveCapture::ReopenAudioDevice(AudioDevice_t* device) {
    const bool inputOnly = device->useInput != 0 && device->useOutput == 0;
    if (OpenStream(device) != paNoError) {
        device->stream = nullptr;
        postDiagMessage(inputOnly ? "Error opening input stream"
                                  : "Error opening input and output streams");
        return 1;
    }
    return 0;
}

int LiveCapture::openSoundCard(AudioDevice_t devices[3], uiConfiguration_t* config) {
    int result = 0;
    if (OpenStreaming() != 0) {
        result = 1;
    } else if (Pa_GetDeviceCount() <= 0) {
        result = 2;
    }
    // Opening goes on in both failure cases: the diagnostics then say which
    // stream could not be opened.
    int requested = 0;
    int started = 0;
    for (int k = 0; k < kStreamCount; ++k) {
        const int number = config->device[k].load();
        int channels = config->deviceChannels[k].load();
        // A device that kept its number from load time (0) was never given a
        // channel count; every stream of this system is a stereo pair.
        if (channels == 0) {
            channels = kCaptureStreamChannels;
        }
        SetPaDeviceContext(&devices[k], static_cast<uint16_t>(k), number, channels, true, kNotUsed,
                           0, false, kCallbacks[k]);
    }
    for (int k = 0; k < kStreamCount; ++k) {
        if (config->device[k].load() == kNotUsed) {
            continue;
        }
        ++requested;
        bool ok = OpenAudioDevice(&devices[k]) == 0;
        if (ok && Pa_StartStream(devices[k].stream) != paNoError) {
            Pa_CloseStream(devices[k].stream);
            devices[k].stream = nullptr;
            ok = false;
        }
        if (!ok) {
            postDiagMessage("in openSoundCard not able to start stream %d", k);
            continue;
        }
        ++started;
    }
    // Reporting success while no requested stream runs would leave the host
    // believing the card is open.
    if (result == 0 && requested > 0 && started == 0) {
        result = 1;
    }
    return result;
}

void LiveCapture::showSelectedDevices(int device, int /*channels*/) {
    const int count = Pa_GetDeviceCount();
    for (int i = 0; i < count; ++i) {
        if (i != device) {
            continue;
        }
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (info == nullptr) {
            return;
        }
        const PaHostApiInfo* api = Pa_GetHostApiInfo(info->hostApi);
        const char* kind = "output only";
        if (info->maxInputChannels > 0) {
            kind = info->maxOutputChannels > 0 ? "full-duplex" : "input only";
        }
        postDiagMessage("Selected input is %d (%s, %s, %s)\n", i, info->name,
                        api != nullptr ? api->name : "", kind);
        return;
    }
}

void LiveCapture::ReconfigureStreams(AudioDevice_t devices[3], uiConfiguration_t* config) {
    int streams = config->channelCount.load() / 2;
    if (streams > kStreamCount) {
        streams = kStreamCount;
    }
    for (int i = 0; i < streams; ++i) {
        AudioDevice_t& dev = devices[i];
        if (dev.stream != nullptr) {
            if (Pa_StopStream(dev.stream) != paNoError) {
                postDiagMessage("Not able to stop stream %d", i);
            } else {
                postDiagMessage("Stream %d stopped", i);
            }
            // Close the stopped stream before its replacement is opened, so
            // device changes do not leak streams.
            Pa_CloseStream(dev.stream);
            dev.stream = nullptr;
        }
        const int number = config->device[i].load();
        if (number == kNotUsed) {
            continue;  // the host took this pair out of use
        }
        int channels = config->deviceChannels[i].load();
        if (channels == 0) {
            channels = kCaptureStreamChannels;
        }
        SetPaDeviceContext(&dev, static_cast<uint16_t>(i), number, channels, true, kNotUsed, 0,
                           false, kCallbacks[i]);
        if (ReopenAudioDevice(&dev) != 0) {
            continue;
        }
        showSelectedDevices(dev.inputParameters.device, dev.inputParameters.channelCount);
        if (Pa_StartStream(dev.stream) != paNoError) {
            postDiagMessage("Not able to restart stream %d", i);
        } else {
            postDiagMessage("Stream %d restarted", i);
        }
    }
    config->reconfigure.store(0, std::memory_order_release);
}

void LiveCapture::CloseStreaming(AudioDevice_t devices[3]) {
    for (int k = 0; k < kStreamCount; ++k) {
        if (devices[k].stream != nullptr) {
            Pa_CloseStream(devices[k].stream);  // aborts a running stream first
            devices[k].stream = nullptr;
        }
    }
    if (semaphoreCreated_) {
        sem_destroy(&semGetAudio);
        semaphoreCreated_ = false;
    }
    if (paInitialised_) {
        Pa_Terminate();
        paInitialised_ = false;
    }
}

bool LiveCapture::WaitForBlock(const std::atomic<bool>* stop) {
    timespec deadline{};
    if (clock_gettime(CLOCK_REALTIME, &deadline) != 0) {
        std::perror("clock_gettime");
        std::exit(1);
    }
    deadline.tv_sec += kCaptureWaitSeconds;
    for (;;) {
        // Wait in short steps so a stop request is seen promptly; the overall
        // deadline stays kCaptureWaitSeconds.
        timespec now{};
        if (clock_gettime(CLOCK_REALTIME, &now) != 0) {
            std::perror("clock_gettime");
            std::exit(1);
        }
        timespec step = now;
        step.tv_nsec += 100 * 1000 * 1000;
        if (step.tv_nsec >= 1000 * 1000 * 1000) {
            step.tv_nsec -= 1000 * 1000 * 1000;
            step.tv_sec += 1;
        }
        const bool last = step.tv_sec > deadline.tv_sec ||
                          (step.tv_sec == deadline.tv_sec && step.tv_nsec >= deadline.tv_nsec);
        if (last) {
            step = deadline;
        }
        if (sem_timedwait(&semGetAudio, &step) == 0) {
            return true;
        }
        if (errno == EINTR) {
            continue;
        }
        if (errno != ETIMEDOUT || last) {
            return false;
        }
        if (stop != nullptr && stop->load(std::memory_order_acquire)) {
            return false;
        }
    }
}

void LiveCapture::TakeBlock(uint8_t* out, unsigned bytes) {
    if (bytes > kCaptureSlotBytes) {
        bytes = kCaptureSlotBytes;
    }
    std::memset(out, 0, bytes);
    const int16_t* slot = streamingInBuffer[inTail];
    const unsigned frames = bytes / (kCaptureChannels * 2) < kCaptureFrames
                                ? bytes / (kCaptureChannels * 2)
                                : kCaptureFrames;
    int16_t* dst = reinterpret_cast<int16_t*>(out);
    for (unsigned k = 0; k < 3; ++k) {
        std::atomic<uint8_t>& filled = captureSlotFilled[inTail][k];
        if (filled.load(std::memory_order_acquire) == 0) {
            continue;  // the stream has not filled this slot: silence
        }
        for (unsigned f = 0; f < frames; ++f) {
            const unsigned at = f * kCaptureChannels + 2 * k;
            dst[at] = slot[at];
            dst[at + 1] = slot[at + 1];
        }
        filled.store(0, std::memory_order_release);  // the stream may write it again
    }
    inTail = NextCaptureSlot(inTail);
}

void LiveCapture::PostCaptureProblems() {
    for (int k = 0; k < 3; ++k) {
        const uint32_t drops = captureDroppedBlocks[k].load(std::memory_order_relaxed);
        if (drops != reportedDrops[k]) {
            postDiagMessage("Capture overrun: stream %d dropped %u blocks", k,
                            drops - reportedDrops[k]);
            reportedDrops[k] = drops;
        }
    }
    const uint32_t failures = captureSignalFailures.load(std::memory_order_relaxed);
    if (failures != reportedSignalFailures) {
        postDiagMessage("Not able to set event for PA callback A");
        reportedSignalFailures = failures;
    }
}

bool LiveCapture::WriteCaptureBlock(unsigned stream, const void* input, unsigned long frameCount,
                                    const void* userData) {
    if (stream >= 3) {
        return false;
    }
    const unsigned channels = userData != nullptr ? static_cast<const uint16_t*>(userData)[1] : 0;
    std::atomic<uint16_t>& head = *kHeads[stream];
    const uint16_t slotIndex = head.load(std::memory_order_relaxed);
    std::atomic<uint8_t>& filled = captureSlotFilled[slotIndex][stream];
    if (filled.load(std::memory_order_acquire) != 0) {
        // The driver has not taken this slot yet: keep its block, drop ours.
        captureDroppedBlocks[stream].fetch_add(1, std::memory_order_relaxed);
        return false;
    }
    int16_t* dst = streamingInBuffer[slotIndex] + kCaptureStreamChannels * stream;
    const int16_t* in = static_cast<const int16_t*>(input);
    // Without an input buffer (or without channels) the block is silence; a
    // short buffer is completed with silence rather than read past its end.
    const unsigned long frames = (in == nullptr || channels == 0)
                                     ? 0
                                     : (frameCount < kCaptureFrames ? frameCount : kCaptureFrames);
    const unsigned used = channels < kCaptureStreamChannels ? channels : kCaptureStreamChannels;
    unsigned long f = 0;
    for (; f < frames; ++f) {
        const int16_t* frame = in + f * channels;
        int16_t* to = dst + f * kCaptureChannels;
        to[0] = frame[0];
        to[1] = used > 1 ? frame[1] : kSilence;
    }
    for (; f < kCaptureFrames; ++f) {
        int16_t* to = dst + f * kCaptureChannels;
        to[0] = kSilence;
        to[1] = kSilence;
    }
    filled.store(1, std::memory_order_release);
    head.store(NextCaptureSlot(slotIndex), std::memory_order_relaxed);
    return true;
}

int LiveCapture::paStreamLineInCallbackA(const void* input, void* /*output*/,
                                         unsigned long frameCount,
                                         const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                         PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    if (WriteCaptureBlock(0, input, frameCount, userData) && sem_post(&semGetAudio) != 0) {
        captureSignalFailures.fetch_add(1, std::memory_order_relaxed);
    }
    return paContinue;
}

int LiveCapture::paStreamLineInCallbackB(const void* input, void* /*output*/,
                                         unsigned long frameCount,
                                         const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                         PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    WriteCaptureBlock(1, input, frameCount, userData);
    return paContinue;
}

int LiveCapture::paStreamLineInCallbackC(const void* input, void* /*output*/,
                                         unsigned long frameCount,
                                         const PaStreamCallbackTimeInfo* /*timeInfo*/,
                                         PaStreamCallbackFlags /*statusFlags*/, void* userData) {
    WriteCaptureBlock(2, input, frameCount, userData);
    return paContinue;
}
