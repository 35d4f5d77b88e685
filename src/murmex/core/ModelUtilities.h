#pragma once
// The engine's model helpers: which Whisper size a model folder holds, where
// its tokenizer lives and how it is built, and the device-support lookups.

#include "murmex/core/ModelSupport.h"
#include "murmex/core/ModelSupportConfig.h"
#include "murmex/core/ModelVariant.h"
#include "murmex/core/WhisperTokenizer.h"

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace murmex {

class ModelUtilities {
public:
    /// The Whisper size from the decoder's vocabulary size and the encoder's
    /// width; unknown vocabularies fall back to base (with an error line).
    static ModelVariant detectVariant(int logitsDim, int encoderDim);

    /// The public tokenizer repository of a size, e.g. "openai/whisper-base".
    static std::string tokenizerNameForVariant(ModelVariant variant);

    /// The local folder of a hub repository under a download base:
    /// base/"models"/repoId. An absent base means the hub's default cache.
    static std::filesystem::path
    localRepoLocation(const std::optional<std::filesystem::path>& downloadBase,
                      const std::string& repoId);

    /// Finds "tokenizer.json" in the hub folder of the variant's tokenizer
    /// repository, then `tokenizerFolder`, then each additional path, and
    /// builds the tokenizer from the first folder that has one; without a
    /// usable local copy the tokenizer is fetched from the model hub.
    static std::shared_ptr<WhisperTokenizer>
    loadTokenizer(ModelVariant variant, const std::optional<std::filesystem::path>& tokenizerFolder,
                  const std::vector<std::filesystem::path>& additionalSearchPaths = {},
                  bool useBackgroundSession = false);

    /// The models of the given table (the built-in one when absent) for a
    /// device identifier.
    static ModelSupport
    modelSupport(std::string_view deviceIdentifier,
                 const std::optional<ModelSupportConfig>& config = std::nullopt);

    /// Distinct model folder names from model names or repository paths,
    /// only those naming a Whisper size, ordered tiny, base, small, medium,
    /// large, each group in string order.
    static std::vector<std::string> formatModelFiles(const std::vector<std::string>& modelFiles);
};

} // namespace murmex
