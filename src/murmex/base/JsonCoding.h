#pragma once
// JSON coding of the engine's records on top of yyjson.
//
// Records write themselves into a `json::Writer` (a mutable document) and read
// themselves from the immutable values of a parsed `json::Document`. Keys are
// the records' field names; numbers are written in their shortest round-trip
// form, whole numbers with ".0", and a single-precision field is printed from
// its single-precision value (0.1f is written as 0.1, not 0.10000000149...).
// Every failure is a `json::CodingError` that names what went wrong.

#include "platform/system/CodingError.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include <yyjson.h>

namespace murmex::json {

using CodingError = platform::system::CodingError;

/// Builds one JSON document.
class Writer {
public:
    Writer();
    ~Writer();
    Writer(const Writer&) = delete;
    Writer& operator=(const Writer&) = delete;

    yyjson_mut_val* object();
    yyjson_mut_val* array();
    yyjson_mut_val* null();
    yyjson_mut_val* boolean(bool value);
    yyjson_mut_val* integer(std::int64_t value);
    yyjson_mut_val* string(std::string_view value);
    /// Throws CodingError(invalidValue) for NaN and infinities.
    yyjson_mut_val* number(double value);
    yyjson_mut_val* number(float value);

    /// Adds `value` under `key`; the key text is copied.
    void add(yyjson_mut_val* object, std::string_view key, yyjson_mut_val* value);
    /// Adds `value` under a key that lives as long as the program (a string
    /// literal), without copying it.
    template <size_t N>
    void add(yyjson_mut_val* object, const char (&key)[N], yyjson_mut_val* value) {
        addStatic(object, key, N - 1, value);
    }
    void append(yyjson_mut_val* array, yyjson_mut_val* value);

    template <typename T, typename Fn>
    yyjson_mut_val* arrayOf(const std::vector<T>& items, Fn&& encodeItem) {
        yyjson_mut_val* result = array();
        for (const T& item : items)
            append(result, encodeItem(item));
        return result;
    }
    yyjson_mut_val* integers(const std::vector<int>& values);
    yyjson_mut_val* floats(const std::vector<float>& values);

    /// The document with `root` as its top value, compact or pretty-printed.
    std::string write(yyjson_mut_val* root, bool pretty = false);

private:
    void addStatic(yyjson_mut_val* object, const char* key, size_t length, yyjson_mut_val* value);

    yyjson_mut_doc* doc_;
};

/// One parsed JSON document.
class Document {
public:
    /// Throws CodingError(dataCorrupted) when `text` is not JSON.
    explicit Document(std::string_view text);
    ~Document();
    Document(const Document&) = delete;
    Document& operator=(const Document&) = delete;

    yyjson_val* root() const;

private:
    yyjson_doc* doc_;
};

// Reading. `context` names the key or element being read, for messages.

[[noreturn]] void throwTypeMismatch(std::string_view expected, yyjson_val* found,
                                    std::string_view context);

/// Throws typeMismatch unless `value` is an object.
void expectObject(yyjson_val* value, std::string_view context);
/// The value of a required key: keyNotFound when missing.
yyjson_val* member(yyjson_val* object, std::string_view key);
/// The value of an optional key: nullptr when missing or null.
yyjson_val* optionalMember(yyjson_val* object, std::string_view key);

double toDouble(yyjson_val* value, std::string_view context);
float toFloat(yyjson_val* value, std::string_view context);
std::int64_t toInt64(yyjson_val* value, std::string_view context);
int toInt(yyjson_val* value, std::string_view context);
bool toBool(yyjson_val* value, std::string_view context);
std::string toString(yyjson_val* value, std::string_view context);
std::vector<int> toIntegers(yyjson_val* value, std::string_view context);
std::vector<float> toFloats(yyjson_val* value, std::string_view context);
std::vector<std::string> toStrings(yyjson_val* value, std::string_view context);

template <typename T, typename Fn>
std::vector<T> toArray(yyjson_val* value, std::string_view context, Fn&& decodeItem) {
    if (!yyjson_is_arr(value)) throwTypeMismatch("Array", value, context);
    std::vector<T> result;
    result.reserve(yyjson_arr_size(value));
    size_t index, count;
    yyjson_val* item;
    yyjson_arr_foreach(value, index, count, item) {
        result.push_back(decodeItem(item));
    }
    return result;
}

// Whole documents of records that have `toJsonValue(Writer&)` and a static
// `fromJsonValue(yyjson_val*)`.
template <typename Record> std::string encodeDocument(const Record& record, bool pretty) {
    Writer writer;
    return writer.write(record.toJsonValue(writer), pretty);
}
template <typename Record> Record decodeDocument(std::string_view text) {
    Document document(text);
    return Record::fromJsonValue(document.root());
}

// Per-token log-probability maps: {"50257": -0.25, ...}.
using TokenLogProbs = std::vector<std::map<int, float>>;
yyjson_mut_val* encodeTokenLogProbs(Writer& writer, const TokenLogProbs& maps);
TokenLogProbs decodeTokenLogProbs(yyjson_val* value, std::string_view context);

} // namespace murmex::json
