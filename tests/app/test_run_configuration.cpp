#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>

#include "app/RunConfiguration.h"

namespace {

bool sameOptions(const SignatureOptions& o, const SignatureOptions& expected) {
    return o.mode == expected.mode && o.rate == expected.rate && o.delivery == expected.delivery &&
           o.interval == expected.interval && o.block_size_mode == expected.block_size_mode &&
           o.do_compress == expected.do_compress &&
           o.generate_test_output == expected.generate_test_output;
}

// Loads a record whose every byte was garbage, so fields the defaults forget show.
AudioSdkWithSigsConfig load(int argc, char** argv) {
    AudioSdkWithSigsConfig c;
    std::memset(&c, 0x5A, sizeof c);
    std::strcpy(c.appConfig.infile, "in.wav");
    std::strcpy(c.appConfig.outdir, "/out");
    AudioSDKOptions(false).GetCommandLineOptions(argc, argv, &c);
    return c;
}

void expectDefaults(const AudioSdkWithSigsConfig& c) {
    const SampleAppConfigurationData& app = c.appConfig;
    EXPECT_FALSE(app.outputToConsole || app.displayDateTimeString || app.downmixSfpInputAudio ||
                 app.deliverSfpDataInBinaryFormat || app.deliverPasDataInBinaryFormat ||
                 app.deliverUnitamDataInBinaryFormat);
    EXPECT_EQ(app.reportMode, kReportModeJson);
    EXPECT_EQ(c.channel_selection, 0);
    EXPECT_EQ(c.asdk_process, 3584);  // TESK 2, ZELT and TESK 6 filtered
    EXPECT_EQ(c.flush_interval, 0);
    EXPECT_FALSE(c.audio_attributes.audio_is_raw);
    EXPECT_EQ(c.audio_attributes.channel_count | c.audio_attributes.sample_rate |
                  c.audio_attributes.sample_size,
              0);
    EXPECT_EQ(c.audio_attributes.packing_mode, Kelvane::AudioCore::PACKING_MODE_NOT_USED);
    const SignatureOptions none{0, 0, 0, 0, 0, false, false};
    EXPECT_TRUE(sameOptions(c.pas_options, none));
    EXPECT_TRUE(sameOptions(c.sfp_options, {0, 1, 0, 0, 0, false, false}));
    EXPECT_TRUE(sameOptions(c.dna_options, none));
    EXPECT_TRUE(sameOptions(c.tdash_options, none));
    EXPECT_TRUE(sameOptions(c.unitam_options, {0, 1, 0, 0, 1, false, false}));
    EXPECT_EQ(c.test_time, 0u);
    EXPECT_FALSE(c.do_run_nonstop || c.do_process_all_bytes_large_file);
    // Left for the driver: names, valid marker, report object.
    EXPECT_STREQ(app.infile, "in.wav");
    EXPECT_STREQ(app.outdir, "/out");
    EXPECT_EQ(app.configValid, 0x5A5A5A5A);
}

TEST(RunConfiguration, SameDefaultsWhateverTheArguments) {
    char prog[] = "host";
    char unknown[] = "--no-such-switch";
    char value[] = "-c=99";
    char* full[] = {prog, unknown, value, nullptr};
    char* empty[] = {nullptr};
    expectDefaults(load(3, full));
    expectDefaults(load(0, empty));
    expectDefaults(load(0, nullptr));
}

TEST(RunConfiguration, NullRecordThrowsInvalidArgument) {
    AudioSDKOptions options(true);
    try {
        options.GetCommandLineOptions(0, nullptr, nullptr);
        FAIL() << "no exception";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "Null configuration pointer\n");
    }
}

}  // namespace
