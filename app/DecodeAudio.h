// The decode driver: owns the run configuration and the one meter of the
// system (six channels, 48000 Hz, 16 bits), waits for the host configuration,
// opens the live capture (app/LiveCapture.h) and then loops: each 10 ms block
// from the capture ring is split into channels, fed to the host level meter
// and to the meter. Detections leave through the report callbacks the meter
// creates; progress and errors leave as diagnostics (setDiagMessage).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "app/ConsoleStrategy.h"
#include "app/HostInterface.h"
#include "app/LiveCapture.h"
#include "app/RunConfiguration.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/AudioConsumerCallbackFactory.h"
#include "audiocore/AudioConsumerFactory.h"

class CMeter;
class CTavikReportCallback;

class DecodeAudio {
public:
    // Work buffer size: (2 bytes x 6 channels) x 512 with the 64 bit set.
    static constexpr unsigned kWorkBufferSize = 6208;
    // How often the driver looks for the host's first configuration.
    static constexpr unsigned kConfigurationPollMilliseconds = 100;

    // Stores the arguments (the report object is not owned), zeroes the run
    // configuration, sets the packing mode to 3 and builds the version text
    // "Kelvane Audio SDK, version 6.0.16\n" and the patent notice.
    DecodeAudio(bool withSignatures, std::shared_ptr<AudioConsumerFactory> consumerFactory,
                std::shared_ptr<Kelvane::AudioCore::AudioConsumerCallbackFactory> callbackFactory,
                CTavikReportCallback* report);
    // Releases the meter, the work buffer, the shared configuration and the
    // channel configuration; closes the capture if it is still open.
    virtual ~DecodeAudio();
    DecodeAudio(const DecodeAudio&) = delete;
    DecodeAudio& operator=(const DecodeAudio&) = delete;

    // The run, in this order: load the run configuration, Initialize, create
    // semGetAudio (failure: system error for "sem_init", exit status 1), post
    // "Begin DecodeAudio" and "Tavik3 line in decoder build version 0.1.0.6.",
    // clear the reconfigure flag, print "\nWait for configuration" and look for
    // the host's configured flag every 100 ms; then post the version text, the
    // patent notice and the consumer version ("%s\n" each), "Attempting to open
    // sound card.", open the capture and post "Sound card successfully opened.",
    // "Not able to open sound card." or "No audio devices found." (the run goes
    // on in every case), describe the device of every stream below channel
    // count / 2, post "Built on %s" with the version text, "Begin sampling audio"
    // and "\nStart detecting audio codes.", and loop: wait for a block (a
    // time-out posts "\nCritical error, timout waiting for audio receive
    // semaphore.Close and re - open audio system." and the slot is decoded all
    // the same), take it from the ring, decodeAudioBuffer, reopen the streams if
    // the host asked for it.
    // Returns only by an exception (std::invalid_argument, std::runtime_error,
    // or what the meter's construction throws), leaving the streams running, or
    // after RequestStop (streams closed, semaphore destroyed).
    void execute(int argc, char** argv);

    // Builds the shared configuration, the channel configuration and the meter
    // (called by execute). Throws std::invalid_argument "Invalid channel
    // selection. Maximum is 16." for a channel selection above 16,
    // std::runtime_error "Null-pointer error before creating standard Meter\n"
    // without bytes per sample or channels, and what CMeter's constructor
    // throws. A process mask of 0 leaves the driver without a meter.
    void Initialize();

    // Decodes one captured block of `byteCount` bytes of 6 interleaved 16-bit
    // channels (480 frames for 5760 bytes). For each channel c below the host
    // channel count (at most 6), unless a channel selection n excludes it
    // (n != 0 and n != c + 1): de-interleaves its samples, feeds them to the
    // report object's level meter (channel c) and to the meter (channel c, the
    // capture start time). Returns 0 for byteCount 0, else 1. Throws
    // std::runtime_error "Unable to process block of audio data" when the meter
    // rejects a block.
    int decodeAudioBuffer(unsigned char* block, unsigned int byteCount, uiConfiguration_t* config);

    // "Audio Consumer Manager version: 6.0.16\n".
    std::string getAudioConsumerVersion() const;

    // A SystemConsoleStrategy for true, a NullConsoleStrategy for false.
    static std::shared_ptr<ConsoleStrategy> consoleFactory(bool toConsole);

    const std::string& versionText() const { return versionText_; }
    const std::string& patentNotice() const { return patentNotice_; }
    AudioSdkWithSigsConfig& configuration() { return config_; }
    const SampleAppConfigurationData* sharedConfiguration() const { return sharedConfig_; }
    CMeter* meter() const { return meter_; }
    // POSIX seconds at the start of capture (0 before it).
    uint32_t startTime() const { return startTime_; }
    void setStartTime(uint32_t seconds) { startTime_ = seconds; }

    // Asks every running execute to close the capture and return at its next
    // look (configuration poll or block). Not reachable from the host; for
    // tests and embedding programs. ClearStop re-arms the driver.
    static void RequestStop();
    static void ClearStop();
    static bool StopRequested();

private:
    void CreateAndInitializeRequiredMeters();
    void CreateAndInitializePrimaryMeter();
    std::string BuildParameters() const;

    AudioSdkWithSigsConfig config_;
    CTavikReportCallback* report_;
    CMeter* meter_ = nullptr;
    unsigned char* workBuffer_ = nullptr;
    SampleAppConfigurationData* sharedConfig_ = nullptr;
    Kelvane::AudioCore::AudioChannelConfiguration* channelConfig_ = nullptr;
    bool withSignatures_;
    int32_t packingMode_ = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
    int32_t bytesPerSample_ = 0;
    int32_t channelSelection_ = 0;
    uint32_t workBufferSize_ = 0;
    uint32_t startTime_ = 0;
    float elapsedSeconds_ = 0.0f;
    std::shared_ptr<AudioConsumerFactory> consumerFactory_;
    std::shared_ptr<Kelvane::AudioCore::AudioConsumerCallbackFactory> callbackFactory_;
    std::shared_ptr<ConsoleStrategy> console_;
    std::string versionText_;
    std::string patentNotice_;

    AudioDevice_t devices_[3] = {};
    LiveCapture capture_;
    bool semaphoreCreated_ = false;

    static std::atomic<bool> stopRequested_;
};
