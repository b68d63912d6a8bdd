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
    const char* tags[] = {"A", "B", "A", "B"};
    for (size_t i = 0; i < 4; ++i) {
        auto consumer = f.Consumer(i);
        auto callback = f.Callback(i);
        SCOPED_TRACE(i);
        EXPECT_EQ(consumer->m_tag, tags[i]);
        EXPECT_EQ(consumer->GetChannelNumber(), static_cast<short>(i / 2));
        EXPECT_EQ(consumer->GetInputSampleRate(), 16000);
        EXPECT_EQ(consumer->initDocument, kTwoNames);
        EXPECT_EQ(consumer->startupMessages, 1);
        EXPECT_EQ(callback->m_tag, tags[i]);
        EXPECT_EQ(callback->name, "ch" + std::to_string(i / 2));
        EXPECT_EQ(callback->context, &f.context);
        EXPECT_EQ(callback->major, 3);
        EXPECT_EQ(callback->minor, 1);
        EXPECT_EQ(callback->patch, 1);
        // One callback, in both lists once.
        EXPECT_EQ(consumer->getCallbackList()->size(), 1u);
        EXPECT_EQ(consumer->getCallbackList()->getHead(), callback.get());
        EXPECT_EQ(consumer->getLogCallbackList()->getHead(), callback.get());
    }
    int major, minor, patch;
    meter->GetAudioConsumerManagerVersion(major, minor, patch);
    EXPECT_EQ(major * 10000 + minor * 100 + patch, 60016);
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
    Fixture f;
    { auto meter = f.Make(kTwoNames, "a.wav"); }
    { auto meter = f.Make(kTwoNames, ""); }
    const std::string longPrefix(600, 'x');
    { auto meter = f.Make(kTwoNames, longPrefix.c_str()); }
    // The callbacks are gone with their meters; their names were recorded at destruction.
    std::vector<std::string> names;
    for (const auto& e : Events()) {
        // Consumers are "~A@<channel>", callbacks "~A@<channel name>".
        if ((e.rfind("~A@", 0) == 0 || e.rfind("~B@", 0) == 0) &&
            e.find_first_not_of("0123456789", 3) != std::string::npos) {
            names.push_back(e.substr(3));
        }
    }
    ASSERT_EQ(names.size(), 12u);
    EXPECT_EQ(names[0], "a.wav.ch1");
    EXPECT_EQ(names[3], "a.wav.ch0");
    EXPECT_EQ(names[4], ".ch1");
    EXPECT_EQ(names[7], ".ch0");
    EXPECT_EQ(names[8].size(), 511u);  // cut to the 512-byte buffer
    EXPECT_EQ(names[8], std::string(511, 'x'));
}

TEST(CMeter, TeardownShutsPairsDownInReverseOrderBeforeReleasingThem) {
    Fixture f;
    auto meter = f.Make(kTwoNames);
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

TEST(CMeter, FactoriesMayBeReleasedAfterConstruction) {
    Fixture f;
    auto meter = f.Make(kTwoNames);
    f.consumers.reset();
    f.callbacks.reset();
    std::vector<unsigned char> data(1024, 0);
    EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 1024, 0, 0), 0);
    meter.reset();
    EXPECT_EQ(LiveObjects(), 0);
}

TEST(CMeter, DocumentShapes) {
    Fixture f;
    {
        auto meter = f.Make("{\"Parameters\":[]}");
        EXPECT_TRUE(f.consumers->made.empty());
        std::vector<unsigned char> data(64, 1);
        EXPECT_EQ(meter->ProcessAudioBuffer(data.data(), 64, 1, 0), 0);
        EXPECT_EQ(meter->FlushData(0), 0);
    }
    {
        auto meter = f.Make("{\"Parameters\":[{\"B\":{},\"A\":{}}]}");
        ASSERT_EQ(f.consumers->made.size(), 4u);
        EXPECT_EQ(f.Consumer(0)->m_tag, "B");
        EXPECT_EQ(f.Consumer(1)->m_tag, "A");
        EXPECT_EQ(f.Consumer(3)->GetChannelNumber(), 1);
    }
    for (const char* bad :
         {"{\"Parameters\":{}}", "{\"Parameters\":[1]}", "{\"Parameters\":[]} x"}) {
        EXPECT_THROW(f.Make(bad), InvalidJSONInput) << bad;
    }
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
        // A consumer's init throws on the second channel, after three pairs were built.
        Fixture f;
        f.consumers->setups["B"].throwInInit = false;
        f.consumers->setups["C"].throwInInit = true;
        f.config.channels = 3;
        int built = 0;
        try {
            f.Make("{\"Parameters\":[{\"A\":{}},{\"B\":{}},{\"C\":{}}]}");
        } catch (const std::runtime_error& e) {
            EXPECT_STREQ(e.what(), "test init failure");
            built = f.consumers->makes;
        }
        EXPECT_EQ(built, 3);  // thrown by the first C, on channel 0
        EXPECT_EQ(LiveObjects(), 0);
        for (const auto& e : Events()) {
            EXPECT_EQ(e.find("hutdown"), std::string::npos) << e;
            EXPECT_EQ(e.find("Stop"), std::string::npos) << e;
        }
    }
    {
        // The callback factory refuses a name on the second channel.
        Fixture f;
        f.callbacks->refuse = "B";
        f.consumers->setups["B"] = {};
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
