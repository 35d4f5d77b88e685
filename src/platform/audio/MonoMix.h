#pragma once
// How a multi-channel signal becomes one channel: one chosen channel, or the
// sum of several channels rescaled to the loudest one's peak.

#include "platform/audio/PcmBuffer.h"

#include <optional>
#include <vector>

namespace platform::audio {

class MonoMix {
public:
    enum class Kind { channel, sum };

    /// Take the channel with this index; channel 0 when it does not exist.
    static MonoMix channel(int index) { return MonoMix(Kind::channel, index, std::nullopt); }
    /// Add up the listed channels (all of them when the list is absent or
    /// empty; repeats count twice; indices that do not exist are skipped).
    static MonoMix sum(std::optional<std::vector<int>> channels = std::nullopt) {
        return MonoMix(Kind::sum, 0, std::move(channels));
    }

    Kind kind() const { return kind_; }
    int index() const { return index_; }
    const std::optional<std::vector<int>>& channels() const { return channels_; }

    /// Whether a signal of `channelCount` channels falls back to channel 0
    /// because the sum's list names none of its channels.
    bool fallsBackToFirstChannel(uint32_t channelCount) const;

    /// Mixes the frames of `source` (float planes) into channel 0 of `mono`,
    /// at most its capacity, and sets its frame length. A sum is multiplied
    /// so that it peaks at the loudest chosen channel's peak: summing never
    /// clips, identical channels come back unchanged and a silent sum stays
    /// silent.
    void mix(const PcmBuffer& source, PcmBuffer& mono) const;

    friend bool operator==(const MonoMix&, const MonoMix&) = default;

private:
    MonoMix(Kind kind, int index, std::optional<std::vector<int>> channels)
        : kind_(kind), index_(index), channels_(std::move(channels)) {}

    Kind kind_;
    int index_;
    std::optional<std::vector<int>> channels_;
};

} // namespace platform::audio
