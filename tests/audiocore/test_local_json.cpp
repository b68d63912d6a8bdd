// The fixed-buffer JSON document: a detection text parses without holding any
// heap, and a text too large for the buffers spills to the heap intact.
#include <gtest/gtest.h>
#include <malloc.h>

#include <string>

#include "audiocore/LocalJsonDocument.h"

using Kelvane::AudioCore::LocalJsonDocument;

namespace {

const char kDetection[] =
    "{\"TESK6\":{\"elapsedTime\":74.368,\"layer\":\"PROG\",\"sid\":11955,\"firstSymAge\":2208,"
    "\"lastSymAge\":864,\"quality\":8,\"strength\":1091,\"depth\":0,\"phase\":100,\"timestamp\":"
    "504933513,\"dst\":0,\"systemTime\":1767309513,\"dist\":\"FD1\",\"transmission\":0,"
    "\"sampleBlockIndex\":2324,\"redundantCommStd\":0}}";

}  // namespace

TEST(LocalJsonDocument, DetectionTextHoldsNoHeap) {
    const size_t before = mallinfo2().uordblks;
    {
        LocalJsonDocument local;
        auto& doc = local.doc();
        doc.Parse(kDetection);
        const size_t during = mallinfo2().uordblks;
        ASSERT_FALSE(doc.HasParseError());
        EXPECT_EQ(doc["TESK6"]["sid"].GetUint(), 11955u);
        EXPECT_STREQ(doc["TESK6"]["dist"].GetString(), "FD1");
        EXPECT_DOUBLE_EQ(doc["TESK6"]["elapsedTime"].GetDouble(), 74.368);
        EXPECT_EQ(during, before);
    }
    EXPECT_EQ(mallinfo2().uordblks, before);
}

TEST(LocalJsonDocument, LargeTextSpillsToTheHeapIntact) {
    std::string text = "{\"list\":[";
    for (int i = 0; i < 20000; ++i) text += (i ? "," : "") + std::to_string(i);
    text += "],\"name\":\"" + std::string(100000, 'x') + "\",\"deep\":";
    for (int i = 0; i < 200; ++i) text += "[";
    text += "7";
    for (int i = 0; i < 200; ++i) text += "]";
    text += "}";
    for (int round = 0; round < 3; ++round) {  // a new document each time, nothing carried over
        LocalJsonDocument local;
        auto& doc = local.doc();
        doc.Parse(text.c_str(), text.size());
        ASSERT_FALSE(doc.HasParseError());
        ASSERT_EQ(doc["list"].Size(), 20000u);
        EXPECT_EQ(doc["list"][19999].GetInt(), 19999);
        EXPECT_EQ(doc["name"].GetStringLength(), 100000u);
        const rapidjson::Value* v = &doc["deep"];
        while (v->IsArray()) v = &(*v)[0];
        EXPECT_EQ(v->GetInt(), 7);
    }
}
