#include "tokenizers/BPETokenizer.h"

#include "hub/Unicode.h"
#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TokenizerError.h"

#include <algorithm>

namespace tokenizers {
namespace unicode = hub::unicode;
namespace {

// Merge keys compare by canonical equivalence: texts made only of code
// points below U+0300 are already in NFC (the byte-level alphabet always is).
bool isTriviallyNfc(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0xCC) return false;
    return true;
}

std::string canonicalKey(std::string_view text) {
    return isTriviallyNfc(text) ? std::string(text) : unicode::normalize(text, unicode::NormalizationForm::nfc);
}

std::uint64_t pairKey(std::int32_t a, std::int32_t b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) | static_cast<std::uint32_t>(b);
}

// A configured special token: a text, or an object whose "content" is a text.
std::optional<std::string> tokenText(const hub::Config& value) {
    if (auto text = value.string()) return text;
    return value["content"].string();
}

}  // namespace

std::optional<std::vector<std::vector<std::string>>> BPETokenizer::mergesFromConfig(const hub::Config& merges) {
    const auto* elements = merges.array();
    if (!elements) return std::nullopt;
    std::vector<std::vector<std::string>> out;
    out.reserve(elements->size());
    for (const hub::Config& element : *elements) {
        if (auto parts = element.stringArray()) {
            out.push_back(std::move(*parts));
        } else if (const auto* text = element.binaryDistinctString()) {
            std::vector<std::string> parts;
            std::string_view rest = text->view();
            for (;;) {
                const std::size_t space = rest.find(' ');
                parts.emplace_back(rest.substr(0, space));
                if (space == std::string_view::npos) break;
                rest.remove_prefix(space + 1);
            }
            out.push_back(std::move(parts));
        }
    }
    return out;
}

std::int32_t BPETokenizer::internSymbol(std::string_view text) {
    const std::string key = canonicalKey(text);
    auto [it, inserted] = symbols_.try_emplace(key, static_cast<std::int32_t>(symbols_.size()));
    return it->second;
}

std::int32_t BPETokenizer::symbolOf(std::string_view character) const {
    auto it = isTriviallyNfc(character) ? symbols_.find(character) : symbols_.find(canonicalKey(character));
    return it == symbols_.end() ? -1 : it->second;
}

const BPETokenizer::Merge* BPETokenizer::findMerge(std::int32_t a, std::int32_t b) const {
    if (a < 0 || b < 0) return nullptr;
    auto it = bpeRanks_.find(pairKey(a, b));
    return it == bpeRanks_.end() ? nullptr : &it->second;
}

BPETokenizer::BPETokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                           const AddedTokenIds& addedTokens) {
    const hub::Config& model = tokenizerData["model"];
    const auto merges = mergesFromConfig(model["merges"]);
    if (!merges) throw ConfigurationError("BPETokenizer requires merges");
    const auto* vocab = model["vocab"].dictionary();
    if (!vocab) throw TokenizerError::missingVocab();

    bpeRanks_.reserve(merges->size());
    symbols_.reserve(merges->size() * 2);
    for (std::size_t rank = 0; rank < merges->size(); ++rank) {
        const auto& parts = (*merges)[rank];
        if (parts.size() < 2) continue;  // cannot form a pair; keeps its rank position
        const std::int32_t a = internSymbol(parts[0]);
        const std::int32_t b = internSymbol(parts[1]);
        const std::int32_t merged = internSymbol(parts[0] + parts[1]);
        bpeRanks_.insert_or_assign(pairKey(a, b), Merge{static_cast<std::int32_t>(rank), merged});
    }

    tokensToIds_.reserve(vocab->size() + addedTokens.size());
    for (const auto& [token, id] : *vocab)
        if (auto value = id.integer()) tokensToIds_.emplace(token.str(), *value);
    for (const auto& [content, id] : addedTokens) tokensToIds_.insert_or_assign(content.str(), id);
    idsToTokens_.reserve(tokensToIds_.size());
    for (const auto& [token, id] : tokensToIds_) idsToTokens_.emplace(id, token);

    auto idOf = [&](const std::optional<std::string>& token) -> std::optional<TokenId> {
        if (!token) return std::nullopt;
        auto it = tokensToIds_.find(*token);
        return it == tokensToIds_.end() ? std::nullopt : std::optional<TokenId>(it->second);
    };
    {
        const hub::Config& unk = tokenizerConfig["unkToken"];
        unknownToken_ = unk.dictionary() ? unk["content"].string() : unk.string();
        unknownTokenId_ = idOf(unknownToken_);
    }
    eosToken_ = tokenText(tokenizerConfig["eosToken"]);
    eosTokenId_ = idOf(eosToken_);
    bosToken_ = tokenText(tokenizerConfig["bosToken"]);
    bosTokenId_ = idOf(bosToken_);
    fuseUnknownTokens_ = tokenizerConfig["fuseUnk"].boolean(false);
}

std::vector<BPETokenizer::Span> BPETokenizer::mergeSymbols(std::string_view piece) const {
    const auto bounds = unicode::graphemeBoundaries(piece);
    const std::size_t n = bounds.size() - 1;
    if (n <= 1) return {Span{0, static_cast<std::uint32_t>(piece.size())}};

    struct Node {
        std::int32_t id;
        std::uint32_t begin, end;
        std::int32_t prev, next;
        bool alive;
    };
    struct Entry {
        std::int32_t rank, left, right, a, b, merged;
    };
    std::vector<Node> nodes(n);
    for (std::size_t k = 0; k < n; ++k) {
        const auto begin = static_cast<std::uint32_t>(bounds[k]), end = static_cast<std::uint32_t>(bounds[k + 1]);
        nodes[k] = Node{symbolOf(piece.substr(begin, end - begin)), begin, end, static_cast<std::int32_t>(k) - 1,
                        k + 1 < n ? static_cast<std::int32_t>(k + 1) : -1, true};
    }

    // Min-heap on (rank, left position).
    auto later = [](const Entry& x, const Entry& y) { return x.rank != y.rank ? x.rank > y.rank : x.left > y.left; };
    std::vector<Entry> heap;
    auto pushPair = [&](std::int32_t left, std::int32_t right) {
        if (left < 0 || right < 0) return;
        const std::int32_t a = nodes[left].id, b = nodes[right].id;
        if (const Merge* m = findMerge(a, b)) {
            heap.push_back(Entry{m->rank, left, right, a, b, m->merged});
            std::push_heap(heap.begin(), heap.end(), later);
        }
    };
    for (std::size_t k = 0; k + 1 < n; ++k) pushPair(static_cast<std::int32_t>(k), static_cast<std::int32_t>(k + 1));

    std::vector<Entry> batch;
    std::vector<std::int32_t> mergedNodes;
    while (!heap.empty()) {
        // Every occurrence of the best pair, merged left to right in one pass.
        const std::int32_t rank = heap.front().rank;
        batch.clear();
        while (!heap.empty() && heap.front().rank == rank) {
            std::pop_heap(heap.begin(), heap.end(), later);
            batch.push_back(heap.back());
            heap.pop_back();
        }
        std::sort(batch.begin(), batch.end(), [](const Entry& x, const Entry& y) { return x.left < y.left; });
        mergedNodes.clear();
        for (const Entry& e : batch) {
            Node& left = nodes[e.left];
            if (!left.alive || left.next != e.right || left.id != e.a) continue;
            Node& right = nodes[e.right];
            if (!right.alive || right.id != e.b) continue;
            left.id = e.merged;
            left.end = right.end;
            left.next = right.next;
            right.alive = false;
            if (right.next >= 0) nodes[right.next].prev = e.left;
            mergedNodes.push_back(e.left);
        }
        for (std::int32_t k : mergedNodes) {
            if (!nodes[k].alive) continue;
            pushPair(nodes[k].prev, k);
            pushPair(k, nodes[k].next);
        }
    }

    std::vector<Span> spans;
    for (std::int32_t k = 0; k >= 0; k = nodes[k].next) spans.push_back(Span{nodes[k].begin, nodes[k].end});
    return spans;
}

std::string BPETokenizer::bpe(std::string_view token) const {
    std::string out;
    out.reserve(token.size() + 8);
    bool first = true;
    for (const Span& s : mergeSymbols(token)) {
        if (!first) out += ' ';
        first = false;
        out.append(token.substr(s.begin, s.end - s.begin));
    }
    return out;
}

std::vector<std::string> BPETokenizer::hexaEncode(std::string_view text) {
    // The byte-fallback expression's branches together match every
    // character, so every byte of the text becomes one token.
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::vector<std::string> tokens;
    tokens.reserve(text.size());
    for (unsigned char b : text) tokens.push_back(std::string("<0x") + kHex[b >> 4] + kHex[b & 15] + ">");
    return tokens;
}

std::vector<std::string> BPETokenizer::tokenize(std::string_view text) const {
    std::vector<std::string> tokens;
    for (const Span& s : mergeSymbols(text)) {
        std::string_view symbol = text.substr(s.begin, s.end - s.begin);
        // Spaces inside a merged symbol are cutting points.
        while (!symbol.empty()) {
            const std::size_t space = symbol.find(' ');
            const std::string_view part = symbol.substr(0, space);
            symbol = space == std::string_view::npos ? std::string_view() : symbol.substr(space + 1);
            if (part.empty()) continue;
            auto it = tokensToIds_.find(part);
            if (it != tokensToIds_.end() && (!unknownTokenId_ || it->second != *unknownTokenId_)) {
                tokens.emplace_back(part);
            } else {
                auto bytes = hexaEncode(part);
                tokens.insert(tokens.end(), std::make_move_iterator(bytes.begin()), std::make_move_iterator(bytes.end()));
            }
        }
    }
    return tokens;
}

std::optional<TokenId> BPETokenizer::convertTokenToId(std::string_view token) const {
    auto it = tokensToIds_.find(token);
    if (it != tokensToIds_.end()) return it->second;
    return unknownTokenId_;
}

std::optional<std::string> BPETokenizer::convertIdToToken(TokenId id) const {
    auto it = idsToTokens_.find(id);
    if (it == idsToTokens_.end()) return std::nullopt;
    return it->second;
}

}  // namespace tokenizers
