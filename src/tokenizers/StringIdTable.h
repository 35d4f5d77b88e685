#pragma once
// A table from texts to integer ids for the large vocabularies of the
// tokenization models: open addressing over one arena that holds every key,
// so building a 50k-entry table costs a handful of allocations, and keys
// stay valid (as views) once the table is complete. Keys compare by exact
// bytes. A slot takes 16 bytes: the key's place in the arena, its length
// with eight bits of its hash (so that most other keys are passed over
// without reading the arena), and the id.

#include "platform/system/LargeAllocator.h"

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace tokenizers {

class StringIdTable {
public:
    /// Room for `count` keys of `keyBytes` bytes in all without growing.
    void reserve(std::size_t count, std::size_t keyBytes = 0);

    /// The id of `key`, inserting `id` first when the key is new.
    std::int64_t findOrInsert(std::string_view key, std::int64_t id) {
        return findOrInsert(key, hashOf(key), id);
    }
    /// Sets the id of `key`, inserting it when new.
    void assign(std::string_view key, std::int64_t id) { assign(key, hashOf(key), id); }
    /// The id of `key`, or nullptr.
    const std::int64_t* find(std::string_view key) const { return find(key, hashOf(key)); }

    // The same with the key's hash given: a caller filling the table from a
    // list hashes keys a few places ahead and prefetches their slots, so that
    // the slots of several keys are fetched from memory at once.
    static std::uint64_t hashOf(std::string_view key);
    void prefetch(std::uint64_t hash) const {
        if (!slots_.empty()) __builtin_prefetch(&slots_[hash & (slots_.size() - 1)]);
    }
    std::int64_t findOrInsert(std::string_view key, std::uint64_t hash, std::int64_t id);
    void assign(std::string_view key, std::uint64_t hash, std::int64_t id);
    const std::int64_t* find(std::string_view key, std::uint64_t hash) const;

    std::size_t size() const { return size_; }
    /// Removes every entry, keeping the storage for reuse.
    void clear();

    /// Calls fn(key, id) for every entry. The key views stay valid until the
    /// next insertion of a new key.
    template <typename Fn> void forEach(Fn&& fn) const {
        for (const Slot& s : slots_)
            if (s.lengthAndTag != kEmpty) fn(keyOf(s), s.id);
    }

private:
    static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
    static constexpr std::uint32_t kLengthBits = 24;
    static constexpr std::uint32_t kLengthMask = (std::uint32_t{1} << kLengthBits) - 1;
    struct Slot {
        std::uint32_t offset = 0;
        std::uint32_t lengthAndTag = kEmpty;
        std::int64_t id = 0;
    };
    using Arena = std::vector<char, platform::system::LargeAllocator<char>>;

    std::string_view keyOf(const Slot& s) const {
        return std::string_view(arena_.data() + s.offset, s.lengthAndTag & kLengthMask);
    }
    /// The slot holding `key`, or the empty slot where it would go.
    std::size_t slotFor(std::string_view key, std::uint64_t hash) const;
    /// The slot for `key`, inserted with `id` when new; `inserted` tells which.
    Slot& insert(std::string_view key, std::uint64_t hash, std::int64_t id, bool& inserted);
    void rehash(std::size_t capacity);

    std::vector<Slot, platform::system::LargeAllocator<Slot>> slots_;
    Arena arena_;
    std::size_t size_ = 0;
};

} // namespace tokenizers
