#include "tokenizers/TokenLattice.h"

#include "platform/text/Graphemes.h"

#include <fmt/format.h>
#include <stdexcept>

namespace tokenizers {

std::string TokenLatticeNode::description() const {
    return fmt::format(
        "TokenLatticeNode(tokenId: {}, startOffset: {}, length: {}, score: {}, prev: {}, "
        "backtraceScore: {})",
        tokenId, startOffset, length, score, prev != kNoNode, backtraceScore);
}

TokenLattice::TokenLattice(std::string_view sentence, std::int64_t bosTokenId,
                           std::int64_t eosTokenId)
    : sentence_(sentence), bounds_(platform::text::graphemeBoundaries(sentence)) {
    const std::int32_t n = length();
    nodesStartingAt_.resize(static_cast<std::size_t>(n) + 1);
    nodesEndingAt_.resize(static_cast<std::size_t>(n) + 1);
    allNodes_.push_back(TokenLatticeNode{bosTokenId, 0, 0, 0});
    allNodes_.push_back(TokenLatticeNode{eosTokenId, n, 0, 0});
    nodesStartingAt_[static_cast<std::size_t>(n)].push_back(kEos);
    nodesEndingAt_[0].push_back(kBos);
}

void TokenLattice::insert(std::int32_t startOffset, std::int32_t length, float score,
                          std::int64_t tokenId) {
    if (startOffset < 0 || length < 0 || startOffset + length > this->length())
        throw std::out_of_range("lattice node outside the sentence");
    const auto index = static_cast<std::int32_t>(allNodes_.size());
    allNodes_.push_back(TokenLatticeNode{tokenId, startOffset, length, score});
    nodesStartingAt_[static_cast<std::size_t>(startOffset)].push_back(index);
    nodesEndingAt_[static_cast<std::size_t>(startOffset + length)].push_back(index);
}

std::vector<TokenLatticeNode> TokenLattice::viterbi() {
    const std::int32_t n = length();
    if (nodesStartingAt_[0].empty()) return {};
    for (std::int32_t i = 0; i <= n; ++i) {
        for (const std::int32_t index : nodesStartingAt_[static_cast<std::size_t>(i)]) {
            TokenLatticeNode& node = allNodes_[static_cast<std::size_t>(index)];
            node.prev = TokenLatticeNode::kNoNode;
            std::int32_t best = TokenLatticeNode::kNoNode;
            float bestScore = 0;
            for (const std::int32_t left : nodesEndingAt_[static_cast<std::size_t>(i)]) {
                const float candidate =
                    allNodes_[static_cast<std::size_t>(left)].backtraceScore + node.score;
                if (best == TokenLatticeNode::kNoNode || candidate > bestScore) {
                    best = left;
                    bestScore = candidate;
                }
            }
            if (best != TokenLatticeNode::kNoNode) {
                node.prev = best;
                node.backtraceScore = bestScore;
            }
        }
        if (i < n && nodesStartingAt_[static_cast<std::size_t>(i) + 1].empty()) return {};
    }
    // Back from the end node to, not including, the first node without a
    // predecessor (the beginning node).
    std::vector<TokenLatticeNode> path;
    const TokenLatticeNode& end =
        allNodes_[static_cast<std::size_t>(nodesStartingAt_[static_cast<std::size_t>(n)].front())];
    for (std::int32_t k = end.prev; k != TokenLatticeNode::kNoNode;) {
        const TokenLatticeNode& node = allNodes_[static_cast<std::size_t>(k)];
        if (node.prev == TokenLatticeNode::kNoNode) break;
        path.push_back(node);
        k = node.prev;
    }
    return {path.rbegin(), path.rend()};
}

std::vector<std::string> TokenLattice::tokens() {
    std::vector<std::string> texts;
    for (const TokenLatticeNode& node : viterbi()) {
        const std::size_t begin = bounds_[static_cast<std::size_t>(node.startOffset)];
        const std::size_t end = bounds_[static_cast<std::size_t>(node.startOffset + node.length)];
        texts.emplace_back(sentence_.substr(begin, end - begin));
    }
    return texts;
}

} // namespace tokenizers
