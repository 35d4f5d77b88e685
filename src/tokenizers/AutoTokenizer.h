#pragma once
// Builds a complete tokenizer from its two documents: given directly, read
// from a local model folder, or (once the hub client can download) fetched
// from a hub repository.

#include "hub/Config.h"
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

    /// Fetches the documents of hub repository `repoId` (revision "main")
    /// and builds the tokenizer; fails with the hub client's error.
    static std::shared_ptr<Tokenizer> fromPretrained(const std::string& repoId, bool strict = true);
};

/// Tokenizer classes with a class of their own; any other name means
/// PreTrainedTokenizer.
class PreTrainedTokenizerClasses {
public:
    enum class TokenizerClass { llama };
    static const std::unordered_map<std::string, TokenizerClass>& tokenizerClasses();
};

} // namespace tokenizers
