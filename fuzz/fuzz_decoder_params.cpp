// The decoder parameters document: the parser alone, then a one-channel meter
// built from it with the real factories, as the driver builds one.
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <string>

#include "app/RunConfiguration.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"
#include "audiocore/CMeter.h"
#include "audiocore/ParameterParser.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string document(reinterpret_cast<const char*>(data), size);
    size_t names = 0;
    try {
        names = ParameterParser::getDecoders(document).size();
    } catch (const std::exception&) {
        return 0;
    }
    // Each name costs a decoder; a few are enough to reach every path.
    if (names > 4) return 0;
    static SampleAppConfigurationData app;  // no report object: callbacks stay quiet
    Kelvane::AudioCore::AudioChannelConfiguration config;
    config.channels = 1;
    config.sampleRate = 48000;
    config.bitsPerSample = 16;
    try {
        CMeter meter(&app, nullptr, &config, document,
                     std::make_shared<WatermarkAudioConsumerFactoryImplementation>(),
                     std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>());
        unsigned char block[960] = {};
        meter.ProcessAudioBuffer(block, sizeof block, 0, 0);
    } catch (const std::exception&) {
    }
    return 0;
}
