#include "murmex/base/JsonCoding.h"

#include "platform/text/NumberText.h"

#include <charconv>
#include <cmath>
#include <fmt/format.h>
#include <limits>

namespace murmex::json {

namespace {

// A finite number as raw JSON text in its shortest round-trip form; JSON has
// no spelling for NaN and the infinities.
template <typename Real>
yyjson_mut_val* numberText(yyjson_mut_doc* doc, Real value, const char* typeName) {
    if (!std::isfinite(value)) {
        throw CodingError(CodingError::Kind::invalidValue,
                          fmt::format("Unable to encode {}.{} directly in JSON.", typeName,
                                      std::isnan(value) ? "nan" : "infinity"));
    }
    std::string text = platform::text::shortestText(value);
    return yyjson_mut_rawncpy(doc, text.data(), text.size());
}

const char* typeName(yyjson_val* value) {
    switch (yyjson_get_type(value)) {
    case YYJSON_TYPE_NULL:
        return "null";
    case YYJSON_TYPE_BOOL:
        return "bool";
    case YYJSON_TYPE_NUM:
        return "number";
    case YYJSON_TYPE_STR:
        return "string";
    case YYJSON_TYPE_ARR:
        return "array";
    case YYJSON_TYPE_OBJ:
        return "dictionary";
    default:
        return "unknown value";
    }
}

} // namespace

// ---- Writer ---------------------------------------------------------------

Writer::Writer() : doc_(yyjson_mut_doc_new(nullptr)) {
    if (!doc_) throw std::bad_alloc();
}

Writer::~Writer() {
    yyjson_mut_doc_free(doc_);
}

yyjson_mut_val* Writer::object() {
    return yyjson_mut_obj(doc_);
}
yyjson_mut_val* Writer::array() {
    return yyjson_mut_arr(doc_);
}
yyjson_mut_val* Writer::null() {
    return yyjson_mut_null(doc_);
}
yyjson_mut_val* Writer::boolean(bool value) {
    return yyjson_mut_bool(doc_, value);
}
yyjson_mut_val* Writer::integer(std::int64_t value) {
    return yyjson_mut_sint(doc_, value);
}

yyjson_mut_val* Writer::string(std::string_view value) {
    return yyjson_mut_strncpy(doc_, value.data(), value.size());
}

yyjson_mut_val* Writer::number(double value) {
    return numberText(doc_, value, "Double");
}
yyjson_mut_val* Writer::number(float value) {
    return numberText(doc_, value, "Float");
}

void Writer::add(yyjson_mut_val* object, std::string_view key, yyjson_mut_val* value) {
    yyjson_mut_obj_add(object, yyjson_mut_strncpy(doc_, key.data(), key.size()), value);
}

void Writer::addStatic(yyjson_mut_val* object, const char* key, size_t length,
                       yyjson_mut_val* value) {
    yyjson_mut_obj_add(object, yyjson_mut_strn(doc_, key, length), value);
}

void Writer::append(yyjson_mut_val* array, yyjson_mut_val* value) {
    yyjson_mut_arr_append(array, value);
}

yyjson_mut_val* Writer::integers(const std::vector<int>& values) {
    return arrayOf(values, [this](int v) { return integer(v); });
}

yyjson_mut_val* Writer::floats(const std::vector<float>& values) {
    return arrayOf(values, [this](float v) { return number(v); });
}

std::string Writer::write(yyjson_mut_val* root, bool pretty) {
    yyjson_mut_doc_set_root(doc_, root);
    yyjson_write_err error;
    size_t length = 0;
    yyjson_write_flag flags = pretty ? YYJSON_WRITE_PRETTY_TWO_SPACES : YYJSON_WRITE_NOFLAG;
    char* text = yyjson_mut_write_opts(doc_, flags, nullptr, &length, &error);
    if (!text)
        throw CodingError(CodingError::Kind::invalidValue,
                          fmt::format("Unable to write JSON: {}", error.msg));
    std::string result(text, length);
    free(text);
    return result;
}

// ---- Document -------------------------------------------------------------

Document::Document(std::string_view text) {
    yyjson_read_err error;
    doc_ = yyjson_read_opts(const_cast<char*>(text.data()), text.size(), YYJSON_READ_NOFLAG,
                            nullptr, &error);
    if (!doc_) {
        throw CodingError(
            CodingError::Kind::dataCorrupted,
            fmt::format("The given data was not valid JSON: {} at byte {}.", error.msg, error.pos));
    }
}

Document::~Document() {
    yyjson_doc_free(doc_);
}

yyjson_val* Document::root() const {
    return yyjson_doc_get_root(doc_);
}

// ---- Reading --------------------------------------------------------------

void throwTypeMismatch(std::string_view expected, yyjson_val* found, std::string_view context) {
    if (yyjson_is_null(found)) {
        throw CodingError(
            CodingError::Kind::valueNotFound,
            fmt::format("Expected {} value for \"{}\" but found null instead.", expected, context));
    }
    throw CodingError(CodingError::Kind::typeMismatch,
                      fmt::format("Expected to decode {} for \"{}\" but found a {} instead.",
                                  expected, context, typeName(found)));
}

void expectObject(yyjson_val* value, std::string_view context) {
    if (!yyjson_is_obj(value)) throwTypeMismatch("Dictionary", value, context);
}

yyjson_val* member(yyjson_val* object, std::string_view key) {
    yyjson_val* value = yyjson_obj_getn(object, key.data(), key.size());
    if (!value) {
        throw CodingError(CodingError::Kind::keyNotFound,
                          fmt::format("No value associated with key \"{}\".", key));
    }
    return value;
}

yyjson_val* optionalMember(yyjson_val* object, std::string_view key) {
    yyjson_val* value = yyjson_obj_getn(object, key.data(), key.size());
    return (value && !yyjson_is_null(value)) ? value : nullptr;
}

double toDouble(yyjson_val* value, std::string_view context) {
    if (!yyjson_is_num(value)) throwTypeMismatch("Double", value, context);
    return yyjson_get_num(value);
}

float toFloat(yyjson_val* value, std::string_view context) {
    double number = toDouble(value, context);
    if (std::fabs(number) > std::numeric_limits<float>::max()) {
        throw CodingError(CodingError::Kind::dataCorrupted,
                          fmt::format("Parsed JSON number <{}> for \"{}\" does not fit in Float.",
                                      number, context));
    }
    return static_cast<float>(number);
}

std::int64_t toInt64(yyjson_val* value, std::string_view context) {
    if (yyjson_is_sint(value)) return yyjson_get_sint(value);
    if (yyjson_is_uint(value)) {
        std::uint64_t number = yyjson_get_uint(value);
        if (number <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return static_cast<std::int64_t>(number);
        }
    } else if (yyjson_is_real(value)) {
        // A whole number written with a decimal point (2.0) reads as an integer.
        double number = yyjson_get_real(value);
        if (std::trunc(number) == number && number >= -9.2233720368547758e18 &&
            number < 9.2233720368547758e18) {
            return static_cast<std::int64_t>(number);
        }
    } else {
        throwTypeMismatch("Int", value, context);
    }
    throw CodingError(CodingError::Kind::dataCorrupted,
                      fmt::format("Parsed JSON number for \"{}\" does not fit in Int.", context));
}

int toInt(yyjson_val* value, std::string_view context) {
    std::int64_t number = toInt64(value, context);
    if (number < std::numeric_limits<int>::min() || number > std::numeric_limits<int>::max()) {
        throw CodingError(CodingError::Kind::dataCorrupted,
                          fmt::format("Parsed JSON number <{}> for \"{}\" does not fit in Int.",
                                      number, context));
    }
    return static_cast<int>(number);
}

bool toBool(yyjson_val* value, std::string_view context) {
    if (!yyjson_is_bool(value)) throwTypeMismatch("Bool", value, context);
    return yyjson_get_bool(value);
}

std::string toString(yyjson_val* value, std::string_view context) {
    if (!yyjson_is_str(value)) throwTypeMismatch("String", value, context);
    return std::string(yyjson_get_str(value), yyjson_get_len(value));
}

std::vector<int> toIntegers(yyjson_val* value, std::string_view context) {
    return toArray<int>(value, context, [&](yyjson_val* item) { return toInt(item, context); });
}

std::vector<float> toFloats(yyjson_val* value, std::string_view context) {
    return toArray<float>(value, context, [&](yyjson_val* item) { return toFloat(item, context); });
}

std::vector<std::string> toStrings(yyjson_val* value, std::string_view context) {
    return toArray<std::string>(value, context,
                                [&](yyjson_val* item) { return toString(item, context); });
}

yyjson_mut_val* encodeTokenLogProbs(Writer& writer, const TokenLogProbs& maps) {
    return writer.arrayOf(maps, [&writer](const std::map<int, float>& map) {
        yyjson_mut_val* object = writer.object();
        for (const auto& [token, logProb] : map)
            writer.add(object, std::to_string(token), writer.number(logProb));
        return object;
    });
}

TokenLogProbs decodeTokenLogProbs(yyjson_val* value, std::string_view context) {
    return toArray<std::map<int, float>>(value, context, [&](yyjson_val* item) {
        expectObject(item, context);
        std::map<int, float> map;
        size_t index, count;
        yyjson_val *key, *logProb;
        yyjson_obj_foreach(item, index, count, key, logProb) {
            std::string_view keyText(yyjson_get_str(key), yyjson_get_len(key));
            int token = 0;
            auto parsed = std::from_chars(keyText.data(), keyText.data() + keyText.size(), token);
            if (keyText.empty() || parsed.ec != std::errc() ||
                parsed.ptr != keyText.data() + keyText.size()) {
                throw CodingError(
                    CodingError::Kind::dataCorrupted,
                    fmt::format("Expected Int key in \"{}\" but found \"{}\" instead.", context,
                                keyText));
            }
            map[token] = toFloat(logProb, context);
        }
        return map;
    });
}

} // namespace murmex::json
