#pragma once
// Normalizers rewrite a section of input before it is pre-tokenized. One
// immutable class per document "type"; NormalizerFactory builds them.

#include "hub/Config.h"
#include "tokenizers/StringReplacePattern.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class Normalizer {
public:
    virtual ~Normalizer() = default;
    virtual std::string normalize(std::string_view text) const = 0;
    std::string operator()(std::string_view text) const { return normalize(text); }
};

using NormalizerPtr = std::shared_ptr<const Normalizer>;

class NormalizerFactory {
public:
    /// No normalizer for a null configuration or one without a text "type";
    /// an unknown type throws ConfigurationError("Unsupported Normalizer type: <name>").
    static NormalizerPtr fromConfig(const hub::Config& config);
};

class NormalizerSequence final : public Normalizer {
public:
    explicit NormalizerSequence(const hub::Config& config);
    std::string normalize(std::string_view text) const override;

private:
    std::vector<NormalizerPtr> normalizers_;
};

class PrependNormalizer final : public Normalizer {
public:
    explicit PrependNormalizer(const hub::Config& config)
        : prepend_(config["prepend"].string(std::string())) {}
    std::string normalize(std::string_view text) const override {
        return prepend_ + std::string(text);
    }

private:
    std::string prepend_;
};

class ReplaceNormalizer final : public Normalizer {
public:
    explicit ReplaceNormalizer(const hub::Config& config)
        : pattern_(StringReplacePattern::from(config)) {}
    std::string normalize(std::string_view text) const override {
        return pattern_ ? pattern_->apply(text) : std::string(text);
    }

private:
    std::optional<StringReplacePattern> pattern_;
};

class LowercaseNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class NFDNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class NFCNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class NFKDNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class NFKCNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class BertNormalizer final : public Normalizer {
public:
    explicit BertNormalizer(const hub::Config& config);
    std::string normalize(std::string_view text) const override;

private:
    bool shouldCleanText_;
    bool shouldHandleChineseChars_;
    bool shouldStripAccents_;
    bool shouldLowercase_;
};

/// Fixed rules in place of a precompiled character map: drop or blank some
/// control characters, then NFKC (keeping full-width tildes).
class PrecompiledNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class StripAccentsNormalizer final : public Normalizer {
public:
    std::string normalize(std::string_view text) const override;
};

class StripNormalizer final : public Normalizer {
public:
    explicit StripNormalizer(const hub::Config& config)
        : leftStrip_(config["stripLeft"].boolean(true)),
          rightStrip_(config["stripRight"].boolean(true)) {}
    std::string normalize(std::string_view text) const override;

private:
    bool leftStrip_;
    bool rightStrip_;
};

} // namespace tokenizers
