#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "app/RunConfiguration.h"

namespace {

// A record with every byte set, so fields the defaults forget show up.
AudioSdkWithSigsConfig dirtyConfig() {
    AudioSdkWithSigsConfig config;
    std::memset(&config, 0x5A, sizeof config);
    return config;
}

void expectDefaults(const AudioSdkWithSigsConfig& c) {
    const SampleAppConfigurationData& app = c.appConfig;
    EXPECT_FALSE(app.outputToConsole);
    EXPECT_FALSE(app.displayDateTimeString);
    EXPECT_FALSE(app.downmixSfpInputAudio);
    EXPECT_FALSE(app.deliverSfpDataInBinaryFormat);
    EXPECT_FALSE(app.deliverPasDataInBinaryFormat);
    EXPECT_FALSE(app.deliverUnitamDataInBinaryFormat);
    EXPECT_EQ(app.reportMode, 1);

    EXPECT_EQ(c.channel_selection, 0);
    EXPECT_EQ(c.asdk_process, 3584);
    EXPECT_EQ(c.flush_interval, 0);
    EXPECT_FALSE(c.audio_attributes.audio_is_raw);
    EXPECT_EQ(c.audio_attributes.channel_count, 0);
    EXPECT_EQ(c.audio_attributes.sample_rate, 0);
    EXPECT_EQ(c.audio_attributes.sample_size, 0);
    EXPECT_EQ(c.audio_attributes.packing_mode, Kelvane::AudioCore::PACKING_MODE_NOT_USED);

    auto expectOptions = [](const SignatureOptions& o, int rate, int blockSizeMode) {
        EXPECT_EQ(o.mode, 0);
        EXPECT_EQ(o.rate, rate);
        EXPECT_EQ(o.delivery, 0);
        EXPECT_EQ(o.interval, 0);
        EXPECT_EQ(o.block_size_mode, blockSizeMode);
        EXPECT_FALSE(o.do_compress);
        EXPECT_FALSE(o.generate_test_output);
    };
    expectOptions(c.pas_options, 0, 0);
    expectOptions(c.sfp_options, 1, 0);
    expectOptions(c.dna_options, 0, 0);
    expectOptions(c.tdash_options, 0, 0);
    expectOptions(c.unitam_options, 1, 1);

    EXPECT_EQ(c.test_time, 0u);
    EXPECT_FALSE(c.do_run_nonstop);
    EXPECT_FALSE(c.do_process_all_bytes_large_file);
}

TEST(RunConfiguration, DefaultsIgnoreTheArgumentVector) {
    char prog[] = "host";
    char unknown[] = "--no-such-switch";
    char value[] = "-c=99";
    char* full[] = {prog, unknown, value, nullptr};
    char* empty[] = {nullptr};

    AudioSDKOptions options(false);
    AudioSdkWithSigsConfig a = dirtyConfig();
    AudioSdkWithSigsConfig b = dirtyConfig();
    AudioSdkWithSigsConfig c = dirtyConfig();
    options.GetCommandLineOptions(3, full, &a);
    options.GetCommandLineOptions(0, empty, &b);
    options.GetCommandLineOptions(0, nullptr, &c);
    expectDefaults(a);
    expectDefaults(b);
    expectDefaults(c);
}

TEST(RunConfiguration, DefaultMaskSelectsTheThreeFilteredDecoders) {
    EXPECT_EQ(kDefaultAsdkProcess, ASDK_TESK2_FILTERED | ASDK_ZELT_FILTERED | ASDK_TESK6_FILTERED);
    EXPECT_EQ(kDefaultAsdkProcess &
                  (ASDK_TESK2_RAW | ASDK_ZELT_RAW | ASDK_TESK6_RAW | ASDK_TESK6_REDUCED |
                   ASDK_UNITAM | ASDK_PAS | ASDK_DNA | ASDK_TDASH | ASDK_STREAM_FP),
              0);
}

TEST(RunConfiguration, NamesValidFlagAndReportObjectAreLeftAlone) {
    AudioSdkWithSigsConfig config = dirtyConfig();
    std::strcpy(config.appConfig.infile, "in.wav");
    std::strcpy(config.appConfig.baseFileName, "base");
    std::strcpy(config.appConfig.outdir, "/out");
    std::strcpy(config.appConfig.logdir, "/log");
    config.appConfig.configValid = 1;
    CTavikReportCallback* report = reinterpret_cast<CTavikReportCallback*>(&config);
    config.appConfig.reportCallback = report;

    AudioSDKOptions(false).GetCommandLineOptions(0, nullptr, &config);

    expectDefaults(config);
    EXPECT_STREQ(config.appConfig.infile, "in.wav");
    EXPECT_STREQ(config.appConfig.baseFileName, "base");
    EXPECT_STREQ(config.appConfig.outdir, "/out");
    EXPECT_STREQ(config.appConfig.logdir, "/log");
    EXPECT_EQ(config.appConfig.configValid, 1);
    EXPECT_EQ(config.appConfig.reportCallback, report);
}

TEST(RunConfiguration, NullRecordThrowsInvalidArgument) {
    AudioSDKOptions options(true);
    try {
        options.GetCommandLineOptions(0, nullptr, nullptr);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Null configuration pointer\n");
    }
    options.InitializeConfig(nullptr);  // ignored, no crash
}

}  // namespace
