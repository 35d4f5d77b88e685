#pragma once
// The variables of one scope: a short list of names and values, searched by a
// precomputed name hash. Scopes hold a handful of names, so a flat list beats
// a node-based hash map (one allocation per scope instead of one per name,
// and no rehashing); a scope that grows past a few names adds an
// open-addressing index over the list.

#include "jinja/ByteCompare.h"
#include "jinja/Value.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace jinja {

class ScopeVariables {
public:
    using Entry = std::pair<std::string, Value>;
    using iterator = std::vector<Entry>::iterator;
    using const_iterator = std::vector<Entry>::const_iterator;

    // Variable names are short; an inline FNV-1a beats a general byte hash here.
    static constexpr std::uint64_t hashName(std::string_view name) noexcept {
        std::uint64_t h = 14695981039346656037ull;
        for (char c : name)
            h = (h ^ static_cast<unsigned char>(c)) * 1099511628211ull;
        return h ^ (h >> 32);
    }

    ScopeVariables() = default;

    // Entries reached through a writable iterator may be given any value,
    // functions included (see mayHoldFunction).
    iterator begin() noexcept {
        functionBloom_ = ~std::uint64_t{0};
        return entries_.begin();
    }
    iterator end() noexcept { return entries_.end(); }
    const_iterator begin() const noexcept { return entries_.begin(); }
    const_iterator end() const noexcept { return entries_.end(); }
    std::size_t size() const noexcept { return entries_.size(); }
    bool empty() const noexcept { return entries_.empty(); }
    void reserve(std::size_t n) {
        entries_.reserve(n);
        keys_.reserve(n);
    }
    void clear() noexcept {
        entries_.clear();
        keys_.clear();
        index_.clear();
        bloom_ = 0;
        functionBloom_ = 0;
    }
    void swap(ScopeVariables& other) noexcept {
        entries_.swap(other.entries_);
        keys_.swap(other.keys_);
        index_.swap(other.index_);
        std::swap(bloom_, other.bloom_);
        std::swap(functionBloom_, other.functionBloom_);
    }
    // False when no name of that hash is here; true when one may be. Lets a
    // lookup pass a scope with one test.
    bool mayContain(std::uint64_t hash) const noexcept { return bloom_ & bloomBit(hash); }
    // False when no name of that hash has held a function value here; true
    // when one may. Filters and tests look for a function of their name in
    // scope, and this lets them pass a scope with one test.
    bool mayHoldFunction(std::uint64_t hash) const noexcept {
        return functionBloom_ & bloomBit(hash);
    }
    // The name hash of an entry.
    std::uint64_t hashOf(const_iterator at) const noexcept {
        return keys_[static_cast<std::size_t>(at - entries_.begin())].hash;
    }

    // The entry of the name, or end().
    // The writable entry of the name, or end(); the caller may store any
    // value in it.
    iterator find(std::string_view name) noexcept { return find(name, hashName(name)); }
    const_iterator find(std::string_view name) const noexcept { return find(name, hashName(name)); }
    iterator find(std::string_view name, std::uint64_t hash) noexcept {
        functionBloom_ |= bloomBit(hash);
        return entries_.begin() + static_cast<std::ptrdiff_t>(position(name, hash));
    }
    const_iterator find(std::string_view name, std::uint64_t hash) const noexcept {
        return entries_.begin() + static_cast<std::ptrdiff_t>(position(name, hash));
    }
    std::size_t count(std::string_view name) const noexcept { return find(name) != end(); }
    // The position of the name's entry, or size() when there is none.
    std::size_t indexOf(std::string_view name, std::uint64_t hash) const noexcept {
        return position(name, hash);
    }
    // The value at position `at` when that entry holds the name, whose
    // head (textHead) is given; else null.
    const Value* valueAt(std::size_t at, std::string_view name, std::uint64_t hash,
                         std::uint64_t head) const noexcept {
        return holds(at, name, hash, head) ? &entries_[at].second : nullptr;
    }

    // Adds the name unless present; the entry (read-only, so that what
    // the scope holds stays known) and whether it was added.
    std::pair<const_iterator, bool> emplace(std::string name, Value value);
    // Adds the name or replaces its value; the entry and whether it was added.
    std::pair<const_iterator, bool> insert_or_assign(std::string_view name, Value value) {
        return insert_or_assign(name, hashName(name), std::move(value));
    }
    std::pair<const_iterator, bool> insert_or_assign(std::string_view name, std::uint64_t hash,
                                                     Value value);
    void erase(const_iterator at);
    // Gives the entry at position `at` the value when that entry holds the
    // name, and returns where the value is now; null (nothing done)
    // otherwise. Lets a loop rebind its variable without searching for it at
    // every iteration.
    const Value* assignAt(std::size_t at, std::string_view name, std::uint64_t hash,
                          std::uint64_t head, const Value& value) {
        if (!holds(at, name, hash, head)) return nullptr;
        if (value.isFunction()) functionBloom_ |= bloomBit(hash);
        entries_[at].second = value;
        return &entries_[at].second;
    }

private:
    // The hash and head of an entry's name, beside the entries so that an
    // entry is recognised without reading its name's text.
    struct NameKey {
        std::uint64_t hash;
        std::uint64_t head;
    };
    // Whether the entry at `at` holds the name (of that hash and head).
    bool holds(std::size_t at, std::string_view name, std::uint64_t hash,
               std::uint64_t head) const noexcept {
        return at < entries_.size() && keys_[at].hash == hash &&
               sameBytes(entries_[at].first, keys_[at].head, name, head);
    }
    // Index of the entry holding the name, or size() when none does.
    static constexpr std::uint64_t bloomBit(std::uint64_t hash) noexcept {
        return std::uint64_t{1} << (hash >> 58);
    }
    std::size_t position(std::string_view name, std::uint64_t hash) const noexcept {
        if (!mayContain(hash)) return entries_.size();
        if (index_.empty()) {
            for (std::size_t i = 0; i < keys_.size(); ++i)
                if (keys_[i].hash == hash && sameBytes(entries_[i].first, name)) return i;
            return entries_.size();
        }
        return indexedPosition(name, hash);
    }
    std::size_t indexedPosition(std::string_view name, std::uint64_t hash) const noexcept;
    const_iterator append(std::string name, std::uint64_t hash, Value value);
    void rebuildIndex();

    // Lists longer than this are searched through the index.
    static constexpr std::size_t kLinearLimit = 12;

    std::vector<Entry> entries_;
    std::vector<NameKey> keys_; // keys_[i] is the name hash and head of entries_[i]
    // Open addressing over entries_: slot = entry position + 1, 0 = empty;
    // empty while the list is short.
    std::vector<std::uint32_t> index_;
    // One bit per name, chosen by the top bits of its hash.
    std::uint64_t bloom_ = 0;
    // The same bits for the names that may have held a function value.
    std::uint64_t functionBloom_ = 0;
};

} // namespace jinja
