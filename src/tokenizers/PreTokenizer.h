#pragma once
// Pre-tokenizers cut a normalized section into pieces ("words") that the
// tokenization model then handles one at a time. One immutable class per
// document "type"; PreTokenizerFactory builds them.

#include "hub/Config.h"
#include "tokenizers/Regex.h"
#include "tokenizers/StringSplitPattern.h"

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

enum class PreTokenizerOption : std::uint8_t { firstSection };

/// A set of PreTokenizerOption values.
class PreTokenizerOptions {
public:
    PreTokenizerOptions() = default;
    PreTokenizerOptions(std::initializer_list<PreTokenizerOption> options) {
        for (auto o : options)
            bits_ |= bit(o);
    }
    bool contains(PreTokenizerOption o) const { return (bits_ & bit(o)) != 0; }

private:
    static std::uint8_t bit(PreTokenizerOption o) {
        return static_cast<std::uint8_t>(1u << static_cast<unsigned>(o));
    }
    std::uint8_t bits_ = 0;
};

class PreTokenizer {
public:
    virtual ~PreTokenizer() = default;
    virtual std::vector<std::string> preTokenize(std::string_view text,
                                                 PreTokenizerOptions options) const = 0;
    /// Each text pre-tokenized, the results concatenated in order.
    std::vector<std::string> preTokenize(const std::vector<std::string>& texts,
                                         PreTokenizerOptions options) const;
    std::vector<std::string> operator()(std::string_view text,
                                        PreTokenizerOptions options = {}) const {
        return preTokenize(text, options);
    }
    /// Hands each piece of preTokenize(text, options) to `sink` in order;
    /// pre-tokenizers that can stream do so without building the list.
    virtual void forEachPiece(std::string_view text, PreTokenizerOptions options,
                              const std::function<void(std::string_view)>& sink) const {
        for (const auto& piece : preTokenize(text, options))
            sink(piece);
    }
};

using PreTokenizerPtr = std::shared_ptr<const PreTokenizer>;

class PreTokenizerFactory {
public:
    /// No pre-tokenizer for a null configuration or one without a text
    /// "type"; an unknown type throws ConfigurationError.
    static PreTokenizerPtr fromConfig(const hub::Config& config);
};

class PreTokenizerSequence final : public PreTokenizer {
public:
    explicit PreTokenizerSequence(const hub::Config& config);
    std::vector<std::string> preTokenize(std::string_view text,
                                         PreTokenizerOptions options) const override;

private:
    std::vector<PreTokenizerPtr> preTokenizers_;
};

/// Splits with a fixed expression and keeps the text of every match.
class RegexPreTokenizer : public PreTokenizer {
public:
    explicit RegexPreTokenizer(std::shared_ptr<const Regex> re) : re_(std::move(re)) {}
    std::vector<std::string> preTokenize(std::string_view text,
                                         PreTokenizerOptions options) const override;

private:
    std::shared_ptr<const Regex> re_;
};

class ByteLevelPreTokenizer final : public PreTokenizer {
public:
    explicit ByteLevelPreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(std::string_view text,
                                         PreTokenizerOptions options) const override;
    void forEachPiece(std::string_view text, PreTokenizerOptions options,
                      const std::function<void(std::string_view)>& sink) const override;

    static const std::string RE;

private:
    bool addPrefixSpace_;
    bool trimOffsets_;
    bool useRegex_;
};

class PunctuationPreTokenizer final : public RegexPreTokenizer {
public:
    PunctuationPreTokenizer();
};

class DigitsPreTokenizer final : public RegexPreTokenizer {
public:
    explicit DigitsPreTokenizer(const hub::Config& config);
};

class WhitespacePreTokenizer final : public RegexPreTokenizer {
public:
    WhitespacePreTokenizer();
};

class BertPreTokenizer final : public RegexPreTokenizer {
public:
    BertPreTokenizer();
};

class SplitPreTokenizer final : public PreTokenizer {
public:
    /// Throws ConfigurationError when the separator does not compile or
    /// matches the empty text.
    explicit SplitPreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(std::string_view text,
                                         PreTokenizerOptions options) const override;

private:
    std::optional<StringSplitPattern> pattern_;
    bool invert_;
};

class MetaspacePreTokenizer final : public PreTokenizer {
public:
    enum class PrependScheme { first, never, always };

    /// Throws ConfigurationError when the replacement, read as an
    /// expression, does not compile or matches the empty text.
    explicit MetaspacePreTokenizer(const hub::Config& config);
    std::vector<std::string> preTokenize(std::string_view text,
                                         PreTokenizerOptions options) const override;

private:
    bool addPrefixSpace_;
    std::string replacement_;
    std::string stringReplacement_;
    PrependScheme prependScheme_;
    std::shared_ptr<const Regex> replacementRegex_;
};

} // namespace tokenizers
