#include "murmex/core/WhisperTokenizerWrapper.h"

#include "murmex/base/Constants.h"
#include "platform/text/DominantLanguage.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <algorithm>
#include <array>

namespace murmex {

namespace {

namespace text = platform::text;

constexpr std::string_view kReplacementCharacter = text::kReplacementCharacterUtf8;

std::vector<tokenizers::TokenId> toTokenIds(const std::vector<int>& tokens) {
    return std::vector<tokenizers::TokenId>(tokens.begin(), tokens.end());
}

std::optional<int> toInt(std::optional<tokenizers::TokenId> id) {
    if (!id || *id < INT32_MIN || *id > INT32_MAX) return std::nullopt;
    return static_cast<int>(*id);
}

// True when `piece`, with white space trimmed from both ends, is exactly one
// punctuation character.
bool isLonePunctuation(std::string_view piece) {
    const std::string_view core = text::trimCodePoints(piece, text::isWhiteSpace);
    if (core.empty()) return false;
    std::size_t end = 0;
    const char32_t c = text::decodeNext(core, end);
    return end == core.size() && text::isPunctuation(c);
}

} // namespace

WhisperTokenizerWrapper::WhisperTokenizerWrapper(
    std::shared_ptr<const tokenizers::Tokenizer> tokenizer,
    std::optional<std::string> tokenizerFolder)
    : tokenizer_(std::move(tokenizer)), tokenizerFolder_(std::move(tokenizerFolder)) {
    auto id = [this](const char* text, int fallback) {
        return verifiedId(text).value_or(fallback);
    };
    specialTokens_ = SpecialTokens{
        id("<|endoftext|>", 50257),
        id("<|en|>", 50259),
        id("<|nospeech|>", 50362),
        id("<|notimestamps|>", 50363),
        id("<|endoftext|>", 50257),
        id("<|startofprev|>", 50361),
        id("<|startoftranscript|>", 50258),
        id("<|0.00|>", 50364),
        id("<|transcribe|>", 50359),
        id("<|translate|>", 50358),
        id(" ", 220),
    };
    for (const auto& [name, code] : Constants::languages()) {
        std::optional<int> language = verifiedId("<|" + code + "|>");
        if (language && *language > specialTokens_.specialTokenBegin)
            allLanguageTokens_.insert(*language);
    }
}

std::optional<int> WhisperTokenizerWrapper::verifiedId(const std::string& text) const {
    std::optional<tokenizers::TokenId> id = tokenizer_->convertTokenToId(text);
    if (!id || tokenizer_->convertIdToToken(*id) != text) return std::nullopt;
    return toInt(id);
}

std::vector<int> WhisperTokenizerWrapper::encode(std::string_view text) const {
    std::vector<tokenizers::TokenId> ids = tokenizer_->encode(text);
    return std::vector<int>(ids.begin(), ids.end());
}

std::string WhisperTokenizerWrapper::decode(const std::vector<int>& tokens) const {
    return tokenizer_->decode(toTokenIds(tokens));
}

std::optional<int> WhisperTokenizerWrapper::convertTokenToId(std::string_view token) const {
    return toInt(tokenizer_->convertTokenToId(token));
}

std::optional<std::string> WhisperTokenizerWrapper::convertIdToToken(int id) const {
    return tokenizer_->convertIdToToken(id);
}

WordTokens WhisperTokenizerWrapper::splitToWordTokens(const std::vector<int>& tokenIds) const {
    std::vector<int> textTokens;
    for (int token : tokenIds) {
        if (token < specialTokens_.specialTokenBegin) textTokens.push_back(token);
    }
    std::optional<std::string> language = platform::text::dominantLanguage(decode(textTokens));
    static constexpr std::array<std::string_view, 6> kUnspaced{"zh", "ja", "th", "lo", "my", "yue"};
    if (language && std::find(kUnspaced.begin(), kUnspaced.end(), *language) != kUnspaced.end()) {
        return splitTokensOnUnicode(tokenIds);
    }
    return splitTokensOnSpaces(tokenIds);
}

WordTokens WhisperTokenizerWrapper::splitTokensOnUnicode(const std::vector<int>& tokens) const {
    WordTokens result;
    if (tokens.empty()) return result;
    const std::string full = decode(tokens);

    std::vector<int> current;
    size_t pieceStart = 0; // where the current piece begins within `full`
    for (int token : tokens) {
        current.push_back(token);
        std::string decoded = decode(current);
        size_t replacement = decoded.find(kReplacementCharacter);
        // A piece with a replacement character is still complete when the
        // whole text holds one at the same place: that character is broken in
        // the whole text too. The place is counted from the piece's start.
        bool complete = replacement == std::string::npos;
        if (!complete) {
            size_t inFull = pieceStart + replacement;
            complete = inFull <= full.size() && full.compare(inFull, kReplacementCharacter.size(),
                                                             kReplacementCharacter) == 0;
        }
        if (complete) {
            pieceStart += decoded.size();
            result.words.push_back(std::move(decoded));
            result.wordTokens.push_back(std::move(current));
            current.clear();
        }
    }
    return result;
}

WordTokens WhisperTokenizerWrapper::splitTokensOnSpaces(const std::vector<int>& tokens) const {
    WordTokens pieces = splitTokensOnUnicode(tokens);
    WordTokens result;
    for (size_t i = 0; i < pieces.words.size(); ++i) {
        std::string& piece = pieces.words[i];
        std::vector<int>& pieceTokens = pieces.wordTokens[i];
        const bool special = pieceTokens.front() >= specialTokens_.specialTokenBegin;
        const bool withSpace = !piece.empty() && piece.front() == ' ';
        if (special || withSpace || isLonePunctuation(piece) || result.words.empty()) {
            result.words.push_back(std::move(piece));
            result.wordTokens.push_back(std::move(pieceTokens));
        } else {
            result.words.back() += piece;
            result.wordTokens.back().insert(result.wordTokens.back().end(), pieceTokens.begin(),
                                            pieceTokens.end());
        }
    }
    return result;
}

} // namespace murmex
