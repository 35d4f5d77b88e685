#include "murmex/records/ChunkingStrategy.h"

namespace murmex {

std::string rawValue(ChunkingStrategy strategy) {
    return strategy == ChunkingStrategy::vad ? "vad" : "none";
}

std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view raw) {
    for (ChunkingStrategy strategy : allChunkingStrategies) {
        if (rawValue(strategy) == raw) return strategy;
    }
    return std::nullopt;
}

} // namespace murmex
