#include "app/DecodeAudio.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <stdexcept>
#include <thread>

#include "app/CTavikReportCallback.h"
#include "audiocore/CMeter.h"
#include "audiocore/Parameter.h"

std::atomic<bool> DecodeAudio::stopRequested_{false};

namespace {

constexpr int kVersionMajor = 6;
constexpr int kVersionMinor = 0;
constexpr int kVersionPatch = 16;
constexpr int kBuildVersion[4] = {0, 1, 0, 6};
constexpr int32_t kMaxChannelSelection = 16;
constexpr int kLineInChannels = 6;
constexpr int kLineInBitsPerSample = 16;

const char kPatentNotice[] =
    "This software decodes audio identification codes with methods that may be\n"
    "covered by patents of Kelvane. Use of this software does not grant any licence\n"
    "under those patents beyond the decoding of codes for audience measurement.\n";

// Scratch space for one channel of one block (the largest block a slot holds).
constexpr unsigned kScratchSamples = kCaptureSlotBytes / 2;

// Copies `text` into a fixed name buffer, always NUL-terminated.
void CopyName(char (&to)[kConfigNameLength], const char* text) {
    std::snprintf(to, sizeof to, "%s", text);
}

void CheckChannelSelection(int32_t selection) {
    if (selection > kMaxChannelSelection) {
        throw std::invalid_argument("Invalid channel selection. Maximum is 16.");
    }
}

}  // namespace

DecodeAudio::DecodeAudio(
    bool withSignatures, std::shared_ptr<AudioConsumerFactory> consumerFactory,
    std::shared_ptr<Kelvane::AudioCore::AudioConsumerCallbackFactory> callbackFactory,
    CTavikReportCallback* report)
    : report_(report),
      withSignatures_(withSignatures),
      consumerFactory_(std::move(consumerFactory)),
      callbackFactory_(std::move(callbackFactory)) {
    std::memset(&config_, 0, sizeof config_);
    packingMode_ = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
    versionText_ = "Kelvane Audio SDK, version " + std::to_string(kVersionMajor) + "." +
                   std::to_string(kVersionMinor) + "." + std::to_string(kVersionPatch) + "\n";
    patentNotice_ = kPatentNotice;
}

DecodeAudio::~DecodeAudio() {
    // Nobody reads the ring once the driver is gone.
    capture_.CloseStreaming(devices_);
    delete meter_;
    delete[] workBuffer_;
    delete sharedConfig_;
    delete channelConfig_;
}

std::shared_ptr<ConsoleStrategy> DecodeAudio::consoleFactory(bool toConsole) {
    if (toConsole) {
        return std::make_shared<SystemConsoleStrategy>();
    }
    return std::make_shared<NullConsoleStrategy>();
}

std::string DecodeAudio::getAudioConsumerVersion() const {
    int major = kVersionMajor;
    int minor = kVersionMinor;
    int patch = kVersionPatch;
    if (meter_ != nullptr) {
        meter_->GetAudioConsumerManagerVersion(major, minor, patch);
    }
    return "Audio Consumer Manager version: " + std::to_string(major) + "." +
           std::to_string(minor) + "." + std::to_string(patch) + "\n";
}

void DecodeAudio::RequestStop() { stopRequested_.store(true, std::memory_order_release); }
void DecodeAudio::ClearStop() { stopRequested_.store(false, std::memory_order_release); }
bool DecodeAudio::StopRequested() { return stopRequested_.load(std::memory_order_acquire); }

std::string DecodeAudio::BuildParameters() const {
    const AudioSdkWithSigsConfig& c = config_;
    int process = c.asdk_process;
    SignatureOptions sfp = c.sfp_options;
    if (sharedConfig_ != nullptr && sharedConfig_->downmixSfpInputAudio) {
        // The stream fingerprint then runs from the down-mix, not per channel.
        process &= ~ASDK_STREAM_FP;
        sfp = SignatureOptions{0, 0, 0, 0, 0, false, false};
    }
    return Parameter().createString(
        process, c.tdash_options.mode, c.dna_options.mode, static_cast<unsigned>(sfp.mode),
        static_cast<unsigned>(sfp.rate), static_cast<unsigned>(sfp.interval),
        static_cast<unsigned>(sfp.delivery), sfp.do_compress ? 1u : 0u,
        static_cast<unsigned>(c.pas_options.delivery),
        static_cast<unsigned>(c.pas_options.interval),
        static_cast<unsigned>(c.unitam_options.interval),
        static_cast<unsigned>(c.unitam_options.delivery),
        static_cast<unsigned>(c.unitam_options.block_size_mode),
        c.unitam_options.generate_test_output, c.appConfig.outdir, c.appConfig.baseFileName);
}

void DecodeAudio::CreateAndInitializePrimaryMeter() {
    if (bytesPerSample_ == 0 || channelConfig_ == nullptr || channelConfig_->channels == 0) {
        throw std::runtime_error("Null-pointer error before creating standard Meter\n");
    }
    if (config_.asdk_process == 0) {
        return;  // nothing to decode: the driver runs without a meter
    }
    meter_ = new CMeter(sharedConfig_, sharedConfig_->infile, channelConfig_, BuildParameters(),
                        consumerFactory_, callbackFactory_);
}

void DecodeAudio::CreateAndInitializeRequiredMeters() {
    delete meter_;
    meter_ = nullptr;
    CreateAndInitializePrimaryMeter();
}

void DecodeAudio::Initialize() {
    CheckChannelSelection(config_.channel_selection);
    SampleAppConfigurationData& app = config_.appConfig;
    CopyName(app.infile, "tavik3.wav");

    delete sharedConfig_;
    sharedConfig_ = new SampleAppConfigurationData(app);
    sharedConfig_->downmixSfpInputAudio = false;
    const char* base = app.infile;
    for (const char* p = app.infile; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') {
            base = p + 1;
        }
    }
    CopyName(app.baseFileName, base);

    delete channelConfig_;
    channelConfig_ = new Kelvane::AudioCore::AudioChannelConfiguration();

    app.displayDateTimeString = true;
    config_.channel_selection = 0;
    config_.audio_attributes.audio_is_raw = true;
    config_.audio_attributes.channel_count = kLineInChannels;
    config_.audio_attributes.sample_rate = kCaptureSampleRate;
    config_.audio_attributes.sample_size = kLineInBitsPerSample;

    sharedConfig_->configValid = 1;
    sharedConfig_->reportCallback = report_;
    sharedConfig_->outputToConsole = false;
    sharedConfig_->infile[0] = '\0';
    sharedConfig_->baseFileName[0] = '\0';
    sharedConfig_->outdir[0] = '\0';
    sharedConfig_->logdir[0] = '\0';
    sharedConfig_->displayDateTimeString = false;

    channelConfig_->bitsPerSample = kLineInBitsPerSample;
    channelConfig_->channels = kLineInChannels;
    channelConfig_->sampleRate = kCaptureSampleRate;
    channelConfig_->packingMode = config_.audio_attributes.packing_mode;
    bytesPerSample_ = kLineInBitsPerSample / 8;

    console_ = consoleFactory(sharedConfig_->outputToConsole);
    console_->writeline(versionText_.c_str());
    console_->writeline(patentNotice_.c_str());
    console_->writeline(getAudioConsumerVersion().c_str());

    CreateAndInitializeRequiredMeters();
}

void DecodeAudio::execute(int argc, char** argv) {
    AudioSDKOptions options(withSignatures_);
    options.GetCommandLineOptions(argc, argv, &config_);
    packingMode_ = config_.audio_attributes.packing_mode;
    Initialize();

    if (!capture_.CreateSemaphore()) {
        std::perror("sem_init");
        std::exit(1);
    }
    postDiagMessage("Begin DecodeAudio");
    postDiagMessage("Tavik3 line in decoder build version %d.%d.%d.%d.", kBuildVersion[0],
                    kBuildVersion[1], kBuildVersion[2], kBuildVersion[3]);

    uiConfiguration.reconfigure.store(0, std::memory_order_release);
    std::fputs("\nWait for configuration", stdout);
    std::fflush(stdout);
    // A host configures right after starting the decoder; look often so decoding
    // begins promptly.
    while (uiConfiguration.configured.load(std::memory_order_acquire) == 0) {
        if (StopRequested()) {
            capture_.CloseStreaming(devices_);
            return;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(kConfigurationPollMilliseconds));
    }

    channelSelection_ = 0;
    sharedConfig_->outdir[0] = '\0';
    sharedConfig_->displayDateTimeString = true;

    audioChannelConfiguration.channels = kLineInChannels;
    audioChannelConfiguration.sampleRate = kCaptureSampleRate;
    audioChannelConfiguration.bitsPerSample = kLineInBitsPerSample;
    audioChannelConfiguration.packingMode = Kelvane::AudioCore::PACKING_MODE_NOT_USED;
    bytesPerSample_ = kLineInBitsPerSample / 8;
    console_ = consoleFactory(sharedConfig_->outputToConsole);
    sharedConfig_->downmixSfpInputAudio = false;
    CheckChannelSelection(channelSelection_);

    postDiagMessage("%s\n", versionText_.c_str());
    postDiagMessage("%s\n", patentNotice_.c_str());
    postDiagMessage("%s\n", getAudioConsumerVersion().c_str());

    workBufferSize_ = (static_cast<uint32_t>(bytesPerSample_) * kLineInChannels * 512) | 64;
    delete[] workBuffer_;
    workBuffer_ = new unsigned char[workBufferSize_]();  // holds one 5760-byte block
    startTime_ = static_cast<uint32_t>(std::time(nullptr));

    LiveCapture::ResetCaptureRing();
    postDiagMessage("Attempting to open sound card.");
    switch (capture_.openSoundCard(devices_, &uiConfiguration)) {
        case 1:
            postDiagMessage("Not able to open sound card.");
            break;
        case 2:
            postDiagMessage("No audio devices found.");
            break;
        default:
            postDiagMessage("Sound card successfully opened.");
            break;
    }

    elapsedSeconds_ = 0.0f;
    int streams = uiConfiguration.channelCount.load() / 2;
    if (streams > kStreamCount) {
        streams = kStreamCount;
    }
    for (int k = 0; k < streams; ++k) {
        if (devices_[k].stream != nullptr) {
            LiveCapture::showSelectedDevices(devices_[k].inputParameters.device,
                                             devices_[k].inputParameters.channelCount);
        }
    }
    postDiagMessage("Built on %s", versionText_.c_str());
    postDiagMessage("Begin sampling audio");
    streamingBufferSize = kCaptureBlockBytes;

    options.GetCommandLineOptions(argc, argv, &config_);
    packingMode_ = config_.audio_attributes.packing_mode;
    postDiagMessage("\nStart detecting audio codes.");

    while (!StopRequested()) {
        streamingBufferSize = kCaptureBlockBytes;
        if (!LiveCapture::WaitForBlock(&stopRequested_)) {
            if (StopRequested()) {
                break;
            }
            postDiagMessage(
                "\nCritical error, timout waiting for audio receive semaphore.Close and re - "
                "open audio system.");
        }
        LiveCapture::TakeBlock(workBuffer_, streamingBufferSize);
        LiveCapture::PostCaptureProblems();
        decodeAudioBuffer(workBuffer_, streamingBufferSize, &uiConfiguration);
        if (uiConfiguration.reconfigure.load(std::memory_order_acquire) != 0) {
            capture_.ReconfigureStreams(devices_, &uiConfiguration);
        }
    }
    capture_.CloseStreaming(devices_);
}

int DecodeAudio::decodeAudioBuffer(unsigned char* block, unsigned int byteCount,
                                   uiConfiguration_t* config) {
    if (byteCount == 0 || block == nullptr) {
        return 0;
    }
    const int channels = audioChannelConfiguration.channels > 0 ? audioChannelConfiguration.channels
                                                                : kLineInChannels;
    unsigned samples = byteCount / static_cast<unsigned>(channels) / 2;
    if (samples > kScratchSamples) {
        samples = kScratchSamples;
    }
    const int rate = audioChannelConfiguration.sampleRate > 0 ? audioChannelConfiguration.sampleRate
                                                              : kCaptureSampleRate;
    const uint32_t timeValue = startTime_ + static_cast<uint32_t>(elapsedSeconds_);
    elapsedSeconds_ = static_cast<float>(samples) / static_cast<float>(rate);

    int hostChannels = config != nullptr ? config->channelCount.load() : 0;
    if (hostChannels > channels) {
        hostChannels = channels;  // blocks carry at most six channels
    }
    static thread_local int16_t scratch[kScratchSamples];
    const int16_t* interleaved = reinterpret_cast<const int16_t*>(block);
    for (int c = 0; c < hostChannels; ++c) {
        if (channelSelection_ != 0 && channelSelection_ != c + 1) {
            continue;
        }
        for (unsigned f = 0; f < samples; ++f) {
            std::memcpy(&scratch[f], interleaved + f * channels + c, sizeof(int16_t));
        }
        if (report_ != nullptr) {
            report_->calculateMeterLevel(scratch, static_cast<int>(samples), c);
        }
        if (meter_ != nullptr &&
            meter_->ProcessAudioBuffer(scratch, static_cast<int>(samples * 2), c, timeValue) < 0) {
            throw std::runtime_error("Unable to process block of audio data");
        }
    }
    return 1;
}
