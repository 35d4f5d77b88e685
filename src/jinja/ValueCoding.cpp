// Conversion of host data into values, and the JSON form of values.

#include "jinja/CodingError.h"
#include "jinja/JinjaError.h"
#include "jinja/Macro.h"
#include "jinja/NestingGuard.h"
#include "jinja/TreeCoding.h"
#include "jinja/Unicode.h"
#include "jinja/Value.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <cxxabi.h>
#include <map>
#include <typeinfo>
#include <unordered_set>
#include <yyjson.h>

namespace jinja {

namespace {

// JSON writing ----------------------------------------------------------------

// Whether a byte needs an escape in a JSON string.
bool needsEscape(char c, bool escapeSlashes) {
    return static_cast<unsigned char>(c) < 0x20 || c == '"' || c == '\\' ||
           (c == '/' && escapeSlashes);
}

// Whether any of eight bytes needs an escape: a control byte, a quote, a
// backslash or (when escaped) a slash. Exact for "any", not for which.
bool wordNeedsEscape(std::uint64_t w, bool escapeSlashes) {
    constexpr std::uint64_t ones = 0x0101010101010101ull;
    constexpr std::uint64_t highs = 0x8080808080808080ull;
    auto hasZero = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
    std::uint64_t found =
        ((w - ones * 0x20) & ~w & highs) | hasZero(w ^ (ones * '"')) | hasZero(w ^ (ones * '\\'));
    if (escapeSlashes) found |= hasZero(w ^ (ones * '/'));
    return found != 0;
}

void appendJsonString(std::string& out, std::string_view text, bool escapeSlashes) {
    static constexpr char hex[] = "0123456789abcdef";
    out += '"';
    std::size_t i = 0;
    while (i < text.size()) {
        // Copy the run of bytes that need no escape in one go, passing
        // eight plain bytes at a time.
        std::size_t run = i;
        for (std::uint64_t w; run + 8 <= text.size(); run += 8) {
            std::memcpy(&w, text.data() + run, 8);
            if (wordNeedsEscape(w, escapeSlashes)) break;
        }
        while (run < text.size() && !needsEscape(text[run], escapeSlashes))
            ++run;
        out.append(text, i, run - i);
        if (run == text.size()) break;
        const char c = text[run];
        i = run + 1;
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '/':
            out += "\\/";
            break;
        default:
            out += "\\u00";
            out += hex[(c >> 4) & 0xF];
            out += hex[c & 0xF];
        }
    }
    out += '"';
}

class JsonWriter {
public:
    explicit JsonWriter(const Value::JsonOptions& options) : options_(options) {}

    void write(const Value& value, std::size_t level) {
        switch (value.kind()) {
        case Value::Kind::boolean:
        case Value::Kind::int_:
            value.appendDescription(out);
            break;
        case Value::Kind::double_:
            if (!std::isfinite(value.asDouble()))
                throw CodingError(CodingError::Kind::invalidValue,
                                  "Cannot encode non-finite number " + value.description() +
                                      " in JSON");
            value.appendDescription(out);
            break;
        case Value::Kind::string:
            appendJsonString(out, value.asString(), options_.escapeSlashes);
            break;
        case Value::Kind::array:
            writeArray(value.asArray(), level);
            break;
        case Value::Kind::object:
            writeObject(value.asObject(), level);
            break;
        case Value::Kind::function:
            throw CodingError(CodingError::Kind::invalidValue, "Cannot encode function values");
        case Value::Kind::macro:
            write(coding::encode(value.asMacro()), level);
            break;
        case Value::Kind::null:
        case Value::Kind::undefined:
            out += "null";
            break;
        }
    }

    std::string out;

private:
    void newline(std::size_t level) {
        out += '\n';
        out.append(level * 2, ' ');
    }

    void writeArray(const Array& elements, std::size_t level) {
        NestingGuard guard;
        if (elements.empty()) {
            out += "[]";
            return;
        }
        out += '[';
        for (std::size_t i = 0; i < elements.size(); ++i) {
            if (i) out += ',';
            if (options_.pretty) newline(level + 1);
            write(elements[i], level + 1);
        }
        if (options_.pretty) newline(level);
        out += ']';
    }

    void writeObject(const Object& object, std::size_t level) {
        NestingGuard guard;
        if (object.empty()) {
            out += "{}";
            return;
        }
        // Entries in key order (integer keys first); two keys with the same text cannot both be
        // written. Objects are mostly in key order already (JSON input is read that way), and
        // then the sorts are skipped: a stable sort of sorted entries keeps them as they are.
        // Both lists live on the stack for objects of a few entries.
        constexpr std::size_t kInline = 16;
        const std::size_t n = object.size();
        using EntryRef = const std::pair<ObjectKey, Value>*;
        EntryRef sortedInline[kInline];
        std::vector<EntryRef> sortedHeap(n > kInline ? n : 0);
        EntryRef* sorted = n > kInline ? sortedHeap.data() : sortedInline;
        std::size_t count = 0;
        for (const auto& entry : object)
            sorted[count++] = &entry;
        auto keyOrder = [](EntryRef a, EntryRef b) { return a->first < b->first; };
        if (!std::is_sorted(sorted, sorted + n, keyOrder))
            std::stable_sort(sorted, sorted + n, keyOrder);
        // The texts of the keys: string keys in place, integer keys written
        // out (the list never grows past its reserve, so views stay valid).
        std::vector<std::string> numbers;
        using Text = std::pair<std::string_view, const Value*>;
        Text entriesInline[kInline];
        std::vector<Text> entriesHeap(n > kInline ? n : 0);
        Text* entries = n > kInline ? entriesHeap.data() : entriesInline;
        // Small objects look for a repeated text among the earlier entries;
        // larger ones keep a set.
        std::unordered_set<std::string_view> texts;
        for (std::size_t k = 0; k < n; ++k) {
            const ObjectKey& key = sorted[k]->first;
            std::string_view text;
            if (key.isString()) {
                text = key.text();
            } else {
                if (numbers.empty()) numbers.reserve(n);
                numbers.push_back(key.stringValue());
                text = numbers.back();
            }
            bool repeated;
            if (n <= kInline)
                repeated = std::any_of(entries, entries + k,
                                       [&](const Text& earlier) { return earlier.first == text; });
            else
                repeated = !texts.insert(text).second;
            if (repeated)
                throw CodingError(
                    CodingError::Kind::invalidValue,
                    "Cannot encode object with colliding keys that both serialize to \"" +
                        std::string(text) + "\"");
            entries[k] = {text, &sorted[k]->second};
        }
        // Without integer keys the entries are in the order of their texts
        // already: string keys order by the same comparison.
        auto textOrder = [](const Text& a, const Text& b) {
            return unicode::compareCanonical(a.first, b.first) < 0;
        };
        if (options_.sortKeys && !numbers.empty() &&
            !std::is_sorted(entries, entries + n, textOrder))
            std::stable_sort(entries, entries + n, textOrder);
        out += '{';
        for (std::size_t i = 0; i < n; ++i) {
            if (i) out += ',';
            if (options_.pretty) newline(level + 1);
            appendJsonString(out, entries[i].first, options_.escapeSlashes);
            out += options_.pretty ? " : " : ":";
            write(*entries[i].second, level + 1);
        }
        if (options_.pretty) newline(level);
        out += '}';
    }

    const Value::JsonOptions& options_;
};

// JSON reading ----------------------------------------------------------------

Value readJson(yyjson_val* node) {
    switch (yyjson_get_type(node)) {
    case YYJSON_TYPE_NULL:
        return Value();
    case YYJSON_TYPE_BOOL:
        return Value(yyjson_get_bool(node));
    case YYJSON_TYPE_STR:
        return Value(std::string(yyjson_get_str(node), yyjson_get_len(node)));
    case YYJSON_TYPE_NUM:
        if (yyjson_is_sint(node)) return Value(static_cast<std::int64_t>(yyjson_get_sint(node)));
        if (yyjson_is_uint(node)) return Value(static_cast<std::uint64_t>(yyjson_get_uint(node)));
        return Value(yyjson_get_real(node));
    case YYJSON_TYPE_ARR: {
        NestingGuard guard;
        Array elements;
        elements.reserve(yyjson_arr_size(node));
        yyjson_val* element;
        yyjson_arr_iter iter = yyjson_arr_iter_with(node);
        while ((element = yyjson_arr_iter_next(&iter)))
            elements.push_back(readJson(element));
        return Value(std::move(elements));
    }
    case YYJSON_TYPE_OBJ: {
        NestingGuard guard;
        std::vector<std::pair<std::string, yyjson_val*>> entries;
        yyjson_val* key;
        yyjson_obj_iter iter = yyjson_obj_iter_with(node);
        while ((key = yyjson_obj_iter_next(&iter)))
            entries.emplace_back(std::string(yyjson_get_str(key), yyjson_get_len(key)),
                                 yyjson_obj_iter_get_val(key));
        std::stable_sort(entries.begin(), entries.end(), [](const auto& a, const auto& b) {
            return unicode::compareCanonical(a.first, b.first) < 0;
        });
        Object object;
        object.reserve(entries.size());
        for (auto& [name, child] : entries)
            objectSet(object, name, readJson(child));
        return Value(std::move(object));
    }
    default:
        break;
    }
    throw CodingError(CodingError::Kind::typeMismatch,
                      "Cannot decode Value from any supported container type");
}

// Host data -------------------------------------------------------------------

// The unqualified name of a host type, e.g. "time_point<...>" for a std::chrono type.
std::string typeName(const std::type_info& type) {
    int status = 0;
    char* demangled = abi::__cxa_demangle(type.name(), nullptr, nullptr, &status);
    std::string name = status == 0 && demangled ? demangled : type.name();
    std::free(demangled);
    int templateDepth = 0;
    std::size_t start = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        if (name[i] == '<') ++templateDepth;
        if (name[i] == '>') --templateDepth;
        if (templateDepth == 0 && name.compare(i, 2, "::") == 0) start = i + 2;
    }
    return name.substr(start);
}

template <class T> const T* as(const std::any& datum) {
    return std::any_cast<T>(&datum);
}

template <class Map> Value convertMap(const Map& map);

Value convert(const std::any& datum);

Value convertOptional(const std::optional<std::any>& datum) {
    return datum ? convert(*datum) : Value();
}

template <class Map> Value convertMap(const Map& map) {
    NestingGuard guard;
    std::vector<const typename Map::value_type*> entries;
    entries.reserve(map.size());
    for (const auto& entry : map)
        entries.push_back(&entry);
    std::sort(entries.begin(), entries.end(), [](const auto* a, const auto* b) {
        return unicode::compareCanonical(a->first, b->first) < 0;
    });
    Object object;
    object.reserve(entries.size());
    for (const auto* entry : entries) {
        Value value;
        if constexpr (std::is_same_v<typename Map::mapped_type, std::optional<std::any>>)
            value = convertOptional(entry->second);
        else
            value = convert(entry->second);
        objectSet(object, entry->first, std::move(value));
    }
    return Value(std::move(object));
}

template <class Element> Value convertVector(const std::vector<Element>& elements) {
    NestingGuard guard;
    Array out;
    out.reserve(elements.size());
    for (const auto& element : elements) {
        if constexpr (std::is_same_v<Element, std::optional<std::any>>)
            out.push_back(convertOptional(element));
        else
            out.push_back(convert(element));
    }
    return Value(std::move(out));
}

template <class... Integers> std::optional<Value> convertInteger(const std::any& datum) {
    std::optional<Value> result;
    (void)((as<Integers>(datum) ? (result = Value(*as<Integers>(datum)), true) : false) || ...);
    return result;
}

Value convert(const std::any& datum) {
    if (!datum.has_value()) return Value();
    if (const auto* v = as<Value>(datum)) return *v;
    if (const auto* v = as<std::string>(datum)) return Value(*v);
    if (const auto* v = as<std::string_view>(datum)) return Value(*v);
    if (const auto* v = as<const char*>(datum)) return Value(*v);
    if (const auto* v = as<char>(datum)) return Value(*v);
    if (const auto* v = as<std::int64_t>(datum)) return Value(*v);
    if (auto v = convertInteger<int, long long, short, signed char, unsigned char, unsigned short,
                                unsigned, unsigned long, unsigned long long>(datum))
        return *v;
    if (const auto* v = as<double>(datum)) return Value(*v);
    if (const auto* v = as<float>(datum)) return Value(*v);
    if (const auto* v = as<bool>(datum)) return Value(*v);
    if (const auto* v = as<std::vector<std::any>>(datum)) return convertVector(*v);
    if (const auto* v = as<std::vector<std::optional<std::any>>>(datum)) return convertVector(*v);
    if (const auto* v = as<std::vector<Value>>(datum)) return Value(*v);
    if (const auto* v = as<std::map<std::string, std::any>>(datum)) return convertMap(*v);
    if (const auto* v = as<std::unordered_map<std::string, std::any>>(datum)) return convertMap(*v);
    if (const auto* v = as<std::map<std::string, std::optional<std::any>>>(datum))
        return convertMap(*v);
    if (const auto* v = as<std::unordered_map<std::string, std::optional<std::any>>>(datum))
        return convertMap(*v);
    if (const auto* v = as<Macro>(datum)) return Value(*v);
    if (const auto* v = as<std::optional<std::any>>(datum)) return convertOptional(*v);
    throw JinjaError::runtime("Cannot convert value of type " + typeName(datum.type()) +
                              " to Jinja Value");
}

} // namespace

std::string Value::toJson(const JsonOptions& options) const {
    JsonWriter writer(options);
    writer.write(*this, 0);
    return std::move(writer.out);
}

Value Value::fromJson(std::string_view json) {
    yyjson_read_err error;
    yyjson_doc* doc =
        yyjson_read_opts(const_cast<char*>(json.data()), json.size(), 0, nullptr, &error);
    if (!doc)
        throw CodingError(CodingError::Kind::dataCorrupted,
                          std::string("The given data was not valid JSON: ") +
                              (error.msg ? error.msg : "unknown error"));
    struct Release {
        yyjson_doc* doc;
        ~Release() { yyjson_doc_free(doc); }
    } release{doc};
    return readJson(yyjson_doc_get_root(doc));
}

Value Value::fromAny(const std::any& datum) {
    return convert(datum);
}

} // namespace jinja
