#pragma once
// The separator of a "Split" pre-tokenizer: a plain text or a regular
// expression, read from "pattern" → "String" or "Regex".

#include "hub/Config.h"
#include "tokenizers/Regex.h"
#include "tokenizers/TextSplitting.h"

#include <memory>
#include <optional>
#include <string>

namespace tokenizers {

class StringSplitPattern {
public:
    static StringSplitPattern string(std::string pattern);
    /// Throws ConfigurationError when the expression does not compile.
    static StringSplitPattern regexp(const std::string& expression);

    /// "String" first, then "Regex"; absent when neither is a text.
    static std::optional<StringSplitPattern> from(const hub::Config& config);

    bool isRegexp() const { return regexp_ != nullptr; }
    /// Whether the separator can be the empty text (a plain empty text, or
    /// an expression that matches the empty text).
    bool matchesEmpty() const;
    const std::string& text() const { return pattern_; }

    /// The separator's occurrences in `text`.
    std::vector<TextRange> ranges(std::string_view text) const;

private:
    std::string pattern_;
    std::shared_ptr<const Regex> regexp_;
};

} // namespace tokenizers
