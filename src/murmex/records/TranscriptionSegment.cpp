#include "murmex/records/TranscriptionSegment.h"

#include "murmex/base/HashCombine.h"
#include "murmex/base/JsonCoding.h"

#include <algorithm>

namespace murmex {

yyjson_mut_val* TranscriptionSegment::toJsonValue(json::Writer& w) const {
    yyjson_mut_val* o = w.object();
    w.add(o, "id", w.integer(id));
    w.add(o, "seek", w.integer(seek));
    w.add(o, "start", w.number(start));
    w.add(o, "end", w.number(end));
    w.add(o, "text", w.string(text));
    w.add(o, "tokens", w.integers(tokens));
    w.add(o, "tokenLogProbs", json::encodeTokenLogProbs(w, tokenLogProbs));
    w.add(o, "temperature", w.number(temperature));
    w.add(o, "avgLogprob", w.number(avgLogprob));
    w.add(o, "compressionRatio", w.number(compressionRatio));
    w.add(o, "noSpeechProb", w.number(noSpeechProb));
    if (words) {
        w.add(o, "words",
              w.arrayOf(*words, [&w](const WordTiming& word) { return word.toJsonValue(w); }));
    }
    return o;
}

TranscriptionSegment TranscriptionSegment::fromJsonValue(yyjson_val* o) {
    using namespace json;
    expectObject(o, "TranscriptionSegment");
    TranscriptionSegment s;
    s.id = toInt(member(o, "id"), "id");
    s.seek = toInt(member(o, "seek"), "seek");
    s.start = toFloat(member(o, "start"), "start");
    s.end = toFloat(member(o, "end"), "end");
    s.text = toString(member(o, "text"), "text");
    s.tokens = toIntegers(member(o, "tokens"), "tokens");
    s.tokenLogProbs = decodeTokenLogProbs(member(o, "tokenLogProbs"), "tokenLogProbs");
    s.temperature = toFloat(member(o, "temperature"), "temperature");
    s.avgLogprob = toFloat(member(o, "avgLogprob"), "avgLogprob");
    s.compressionRatio = toFloat(member(o, "compressionRatio"), "compressionRatio");
    s.noSpeechProb = toFloat(member(o, "noSpeechProb"), "noSpeechProb");
    if (yyjson_val* words = optionalMember(o, "words")) {
        s.words = toArray<WordTiming>(words, "words", WordTiming::fromJsonValue);
    }
    return s;
}

std::string TranscriptionSegment::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

TranscriptionSegment TranscriptionSegment::fromJson(std::string_view text) {
    return json::decodeDocument<TranscriptionSegment>(text);
}

bool containsSegment(const std::vector<TranscriptionSegment>& segments,
                     const TranscriptionSegment& segment) {
    return std::any_of(
        segments.begin(), segments.end(),
        [&](const TranscriptionSegment& candidate) { return candidate.start == segment.start; });
}

} // namespace murmex

std::size_t std::hash<murmex::TranscriptionSegment>::operator()(
    const murmex::TranscriptionSegment& s) const noexcept {
    std::size_t seed = 0;
    murmex::hashCombine(seed, s.id);
    murmex::hashCombine(seed, s.seek);
    murmex::hashCombine(seed, s.start);
    murmex::hashCombine(seed, s.end);
    murmex::hashCombine(seed, s.text);
    murmex::hashCombineRange(seed, s.tokens);
    murmex::hashCombine(seed, s.tokenLogProbs.size());
    for (const auto& map : s.tokenLogProbs) {
        for (const auto& [token, logProb] : map) {
            murmex::hashCombine(seed, token);
            murmex::hashCombine(seed, logProb);
        }
    }
    murmex::hashCombine(seed, s.temperature);
    murmex::hashCombine(seed, s.avgLogprob);
    murmex::hashCombine(seed, s.compressionRatio);
    murmex::hashCombine(seed, s.noSpeechProb);
    murmex::hashCombine(seed, s.words.has_value());
    if (s.words) murmex::hashCombineRange(seed, *s.words);
    return seed;
}
