#pragma once
// How long audio is split before it is transcribed: not at all, or at the
// silences a voice-activity detector finds.

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace murmex {

enum class ChunkingStrategy { none, vad };

inline constexpr std::array<ChunkingStrategy, 2> allChunkingStrategies{ChunkingStrategy::none,
                                                                       ChunkingStrategy::vad};

/// "none" or "vad".
std::string rawValue(ChunkingStrategy strategy);
/// The case with exactly this raw value (case-sensitive), else absent.
std::optional<ChunkingStrategy> chunkingStrategyFromRawValue(std::string_view raw);

} // namespace murmex
