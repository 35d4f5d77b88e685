#pragma once
// A table from texts to integer ids for the large vocabularies of the
// tokenization models: open addressing over one arena that holds every key,
// so building a 50k-entry table costs a handful of allocations, and keys
// stay valid (as views) for the table's life. Keys compare by exact bytes.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class StringIdTable {
public:
    void reserve(std::size_t count);

    /// The id of `key`, inserting `id` first when the key is new.
    std::int64_t findOrInsert(std::string_view key, std::int64_t id);
    /// Sets the id of `key`, inserting it when new.
    void assign(std::string_view key, std::int64_t id);
    /// The id of `key`, or nullptr.
    const std::int64_t* find(std::string_view key) const;

    std::size_t size() const { return size_; }
    /// Removes every entry, keeping the storage for reuse.
    void clear();

    /// Calls fn(key, id) for every entry; the key views live as long as the table.
    template <typename Fn> void forEach(Fn&& fn) const {
        for (const Slot& s : slots_)
            if (s.length != kEmpty) fn(std::string_view(arena_).substr(s.offset, s.length), s.id);
    }

private:
    static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
    struct Slot {
        std::uint64_t hash = 0;
        std::uint32_t offset = 0;
        std::uint32_t length = kEmpty;
        std::int64_t id = 0;
    };

    std::size_t slotFor(std::string_view key, std::uint64_t hash) const;
    void grow();

    std::vector<Slot> slots_;
    std::string arena_;
    std::size_t size_ = 0;
};

} // namespace tokenizers
