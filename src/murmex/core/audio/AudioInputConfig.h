#pragma once
// How the engine reads audio input: which channels of a multi-channel file
// become the mono signal the models hear.

#include "murmex/base/JsonCodingFwd.h"

#include <cstddef>
#include <functional>
#include <optional>
#include <vector>

namespace murmex {

struct AudioInputConfig {
    /// How a multi-channel file becomes mono.
    class ChannelMode {
    public:
        enum class Kind { specificChannel, sumChannels };

        /// Take the channel with this index (channel 0 when there is none).
        static ChannelMode specificChannel(int channel) {
            return ChannelMode(Kind::specificChannel, channel);
        }
        /// Add up all channels and rescale the sum to the loudest channel's
        /// peak (the list is absent).
        static ChannelMode sumChannels() { return ChannelMode(Kind::sumChannels, 0); }
        /// Add up the listed channels (all channels when the list is empty)
        /// and rescale the sum to the loudest channel's peak.
        static ChannelMode sumChannels(std::vector<int> channels) {
            ChannelMode mode(Kind::sumChannels, 0);
            mode.channels_.emplace(std::move(channels));
            return mode;
        }

        Kind kind() const { return kind_; }
        /// The index of specificChannel.
        int channel() const { return channel_; }
        /// The list of sumChannels.
        const std::optional<std::vector<int>>& channels() const { return channels_; }

        friend bool operator==(const ChannelMode&, const ChannelMode&) = default;

        /// {"specificChannel":{"_0":1}}, {"sumChannels":{"_0":[0,2]}} or
        /// {"sumChannels":{}} for an absent list.
        yyjson_mut_val* encode(json::Writer& writer) const;
        /// The inverse of encode; an object without exactly one known key fails
        /// with a typeMismatch CodingError "Invalid number of keys found,
        /// expected one.".
        static ChannelMode decode(yyjson_val* value);

    private:
        ChannelMode(Kind kind, int channel) : kind_(kind), channel_(channel) {}

        Kind kind_;
        int channel_;
        std::optional<std::vector<int>> channels_;
    };

    ChannelMode channelMode = ChannelMode::sumChannels();
};

} // namespace murmex

template <> struct std::hash<murmex::AudioInputConfig::ChannelMode> {
    std::size_t operator()(const murmex::AudioInputConfig::ChannelMode& mode) const;
};
