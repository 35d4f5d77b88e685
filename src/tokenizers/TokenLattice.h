#pragma once
// The lattice of the Unigram model: every vocabulary piece found in a
// sentence is a node between two character positions, and the best path
// from the beginning to the end (highest total score) is the
// tokenization. Nodes live in one list and name their best predecessor by
// index, so a path of any length is released with the list.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

struct TokenLatticeNode {
    static constexpr std::int32_t kNoNode = -1;

    std::int64_t tokenId = 0;
    std::int32_t startOffset = 0; // in characters
    std::int32_t length = 0;      // in characters
    float score = 0;
    std::int32_t prev = kNoNode; // the best predecessor, set by viterbi()
    float backtraceScore = 0;    // the best path score up to and including this node

    /// "TokenLatticeNode(tokenId: 5, startOffset: 0, length: 2, score: -1.5,
    /// prev: true, backtraceScore: -1.5)".
    std::string description() const;
};

class TokenLattice {
public:
    /// A lattice over `sentence` (UTF-8) with its beginning and end nodes.
    TokenLattice(std::string_view sentence, std::int64_t bosTokenId, std::int64_t eosTokenId);

    /// The byte offset of each character of the sentence, then its size.
    const std::vector<std::size_t>& characterBounds() const { return bounds_; }

    /// The sentence's length in characters.
    std::int32_t length() const { return static_cast<std::int32_t>(bounds_.size()) - 1; }

    /// Adds a node; `startOffset` and `startOffset + length` must lie within
    /// the sentence.
    void insert(std::int32_t startOffset, std::int32_t length, float score, std::int64_t tokenId);

    /// The nodes of the best path, in text order (without the beginning and
    /// end nodes). At each node the predecessor with the highest path score
    /// wins; of equal ones the first inserted, which ends there and starts
    /// earliest.
    std::vector<TokenLatticeNode> viterbi();

    /// The texts of the best path's nodes.
    std::vector<std::string> tokens();

    const std::vector<TokenLatticeNode>& allNodes() const { return allNodes_; }

private:
    static constexpr std::int32_t kBos = 0, kEos = 1;

    std::string_view sentence_;
    std::vector<std::size_t> bounds_; // byte offset of each character, then the end
    std::vector<TokenLatticeNode> allNodes_;
    std::vector<std::vector<std::int32_t>> nodesStartingAt_;
    std::vector<std::vector<std::int32_t>> nodesEndingAt_;
};

} // namespace tokenizers
