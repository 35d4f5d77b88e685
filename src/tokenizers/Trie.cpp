#include "tokenizers/Trie.h"

#include "platform/text/Graphemes.h"

#include <cstring>

namespace tokenizers {
namespace {

void setEdgeKey(std::string& key, std::int32_t node, std::string_view character) {
    key.resize(sizeof node);
    std::memcpy(key.data(), &node, sizeof node);
    key.append(character);
}

} // namespace

std::int32_t Trie::child(std::int32_t node, std::string_view character, std::string& key) const {
    setEdgeKey(key, node, character);
    const std::int64_t* found = edges_.find(key);
    return found ? static_cast<std::int32_t>(*found) : -1;
}

void Trie::insert(std::string_view text, std::int64_t value) {
    const auto bounds = platform::text::graphemeBoundaries(text);
    std::int32_t node = 0;
    std::string key;
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        setEdgeKey(key, node, text.substr(bounds[k], bounds[k + 1] - bounds[k]));
        const auto created = static_cast<std::int32_t>(values_.size());
        node = static_cast<std::int32_t>(edges_.findOrInsert(key, created));
        if (node == created) values_.push_back(kNoValue);
    }
    values_[static_cast<std::size_t>(node)] = value;
}

std::optional<Trie::LeavesWithCommonPrefixIterator::Leaf>
Trie::LeavesWithCommonPrefixIterator::next() {
    while (node_ >= 0 && next_ + 1 < characters_.size()) {
        const std::string_view character =
            text_.substr(characters_[next_], characters_[next_ + 1] - characters_[next_]);
        node_ = trie_.child(node_, character, key_);
        ++next_;
        if (node_ >= 0 && trie_.values_[static_cast<std::size_t>(node_)] != kNoValue)
            return Leaf{next_ - from_, trie_.values_[static_cast<std::size_t>(node_)]};
    }
    node_ = -1; // ended: nothing more
    return std::nullopt;
}

} // namespace tokenizers
