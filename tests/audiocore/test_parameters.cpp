// The decoder parameters document (writer and parser) and the supported-frequency rule.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "audiocore/CAudioConsumerManager.h"
#include "audiocore/Exceptions.h"
#include "audiocore/Parameter.h"
#include "audiocore/ParameterParser.h"

using Kelvane::AudioCore::CAudioConsumerManager;

namespace {

std::string Doc(int mask, const char* folder = "out", const char* source = "in.wav") {
    return Parameter().createString(mask, 7, 9, 11, 12, 13, 14, 15, 21, 22, 31, 32, 33, true,
                                    folder, source);
}

}  // namespace

TEST(Parameter, EachMaskBitWritesItsElement) {
    struct Row {
        int bit;
        const char* element;
    };
    const Row rows[] = {
        {0x1, "{\"TESK2\":{}}"},
        {0x200, "{\"TESK2Filtered\":{}}"},
        {0x1000, "{\"TESK6\":{}}"},
        {0x800, "{\"TESK6Filtered\":{}}"},
        {0x4, "{\"TESK6Reduced\":{}}"},
        {0x80, "{\"ZELT\":{}}"},
        {0x400, "{\"ZELTFiltered\":{}}"},
        {0x8,
         "{\"UNITAM\":{\"UnitID\":1,\"Domain\":\"TMETFFFF\",\"GenerateUts\":true,"
         "\"OutputFolder\":\"out\",\"SourceFileName\":\"in.wav\",\"Interval\":31,"
         "\"SignatureDeliveryMode\":32,\"BlockSize\":33}}"},
        {0x10, "{\"PAS\":{\"Interval\":22,\"SignatureDeliveryMode\":21}}"},
        {0x20, "{\"DNA\":{\"Mode\":9}}"},
        {0x40, "{\"TDASH\":{\"UnitID\":1,\"Mode\":7}}"},
        {0x2000,
         "{\"STREAMFP\":{\"Mode\":11,\"Rate\":12,\"Interval\":13,"
         "\"SignatureDeliveryMode\":14,\"Compress\":15}}"},
    };
    std::string all = "{\"Parameters\":[";
    int mask = 0;
    for (const Row& r : rows) {
        EXPECT_EQ(Doc(r.bit), std::string("{\"Parameters\":[") + r.element + "]}") << r.bit;
        if (mask != 0) all += ",";
        all += r.element;
        mask |= r.bit;
    }
    all += "]}";
    // Every bit at once (plus the two bits that write nothing) keeps the table order.
    EXPECT_EQ(Doc(mask | 0x2 | 0x100), all);
    EXPECT_EQ(Doc(0), "{\"Parameters\":[]}");
    EXPECT_EQ(Doc(0x2 | 0x100), "{\"Parameters\":[]}");
    EXPECT_EQ(Doc(0x1000 | 0x800), "{\"Parameters\":[{\"TESK6\":{}},{\"TESK6Filtered\":{}}]}");
}

TEST(Parameter, ValuesAndStrings) {
    const std::string dna = Parameter().createString(0x20 | 0x40, -1, -2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
                                                     0, false, nullptr, nullptr);
    EXPECT_EQ(dna,
              "{\"Parameters\":[{\"DNA\":{\"Mode\":4294967294}},"
              "{\"TDASH\":{\"UnitID\":1,\"Mode\":4294967295}}]}");
    const std::string unitam = Parameter().createString(0x8, 0, 0, 0, 0, 0, 0, 0, 0, 0, 4294967295u,
                                                        0, 0, false, nullptr, "a\"b\\c\n");
    EXPECT_EQ(unitam,
              "{\"Parameters\":[{\"UNITAM\":{\"UnitID\":1,\"Domain\":\"TMETFFFF\","
              "\"GenerateUts\":false,\"OutputFolder\":\"\","
              "\"SourceFileName\":\"a\\\"b\\\\c\\n\",\"Interval\":4294967295,"
              "\"SignatureDeliveryMode\":0,\"BlockSize\":0}}]}");
}

TEST(ParameterParser, ReadsNamesInDocumentOrder) {
    EXPECT_EQ(ParameterParser::getDecoders(Doc(0x1 | 0x800 | 0x400 | 0x10)),
              (std::vector<std::string>{"TESK2", "TESK6Filtered", "ZELTFiltered", "PAS"}));
    EXPECT_EQ(ParameterParser::getDecoders(
                  " \n{\"Parameters\":[{\"TESK6\":{},\"ZELT\":{}},{\"TESK6\":1},{}],"
                  "\"Other\":0}\t"),
              (std::vector<std::string>{"TESK6", "ZELT", "TESK6"}));
    EXPECT_TRUE(ParameterParser::getDecoders("{\"Parameters\":[]}").empty());
}

TEST(ParameterParser, RefusesMalformedDocumentsWithTheirText) {
    const std::vector<std::string> bad = {
        "",
        "{",
        "{\"Parameters\":{}}",
        "{\"Parameters\":[1]}",
        "{\"Parameters\":[[]]}",
        "{\"Parameters\":[]} trailing",
        "{\"Parameters\":[]}{}",
        "{\"Other\":[]}",
        "[{\"Parameters\":[]}]",
        std::string("{\"Parameters\":[]}\0x", 19),
    };
    for (const std::string& doc : bad) {
        try {
            ParameterParser::getDecoders(doc);
            ADD_FAILURE() << doc;
        } catch (const InvalidJSONInput& e) {
            EXPECT_EQ(std::string(e.what()), ("\nInvalid JSON input: " + doc).c_str());
            EXPECT_EQ(e.document(), doc);
        }
    }
}

TEST(CAudioConsumerManager, IsSupportedFrequency) {
    EXPECT_TRUE(CAudioConsumerManager::IsSupportedFrequency(22050, 24000));
    EXPECT_FALSE(CAudioConsumerManager::IsSupportedFrequency(16000, 24000));
    EXPECT_FALSE(CAudioConsumerManager::IsSupportedFrequency(12000, 8000));
    EXPECT_TRUE(CAudioConsumerManager::IsSupportedFrequency(12000, 12000));
    EXPECT_FALSE(CAudioConsumerManager::IsSupportedFrequency(72000, 8000));
    EXPECT_TRUE(CAudioConsumerManager::IsSupportedFrequency(192000, 16000));
    EXPECT_TRUE(CAudioConsumerManager::IsSupportedFrequency(48000, 48000));
    EXPECT_FALSE(CAudioConsumerManager::IsSupportedFrequency(22050, 48000));
    EXPECT_FALSE(CAudioConsumerManager::IsSupportedFrequency(-8000, 8000));
    EXPECT_FALSE(CAudioConsumerManager::IsSupportedFrequency(11025, 8000));
}
