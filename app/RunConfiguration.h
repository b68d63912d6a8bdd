// Run configuration of the decoding application: the records the driver keeps,
// their fixed defaults, and AudioSDKOptions, which fills them.
//
// Nothing here is read from the argument vector: every run starts from the same
// built-in defaults. What the host may change at run time (channel count, sound
// devices, decoder families, raw or filtered display) arrives through
// setConfiguration (app/HostInterface.h), not through these records.
#pragma once

#include <cstdint>

#include "audiocore/SampleConversion.h"

class CTavikReportCallback;

// Length of each of the four name buffers of SampleAppConfigurationData,
// terminating NUL included.
constexpr int kConfigNameLength = 256;

// Bits of AudioSdkWithSigsConfig::asdk_process. Each bit switches one consumer
// on; the decoder parameters document is built from the mask. The values 2 and
// 256 name no consumer.
enum AsdkProcessBit : int32_t {
    ASDK_TESK2_RAW = 1,
    ASDK_TESK6_REDUCED = 4,
    ASDK_UNITAM = 8,
    ASDK_PAS = 16,
    ASDK_DNA = 32,
    ASDK_TDASH = 64,
    ASDK_ZELT_RAW = 128,
    ASDK_TESK2_FILTERED = 512,
    ASDK_ZELT_FILTERED = 1024,
    ASDK_TESK6_FILTERED = 2048,
    ASDK_TESK6_RAW = 4096,
    ASDK_STREAM_FP = 8192,
};

// Default process mask: the three filtered decoders (512 + 1024 + 2048), no
// signature generator.
constexpr int32_t kDefaultAsdkProcess =
    ASDK_TESK2_FILTERED | ASDK_ZELT_FILTERED | ASDK_TESK6_FILTERED;  // 3584

// Report mode values (SampleAppConfigurationData::reportMode).
constexpr int32_t kReportModeLegacy = 0;  // comma-delimited report lines
constexpr int32_t kReportModeJson = 1;    // one compact JSON text per detection

// The part of the run configuration that is copied and handed to the meter and,
// through it, to every report callback's init().
struct SampleAppConfigurationData {
    // Not written by the defaults. The driver sets it to 1 in the copy it hands
    // to the meter, marking that copy as filled in.
    int32_t configValid;
    // Host report object (not owned). Null in the driver's own record; set to the
    // host report object in the copy handed on. Report callbacks deliver their
    // texts through reportCallback->setAudioCodes(channel, &text).
    CTavikReportCallback* reportCallback;
    char infile[kConfigNameLength];        // source name, NUL-terminated
    char baseFileName[kConfigNameLength];  // file part of infile, without its folder
    char outdir[kConfigNameLength];        // folder for listings and reports
    char logdir[kConfigNameLength];        // folder for error and status logs
    bool outputToConsole;                  // echo reports and status to standard output
    bool displayDateTimeString;            // show decoded time codes as date/time strings
    bool downmixSfpInputAudio;             // feed the stream fingerprint from a down-mix
    bool deliverSfpDataInBinaryFormat;     // stream fingerprint delivery in binary form
    bool deliverPasDataInBinaryFormat;     // PAS delivery in binary form
    bool deliverUnitamDataInBinaryFormat;  // UNITAM delivery in binary form
    // kReportModeLegacy or kReportModeJson (default); read by the report callbacks.
    int32_t reportMode;
};

// Description of the incoming audio.
struct AudioAttributes {
    bool audio_is_raw;      // default false
    int32_t channel_count;  // default 0
    int32_t sample_rate;    // Hz, default 0
    int32_t sample_size;    // bits per sample, default 0
    // How samples sit in their bytes; default PACKING_MODE_NOT_USED (plain 16-bit).
    Kelvane::AudioCore::ePackingMode packing_mode;
};

// Settings of one signature generator.
struct SignatureOptions {
    int32_t mode;
    int32_t rate;
    int32_t delivery;           // 1 = binary delivery
    int32_t interval;           // seconds
    int32_t block_size_mode;    // UNITAM only: 0 = 50-chunk blocks, 1 = 15-chunk blocks
    bool do_compress;           // stream fingerprint only
    bool generate_test_output;  // UNITAM only
};

// The driver's whole run configuration.
struct AudioSdkWithSigsConfig {
    SampleAppConfigurationData appConfig;
    int32_t channel_selection;  // 0 = every channel; n (1..16) = only the n-th channel
    int32_t asdk_process;       // AsdkProcessBit mask, default kDefaultAsdkProcess
    int32_t flush_interval;     // 0 = never flush
    AudioAttributes audio_attributes;
    SignatureOptions pas_options;          // all 0 / false
    SignatureOptions sfp_options;          // rate 1, rest 0 / false
    SignatureOptions dna_options;          // all 0 / false
    SignatureOptions tdash_options;        // all 0 / false
    SignatureOptions unitam_options;       // rate 1, block_size_mode 1, rest 0 / false
    uint32_t test_time;                    // POSIX start time of the run; 0 = current time
    bool do_run_nonstop;                   // repeat the source endlessly
    bool do_process_all_bytes_large_file;  // ignore a declared data size
};

// Fills AudioSdkWithSigsConfig with the built-in defaults.
class AudioSDKOptions {
public:
    // withSignatures: whether signature generators are wanted (false in this
    // system); it does not change the configuration.
    explicit AudioSDKOptions(bool withSignatures);

    // Loads the run configuration into *config. argc/argv are accepted for the
    // host's sake but not consulted: the result is InitializeConfig(config)
    // whatever they hold (argv may be null).
    // Throws std::invalid_argument("Null configuration pointer\n") for a null config.
    void GetCommandLineOptions(int argc, char** argv, AudioSdkWithSigsConfig* config);

    // Writes every default into *config (null is ignored). Leaves the four name
    // strings, configValid and reportCallback of appConfig untouched: the driver
    // zeroes those itself.
    void InitializeConfig(AudioSdkWithSigsConfig* config);

    bool withSignatures() const { return withSignatures_; }

private:
    bool withSignatures_;
};
