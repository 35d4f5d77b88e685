#include "murmex/core/ModelSupportConfig.h"

#include "murmex/base/Constants.h"
#include "murmex/base/JsonCoding.h"
#include "murmex/core/ModelComputeOptions.h"
#include "murmex/core/ModelVariant.h"
#include "tessary_core/Logging.h"

#include <gtest/gtest.h>

using namespace murmex;
using tessary::Logging;

namespace {

std::vector<std::string> captureLines(Logging::LogLevel level, const std::function<void()>& body) {
    std::vector<std::string> lines;
    Logging::shared().setLogLevel(level);
    Logging::shared().setLoggingCallback(
        [&lines](const std::string& line) { lines.push_back(line); });
    body();
    Logging::shared().setLoggingCallback({});
    Logging::shared().setLogLevel(Logging::LogLevel::none);
    return lines;
}

} // namespace

TEST(ModelSupportConfigTest, FallbackTableLookupByLongestPrefix) {
    const ModelSupportConfig& table = Constants::fallbackModelSupportConfig();
    const auto& rows = table.deviceSupports;
    ASSERT_EQ(rows.size(), 6u);
    struct Case {
        const char* device;
        size_t row;
    };
    const Case cases[] = {
        {"Mac14,2", 3},   {"MacBookPro18,3", 2}, {"iPad13,1", 4},  {"iPad13,10", 2},
        {"iPad13,16", 2}, {"iPad14,1", 5},       {"iPad14,10", 3}, {"iPhone17,3", 1},
        {"Watch8,1", 0},  {"Mac13,1", 2},        {"iPad13,19", 4}, {"iPhone14,5", 5},
    };
    for (const Case& c : cases)
        EXPECT_EQ(table.modelSupport(c.device), rows[c.row].models) << c.device;
    EXPECT_EQ(table.modelSupport("Mac14,2").defaultModel, "openai_whisper-large-v3-v20240930");

    std::vector<std::string> lines = captureLines(Logging::LogLevel::debug, [&] {
        ModelSupport fallback = table.modelSupport("RealityDevice14,1");
        EXPECT_EQ(fallback.defaultModel, "openai_whisper-base");
        EXPECT_EQ(fallback.supported, table.knownModels);
        EXPECT_TRUE(fallback.disabled.empty());
        table.modelSupport("Watch7,1");
    });
    EXPECT_EQ(
        lines,
        (std::vector<std::string>{
            "No device support found for RealityDevice14,1, using default",
            "Matched Watch7,1 to devices: [\"iPhone11\", \"iPhone12\", \"iPad12,1\", \"iPad12,2\", "
            "\"Watch7\", \"Watch8\"]"}));
}

TEST(ModelSupportConfigTest, FallbackTableKnownAndDisabledModels) {
    const ModelSupportConfig& table = Constants::fallbackModelSupportConfig();
    EXPECT_EQ(table.repoName, "murmex-coreml-fallback");
    EXPECT_EQ(table.repoVersion, "0.4");
    const std::vector<std::string> expected{"openai_whisper-base",
                                            "openai_whisper-base.en",
                                            "openai_whisper-tiny",
                                            "openai_whisper-tiny.en",
                                            "openai_whisper-small",
                                            "openai_whisper-small.en",
                                            "openai_whisper-large-v2_949MB",
                                            "openai_whisper-large-v2_turbo_955MB",
                                            "openai_whisper-large-v3_947MB",
                                            "openai_whisper-large-v3_turbo_954MB",
                                            "distil-whisper_distil-large-v3_594MB",
                                            "distil-whisper_distil-large-v3_turbo_600MB",
                                            "openai_whisper-large-v3-v20240930_626MB",
                                            "openai_whisper-large-v3-v20240930_turbo_632MB",
                                            "openai_whisper-large-v2",
                                            "openai_whisper-large-v3",
                                            "distil-whisper_distil-large-v3",
                                            "openai_whisper-large-v2_turbo",
                                            "openai_whisper-large-v3_turbo",
                                            "distil-whisper_distil-large-v3_turbo",
                                            "openai_whisper-large-v3-v20240930",
                                            "openai_whisper-large-v3-v20240930_turbo"};
    EXPECT_EQ(table.knownModels, expected);
    EXPECT_EQ(Constants::knownModels(), expected);
    EXPECT_EQ(table.defaultSupport.models.supported, expected);
    EXPECT_TRUE(table.deviceSupports[3].models.disabled.empty());
    EXPECT_EQ(table.deviceSupports[0].models.disabled.size(), 18u);
    EXPECT_EQ(table.deviceSupports[4].models.disabled.size(), 16u);
}

TEST(ModelSupportConfigTest, DocumentsMergeWithTheFallbackOnlyUnderAMatchingName) {
    const char* document = R"({"name":"%s","version":"1.0","device_support":[
        {"identifiers":["Mac14"],"models":{"default":"A","supported":["A"],"disabled":["x"]},"extra":1}]})";
    auto decode = [&](const char* name) {
        char text[512];
        std::snprintf(text, sizeof text, document, name);
        return ModelSupportConfig::fromJson(text);
    };

    ModelSupportConfig merged = decode("murmex-coreml");
    const auto& fallbackRows = Constants::fallbackModelSupportConfig().deviceSupports;
    ASSERT_EQ(merged.deviceSupports.size(), 6u);
    EXPECT_EQ(merged.deviceSupports[0].identifiers, std::vector<std::string>{"Mac14"});
    EXPECT_EQ(merged.deviceSupports[0].models.defaultModel, "A");
    std::vector<std::string> widened{"A"};
    widened.insert(widened.end(), fallbackRows[3].models.supported.begin(),
                   fallbackRows[3].models.supported.end());
    EXPECT_EQ(merged.deviceSupports[0].models.supported, widened);
    const size_t appended[] = {0, 1, 2, 4, 5}; // row 4 (Mac14) is in the document
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(merged.deviceSupports[i + 1].identifiers, fallbackRows[appended[i]].identifiers);
    }
    EXPECT_EQ(merged.knownModels.front(), "A");
    EXPECT_EQ(merged.modelSupport("Mac14,2").defaultModel, "A");

    ModelSupportConfig alone = decode("someone-else");
    ASSERT_EQ(alone.deviceSupports.size(), 1u);
    EXPECT_EQ(alone.knownModels, std::vector<std::string>{"A"});
    EXPECT_EQ(alone.defaultSupport.models.supported, std::vector<std::string>{"A"});
    EXPECT_TRUE(
        alone.deviceSupports[0].models.disabled.empty()); // the document's "disabled" is ignored
    EXPECT_FALSE(alone.deviceSupports[0].chips);
}

TEST(ModelSupportConfigTest, EncodingWritesTheDocumentKeysOnly) {
    ModelSupportConfig config(
        "own", "2",
        {{"M9", {"Mac99"}, {"B", {"B", "C"}, {"D"}}}, {std::nullopt, {"X1"}, {"C", {"C"}}}}, false);
    EXPECT_EQ(
        config.toJson(),
        R"({"name":"own","version":"2","device_support":[{"chips":"M9","identifiers":["Mac99"],"models":{"default":"B","supported":["B","C"]}},)"
        R"({"identifiers":["X1"],"models":{"default":"C","supported":["C"]}}]})");
    EXPECT_EQ(config.deviceSupports[1].models.disabled, std::vector<std::string>{"B"});
    ModelSupportConfig back = ModelSupportConfig::fromJson(config.toJson());
    EXPECT_EQ(back.deviceSupports, config.deviceSupports);

    EXPECT_THROW(ModelSupportConfig::fromJson(R"({"name":"a","device_support":[]})"),
                 json::CodingError);
    EXPECT_THROW(ModelSupportConfig::fromJson(
                     R"({"name":"a","version":"1","device_support":[{"identifiers":[]}]})"),
                 json::CodingError);
}

TEST(ModelSupportConfigTest, ModelSupportEqualityIncludesDisabled) {
    EXPECT_NE((ModelSupport{"a", {"a"}, {}}), (ModelSupport{"a", {"a"}, {"b"}}));
    EXPECT_EQ((ModelSupport{"a", {"a"}}), (ModelSupport{"a", {"a"}, {}}));
}

TEST(ModelSupportConfigTest, VariantsComputeOptionsAndConstants) {
    EXPECT_EQ(description(ModelVariant::largev2), "large-v2");
    EXPECT_EQ(description(ModelVariant::mediumEn), "medium.en");
    EXPECT_FALSE(isMultilingual(ModelVariant::mediumEn));
    EXPECT_TRUE(isMultilingual(ModelVariant::largev3));
    EXPECT_EQ(allModelVariants.front(), ModelVariant::tiny);
    EXPECT_EQ(allModelVariants.back(), ModelVariant::largev3);

    ModelComputeOptions compute;
    EXPECT_EQ(compute.melCompute, platform::ml::ComputeUnits::cpuAndGPU);
    EXPECT_EQ(compute.audioEncoderCompute, platform::ml::ComputeUnits::cpuAndNeuralEngine);
    EXPECT_EQ(compute.textDecoderCompute, platform::ml::ComputeUnits::cpuAndNeuralEngine);
    EXPECT_EQ(compute.prefillCompute, platform::ml::ComputeUnits::cpuOnly);

    EXPECT_EQ(Constants::languages().size(), 112u);
    EXPECT_EQ(Constants::languageCodes().size(), 100u);
    EXPECT_EQ(Constants::languages().at("mandarin"), "zh");
    EXPECT_EQ(Constants::languages().at("haitian creole"), "ht");
    EXPECT_EQ(Constants::languages().at("cantonese"), "yue");
    EXPECT_EQ(Constants::defaultRemoteEndpoint.size(), 22u);
    EXPECT_EQ(Constants::defaultPrependPunctuations, "\"'“¡¿([{-");
    EXPECT_EQ(Constants::defaultAppendPunctuations, "\"'.。,，!！?？:：”)]}、");
}
