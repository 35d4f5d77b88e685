#include "murmex/core/audio/AudioInputConfig.h"

#include "murmex/base/HashCombine.h"
#include "murmex/base/JsonCoding.h"

namespace murmex {

namespace {
constexpr const char* specificKey = "specificChannel";
constexpr const char* sumKey = "sumChannels";
constexpr const char* payloadKey = "_0";
} // namespace

yyjson_mut_val* AudioInputConfig::ChannelMode::encode(json::Writer& writer) const {
    yyjson_mut_val* payload = writer.object();
    if (kind_ == Kind::specificChannel) {
        writer.add(payload, payloadKey, writer.integer(channel_));
    } else if (channels_) {
        writer.add(payload, payloadKey, writer.integers(*channels_));
    }
    yyjson_mut_val* result = writer.object();
    writer.add(result, kind_ == Kind::specificChannel ? specificKey : sumKey, payload);
    return result;
}

AudioInputConfig::ChannelMode AudioInputConfig::ChannelMode::decode(yyjson_val* value) {
    json::expectObject(value, "ChannelMode");
    yyjson_val* specific = yyjson_obj_get(value, specificKey);
    yyjson_val* sum = yyjson_obj_get(value, sumKey);
    if ((specific == nullptr) == (sum == nullptr)) {
        throw json::CodingError(json::CodingError::Kind::typeMismatch,
                                "Invalid number of keys found, expected one.");
    }
    if (specific) {
        json::expectObject(specific, specificKey);
        return specificChannel(json::toInt(json::member(specific, payloadKey), payloadKey));
    }
    json::expectObject(sum, sumKey);
    yyjson_val* list = json::optionalMember(sum, payloadKey);
    if (!list) return sumChannels();
    return sumChannels(json::toIntegers(list, payloadKey));
}

} // namespace murmex

std::size_t std::hash<murmex::AudioInputConfig::ChannelMode>::operator()(
    const murmex::AudioInputConfig::ChannelMode& mode) const {
    std::size_t seed = 0;
    murmex::hashCombine(seed, int(mode.kind()));
    murmex::hashCombine(seed, mode.channel());
    murmex::hashCombine(seed, mode.channels().has_value());
    if (mode.channels()) murmex::hashCombineRange(seed, *mode.channels());
    return seed;
}
