#include "murmex/records/TranscriptionResultStruct.h"

#include "murmex/base/JsonCoding.h"

namespace murmex {

yyjson_mut_val* TranscriptionResultStruct::toJsonValue(json::Writer& w,
                                                       bool seekTimeRequired) const {
    yyjson_mut_val* o = w.object();
    w.add(o, "text", w.string(text));
    w.add(o, "segments",
          w.arrayOf(segments, [&w](const TranscriptionSegment& s) { return s.toJsonValue(w); }));
    w.add(o, "language", w.string(language));
    w.add(o, "timings", timings.toJsonValue(w));
    if (seekTime) {
        w.add(o, "seekTime", w.number(*seekTime));
    } else if (seekTimeRequired) {
        w.add(o, "seekTime", w.null());
    }
    return o;
}

TranscriptionResultStruct TranscriptionResultStruct::fromJsonValue(yyjson_val* o,
                                                                   bool seekTimeRequired) {
    using namespace json;
    expectObject(o, "TranscriptionResult");
    TranscriptionResultStruct r;
    r.text = toString(member(o, "text"), "text");
    r.segments = toArray<TranscriptionSegment>(member(o, "segments"), "segments",
                                               TranscriptionSegment::fromJsonValue);
    r.language = toString(member(o, "language"), "language");
    r.timings = TranscriptionTimings::fromJsonValue(member(o, "timings"));
    yyjson_val* seek = seekTimeRequired ? member(o, "seekTime") : optionalMember(o, "seekTime");
    if (seek && !yyjson_is_null(seek)) r.seekTime = toFloat(seek, "seekTime");
    return r;
}

yyjson_mut_val* TranscriptionResultStruct::toJsonValue(json::Writer& writer) const {
    return toJsonValue(writer, false);
}

TranscriptionResultStruct TranscriptionResultStruct::fromJsonValue(yyjson_val* value) {
    return fromJsonValue(value, false);
}

std::string TranscriptionResultStruct::toJson(bool pretty) const {
    return json::encodeDocument(*this, pretty);
}

TranscriptionResultStruct TranscriptionResultStruct::fromJson(std::string_view text) {
    return json::decodeDocument<TranscriptionResultStruct>(text);
}

} // namespace murmex
