#pragma once
// The model registry: tokenizer-class names (after "Fast" is removed) to the
// model class that tokenizes for them.

#include "tokenizers/TokenizingModel.h"

#include <string>
#include <unordered_map>

namespace tokenizers {

class TokenizerModel {
public:
    /// The 18 registered names, compared exactly, each with the builder of
    /// its model (byte-pair encoding, WordPiece or Unigram).
    static const std::unordered_map<std::string, PreTrainedTokenizerModel>& knownTokenizers();
};

} // namespace tokenizers
