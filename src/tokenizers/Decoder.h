#pragma once
// Decoders map the token texts of a decode to text pieces, which the
// tokenizer then joins. One immutable class per document "type". Decoding
// never fails.

#include "hub/Config.h"
#include "tokenizers/Regex.h"
#include "tokenizers/StringReplacePattern.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>
#include <vector>

namespace tokenizers {

class Decoder {
public:
    virtual ~Decoder() = default;
    virtual std::vector<std::string> decode(const std::vector<std::string>& tokens) const = 0;
    std::vector<std::string> operator()(const std::vector<std::string>& tokens) const {
        return decode(tokens);
    }
};

using DecoderPtr = std::shared_ptr<const Decoder>;

class DecoderFactory {
public:
    /// No decoder for a null configuration or one without a text "type"; an
    /// unknown type throws ConfigurationError. Only a top-level "ByteLevel"
    /// decoder receives `addedTokens`.
    static DecoderPtr fromConfig(const hub::Config& config,
                                 const std::unordered_set<std::string>* addedTokens = nullptr);
};

class DecoderSequence final : public Decoder {
public:
    explicit DecoderSequence(const hub::Config& config);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::vector<DecoderPtr> decoders_;
};

class WordPieceDecoder final : public Decoder {
public:
    explicit WordPieceDecoder(const hub::Config& config);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::string cleanUp(const std::string& text) const;

    std::string prefix_;
    bool cleanup_;
    std::shared_ptr<const Regex> re_;
};

class ByteLevelDecoder final : public Decoder {
public:
    explicit ByteLevelDecoder(std::unordered_set<std::string> addedTokens = {})
        : addedTokens_(std::move(addedTokens)) {}
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::unordered_set<std::string> addedTokens_;
};

class ReplaceDecoder final : public Decoder {
public:
    explicit ReplaceDecoder(const hub::Config& config)
        : pattern_(StringReplacePattern::from(config)) {}
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::optional<StringReplacePattern> pattern_;
};

class ByteFallbackDecoder final : public Decoder {
public:
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;
    /// The byte of a "<0xHH>" token (two hexadecimal digits), else absent.
    static std::optional<std::uint8_t> byteOfToken(std::string_view token);
};

class FuseDecoder final : public Decoder {
public:
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;
};

class StripDecoder final : public Decoder {
public:
    explicit StripDecoder(const hub::Config& config);
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    std::string content_;
    std::int64_t start_;
    std::int64_t stop_;
};

class MetaspaceDecoder final : public Decoder {
public:
    explicit MetaspaceDecoder(const hub::Config& config)
        : addPrefixSpace_(config["addPrefixSpace"].boolean(false)),
          replacement_(config["replacement"].string("_")) {}
    std::vector<std::string> decode(const std::vector<std::string>& tokens) const override;

private:
    bool addPrefixSpace_;
    std::string replacement_;
};

} // namespace tokenizers
