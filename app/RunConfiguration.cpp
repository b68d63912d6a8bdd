#include "app/RunConfiguration.h"

#include <stdexcept>

AudioSDKOptions::AudioSDKOptions(bool withSignatures) : withSignatures_(withSignatures) {}

void AudioSDKOptions::GetCommandLineOptions(int /*argc*/, char** /*argv*/,
                                            AudioSdkWithSigsConfig* config) {
    if (config == nullptr) {
        throw std::invalid_argument("Null configuration pointer\n");
    }
    // The run is configured at build time; the arguments only exist for the host.
    InitializeConfig(config);
}

void AudioSDKOptions::InitializeConfig(AudioSdkWithSigsConfig* config) {
    if (config == nullptr) {
        return;
    }
    SampleAppConfigurationData& app = config->appConfig;
    app.outputToConsole = false;
    app.displayDateTimeString = false;
    app.downmixSfpInputAudio = false;
    app.deliverSfpDataInBinaryFormat = false;
    app.deliverPasDataInBinaryFormat = false;
    app.deliverUnitamDataInBinaryFormat = false;
    app.reportMode = kReportModeJson;

    config->channel_selection = 0;
    config->asdk_process = kDefaultAsdkProcess;
    config->flush_interval = 0;

    config->audio_attributes.audio_is_raw = false;
    config->audio_attributes.channel_count = 0;
    config->audio_attributes.sample_rate = 0;
    config->audio_attributes.sample_size = 0;
    config->audio_attributes.packing_mode = Kelvane::AudioCore::PACKING_MODE_NOT_USED;

    const SignatureOptions none{0, 0, 0, 0, 0, false, false};
    config->pas_options = none;
    config->sfp_options = none;
    config->sfp_options.rate = 1;
    config->dna_options = none;
    config->tdash_options = none;
    config->unitam_options = none;
    config->unitam_options.rate = 1;
    config->unitam_options.block_size_mode = 1;

    config->test_time = 0;
    config->do_run_nonstop = false;
    config->do_process_all_bytes_large_file = false;
}
