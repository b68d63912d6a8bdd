#include "app/WatermarkAudioConsumerFactoryImplementation.h"

#include "audiocore/Exceptions.h"

// Decoder classes. Each family adds its header here and its maker below.
#include "decoders/tesk2/CTesk2HybridDecoder.h"
#include "decoders/tesk6/CTesk6Decoder.h"
#include "decoders/zelt/ZELTDecoderAdapter.h"

using Kelvane::AudioCore::IAudioConsumer;

namespace {

using ConsumerMaker = std::shared_ptr<IAudioConsumer> (*)(int sampleRate);

template <class Decoder>
std::shared_ptr<IAudioConsumer> MakeDecoder(int sampleRate) {
    return std::make_shared<Decoder>(sampleRate);
}

// Maker of a family whose decoder is not part of the build.
[[maybe_unused]] std::shared_ptr<IAudioConsumer> NotBuilt(int /*sampleRate*/) {
    throw InvalidDecoder();
}

// One maker per decoder family, e.g. MakeDecoder<Kelvane::TESKVI::CTesk6Decoder>.
const ConsumerMaker kMakeTesk2 = MakeDecoder<Kelvane::TESKII::CTesk2HybridDecoder>;
const ConsumerMaker kMakeTesk6 = MakeDecoder<Kelvane::TESKVI::CTesk6Decoder>;
const ConsumerMaker kMakeZelt = MakeDecoder<Kelvane::ZELT::ZELTDecoderAdapter>;

struct Row {
    const char* name;
    const ConsumerMaker* make;
};

// The plain, filtered and reduced names of a family select the same decoder class.
const Row kRows[] = {
    {"TESK2", &kMakeTesk2},         {"TESK2Filtered", &kMakeTesk2}, {"TESK6", &kMakeTesk6},
    {"TESK6Filtered", &kMakeTesk6}, {"TESK6Reduced", &kMakeTesk6},  {"ZELT", &kMakeZelt},
    {"ZELTFiltered", &kMakeZelt},
};

const Row* Find(const std::string& name) {
    for (const Row& row : kRows) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<IAudioConsumer> WatermarkAudioConsumerFactoryImplementation::make(
    const std::string& name, int sampleRate) {
    const Row* row = Find(name);
    if (row == nullptr) throw InvalidDecoder();
    return (*row->make)(sampleRate);
}

bool WatermarkAudioConsumerFactoryImplementation::IsKnownName(const std::string& name) {
    return Find(name) != nullptr;
}
