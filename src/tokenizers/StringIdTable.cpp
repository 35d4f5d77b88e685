#include "tokenizers/StringIdTable.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <stdexcept>

namespace tokenizers {
namespace {

// The top bits of the hash: the low ones choose the slot.
std::uint32_t tagOf(std::uint64_t hash) {
    return static_cast<std::uint32_t>(hash >> 56);
}

} // namespace

std::uint64_t StringIdTable::hashOf(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

void StringIdTable::reserve(std::size_t count, std::size_t keyBytes) {
    if (keyBytes > arena_.capacity()) arena_.reserve(keyBytes);
    std::size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    if (capacity > slots_.size()) rehash(capacity);
}

void StringIdTable::rehash(std::size_t capacity) {
    auto old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    for (const Slot& s : old)
        if (s.lengthAndTag != kEmpty) slots_[slotFor(keyOf(s), hashOf(keyOf(s)))] = s;
}

void StringIdTable::clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    arena_.clear();
    size_ = 0;
}

std::size_t StringIdTable::slotFor(std::string_view key, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    const std::uint32_t wanted =
        static_cast<std::uint32_t>(key.size()) | (tagOf(hash) << kLengthBits);
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    for (;;) {
        const Slot& s = slots_[i];
        if (s.lengthAndTag == kEmpty) return i;
        if (s.lengthAndTag == wanted &&
            (key.empty() || std::memcmp(arena_.data() + s.offset, key.data(), key.size()) == 0))
            return i;
        i = (i + 1) & mask;
    }
}

StringIdTable::Slot& StringIdTable::insert(std::string_view key, std::uint64_t hash,
                                           std::int64_t id, bool& inserted) {
    if (key.size() >= kLengthMask) throw std::length_error("vocabulary text of 16 MiB or more");
    if ((size_ + 1) * 2 > slots_.size()) rehash(std::max<std::size_t>(16, slots_.size() * 2));
    Slot& s = slots_[slotFor(key, hash)];
    inserted = s.lengthAndTag == kEmpty;
    if (!inserted) return s;
    if (arena_.size() + key.size() >= kEmpty)
        throw std::length_error("vocabulary texts exceed 4 GiB");
    s = Slot{static_cast<std::uint32_t>(arena_.size()),
             static_cast<std::uint32_t>(key.size()) | (tagOf(hash) << kLengthBits), id};
    arena_.insert(arena_.end(), key.begin(), key.end());
    ++size_;
    return s;
}

std::int64_t StringIdTable::findOrInsert(std::string_view key, std::uint64_t hash,
                                         std::int64_t id) {
    bool inserted = false;
    return insert(key, hash, id, inserted).id;
}

void StringIdTable::assign(std::string_view key, std::uint64_t hash, std::int64_t id) {
    bool inserted = false;
    insert(key, hash, id, inserted).id = id;
}

const std::int64_t* StringIdTable::find(std::string_view key, std::uint64_t hash) const {
    if (slots_.empty()) return nullptr;
    const Slot& s = slots_[slotFor(key, hash)];
    return s.lengthAndTag == kEmpty ? nullptr : &s.id;
}

} // namespace tokenizers
