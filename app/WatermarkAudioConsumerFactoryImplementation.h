#pragma once

#include <memory>
#include <string>

#include "audiocore/AudioConsumerFactory.h"

// Builds the watermark decoders by name (exact, case-sensitive):
//   "TESK2", "TESK2Filtered"                    -> Kelvane::TESKII::CTesk2HybridDecoder
//   "TESK6", "TESK6Filtered", "TESK6Reduced"    -> Kelvane::TESKVI::CTesk6Decoder
//   "ZELT", "ZELTFiltered"                      -> Kelvane::ZELT::ZELTDecoderAdapter
// each constructed with the input sample rate. Any other name (including the signature
// generators "UNITAM", "PAS", "DNA", "TDASH", "STREAMFP") throws InvalidDecoder
// ("Invalid decoder or signature generator"). Stateless.
class WatermarkAudioConsumerFactoryImplementation : public AudioConsumerFactory {
public:
    std::shared_ptr<Kelvane::AudioCore::IAudioConsumer> make(const std::string& name,
                                                             int sampleRate) override;
    // Whether make knows the name (it may still throw when that decoder is not built in).
    static bool IsKnownName(const std::string& name);
};
