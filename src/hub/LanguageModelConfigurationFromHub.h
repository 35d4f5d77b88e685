#pragma once
// Gathers the documents a tokenizer is built from: the model configuration
// (config.json), the tokenizer configuration (tokenizer_config.json, with a
// chat template from chat_template.jinja or chat_template.json) and the
// tokenizer data (tokenizer.json). The load starts on a background thread as
// soon as the object is made; every getter waits for that one load and
// rethrows its failure.
//
// The folder form reads a local folder and never touches the network. The
// repository form first mirrors the repository's documents into the hub
// cache with a snapshot (offline: checks the cached copy), then reads that
// folder.

#include "hub/Config.h"
#include "hub/HubApi.h"

#include <filesystem>
#include <future>
#include <optional>
#include <string>
#include <vector>

namespace hub {

class LanguageModelConfigurationFromHub {
public:
    struct Configurations {
        std::optional<Config> modelConfig;
        std::optional<Config> tokenizerConfig;
        Config tokenizerData;
    };

    explicit LanguageModelConfigurationFromHub(std::filesystem::path modelFolder);
    LanguageModelConfigurationFromHub(std::string modelName, std::string revision,
                                      HubApi hubApi = HubApi());
    virtual ~LanguageModelConfigurationFromHub() = default;

    std::optional<Config> modelConfig() const;
    /// The loaded tokenizer configuration, completed with a tokenizer class
    /// from a fallback document or the model type when it names none.
    std::optional<Config> tokenizerConfig() const;
    Config tokenizerData() const;
    /// The model configuration's "model_type" when it is a text.
    std::optional<std::string> modelType() const;

    /// The fallback tokenizer configuration for a model type, read from
    /// "<modelType>_tokenizer_config.json" in the resource bundle; absent when
    /// there is none or it cannot be read (a line on standard output says why).
    static std::optional<Config> fallbackTokenizerConfig(const std::string& modelType);

    /// The resource bundle folder "drovik_Hub.bundle": by default the one
    /// beside the running executable. Setting it (tests, packaging) replaces
    /// that for the whole process.
    static std::filesystem::path resourceBundleDirectory();
    static void setResourceBundleDirectory(std::filesystem::path directory);

    /// The folder load: throws HubClientError.
    static Configurations loadConfig(const std::filesystem::path& modelFolder);
    /// The repository load: throws HubClientError (a network failure is
    /// networkError), EnvironmentError, or CancellationError.
    static Configurations loadConfig(const std::string& modelName, const std::string& revision,
                                     const HubApi& hubApi);

    /// File names in the order a repository snapshot requests them.
    static const std::vector<std::string>& fileNames();

private:
    std::shared_future<Configurations> configPromise_;
};

} // namespace hub
