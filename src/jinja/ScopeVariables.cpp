#include "jinja/ScopeVariables.h"

#include <algorithm>
#include <bit>

namespace jinja {

std::size_t ScopeVariables::indexedPosition(std::string_view name,
                                            std::uint64_t hash) const noexcept {
    const std::size_t mask = index_.size() - 1;
    for (std::size_t slot = hash & mask;; slot = (slot + 1) & mask) {
        const std::uint32_t at = index_[slot];
        if (at == 0) return entries_.size();
        if (keys_[at - 1].hash == hash && sameBytes(entries_[at - 1].first, name)) return at - 1;
    }
}

void ScopeVariables::rebuildIndex() {
    index_.clear();
    if (entries_.size() <= kLinearLimit) return;
    // At most half full, so probes stay short.
    index_.assign(std::bit_ceil(entries_.size() * 2), 0);
    const std::size_t mask = index_.size() - 1;
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        std::size_t slot = keys_[i].hash & mask;
        while (index_[slot] != 0)
            slot = (slot + 1) & mask;
        index_[slot] = static_cast<std::uint32_t>(i + 1);
    }
}

ScopeVariables::const_iterator ScopeVariables::append(std::string name, std::uint64_t hash,
                                                      Value value) {
    // Room in both lists first, so that adding to them cannot fail halfway;
    // they grow by doubling from a handful of names.
    if (keys_.size() == keys_.capacity()) keys_.reserve(std::max<std::size_t>(4, 2 * keys_.size()));
    if (entries_.size() == entries_.capacity())
        entries_.reserve(std::max<std::size_t>(4, 2 * entries_.size()));
    const std::uint64_t head = textHead(name);
    entries_.emplace_back(std::move(name), std::move(value));
    keys_.push_back(NameKey{hash, head});
    bloom_ |= bloomBit(hash);
    if (entries_.back().second.isFunction()) functionBloom_ |= bloomBit(hash);
    if (entries_.size() > kLinearLimit) {
        if (index_.empty() || entries_.size() * 2 > index_.size()) {
            rebuildIndex();
        } else {
            const std::size_t mask = index_.size() - 1;
            std::size_t slot = hash & mask;
            while (index_[slot] != 0)
                slot = (slot + 1) & mask;
            index_[slot] = static_cast<std::uint32_t>(entries_.size());
        }
    }
    return entries_.cend() - 1;
}

std::pair<ScopeVariables::const_iterator, bool> ScopeVariables::emplace(std::string name,
                                                                        Value value) {
    const std::uint64_t hash = hashName(name);
    const std::size_t at = position(name, hash);
    if (at != entries_.size()) return {entries_.cbegin() + static_cast<std::ptrdiff_t>(at), false};
    return {append(std::move(name), hash, std::move(value)), true};
}

std::pair<ScopeVariables::const_iterator, bool>
ScopeVariables::insert_or_assign(std::string_view name, std::uint64_t hash, Value value) {
    const std::size_t at = position(name, hash);
    if (at != entries_.size()) {
        if (value.isFunction()) functionBloom_ |= bloomBit(hash);
        entries_[at].second = std::move(value);
        return {entries_.cbegin() + static_cast<std::ptrdiff_t>(at), false};
    }
    return {append(std::string(name), hash, std::move(value)), true};
}

void ScopeVariables::erase(const_iterator at) {
    keys_.erase(keys_.begin() + (at - entries_.cbegin()));
    entries_.erase(at);
    bloom_ = 0;
    for (const NameKey& key : keys_)
        bloom_ |= bloomBit(key.hash);
    rebuildIndex();
}

} // namespace jinja
