// Half an hour each of white and pink noise through a real CMeter
// ("ZELTFiltered", the application's factories and callbacks): no ZELT code
// reaches the host.  Without the confirmation of program codes and flags the
// filtered display passed about 25 codes per half hour of noise.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/CTavikReportImplementation.h"
#include "app/HostInterface.h"
#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/AudioChannelConfiguration.h"
#include "audiocore/CMeter.h"
#include "generators/SignalMix.h"

using Kelvane::Generators::HostKind;
using Kelvane::Generators::SignalMix;

namespace {

TEST(ZeltNoise, NoCodeFromHalfAnHourOfWhiteOrPinkNoise) {
    static CTavikReportImplementation report;
    for (HostKind kind : {HostKind::WhiteNoise, HostKind::PinkNoise}) {
        for (auto& ring : reportedChannel) ring.reset();
        ReportZelt = true;
        bZeltRawOutput = false;
        SampleAppConfigurationData cfg{};
        cfg.configValid = 1;
        cfg.reportCallback = &report;
        cfg.reportMode = kReportModeJson;
        Kelvane::AudioCore::AudioChannelConfiguration ac;
        ac.channels = 1;
        ac.sampleRate = 48000;
        ac.bitsPerSample = 16;
        std::vector<std::string> codes;
        {
            CMeter meter(&cfg, nullptr, &ac, "{\"Parameters\":[{\"ZELTFiltered\":{}}]}",
                         std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                         std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
            char buffer[4096];
            for (int chunk = 0; chunk < 180; ++chunk) {  // 10 s each
                const auto pcm = SignalMix::ToInt16(
                    SignalMix::MakeHost(kind, 480000, 0.1, 77000 + 1000 * (int)kind + chunk));
                for (size_t off = 0; off + 480 <= pcm.size(); off += 480)
                    meter.ProcessAudioBuffer(const_cast<int16_t*>(pcm.data() + off), 960, 0,
                                             1767225600u);
                while (hostGetAudioCodes(0, buffer, sizeof buffer) == 1) codes.push_back(buffer);
            }
            meter.FlushData(0);
            while (hostGetAudioCodes(0, buffer, sizeof buffer) == 1) codes.push_back(buffer);
        }
        EXPECT_TRUE(codes.empty()) << codes.size() << " codes, first: " << codes.front();
    }
    bZeltRawOutput = true;
}

}  // namespace
