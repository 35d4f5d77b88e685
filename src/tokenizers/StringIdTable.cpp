#include "tokenizers/StringIdTable.h"

#include <algorithm>
#include <stdexcept>

namespace tokenizers {
namespace {

std::uint64_t hashOf(std::string_view key) {
    return std::hash<std::string_view>{}(key);
}

} // namespace

void StringIdTable::reserve(std::size_t count) {
    std::size_t capacity = 16;
    while (capacity < count * 2)
        capacity *= 2;
    if (capacity <= slots_.size()) return;
    std::vector<Slot> old = std::move(slots_);
    slots_.assign(capacity, Slot{});
    for (const Slot& s : old)
        if (s.length != kEmpty)
            slots_[slotFor(std::string_view(arena_).substr(s.offset, s.length), s.hash)] = s;
}

void StringIdTable::clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    arena_.clear();
    size_ = 0;
}

void StringIdTable::grow() {
    reserve(std::max<std::size_t>(16, slots_.size()));
}

std::size_t StringIdTable::slotFor(std::string_view key, std::uint64_t hash) const {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = static_cast<std::size_t>(hash) & mask;
    for (;;) {
        const Slot& s = slots_[i];
        if (s.length == kEmpty) return i;
        if (s.hash == hash && std::string_view(arena_).substr(s.offset, s.length) == key) return i;
        i = (i + 1) & mask;
    }
}

std::int64_t StringIdTable::findOrInsert(std::string_view key, std::int64_t id) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    const std::uint64_t hash = hashOf(key);
    Slot& s = slots_[slotFor(key, hash)];
    if (s.length != kEmpty) return s.id;
    if (arena_.size() + key.size() >= kEmpty)
        throw std::length_error("vocabulary texts exceed 4 GiB");
    s = Slot{hash, static_cast<std::uint32_t>(arena_.size()),
             static_cast<std::uint32_t>(key.size()), id};
    arena_.append(key);
    ++size_;
    return id;
}

void StringIdTable::assign(std::string_view key, std::int64_t id) {
    if ((size_ + 1) * 2 > slots_.size()) grow();
    const std::uint64_t hash = hashOf(key);
    Slot& s = slots_[slotFor(key, hash)];
    if (s.length != kEmpty) {
        s.id = id;
        return;
    }
    if (arena_.size() + key.size() >= kEmpty)
        throw std::length_error("vocabulary texts exceed 4 GiB");
    s = Slot{hash, static_cast<std::uint32_t>(arena_.size()),
             static_cast<std::uint32_t>(key.size()), id};
    arena_.append(key);
    ++size_;
}

const std::int64_t* StringIdTable::find(std::string_view key) const {
    if (slots_.empty()) return nullptr;
    const Slot& s = slots_[slotFor(key, hashOf(key))];
    return s.length == kEmpty ? nullptr : &s.id;
}

} // namespace tokenizers
