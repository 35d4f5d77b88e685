#include "tokenizers/BPETokenizer.h"

#include "platform/text/Graphemes.h"
#include "platform/text/Normalization.h"
#include "platform/text/Utf8.h"
#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TextEdits.h"
#include "tokenizers/TokenizerError.h"

#include <algorithm>
#include <array>
#include <atomic>

namespace tokenizers {
namespace text = platform::text;
namespace {

// Merge keys compare by canonical equivalence (the byte-level alphabet lies
// below U+0300, which is always in NFC).
std::string canonicalKey(std::string_view text) {
    return text::normalize(text, text::NormalizationForm::nfc);
}

// Symbol ids are never negative, so no pair has this key.
constexpr std::uint64_t kEmptyKey = ~std::uint64_t{0};

std::uint64_t pairKey(std::int32_t a, std::int32_t b) {
    return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(a)) << 32) |
           static_cast<std::uint32_t>(b);
}

// A queue of kAhead items in which each item is handed to `process` only
// once kAhead later ones have been queued: a caller that starts fetching an
// item's table slots when it queues it has them in cache when it is processed.
template <class Item, std::size_t kAhead = 8> class Lookahead {
public:
    /// The slot to fill with the next item, after the oldest item, when
    /// kAhead are waiting, has been processed.
    template <class Process> Item& next(Process&& process) {
        if (count_ < kAhead) return ring_[(head_ + count_++) % kAhead];
        Item& oldest = ring_[head_];
        process(oldest);
        head_ = (head_ + 1) % kAhead;
        return oldest;
    }
    /// Processes the waiting items, oldest first.
    template <class Process> void drain(Process&& process) {
        for (; count_ > 0; --count_, head_ = (head_ + 1) % kAhead)
            process(ring_[head_]);
    }

private:
    std::array<Item, kAhead> ring_{};
    std::size_t head_ = 0, count_ = 0;
};

} // namespace

namespace {

// Calls fn(parts) for each merge of a "merges" array in order, with `parts`
// viewing the texts of the element (reused between calls). Elements that
// are neither arrays nor texts take no place. False when not an array.
template <typename Fn> bool visitMerges(const hub::Config& merges, Fn&& fn) {
    if (merges.kind() != hub::Config::Kind::array) return false;
    std::vector<std::string_view> parts;
    merges.forEachElement([&](const hub::Config& element) {
        parts.clear();
        if (const auto* list = element.array()) {
            for (const hub::Config& part : *list)
                if (const auto* text = part.binaryDistinctString()) parts.push_back(text->view());
        } else if (const auto* text = element.binaryDistinctString()) {
            std::string_view rest = text->view();
            for (;;) {
                const std::size_t space = rest.find(' ');
                parts.push_back(rest.substr(0, space));
                if (space == std::string_view::npos) break;
                rest.remove_prefix(space + 1);
            }
        } else {
            return;
        }
        fn(parts);
    });
    return true;
}

} // namespace

std::optional<std::vector<std::vector<std::string>>>
BPETokenizer::mergesFromConfig(const hub::Config& merges) {
    std::vector<std::vector<std::string>> out;
    const bool isArray = visitMerges(merges, [&](const std::vector<std::string_view>& parts) {
        out.emplace_back(parts.begin(), parts.end());
    });
    if (!isArray) return std::nullopt;
    return out;
}

std::int32_t BPETokenizer::internSymbol(std::string_view text) {
    if (text::isBelowCombiningMarks(text)) {
        return static_cast<std::int32_t>(
            symbols_.findOrInsert(text, static_cast<std::int64_t>(symbols_.size())));
    }
    return static_cast<std::int32_t>(
        symbols_.findOrInsert(canonicalKey(text), static_cast<std::int64_t>(symbols_.size())));
}

std::int32_t BPETokenizer::symbolOf(std::string_view character) const {
    const std::int64_t* id = text::isBelowCombiningMarks(character)
                                 ? symbols_.find(character)
                                 : symbols_.find(canonicalKey(character));
    return id ? static_cast<std::int32_t>(*id) : -1;
}

void BPETokenizer::MergeTable::reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    keys_.assign(capacity, kEmptyKey);
    values_.assign(capacity, Merge{});
    mask_ = capacity - 1;
    shift_ = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1)
        --shift_;
    size_ = 0;
}

std::size_t BPETokenizer::MergeTable::slot(std::uint64_t key) const {
    // Fibonacci hashing: the top bits of the product depend on every key bit.
    std::size_t i = static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> shift_);
    while (keys_[i] != kEmptyKey && keys_[i] != key)
        i = (i + 1) & mask_;
    return i;
}

void BPETokenizer::MergeTable::assign(std::uint64_t key, Merge merge) {
    if (keys_.empty() || (size_ + 1) * 2 > keys_.size()) {
        // Grow: re-insert everything into a table twice the size.
        auto oldKeys = std::move(keys_);
        auto oldValues = std::move(values_);
        reserve(std::max<std::size_t>(16, oldKeys.size()));
        for (std::size_t k = 0; k < oldKeys.size(); ++k)
            if (oldKeys[k] != kEmptyKey) assign(oldKeys[k], oldValues[k]);
    }
    const std::size_t i = slot(key);
    if (keys_[i] == kEmptyKey) {
        keys_[i] = key;
        ++size_;
    }
    values_[i] = merge;
}

const BPETokenizer::Merge* BPETokenizer::MergeTable::find(std::uint64_t key) const {
    if (keys_.empty()) return nullptr;
    const std::size_t i = slot(key);
    return keys_[i] == kEmptyKey ? nullptr : &values_[i];
}

const BPETokenizer::Merge* BPETokenizer::findMerge(std::int32_t a, std::int32_t b) const {
    if (a < 0 || b < 0) return nullptr;
    return bpeRanks_.find(pairKey(a, b));
}

BPETokenizer::BPETokenizer(const hub::Config& tokenizerConfig, const hub::Config& tokenizerData,
                           const AddedTokenIds& addedTokens)
    : serial_([] {
          static std::atomic<std::uint64_t> next{1};
          return next.fetch_add(1, std::memory_order_relaxed);
      }()) {
    const hub::Config& model = tokenizerData["model"];
    const hub::Config& merges = model["merges"];
    if (merges.kind() != hub::Config::Kind::array)
        throw ConfigurationError("BPETokenizer requires merges");
    const hub::Config& vocab = model["vocab"];
    if (vocab.kind() != hub::Config::Kind::dictionary) throw TokenizerError::missingVocab();

    // Filling tables of megabytes costs cache misses more than anything
    // else: each merge is looked up while the table slots of the next
    // eight merges are already being fetched. A merge's two parts are kept
    // side by side, so that the joined symbol is the span of both.
    struct PendingMerge {
        std::string text; // first part, then second
        std::size_t firstLength = 0;
        std::int32_t rank = 0;
        bool trivial = false; // in NFC as it stands: hashed ahead
        std::uint64_t firstHash = 0, secondHash = 0, joinedHash = 0;
    };
    // Merged symbols are mostly vocabulary entries: about one new symbol per merge.
    bpeRanks_.reserve(merges.size());
    symbols_.reserve(merges.size() + 512, merges.size() * 8);
    auto intern = [&](std::string_view text, std::uint64_t hash, bool trivial) {
        if (!trivial) return internSymbol(text);
        return static_cast<std::int32_t>(
            symbols_.findOrInsert(text, hash, static_cast<std::int64_t>(symbols_.size())));
    };
    auto addMerge = [&](const PendingMerge& m) {
        const std::string_view joined = m.text;
        const std::int32_t a = intern(joined.substr(0, m.firstLength), m.firstHash, m.trivial);
        const std::int32_t b = intern(joined.substr(m.firstLength), m.secondHash, m.trivial);
        bpeRanks_.assign(pairKey(a, b), Merge{m.rank, intern(joined, m.joinedHash, m.trivial)});
    };
    Lookahead<PendingMerge> pendingMerges;
    std::int32_t rank = 0;
    visitMerges(merges, [&](const std::vector<std::string_view>& parts) {
        const std::int32_t r = rank++;
        if (parts.size() < 2) return; // cannot form a pair; keeps its rank position
        PendingMerge& m = pendingMerges.next(addMerge);
        m.text.assign(parts[0]).append(parts[1]);
        m.firstLength = parts[0].size();
        m.rank = r;
        m.trivial = text::isBelowCombiningMarks(m.text);
        if (m.trivial) {
            const std::string_view joined = m.text;
            m.firstHash = StringIdTable::hashOf(joined.substr(0, m.firstLength));
            m.secondHash = StringIdTable::hashOf(joined.substr(m.firstLength));
            m.joinedHash = StringIdTable::hashOf(joined);
            symbols_.prefetch(m.firstHash);
            symbols_.prefetch(m.secondHash);
            symbols_.prefetch(m.joinedHash);
        }
    });
    pendingMerges.drain(addMerge);
    smallSymbols_.assign(0x300, -1);
    for (char32_t cp = 0; cp < 0x300; ++cp) {
        std::string text;
        text::appendUtf8(text, cp);
        if (const std::int64_t* id = symbols_.find(text))
            smallSymbols_[cp] = static_cast<std::int32_t>(*id);
    }

    // The vocabulary the same way; its keys stay valid while the document lives.
    struct PendingEntry {
        std::string_view token;
        TokenId id = 0;
        std::uint64_t hash = 0;
    };
    tokensToIds_.reserve(merges.size() + 512 + addedTokens.size(), merges.size() * 8);
    auto addEntry = [&](const PendingEntry& e) { tokensToIds_.assign(e.token, e.hash, e.id); };
    Lookahead<PendingEntry> pendingEntries;
    vocab.forEachMember([&](std::string_view token, const hub::Config& id) {
        const auto value = id.integer();
        if (!value) return;
        PendingEntry& e = pendingEntries.next(addEntry);
        e = PendingEntry{token, *value, StringIdTable::hashOf(token)};
        tokensToIds_.prefetch(e.hash);
    });
    pendingEntries.drain(addEntry);
    for (const auto& [content, id] : addedTokens)
        tokensToIds_.assign(content.view(), id);
    // Ids point at the vocabulary's own keys; a table indexed by id when the
    // ids are dense enough, else a map.
    TokenId maxId = -1;
    bool nonNegative = true;
    tokensToIds_.forEach([&](std::string_view, TokenId id) {
        maxId = std::max(maxId, id);
        nonNegative = nonNegative && id >= 0;
    });
    if (nonNegative && maxId < static_cast<TokenId>(tokensToIds_.size() * 2 + 1024)) {
        denseIdsToTokens_.assign(static_cast<std::size_t>(maxId + 1), std::nullopt);
        tokensToIds_.forEach([&](std::string_view token, TokenId id) {
            denseIdsToTokens_[static_cast<std::size_t>(id)] = token;
        });
    } else {
        idsToTokens_.reserve(tokensToIds_.size());
        tokensToIds_.forEach(
            [&](std::string_view token, TokenId id) { idsToTokens_.emplace(id, token); });
    }

    auto idOf = [&](const std::optional<std::string>& token) -> std::optional<TokenId> {
        if (!token) return std::nullopt;
        const TokenId* id = tokensToIds_.find(*token);
        return id ? std::optional<TokenId>(*id) : std::nullopt;
    };
    {
        const hub::Config& unk = tokenizerConfig["unkToken"];
        unknownToken_ = unk.dictionary() ? unk["content"].string() : unk.string();
        unknownTokenId_ = idOf(unknownToken_);
    }
    eosToken_ = configuredTokenText(tokenizerConfig["eosToken"]);
    eosTokenId_ = idOf(eosToken_);
    bosToken_ = configuredTokenText(tokenizerConfig["bosToken"]);
    bosTokenId_ = idOf(bosToken_);
    fuseUnknownTokens_ = tokenizerConfig["fuseUnk"].boolean(false);
}

void BPETokenizer::mergeSymbols(std::string_view piece, std::vector<Span>& spans) const {
    struct Node {
        std::int32_t id;
        std::uint32_t begin, end;
        std::int32_t prev, next;
        bool alive;
    };
    struct Entry {
        std::int32_t rank, left, right, a, b, merged;
    };
    // Scratch space reused by every call on this thread.
    thread_local std::vector<Node> nodes;
    thread_local std::vector<Entry> heap, batch;
    thread_local std::vector<std::int32_t> mergedNodes;
    spans.clear();
    nodes.clear();
    auto addNode = [&](std::int32_t id, std::size_t begin, std::size_t end) {
        const auto k = static_cast<std::int32_t>(nodes.size());
        nodes.push_back(Node{id, static_cast<std::uint32_t>(begin), static_cast<std::uint32_t>(end),
                             k - 1, k + 1, true});
    };
    if (text::isBelowCombiningMarks(piece) && piece.find('\r') == std::string_view::npos) {
        // Every code point below U+0300 is a character of its own (only CR LF
        // would join): no grapheme segmentation needed.
        for (std::size_t i = 0; i < piece.size();) {
            const std::size_t begin = i;
            const char32_t cp = text::decodeNext(piece, i);
            addNode(cp < smallSymbols_.size() ? smallSymbols_[cp] : -1, begin, i);
        }
    } else {
        const auto bounds = text::graphemeBoundaries(piece);
        for (std::size_t k = 0; k + 1 < bounds.size(); ++k)
            addNode(symbolOf(piece.substr(bounds[k], bounds[k + 1] - bounds[k])), bounds[k],
                    bounds[k + 1]);
    }
    const std::size_t n = nodes.size();
    if (n <= 1) {
        spans.push_back(Span{0, static_cast<std::uint32_t>(piece.size())});
        return;
    }
    nodes.back().next = -1;

    // Min-heap on (rank, left position).
    auto later = [](const Entry& x, const Entry& y) {
        return x.rank != y.rank ? x.rank > y.rank : x.left > y.left;
    };
    heap.clear();
    auto pushPair = [&](std::int32_t left, std::int32_t right) {
        if (left < 0 || right < 0) return;
        const std::int32_t a = nodes[left].id, b = nodes[right].id;
        if (const Merge* m = findMerge(a, b)) {
            heap.push_back(Entry{m->rank, left, right, a, b, m->merged});
            std::push_heap(heap.begin(), heap.end(), later);
        }
    };
    for (std::size_t k = 0; k + 1 < n; ++k)
        pushPair(static_cast<std::int32_t>(k), static_cast<std::int32_t>(k + 1));

    while (!heap.empty()) {
        // Every occurrence of the best pair, merged left to right in one pass.
        const std::int32_t rank = heap.front().rank;
        batch.clear();
        while (!heap.empty() && heap.front().rank == rank) {
            std::pop_heap(heap.begin(), heap.end(), later);
            batch.push_back(heap.back());
            heap.pop_back();
        }
        if (batch.size() > 1)
            std::sort(batch.begin(), batch.end(),
                      [](const Entry& x, const Entry& y) { return x.left < y.left; });
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

    for (std::int32_t k = 0; k >= 0; k = nodes[k].next)
        spans.push_back(Span{nodes[k].begin, nodes[k].end});
}

template <typename Fn> void BPETokenizer::forEachPart(std::string_view piece, Fn&& fn) const {
    thread_local std::vector<Span> spans;
    mergeSymbols(piece, spans);
    for (const Span& s : spans) {
        std::string_view symbol = piece.substr(s.begin, s.end - s.begin);
        // Spaces inside a merged symbol are cutting points.
        while (!symbol.empty()) {
            const std::size_t space = symbol.find(' ');
            const std::string_view part = symbol.substr(0, space);
            symbol =
                space == std::string_view::npos ? std::string_view() : symbol.substr(space + 1);
            if (!part.empty()) fn(part);
        }
    }
}

std::string BPETokenizer::bpe(std::string_view token) const {
    std::vector<Span> spans;
    mergeSymbols(token, spans);
    std::string out;
    out.reserve(token.size() + spans.size());
    for (const Span& s : spans) {
        if (!out.empty() || s.begin > 0) out += ' ';
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
    for (unsigned char b : text)
        tokens.push_back(std::string("<0x") + kHex[b >> 4] + kHex[b & 15] + ">");
    return tokens;
}

std::vector<std::string> BPETokenizer::tokenize(std::string_view text) const {
    std::vector<std::string> tokens;
    forEachPart(text, [&](std::string_view part) {
        const TokenId* id = tokensToIds_.find(part);
        if (id && (!unknownTokenId_ || *id != *unknownTokenId_)) {
            tokens.emplace_back(part);
        } else {
            auto bytes = hexaEncode(part);
            tokens.insert(tokens.end(), std::make_move_iterator(bytes.begin()),
                          std::make_move_iterator(bytes.end()));
        }
    });
    return tokens;
}

bool BPETokenizer::appendIds(std::string_view piece, std::vector<TokenId>& ids) const {
    // Words repeat: each thread remembers the ids of short pieces it has
    // seen, for the model it last used (models are told apart by a serial
    // number, never by address). Entries live in two flat arenas, and the
    // cache starts over when full, so it costs no allocation per piece.
    struct PieceCache {
        std::uint64_t owner = 0;
        StringIdTable pieces; // piece -> offset * 128 + count into `ids`
        std::vector<TokenId> ids;
    };
    constexpr std::size_t kMaxCachedPiece = 64, kMaxEntries = 65536;
    thread_local PieceCache cache;
    if (cache.owner != serial_) {
        cache.pieces.clear();
        cache.ids.clear();
        cache.owner = serial_;
    }
    const bool cacheable = piece.size() <= kMaxCachedPiece;
    if (cacheable) {
        if (const std::int64_t* entry = cache.pieces.find(piece)) {
            const auto offset = static_cast<std::size_t>(*entry / 128),
                       count = static_cast<std::size_t>(*entry % 128);
            ids.insert(ids.end(), cache.ids.begin() + static_cast<std::ptrdiff_t>(offset),
                       cache.ids.begin() + static_cast<std::ptrdiff_t>(offset + count));
            return true;
        }
    }

    const std::size_t start = ids.size();
    bool complete = true;
    forEachPart(piece, [&](std::string_view part) {
        if (!complete) return;
        const TokenId* known = tokensToIds_.find(part);
        if (known && (!unknownTokenId_ || *known != *unknownTokenId_)) {
            ids.push_back(*known);
            return;
        }
        static constexpr char kHex[] = "0123456789ABCDEF";
        char token[6] = {'<', '0', 'x', 0, 0, '>'};
        for (unsigned char b : part) {
            token[3] = kHex[b >> 4];
            token[4] = kHex[b & 15];
            const auto id = convertTokenToId(std::string_view(token, 6));
            if (!id) {
                complete = false;
                return;
            }
            ids.push_back(*id);
        }
    });
    if (!complete) {
        ids.resize(start);
        return false;
    }
    const std::size_t count = ids.size() - start;
    if (cacheable && count < 128) { // a piece of at most 64 bytes has at most 64 tokens
        if (cache.pieces.size() >= kMaxEntries) {
            cache.pieces.clear();
            cache.ids.clear();
        }
        const auto offset = static_cast<std::int64_t>(cache.ids.size());
        cache.ids.insert(cache.ids.end(), ids.begin() + static_cast<std::ptrdiff_t>(start),
                         ids.end());
        cache.pieces.assign(piece, offset * 128 + static_cast<std::int64_t>(count));
    }
    return true;
}

std::optional<TokenId> BPETokenizer::convertTokenToId(std::string_view token) const {
    if (const TokenId* id = tokensToIds_.find(token)) return *id;
    return unknownTokenId_;
}

std::optional<std::string> BPETokenizer::convertIdToToken(TokenId id) const {
    if (!denseIdsToTokens_.empty() || idsToTokens_.empty()) {
        if (id < 0 || id >= static_cast<TokenId>(denseIdsToTokens_.size()) ||
            !denseIdsToTokens_[static_cast<std::size_t>(id)])
            return std::nullopt;
        return std::string(*denseIdsToTokens_[static_cast<std::size_t>(id)]);
    }
    auto it = idsToTokens_.find(id);
    if (it == idsToTokens_.end()) return std::nullopt;
    return std::string(it->second);
}

} // namespace tokenizers
