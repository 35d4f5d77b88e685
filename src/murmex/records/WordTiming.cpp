#include "murmex/records/WordTiming.h"

#include "murmex/base/HashCombine.h"
#include "murmex/base/JsonCoding.h"

namespace murmex {

yyjson_mut_val* WordTiming::toJsonValue(json::Writer& w) const {
    yyjson_mut_val* o = w.object();
    w.add(o, "word", w.string(word));
    w.add(o, "tokens", w.integers(tokens));
    w.add(o, "start", w.number(start));
    w.add(o, "end", w.number(end));
    w.add(o, "probability", w.number(probability));
    return o;
}

WordTiming WordTiming::fromJsonValue(yyjson_val* o) {
    using namespace json;
    expectObject(o, "WordTiming");
    WordTiming w;
    w.word = toString(member(o, "word"), "word");
    w.tokens = toIntegers(member(o, "tokens"), "tokens");
    w.start = toFloat(member(o, "start"), "start");
    w.end = toFloat(member(o, "end"), "end");
    w.probability = toFloat(member(o, "probability"), "probability");
    return w;
}

std::string WordTiming::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

WordTiming WordTiming::fromJson(std::string_view text) {
    return json::decodeDocument<WordTiming>(text);
}

} // namespace murmex

std::size_t
std::hash<murmex::WordTiming>::operator()(const murmex::WordTiming& word) const noexcept {
    std::size_t seed = 0;
    murmex::hashCombine(seed, word.word);
    murmex::hashCombineRange(seed, word.tokens);
    murmex::hashCombine(seed, word.start);
    murmex::hashCombine(seed, word.end);
    murmex::hashCombine(seed, word.probability);
    return seed;
}
