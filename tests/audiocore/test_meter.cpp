// CMeter with test consumers and callbacks: construction and wiring, routing, teardown order,
// failed construction, flushing.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestConsumers.h"
#include "audiocore/CMeter.h"

using namespace testing_audiocore;

namespace {

const char* kTwoNames = "{\"Parameters\":[{\"A\":{}},{\"B\":{}}]}";

struct Fixture {
    Fixture() {
        Events().clear();
        consumers->setups["A"] = {};
        consumers->setups["B"] = {};
        config.channels = 2;
        config.sampleRate = 16000;
        config.bitsPerSample = 16;
        config.packingMode = PACKING_MODE_NOT_USED;
    }
    std::unique_ptr<CMeter> Make(const std::string& doc, const char* prefix = nullptr) {
        return std::make_unique<CMeter>(&context, prefix, &config, doc, consumers, callbacks);
    }
    std::shared_ptr<TestConsumer> Consumer(size_t i) { return consumers->made.at(i).lock(); }
    std::shared_ptr<TestCallback> Callback(size_t i) { return callbacks->made.at(i).lock(); }

    int context = 42;
    AudioChannelConfiguration config;
    std::shared_ptr<TestConsumerFactory> consumers = std::make_shared<TestConsumerFactory>();
    std::shared_ptr<TestCallbackFactory> callbacks = std::make_shared<TestCallbackFactory>();
};

}  // namespace

TEST(CMeter, BuildsOnePairPerChannelAndNameInOrder) {
    Fixture f;
    auto meter = f.Make(kTwoNames);
    ASSERT_EQ(f.consumers->made.size(), 4u);
    ASSERT_EQ(f.callbacks->made.size(), 4u);
    for (size_t i = 0; i < 4; ++i) {
        auto consumer = f.Consumer(i);
        auto callback = f.Callback(i);
        SCOPED_TRACE(i);
        const std::string tag = i % 2 ? "B" : "A";
        EXPECT_EQ(consumer->m_tag, tag);
        EXPECT_EQ(consumer->GetChannelNumber(), static_cast<short>(i / 2));
        EXPECT_EQ(consumer->GetInputSampleRate(), 16000);
        EXPECT_EQ(consumer->initDocument, kTwoNames);
        EXPECT_EQ(consumer->startupMessages, 1);
        EXPECT_EQ(callback->m_tag, tag);
        EXPECT_EQ(callback->name, "ch" + std::to_string(i / 2));
        EXPECT_EQ(callback->context, &f.context);
        EXPECT_EQ(callback->version, (std::vector<int>{3, 1, 1}));  // the consumer's version
        // One callback, in both lists once.
        EXPECT_EQ(consumer->getCallbackList()->size(), 1u);
        EXPECT_EQ(consumer->getCallbackList()->getHead(), callback.get());
        EXPECT_EQ(consumer->getLogCallbackList()->getHead(), callback.get());
    }
}

TEST(CMeter, BuffersGoToTheChannelsConsumersInRegistrationOrder) {
    Fixture f;
    auto meter = f.Make(kTwoNames);
    std::vector<unsigned char> data(2048, 0x11);
    Events().clear();
    EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 2048, 1, 77), 0);
    EXPECT_EQ(Events(), (std::vector<std::string>{"block A@1", "block B@1"}));
    EXPECT_TRUE(f.Consumer(0)->blocks.empty());
    EXPECT_EQ(f.Consumer(2)->blocks.size(), 2u);
    EXPECT_EQ(f.Consumer(3)->GetCurrentTimestamp(), 77u);

    // Out-of-range channels touch nothing.
    EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 2048, 2, 0), -1);
    EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 2048, -1, 0), -1);
    EXPECT_EQ(meter->FlushData(16), -1);

    f.Consumer(0)->flushResult = 5;
    f.Consumer(1)->flushResult = 9;
    Events().clear();
    EXPECT_EQ(meter->FlushData(0), 9);  // the last consumer's result
    EXPECT_EQ(Events(), (std::vector<std::string>{"flush A@0", "flush B@0"}));
}

TEST(CMeter, ChannelNamesWithAndWithoutPrefix) {
    const std::string longPrefix(600, 'x');
    const struct {
        const char* prefix;
        std::string ch0, ch1;
    } cases[] = {{nullptr, "ch0", "ch1"},
                 {"a.wav", "a.wav.ch0", "a.wav.ch1"},
                 {"", ".ch0", ".ch1"},
                 {longPrefix.c_str(), std::string(511, 'x'), std::string(511, 'x')}};  // 512 bytes
    for (const auto& c : cases) {
        Fixture f;
        auto meter = f.Make(kTwoNames, c.prefix);
        EXPECT_EQ(f.Callback(1)->name, c.ch0);
        EXPECT_EQ(f.Callback(2)->name, c.ch1);
    }
}

TEST(CMeter, TeardownShutsPairsDownInReverseOrderBeforeReleasingThem) {
    Fixture f;
    auto meter = f.Make(kTwoNames);
    f.consumers.reset();  // the meter holds what it needs; the factories may go
    f.callbacks.reset();
    std::vector<unsigned char> data(1024, 0);
    EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 1024, 0, 0), 0);
    Events().clear();
    meter.reset();
    // Consumers are named by tag@channel, callbacks by tag@channel name.
    const std::vector<std::string> expected = {
        "shutdown B@1", "Stop B@1", "Shutdown B@ch1", "~B@1", "~B@ch1",
        "shutdown A@1", "Stop A@1", "Shutdown A@ch1", "~A@1", "~A@ch1",
        "shutdown B@0", "Stop B@0", "Shutdown B@ch0", "~B@0", "~B@ch0",
        "shutdown A@0", "Stop A@0", "Shutdown A@ch0", "~A@0", "~A@ch0"};
    EXPECT_EQ(Events(), expected);
    EXPECT_EQ(LiveObjects(), 0);
}

TEST(CMeter, EmptyAndMalformedDocuments) {
    Fixture f;
    {
        auto meter = f.Make("{\"Parameters\":[]}");
        EXPECT_TRUE(f.consumers->made.empty());
        std::vector<unsigned char> data(64, 1);
        EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 64, 1, 0), 0);
        EXPECT_EQ(meter->FlushData(0), 0);
    }
    EXPECT_THROW(f.Make("{\"Parameters\":[1]}"), InvalidJSONInput);  // the parser's own cases
    EXPECT_EQ(LiveObjects(), 0);
}

TEST(CMeter, FailedConstructionReleasesEverythingWithoutShutdown) {
    {
        // Unknown name on channel 0, second position.
        Fixture f;
        try {
            f.Make(
                "{\"Parameters\":[{\"A\":{}},{\"PAS\":{\"Interval\":0,"
                "\"SignatureDeliveryMode\":0}}]}");
            FAIL();
        } catch (const InvalidDecoder& e) {
            EXPECT_STREQ(e.what(), "Invalid decoder or signature generator");
        }
        EXPECT_EQ(LiveObjects(), 0);
        EXPECT_EQ(Events(), (std::vector<std::string>{"~A@0", "~A@ch0"}));
    }
    {
        // A consumer's init throws on channel 0, after two pairs were built.
        Fixture f;
        f.consumers->setups["C"].throwInInit = true;
        f.config.channels = 3;
        try {
            f.Make("{\"Parameters\":[{\"A\":{}},{\"B\":{}},{\"C\":{}}]}");
            ADD_FAILURE();
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "test init failure");  // the consumer's own exception
        }
        EXPECT_EQ(f.consumers->makes, 3);  // thrown by the first C
        EXPECT_EQ(LiveObjects(), 0);
        for (const auto& e : Events()) {
            EXPECT_EQ(e.find("hutdown"), std::string::npos) << e;
            EXPECT_EQ(e.find("Stop"), std::string::npos) << e;
        }
    }
    {
        // The callback factory refuses the second name.
        Fixture f;
        f.callbacks->refuse = "B";
        EXPECT_THROW(f.Make(kTwoNames), InvalidCallback);
        EXPECT_EQ(LiveObjects(), 0);
    }
    {
        Fixture f;
        f.config.channels = 17;
        EXPECT_THROW(f.Make(kTwoNames), std::invalid_argument);
        EXPECT_EQ(f.consumers->makes, 0);
    }
}
