#pragma once
// A prefix tree of texts taken character by character (extended grapheme
// clusters, compared by their exact bytes), for finding every vocabulary
// piece that begins at a place in a text. Nodes are numbered; the edges of
// the whole tree are one table from (node, character) to node, and each
// node that ends an inserted text carries a value (the piece's id).

#include "tokenizers/StringIdTable.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class Trie {
public:
    /// Inserts `text` with `value` (a later insertion of the same text
    /// replaces the value). The empty text marks the root, which no search
    /// reports.
    void insert(std::string_view text, std::int64_t value);

    /// The texts in the tree that are prefixes of a text, shortest first.
    /// `characters` are the byte offsets of the text's characters followed by
    /// its size (as text::graphemeBoundaries gives them); the search starts
    /// at the character with index `from`.
    class LeavesWithCommonPrefixIterator {
    public:
        struct Leaf {
            std::size_t characters; // the prefix's length in characters
            std::int64_t value;
        };

        LeavesWithCommonPrefixIterator(const Trie& trie, std::string_view text,
                                       const std::vector<std::size_t>& characters, std::size_t from)
            : trie_(trie), text_(text), characters_(characters), from_(from), next_(from) {}

        /// The next prefix that is an inserted text, or nothing once the text
        /// or the tree ends.
        std::optional<Leaf> next();

    private:
        const Trie& trie_;
        std::string_view text_;
        const std::vector<std::size_t>& characters_;
        std::size_t from_, next_;
        std::int32_t node_ = 0;
        std::string key_;
    };

    LeavesWithCommonPrefixIterator commonPrefixSearch(std::string_view text,
                                                      const std::vector<std::size_t>& characters,
                                                      std::size_t from) const {
        return LeavesWithCommonPrefixIterator(*this, text, characters, from);
    }

    std::size_t nodeCount() const { return values_.size(); }

private:
    static constexpr std::int64_t kNoValue = INT64_MIN;

    /// The child of `node` along `character`, or -1.
    std::int32_t child(std::int32_t node, std::string_view character, std::string& key) const;

    // (node, character) -> child, the key being the node's four bytes and
    // the character's.
    StringIdTable edges_;
    std::vector<std::int64_t> values_{kNoValue}; // per node; the root first
};

} // namespace tokenizers
