#include <memory>

#include "app/DecodeAudio.h"
#include "app/HostInterface.h"
#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"
#include "app/WatermarkAudioConsumerFactoryImplementation.h"

// Builds the two factories and the decode driver and runs it on this thread.
void runDecoder(int argc, char** argv, CTavikReportCallback* report) {
    auto consumers = std::make_shared<WatermarkAudioConsumerFactoryImplementation>();
    auto callbacks = std::make_shared<WatermarkAudioConsumerCallbackFactoryImplementation>();
    DecodeAudio driver(false, consumers, callbacks, report);
    driver.execute(argc, argv);
}
