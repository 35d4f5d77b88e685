#include "tokenizers/PreTrainedTokenizer.h"

#include "platform/system/LogSink.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Utf8.h"
#include "tokenizers/BPETokenizer.h"
#include "tokenizers/TextEdits.h"
#include "tokenizers/TextSplitting.h"
#include "tokenizers/TokenizerError.h"
#include "tokenizers/TokenizerModel.h"

#include <algorithm>
#include <functional>

namespace tokenizers {
namespace text = platform::text;
namespace {

struct AddedTokenPattern {
    std::string content;
    bool lstrip;
    bool rstrip;
    std::size_t characters;
};

// Input text is repaired at the entry so that every later stage sees
// well-formed UTF-8.
std::string_view wellFormed(std::string_view text, std::string& storage) {
    if (text::isValidUtf8(text)) return text;
    storage = text::repairUtf8(text);
    return storage;
}

} // namespace

PreTrainedTokenizer::PreTrainedTokenizer(const hub::Config& tokenizerConfig,
                                         const hub::Config& tokenizerData, bool strict)
    : tokenizerConfig_(tokenizerConfig) {
    // Anything but an array counts as no added tokens. One walk serves both
    // passes over the list: the ids of the first, the patterns of the second.
    AddedTokenIds addedTokenIds;
    std::vector<AddedTokenPattern> patterns;
    tokenizerData["addedTokens"].forEachElement([&](const hub::Config& element) {
        const auto* content = element["content"].binaryDistinctString();
        if (!content) return;
        // Contents with an integer id; special ones separately.
        if (const auto id = element["id"].integer()) {
            addedTokenIds.insert_or_assign(*content, *id);
            if (element["special"].boolean(false))
                specialTokens_.insert_or_assign(content->str(), *id);
        }
        // Every text content cuts the input. An empty content can never be
        // found in text; as an expression it would match between every two
        // characters.
        if (!content->str().empty())
            patterns.push_back({content->str(), element["lstrip"].boolean(false),
                                element["rstrip"].boolean(false),
                                text::graphemeCount(content->view())});
    });
    // Longest first; equal lengths keep their order in the document.
    std::stable_sort(patterns.begin(), patterns.end(),
                     [](const AddedTokenPattern& a, const AddedTokenPattern& b) {
                         return a.characters > b.characters;
                     });
    if (!patterns.empty()) {
        std::vector<LiteralAlternation::Alternative> alternatives;
        alternatives.reserve(patterns.size());
        for (auto& p : patterns)
            alternatives.push_back({std::move(p.content), p.lstrip, p.rstrip});
        addedTokensRegex_ = std::make_shared<const LiteralAlternation>(std::move(alternatives));
    }
    for (const auto& [content, id] : addedTokenIds)
        addedTokens_.insert(content.str());
    for (const auto& [content, id] : specialTokens_)
        specialTokenIds_.insert(id);

    preTokenizer_ = PreTokenizerFactory::fromConfig(tokenizerData["preTokenizer"]);
    normalizer_ = NormalizerFactory::fromConfig(tokenizerData["normalizer"]);
    postProcessor_ = PostProcessorFactory::fromConfig(tokenizerData["postProcessor"]);
    decoder_ = DecoderFactory::fromConfig(tokenizerData["decoder"], &addedTokens_);

    cleanUpTokenizationSpaces_ = tokenizerConfig["cleanUpTokenizationSpaces"].boolean(true);

    const auto tokenizerClass = tokenizerConfig["tokenizerClass"].string();
    if (!tokenizerClass) throw TokenizerError::missingTokenizerClassInConfig();
    const std::string name = withoutFast(*tokenizerClass);
    const auto& registry = TokenizerModel::knownTokenizers();
    auto it = registry.find(name);
    if (it != registry.end()) {
        model_ = it->second(tokenizerConfig, tokenizerData, addedTokenIds);
    } else if (strict) {
        throw TokenizerError::unsupportedTokenizer(name);
    } else {
        platform::system::LogSink::writeLine(
            "Warning: Tokenizer model class " + name +
            " is not registered, falling back to a standard BPE implementation.");
        model_ =
            std::make_shared<const BPETokenizer>(tokenizerConfig, tokenizerData, addedTokenIds);
    }
}

bool PreTrainedTokenizer::hasChatTemplate() const {
    return !tokenizerConfig_["chatTemplate"].isNull();
}

std::vector<std::string> PreTrainedTokenizer::preTokenize(std::string_view text,
                                                          PreTokenizerOptions options) const {
    if (!preTokenizer_) return {std::string(text)};
    return preTokenizer_->preTokenize(text, options);
}

std::string PreTrainedTokenizer::normalize(std::string_view text) const {
    return normalizer_ ? normalizer_->normalize(text) : std::string(text);
}

std::vector<std::string> PreTrainedTokenizer::postProcess(const std::vector<std::string>& tokens,
                                                          bool addSpecialTokens) const {
    return postProcessor_ ? postProcessor_->postProcess(tokens, nullptr, addSpecialTokens) : tokens;
}

std::vector<std::string>
PreTrainedTokenizer::decodeTokens(const std::vector<std::string>& tokens) const {
    return decoder_ ? decoder_->decode(tokens) : tokens;
}

std::string PreTrainedTokenizer::cleanUp(std::string text) const {
    if (!cleanUpTokenizationSpaces_) return text;
    static constexpr std::pair<std::string_view, std::string_view> kRules[] = {
        {" .", "."},     {" ?", "?"},   {" !", "!"},   {" ,", ","},     {" ' ", "'"},
        {" n't", "n't"}, {" 'm", "'m"}, {" 's", "'s"}, {" 've", "'ve"}, {" 're", "'re"},
    };
    for (const auto& [from, to] : kRules)
        if (text.find(from) != std::string::npos) text = replaceAll(text, from, to);
    return text;
}

std::vector<std::string>
PreTrainedTokenizer::fuseUnknown(const std::vector<std::string>& tokens) const {
    std::vector<std::string> out;
    out.reserve(tokens.size());
    const auto unknownId = model_->unknownTokenId();
    bool previousUnknown = false;
    for (const auto& token : tokens) {
        const bool unknown = model_->convertTokenToId(token) == unknownId;
        if (!unknown || !previousUnknown) out.push_back(token);
        previousUnknown = unknown;
    }
    return out;
}

std::vector<std::string> PreTrainedTokenizer::sections(std::string_view text) const {
    if (!addedTokensRegex_) return {std::string(text)};
    return splitKeepingCaptures(text, addedTokensRegex_->allMatches(text));
}

void PreTrainedTokenizer::forEachPiece(std::string_view section, std::size_t index,
                                       const std::function<void(std::string_view)>& sink) const {
    const PreTokenizerOptions options =
        index == 0 ? PreTokenizerOptions{PreTokenizerOption::firstSection} : PreTokenizerOptions{};
    std::string normalized;
    if (normalizer_) {
        normalized = normalizer_->normalize(section);
        section = normalized;
    }
    if (preTokenizer_)
        preTokenizer_->forEachPiece(section, options, sink);
    else
        sink(section);
}

std::vector<std::string> PreTrainedTokenizer::tokenize(std::string_view input) const {
    std::string storage;
    const std::string_view text = wellFormed(input, storage);
    const auto parts = sections(text);
    const bool fuse = model_->fuseUnknownTokens();
    std::vector<std::string> tokens;
    for (std::size_t i = 0; i < parts.size(); ++i) {
        const std::size_t start = tokens.size();
        if (addedTokens_.count(parts[i])) {
            tokens.push_back(parts[i]);
        } else {
            forEachPiece(parts[i], i, [&](std::string_view piece) {
                auto pieceTokens = model_->tokenize(piece);
                tokens.insert(tokens.end(), std::make_move_iterator(pieceTokens.begin()),
                              std::make_move_iterator(pieceTokens.end()));
            });
        }
        if (fuse) {
            std::vector<std::string> section(
                std::make_move_iterator(tokens.begin() + static_cast<std::ptrdiff_t>(start)),
                std::make_move_iterator(tokens.end()));
            tokens.resize(start);
            for (auto& token : fuseUnknown(section))
                tokens.push_back(std::move(token));
        }
    }
    return tokens;
}

std::vector<TokenId>
PreTrainedTokenizer::idsOfTokens(const std::vector<std::string>& tokens) const {
    std::vector<TokenId> ids;
    ids.reserve(tokens.size());
    for (const auto& token : tokens) {
        const auto id = model_->convertTokenToId(token);
        if (!id)
            throw TokenizerError::mismatchedConfig("the token \"" + token +
                                                   "\" has no id in the vocabulary");
        ids.push_back(*id);
    }
    return ids;
}

std::vector<TokenId> PreTrainedTokenizer::encode(std::string_view input,
                                                 bool addSpecialTokens) const {
    // The direct road: ids straight from the model, piece by piece, without
    // token texts. It applies when the post-processor only adds tokens around
    // the sequence; any token without an id sends the call down the text
    // road, which reports it.
    if (postProcessor_ && !postProcessor_->passesTokensThrough())
        return idsOfTokens(postProcess(tokenize(input), addSpecialTokens));
    std::string storage;
    const std::string_view text = wellFormed(input, storage);
    const auto parts = sections(text);
    const auto unknownId = model_->unknownTokenId();
    const bool fuse = model_->fuseUnknownTokens();
    std::vector<TokenId> ids;
    ids.reserve(text.size() / 3 + 8);
    bool complete = true;
    for (std::size_t i = 0; i < parts.size() && complete; ++i) {
        const std::size_t start = ids.size();
        if (addedTokens_.count(parts[i])) {
            const auto id = model_->convertTokenToId(parts[i]);
            if (id)
                ids.push_back(*id);
            else
                complete = false;
        } else {
            forEachPiece(parts[i], i, [&](std::string_view piece) {
                if (complete && !model_->appendIds(piece, ids)) complete = false;
            });
        }
        if (fuse && complete) {
            // Of each run of unknown ids only the first stays.
            std::size_t out = start;
            bool previousUnknown = false;
            for (std::size_t k = start; k < ids.size(); ++k) {
                const bool unknown = unknownId && ids[k] == *unknownId;
                if (!unknown || !previousUnknown) ids[out++] = ids[k];
                previousUnknown = unknown;
            }
            ids.resize(out);
        }
    }
    if (!complete) return idsOfTokens(postProcess(tokenize(input), addSpecialTokens));
    if (!postProcessor_) return ids;

    // Lay the output out around a placeholder that no token text can equal
    // (token texts are well-formed UTF-8).
    static const std::string kSequence = "\xFF\xFEsequence";
    std::vector<TokenId> out;
    for (const auto& token : postProcessor_->postProcess({kSequence}, nullptr, addSpecialTokens)) {
        if (token == kSequence) {
            out.insert(out.end(), ids.begin(), ids.end());
        } else {
            const auto id = model_->convertTokenToId(token);
            if (!id)
                throw TokenizerError::mismatchedConfig("the token \"" + token +
                                                       "\" has no id in the vocabulary");
            out.push_back(*id);
        }
    }
    return out;
}

std::string PreTrainedTokenizer::decode(const std::vector<TokenId>& ids,
                                        bool skipSpecialTokens) const {
    std::vector<std::string> tokens;
    tokens.reserve(ids.size());
    for (TokenId id : ids) {
        if (skipSpecialTokens && specialTokenIds_.count(id)) continue;
        if (auto token = model_->convertIdToToken(id)) tokens.push_back(std::move(*token));
    }
    std::string text;
    for (const auto& piece : decodeTokens(tokens))
        text += piece;
    return cleanUp(std::move(text));
}

} // namespace tokenizers
