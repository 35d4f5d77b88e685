#pragma once
// Builds a complete tokenizer from its two documents: given directly, read
// from a local model folder, or fetched from a hub repository into the hub
// cache.

#include "hub/Config.h"
#include "hub/HubApi.h"
#include "tokenizers/Tokenizer.h"

#include <filesystem>
#include <memory>
#include <string>
#include <unordered_map>

namespace tokenizers {

class AutoTokenizer {
public:
    /// The tokenizer class named by "tokenizer_class" ("Fast" removed):
    /// LlamaPreTrainedTokenizer for "LlamaTokenizer", else PreTrainedTokenizer.
    static std::shared_ptr<Tokenizer> from(const hub::Config& tokenizerConfig,
                                           const hub::Config& tokenizerData, bool strict = true);

    /// Reads the folder's documents (no network) and builds a plain
    /// PreTrainedTokenizer. Throws TokenizerError::missingConfig without a
    /// tokenizer configuration, or the loader's HubClientError.
    static std::shared_ptr<Tokenizer> fromModelFolder(const std::filesystem::path& modelFolder,
                                                      bool strict = true);

    /// Mirrors the documents of hub repository `repoId` (revision "main")
    /// with `hubApi` and builds the tokenizer; fails with the hub client's
    /// error or TokenizerError::missingConfig.
    static std::shared_ptr<Tokenizer> fromPretrained(const std::string& repoId,
                                                     const hub::HubApi& hubApi, bool strict = true);
};

/// Tokenizer classes with a class of their own; any other name means
/// PreTrainedTokenizer.
class PreTrainedTokenizerClasses {
public:
    enum class TokenizerClass { llama };
    static const std::unordered_map<std::string, TokenizerClass>& tokenizerClasses();
};

} // namespace tokenizers
