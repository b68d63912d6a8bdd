#include "app/WatermarkAudioConsumerCallbackFactoryImplementation.h"

#include "audiocore/Exceptions.h"

// Callback classes. Each family adds its header here and its maker below.
#include "app/CHybridDecoderFilteredCallback.h"
#include "app/CTesk6DecoderFilteredCallback.h"
#include "app/ZELTDecoderFilteredCallback.h"

using Kelvane::AudioCore::IAudioConsumerCallback;

namespace {

using CallbackMaker = std::shared_ptr<IAudioConsumerCallback> (*)();

template <class Callback>
std::shared_ptr<IAudioConsumerCallback> MakeCallback() {
    return std::make_shared<Callback>();
}

// Maker of a family whose callback is not part of the build.
[[maybe_unused]] std::shared_ptr<IAudioConsumerCallback> NotBuilt() { throw InvalidCallback(); }

// One maker per family, e.g. MakeCallback<CTesk6DecoderFilteredCallback>.
const CallbackMaker kMakeZeltFiltered = MakeCallback<ZELTDecoderFilteredCallback>;
const CallbackMaker kMakeTesk2Filtered = MakeCallback<CHybridDecoderFilteredCallback>;
const CallbackMaker kMakeTesk6Filtered = MakeCallback<CTesk6DecoderFilteredCallback>;

struct Row {
    const char* name;
    const CallbackMaker* make;
};

// Only the filtered decoders have callbacks in this system.
const Row kRows[] = {
    {"ZELTFiltered", &kMakeZeltFiltered},
    {"TESK2Filtered", &kMakeTesk2Filtered},
    {"TESK6Filtered", &kMakeTesk6Filtered},
};

const Row* Find(const std::string& name) {
    for (const Row& row : kRows) {
        if (name == row.name) return &row;
    }
    return nullptr;
}

}  // namespace

std::shared_ptr<IAudioConsumerCallback> WatermarkAudioConsumerCallbackFactoryImplementation::make(
    const std::string& name) {
    const Row* row = Find(name);
    if (row == nullptr) throw InvalidCallback();
    return (*row->make)();
}

bool WatermarkAudioConsumerCallbackFactoryImplementation::IsKnownName(const std::string& name) {
    return Find(name) != nullptr;
}
