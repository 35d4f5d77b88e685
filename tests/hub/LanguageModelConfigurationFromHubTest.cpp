#include "hub/LanguageModelConfigurationFromHub.h"

#include "hub/HubClientError.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>

namespace fs = std::filesystem;
using hub::HubClientError;
using hub::LanguageModelConfigurationFromHub;

namespace {

class LoaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zv-hub-loader-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        LanguageModelConfigurationFromHub::setResourceBundleDirectory({});
        fs::remove_all(dir_);
    }
    void write(const std::string& name, const std::string& text) {
        std::ofstream(dir_ / name, std::ios::binary) << text;
    }

    fs::path dir_;
};

TEST_F(LoaderTest, FolderWithOnlyTokenizerData) {
    write("tokenizer.json", R"({"model":{}})");
    const LanguageModelConfigurationFromHub loader(dir_);
    EXPECT_FALSE(loader.modelConfig());
    EXPECT_FALSE(loader.tokenizerConfig());
    EXPECT_TRUE(loader.tokenizerData().dictionary());
}

TEST_F(LoaderTest, MissingTokenizerDataFailsEveryGetter) {
    write("tokenizer_config.json", R"({"tokenizer_class":"X"})");
    const LanguageModelConfigurationFromHub loader(dir_);
    for (int k = 0; k < 2; ++k) {
        try {
            loader.tokenizerData();
            FAIL();
        } catch (const HubClientError& e) {
            EXPECT_EQ(e.kind(), HubClientError::Kind::configurationMissing);
            EXPECT_STREQ(e.what(), "Required configuration file missing: tokenizer.json");
        }
    }
    EXPECT_THROW(loader.tokenizerConfig(), HubClientError);
}

TEST_F(LoaderTest, MalformedOptionalDocumentFailsTheLoad) {
    write("tokenizer.json", "{}");
    write("config.json", "{oops");
    const LanguageModelConfigurationFromHub loader(dir_);
    try {
        loader.modelConfig();
        FAIL();
    } catch (const HubClientError& e) {
        EXPECT_EQ(e.kind(), HubClientError::Kind::jsonSerialization);
        const std::string message = e.what();
        EXPECT_EQ(message.rfind("JSON parsing failed for file://", 0), 0u) << message;
        EXPECT_NE(message.find("config.json: yyjson read failed (code "), std::string::npos)
            << message;
        EXPECT_NE(message.find(". If this is a private model, verify that QN_TOKEN is set."),
                  std::string::npos);
    }
}

TEST_F(LoaderTest, ChatTemplateFilesCompleteTheConfiguration) {
    write("tokenizer.json", "{}");
    write("tokenizer_config.json", R"({"tokenizer_class":"X","chat_template":"old"})");
    write("chat_template.jinja", "{{ new }}");
    write("chat_template.json", R"({"chat_template":"from json"})");
    EXPECT_EQ(
        (*LanguageModelConfigurationFromHub(dir_).tokenizerConfig())["chat_template"].string(),
        "{{ new }}");

    fs::remove(dir_ / "chat_template.jinja");
    EXPECT_EQ(
        (*LanguageModelConfigurationFromHub(dir_).tokenizerConfig())["chat_template"].string(),
        "from json");

    write("chat_template.json", R"({"chat_template":[{"name":"default","template":"x"}]})");
    EXPECT_EQ(
        (*LanguageModelConfigurationFromHub(dir_).tokenizerConfig())["chat_template"].string(),
        "old");
}

TEST_F(LoaderTest, TemplateWithoutConfigurationGetsClassFromModelType) {
    write("tokenizer.json", "{}");
    write("chat_template.jinja", "T");
    write("config.json", R"({"model_type":"bert"})");
    const auto config = LanguageModelConfigurationFromHub(dir_).tokenizerConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ((*config)["tokenizer_class"].string(), "BertTokenizer");
    EXPECT_EQ((*config)["chat_template"].string(), "T");
}

TEST_F(LoaderTest, FallbackDocumentWinsOnSharedKeys) {
    const fs::path bundle = dir_ / "drovik_Hub.bundle";
    fs::create_directories(bundle);
    std::ofstream(bundle / "gpt2_tokenizer_config.json")
        << R"({"tokenizer_class":"GPT2Tokenizer","eos_token":"fb"})";
    LanguageModelConfigurationFromHub::setResourceBundleDirectory(bundle);
    write("tokenizer.json", "{}");
    write("tokenizer_config.json", R"({"eos_token":"own","unk_token":"u"})");
    write("config.json", R"({"model_type":"gpt2"})");
    const auto config = LanguageModelConfigurationFromHub(dir_).tokenizerConfig();
    ASSERT_TRUE(config);
    EXPECT_EQ((*config)["tokenizer_class"].string(), "GPT2Tokenizer");
    EXPECT_EQ((*config)["eos_token"].string(), "fb");
    EXPECT_EQ((*config)["unk_token"].string(), "u");
    EXPECT_FALSE(LanguageModelConfigurationFromHub::fallbackTokenizerConfig("../gpt2"));
    EXPECT_FALSE(LanguageModelConfigurationFromHub::fallbackTokenizerConfig("gpt.2"));
    EXPECT_FALSE(LanguageModelConfigurationFromHub::fallbackTokenizerConfig(""));
}

TEST_F(LoaderTest, BrokenFallbackDocumentIsReportedOnStandardErrorAndSkipped) {
    const fs::path bundle = dir_ / "drovik_Hub.bundle";
    fs::create_directories(bundle);
    std::ofstream(bundle / "gpt2_tokenizer_config.json") << "[1, 2]";
    LanguageModelConfigurationFromHub::setResourceBundleDirectory(bundle);
    ::testing::internal::CaptureStdout();
    ::testing::internal::CaptureStderr();
    EXPECT_FALSE(LanguageModelConfigurationFromHub::fallbackTokenizerConfig("gpt2"));
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(::testing::internal::GetCapturedStderr(),
              "Error loading fallback tokenizer config: Parse error: Failed to parse fallback "
              "tokenizer config\n");
}

TEST_F(LoaderTest, ConfigurationNamingItsClassIsUnchanged) {
    write("tokenizer.json", "{}");
    write("tokenizer_config.json", R"({"tokenizer_class":"WhisperTokenizer"})");
    write("config.json", R"({"model_type":"whisper"})");
    const LanguageModelConfigurationFromHub loader(dir_);
    EXPECT_EQ((*loader.tokenizerConfig())["tokenizer_class"].string(), "WhisperTokenizer");
    EXPECT_EQ(loader.modelType(), "whisper");
}

TEST(LoaderRepository, FailsWithAClearHubError) {
    const LanguageModelConfigurationFromHub loader(std::string("openai/whisper-base"),
                                                   std::string("main"));
    try {
        loader.tokenizerData();
        FAIL();
    } catch (const HubClientError& e) {
        EXPECT_EQ(e.kind(), HubClientError::Kind::downloadError);
        EXPECT_NE(std::string(e.what()).find("openai/whisper-base"), std::string::npos);
    }
}

} // namespace

// The repository form mirrors the documents with a snapshot first.
#include "hub/HubApi.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"

namespace {

TEST(LoaderFromRepository, MirrorsTheDocumentsThenReadsThem) {
    zvtest::TestHub server;
    zvtest::TestHub::Repository repository;
    repository.id = "owner/chat";
    repository.files = {{"config.json", R"({"model_type":"llama"})"},
                        {"tokenizer.json", R"({"model":{"type":"BPE"}})"},
                        {"tokenizer_config.json", R"({"tokenizer_class":"LlamaTokenizer"})"},
                        {"chat_template.jinja", "{{ messages }}"},
                        {"model.safetensors", std::string(4096, 'w')}};
    server.addRepository(repository);
    platform::system::TemporaryDirectory base;
    const hub::HubApi client(base.path(), std::string(), server.endpoint(), false, false);

    const LanguageModelConfigurationFromHub loader("owner/chat", "main", client);
    EXPECT_EQ(loader.modelType(), "llama");
    EXPECT_EQ((*loader.tokenizerConfig())["chat_template"].string(), "{{ messages }}");
    EXPECT_TRUE(loader.tokenizerData()["model"].dictionary());
    // Only the documents are fetched, never the weights.
    EXPECT_FALSE(fs::exists(base / "models/owner/chat/model.safetensors"));
    EXPECT_TRUE(fs::exists(base / "models/owner/chat/tokenizer.json"));

    // Offline the cached copy serves; a repository never fetched fails.
    const hub::HubApi offline(base.path(), std::string(), server.endpoint(), false, true);
    EXPECT_EQ(LanguageModelConfigurationFromHub("owner/chat", "main", offline).modelType(),
              "llama");
    EXPECT_THROW(LanguageModelConfigurationFromHub("owner/other", "main", offline).tokenizerData(),
                 hub::EnvironmentError);
    // A missing repository is the hub's 404.
    try {
        LanguageModelConfigurationFromHub("owner/missing", "main", client).tokenizerData();
        ADD_FAILURE();
    } catch (const HubClientError& e) {
        EXPECT_EQ(e.kind(), HubClientError::Kind::fileNotFound);
    }
}

} // namespace
