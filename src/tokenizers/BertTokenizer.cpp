#include "tokenizers/BertTokenizer.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Normalization.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"
#include "tokenizers/TextEdits.h"
#include "tokenizers/TokenizerError.h"

#include <algorithm>

namespace tokenizers {
namespace text = platform::text;
namespace {

// The key of a text in a canonical vocabulary: its NFC form (text below
// U+0300 is its own).
template <typename Fn> auto withCanonicalKey(std::string_view text, Fn&& fn) {
    if (text::isBelowCombiningMarks(text)) return fn(text);
    const std::string nfc = text::normalize(text, text::NormalizationForm::nfc);
    return fn(std::string_view(nfc));
}

bool isAsciiPunctuation(char32_t cp) {
    return (cp >= 33 && cp <= 47) || (cp >= 58 && cp <= 64) || (cp >= 91 && cp <= 96) ||
           (cp >= 123 && cp <= 126);
}

bool isPunctuationCharacter(std::string_view character) {
    const char32_t cp = text::firstCodePoint(character);
    return isAsciiPunctuation(cp) || text::isPunctuation(cp);
}

// Accents removed without regard to locale: the text decomposed, its
// non-spacing marks dropped, the rest composed again ("é" becomes "e").
std::string withoutDiacritics(std::string_view input) {
    if (text::isAscii(input)) return std::string(input);
    const std::string decomposed = text::normalize(input, text::NormalizationForm::nfd);
    std::string kept;
    kept.reserve(decomposed.size());
    for (std::size_t i = 0; i < decomposed.size();) {
        const std::size_t start = i;
        const char32_t cp = text::decodeNext(decomposed, i);
        if (text::generalCategory(cp) != text::GeneralCategory::nonspacingMark)
            kept.append(decomposed, start, i - start);
    }
    return text::normalize(kept, text::NormalizationForm::nfc);
}

} // namespace

void CanonicalVocabulary::assign(std::string_view text, TokenId id) {
    withCanonicalKey(text, [&](std::string_view key) { table_.assign(key, id); });
}

std::optional<TokenId> CanonicalVocabulary::find(std::string_view text) const {
    return withCanonicalKey(text, [&](std::string_view key) -> std::optional<TokenId> {
        const std::int64_t* id = table_.find(key);
        return id ? std::optional<TokenId>(*id) : std::nullopt;
    });
}

std::vector<std::string> BasicTokenizer::tokenize(std::string_view input) const {
    const std::string folded = doLowerCase_ ? withoutDiacritics(input) : std::string(input);
    std::vector<std::string> words;
    auto addPart = [&](std::string_view part) {
        if (part.empty()) return;
        if (std::find(neverSplit_.begin(), neverSplit_.end(), part) != neverSplit_.end()) {
            words.emplace_back(part);
            return;
        }
        const std::string lowered = doLowerCase_ ? text::toLower(part) : std::string(part);
        const auto bounds = text::graphemeBoundaries(lowered);
        std::string word;
        for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
            const std::string_view character =
                std::string_view(lowered).substr(bounds[k], bounds[k + 1] - bounds[k]);
            if (isPunctuationCharacter(character)) {
                if (!word.empty()) words.push_back(std::move(word));
                word.clear();
                words.emplace_back(character);
            } else {
                word.append(character);
            }
        }
        if (!word.empty()) words.push_back(std::move(word));
    };
    // Parts between blanks: space separators and the tab (line breaks are
    // not blanks here).
    std::size_t partStart = 0;
    for (std::size_t i = 0; i < folded.size();) {
        const std::size_t start = i;
        if (text::isSpaceSeparatorOrTab(text::decodeNext(folded, i))) {
            addPart(std::string_view(folded).substr(partStart, start - partStart));
            partStart = i;
        }
    }
    addPart(std::string_view(folded).substr(partStart));
    return words;
}

std::vector<std::string> WordpieceTokenizer::tokenize(std::string_view word) const {
    const auto bounds = text::graphemeBoundaries(word);
    const std::size_t characters = bounds.size() - 1;
    if (characters == 0) return {};
    if (characters > maxInputCharsPerWord_) return {unkToken_};
    std::vector<std::string> pieces;
    std::string candidate;
    for (std::size_t start = 0; start < characters;) {
        std::size_t end = characters;
        for (; end > start; --end) {
            candidate.assign(start > 0 ? "##" : "");
            candidate.append(word.substr(bounds[start], bounds[end] - bounds[start]));
            if (vocab_.contains(candidate)) break;
        }
        if (end == start) return {unkToken_}; // nothing covers this place
        pieces.push_back(candidate);
        start = end;
    }
    return pieces;
}

BertTokenizer::BertTokenizer(const Vocabulary& vocab,
                             const std::optional<std::vector<std::string>>& /*merges*/,
                             bool tokenizeChineseChars, std::optional<std::string> bosToken,
                             std::optional<std::string> eosToken, bool fuseUnknownTokens,
                             bool doLowerCase)
    : basicTokenizer_(doLowerCase, {"[UNK]", "[SEP]", "[PAD]", "[CLS]", "[MASK]"}),
      wordpieceTokenizer_("[UNK]", 100, vocab_), tokenizeChineseChars_(tokenizeChineseChars),
      bosToken_(std::move(bosToken)), eosToken_(std::move(eosToken)),
      fuseUnknownTokens_(fuseUnknownTokens) {
    for (const auto& [token, id] : vocab)
        vocab_.assign(token, id);
    vocab_.forEach([&](std::string_view token, TokenId id) { idsToTokens_.emplace(id, token); });
    if (bosToken_) bosTokenId_ = vocab_.find(*bosToken_);
    if (eosToken_) eosTokenId_ = vocab_.find(*eosToken_);
}

namespace {

BertTokenizer::Vocabulary vocabularyOf(const hub::Config& tokenizerData,
                                       const AddedTokenIds& addedTokens) {
    const hub::Config& vocab = tokenizerData["model"]["vocab"];
    if (vocab.kind() != hub::Config::Kind::dictionary) throw TokenizerError::missingVocab();
    BertTokenizer::Vocabulary entries;
    vocab.forEachMember([&](std::string_view token, const hub::Config& id) {
        if (const auto value = id.integer()) entries.emplace_back(token, *value);
    });
    tokenizerData["addedTokens"].forEachElement([&](const hub::Config& element) {
        const auto id = element["id"].integer();
        const auto content = element["content"].string();
        if (id && content) entries.emplace_back(*content, *id);
    });
    for (const auto& [content, id] : addedTokens)
        entries.emplace_back(content.str(), id);
    return entries;
}

} // namespace

BertTokenizer::BertTokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                             const AddedTokenIds& addedTokens)
    : BertTokenizer(
          vocabularyOf(tokenizerData, addedTokens), tokenizerData["model"]["merges"].stringArray(),
          tokenizerConfig["handleChineseChars"].boolean(true), tokenizerConfig["bosToken"].string(),
          tokenizerConfig["eosToken"].string(), tokenizerConfig["fuseUnk"].boolean(false),
          tokenizerConfig["doLowerCase"].boolean(true)) {}

std::vector<std::string> BertTokenizer::tokenize(std::string_view piece) const {
    const std::string spaced = tokenizeChineseChars_ ? spacedIdeographs(piece) : std::string(piece);
    std::vector<std::string> tokens;
    for (const auto& word : basicTokenizer_.tokenize(spaced)) {
        auto pieces = wordpieceTokenizer_.tokenize(word);
        tokens.insert(tokens.end(), std::make_move_iterator(pieces.begin()),
                      std::make_move_iterator(pieces.end()));
    }
    return tokens;
}

std::optional<TokenId> BertTokenizer::convertTokenToId(std::string_view token) const {
    if (auto id = vocab_.find(token)) return id;
    return unknownTokenId();
}

std::optional<std::string> BertTokenizer::convertIdToToken(TokenId id) const {
    const auto found = idsToTokens_.find(id);
    if (found == idsToTokens_.end()) return std::nullopt;
    return found->second;
}

} // namespace tokenizers
