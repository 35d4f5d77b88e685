#include "murmex/records/DecodingOptions.h"

#include "murmex/base/Constants.h"
#include "murmex/base/JsonCoding.h"

#include <cmath>

namespace murmex {

namespace {

// Largest magnitude of a clip index: far beyond any audio, yet small enough
// that differences and sums of two indices cannot overflow 64 bits.
constexpr std::int64_t kMaxClipIndex = std::int64_t{1} << 62;

std::int64_t clipIndex(float seconds) {
    float samples = seconds * static_cast<float>(Constants::sampleRate);
    if (std::isnan(samples)) return 0;
    if (samples >= static_cast<float>(kMaxClipIndex)) return kMaxClipIndex;
    if (samples <= -static_cast<float>(kMaxClipIndex)) return -kMaxClipIndex;
    return static_cast<std::int64_t>(std::round(samples));
}

template <typename T, typename Fn>
void addIfPresent(json::Writer& writer, yyjson_mut_val* object, const char* key,
                  const std::optional<T>& value, Fn encode) {
    if (value) writer.add(object, key, encode(*value));
}

} // namespace

std::vector<std::pair<std::int64_t, std::int64_t>>
DecodingOptions::prepareSeekClips(std::int64_t contentFrames) const {
    std::vector<std::int64_t> indices;
    indices.reserve(clipTimestamps.size() + 1);
    for (float seconds : clipTimestamps)
        indices.push_back(clipIndex(seconds));
    if (indices.empty()) indices.push_back(0);
    if (indices.size() % 2 == 1) indices.push_back(contentFrames);

    std::vector<std::pair<std::int64_t, std::int64_t>> clips;
    clips.reserve(indices.size() / 2);
    for (size_t i = 0; i + 1 < indices.size(); i += 2)
        clips.emplace_back(indices[i], indices[i + 1]);
    return clips;
}

yyjson_mut_val* DecodingOptions::toJsonValue(json::Writer& w) const {
    auto number = [&w](float v) { return w.number(v); };
    auto integer = [&w](int v) { return w.integer(v); };
    auto integers = [&w](const std::vector<int>& v) { return w.integers(v); };

    yyjson_mut_val* o = w.object();
    w.add(o, "verbose", w.boolean(verbose));
    w.add(o, "task", encodeDecodingTask(w, task));
    addIfPresent(w, o, "language", language, [&w](const std::string& v) { return w.string(v); });
    w.add(o, "temperature", w.number(temperature));
    w.add(o, "temperatureIncrementOnFallback", w.number(temperatureIncrementOnFallback));
    w.add(o, "temperatureFallbackCount", w.integer(temperatureFallbackCount));
    w.add(o, "sampleLength", w.integer(sampleLength));
    w.add(o, "topK", w.integer(topK));
    w.add(o, "usePrefillPrompt", w.boolean(usePrefillPrompt));
    w.add(o, "usePrefillCache", w.boolean(usePrefillCache));
    w.add(o, "detectLanguage", w.boolean(detectLanguage));
    w.add(o, "skipSpecialTokens", w.boolean(skipSpecialTokens));
    w.add(o, "withoutTimestamps", w.boolean(withoutTimestamps));
    w.add(o, "wordTimestamps", w.boolean(wordTimestamps));
    addIfPresent(w, o, "maxInitialTimestamp", maxInitialTimestamp, number);
    addIfPresent(w, o, "maxWindowSeek", maxWindowSeek, integer);
    w.add(o, "clipTimestamps", w.floats(clipTimestamps));
    w.add(o, "windowClipTime", w.number(windowClipTime));
    addIfPresent(w, o, "promptTokens", promptTokens, integers);
    addIfPresent(w, o, "prefixTokens", prefixTokens, integers);
    w.add(o, "suppressBlank", w.boolean(suppressBlank));
    w.add(o, "supressTokens", w.integers(supressTokens));
    addIfPresent(w, o, "compressionRatioThreshold", compressionRatioThreshold, number);
    addIfPresent(w, o, "logProbThreshold", logProbThreshold, number);
    addIfPresent(w, o, "firstTokenLogProbThreshold", firstTokenLogProbThreshold, number);
    addIfPresent(w, o, "noSpeechThreshold", noSpeechThreshold, number);
    w.add(o, "concurrentWorkerCount", w.integer(concurrentWorkerCount));
    addIfPresent(w, o, "chunkingStrategy", chunkingStrategy,
                 [&w](ChunkingStrategy v) { return w.string(rawValue(v)); });
    return o;
}

DecodingOptions DecodingOptions::fromJsonValue(yyjson_val* o) {
    using namespace json;
    expectObject(o, "DecodingOptions");
    auto optionalFloat = [o](const char* key) -> std::optional<float> {
        if (yyjson_val* v = optionalMember(o, key)) return toFloat(v, key);
        return std::nullopt;
    };
    auto optionalIntegers = [o](const char* key) -> std::optional<std::vector<int>> {
        if (yyjson_val* v = optionalMember(o, key)) return toIntegers(v, key);
        return std::nullopt;
    };

    DecodingOptions d;
    d.verbose = toBool(member(o, "verbose"), "verbose");
    d.task = decodeDecodingTask(member(o, "task"));
    if (yyjson_val* v = optionalMember(o, "language")) d.language = toString(v, "language");
    d.temperature = toFloat(member(o, "temperature"), "temperature");
    d.temperatureIncrementOnFallback =
        toFloat(member(o, "temperatureIncrementOnFallback"), "temperatureIncrementOnFallback");
    d.temperatureFallbackCount =
        toInt(member(o, "temperatureFallbackCount"), "temperatureFallbackCount");
    d.sampleLength = toInt(member(o, "sampleLength"), "sampleLength");
    d.topK = toInt(member(o, "topK"), "topK");
    d.usePrefillPrompt = toBool(member(o, "usePrefillPrompt"), "usePrefillPrompt");
    d.usePrefillCache = toBool(member(o, "usePrefillCache"), "usePrefillCache");
    d.detectLanguage = toBool(member(o, "detectLanguage"), "detectLanguage");
    d.skipSpecialTokens = toBool(member(o, "skipSpecialTokens"), "skipSpecialTokens");
    d.withoutTimestamps = toBool(member(o, "withoutTimestamps"), "withoutTimestamps");
    d.wordTimestamps = toBool(member(o, "wordTimestamps"), "wordTimestamps");
    d.maxInitialTimestamp = optionalFloat("maxInitialTimestamp");
    if (yyjson_val* v = optionalMember(o, "maxWindowSeek"))
        d.maxWindowSeek = toInt(v, "maxWindowSeek");
    d.clipTimestamps = toFloats(member(o, "clipTimestamps"), "clipTimestamps");
    d.windowClipTime = toFloat(member(o, "windowClipTime"), "windowClipTime");
    d.promptTokens = optionalIntegers("promptTokens");
    d.prefixTokens = optionalIntegers("prefixTokens");
    d.suppressBlank = toBool(member(o, "suppressBlank"), "suppressBlank");
    d.supressTokens = toIntegers(member(o, "supressTokens"), "supressTokens");
    d.compressionRatioThreshold = optionalFloat("compressionRatioThreshold");
    d.logProbThreshold = optionalFloat("logProbThreshold");
    d.firstTokenLogProbThreshold = optionalFloat("firstTokenLogProbThreshold");
    d.noSpeechThreshold = optionalFloat("noSpeechThreshold");
    d.concurrentWorkerCount = toInt(member(o, "concurrentWorkerCount"), "concurrentWorkerCount");
    if (yyjson_val* v = optionalMember(o, "chunkingStrategy")) {
        std::string raw = toString(v, "chunkingStrategy");
        auto strategy = chunkingStrategyFromRawValue(raw);
        if (!strategy) {
            throw CodingError(CodingError::Kind::dataCorrupted,
                              "Cannot initialize ChunkingStrategy from invalid String value " +
                                  raw);
        }
        d.chunkingStrategy = strategy;
    }
    return d;
}

std::string DecodingOptions::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

DecodingOptions DecodingOptions::fromJson(std::string_view text) {
    return json::decodeDocument<DecodingOptions>(text);
}

} // namespace murmex
