#include "halvex_zovuruv/core/RecordCoding.h"

#include <cmath>
#include <limits>
#include <memory>
#include <yyjson.h>

namespace halvex {

namespace {

double finiteOrZero(double value) {
    return std::isfinite(value) ? value : 0.0;
}

std::optional<double> readDouble(yyjson_val* value) {
    if (!value || !yyjson_is_num(value)) return std::nullopt;
    return yyjson_get_num(value);
}

std::optional<int64_t> readInteger(yyjson_val* value) {
    if (!value) return std::nullopt;
    if (yyjson_is_sint(value)) return yyjson_get_sint(value);
    if (yyjson_is_uint(value)) {
        const uint64_t u = yyjson_get_uint(value);
        if (u > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return std::nullopt;
        return static_cast<int64_t>(u);
    }
    if (yyjson_is_real(value)) {
        const double d = yyjson_get_real(value);
        // 2^63 is the first double past the largest int64.
        if (std::trunc(d) != d || d < -0x1p63 || d >= 0x1p63) return std::nullopt;
        return static_cast<int64_t>(d);
    }
    return std::nullopt;
}

std::optional<DictationRecord> readRecord(yyjson_val* object) {
    if (!yyjson_is_obj(object)) return std::nullopt;
    auto date = readDouble(yyjson_obj_get(object, "date"));
    yyjson_val* text = yyjson_obj_get(object, "text");
    auto characters = readInteger(yyjson_obj_get(object, "characters"));
    auto words = readInteger(yyjson_obj_get(object, "words"));
    auto seconds = readDouble(yyjson_obj_get(object, "seconds"));
    auto transcriptionSeconds = readDouble(yyjson_obj_get(object, "transcriptionSeconds"));
    yyjson_val* ai = yyjson_obj_get(object, "aiProcessed");
    if (!date || !yyjson_is_str(text) || !characters || !words || !seconds ||
        !transcriptionSeconds || !yyjson_is_bool(ai)) {
        return std::nullopt;
    }
    return DictationRecord{
        Date{*date},        std::string(yyjson_get_str(text), yyjson_get_len(text)),
        *characters,        *words,
        *seconds,           *transcriptionSeconds,
        yyjson_get_bool(ai)};
}

struct DocFree {
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
    void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};

} // namespace

std::optional<std::string> encodeRecords(const std::vector<DictationRecord>& records) {
    std::unique_ptr<yyjson_mut_doc, DocFree> doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_val* array = yyjson_mut_arr(doc.get());
    yyjson_mut_doc_set_root(doc.get(), array);
    for (const auto& r : records) {
        yyjson_mut_val* object = yyjson_mut_arr_add_obj(doc.get(), array);
        yyjson_mut_obj_add_real(doc.get(), object, "date",
                                finiteOrZero(r.date.timeIntervalSinceReferenceDate));
        yyjson_mut_obj_add_strn(doc.get(), object, "text", r.text.data(), r.text.size());
        yyjson_mut_obj_add_sint(doc.get(), object, "characters", r.characters);
        yyjson_mut_obj_add_sint(doc.get(), object, "words", r.words);
        yyjson_mut_obj_add_real(doc.get(), object, "seconds", finiteOrZero(r.seconds));
        yyjson_mut_obj_add_real(doc.get(), object, "transcriptionSeconds",
                                finiteOrZero(r.transcriptionSeconds));
        yyjson_mut_obj_add_bool(doc.get(), object, "aiProcessed", r.aiProcessed);
    }
    size_t length = 0;
    std::unique_ptr<char, decltype(&std::free)> json(
        yyjson_mut_write(doc.get(), YYJSON_WRITE_NOFLAG, &length), &std::free);
    if (!json) return std::nullopt;
    return std::string(json.get(), length);
}

std::optional<std::vector<DictationRecord>> decodeRecords(std::string_view json) {
    std::unique_ptr<yyjson_doc, DocFree> doc(
        yyjson_read(json.data(), json.size(), YYJSON_READ_NOFLAG));
    if (!doc) return std::nullopt;
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    if (!yyjson_is_arr(root)) return std::nullopt;
    std::vector<DictationRecord> records;
    records.reserve(yyjson_arr_size(root));
    size_t index, count;
    yyjson_val* element;
    yyjson_arr_foreach(root, index, count, element) {
        auto record = readRecord(element);
        if (!record) return std::nullopt;
        records.push_back(std::move(*record));
    }
    return records;
}

} // namespace halvex
