#include "hub/YYJSONParser.h"

#include <limits>
#include <memory>
#include <yyjson.h>

namespace hub {
namespace {

struct DocumentFree {
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
};

struct TooDeep {};

// Text up to the first NUL character.
BinaryDistinctString textOf(yyjson_val* value) {
    const char* text = yyjson_get_str(value);
    if (!text) return {};
    return std::string_view(text, std::char_traits<char>::length(text));
}

Config convert(yyjson_val* value, int depth, const YYJSONParser::Options& options) {
    if (!value) return {};
    switch (yyjson_get_type(value)) {
    case YYJSON_TYPE_NULL:
        return {};
    case YYJSON_TYPE_BOOL:
        return Config(yyjson_get_bool(value));
    case YYJSON_TYPE_NUM:
        switch (yyjson_get_subtype(value)) {
        case YYJSON_SUBTYPE_UINT: {
            const std::uint64_t u = yyjson_get_uint(value);
            if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
                return Config(static_cast<std::int64_t>(u));
            return Config(static_cast<float>(u));
        }
        case YYJSON_SUBTYPE_SINT:
            return Config(yyjson_get_sint(value));
        default:
            return Config(static_cast<float>(yyjson_get_real(value)));
        }
    case YYJSON_TYPE_STR:
        return Config(textOf(value));
    case YYJSON_TYPE_ARR: {
        if (depth >= YYJSONParser::maxDepth) throw TooDeep{};
        if (options.pairsAsTokens && yyjson_arr_size(value) == 2) {
            yyjson_val* id = yyjson_arr_get_first(value);
            yyjson_val* text = yyjson_arr_get_last(value);
            if (yyjson_is_uint(id) && yyjson_is_str(text))
                return Config(Config::Token{yyjson_get_uint(id), textOf(text)});
        }
        Config::Array elements;
        elements.reserve(yyjson_arr_size(value));
        yyjson_val* element;
        yyjson_arr_iter it = yyjson_arr_iter_with(value);
        while ((element = yyjson_arr_iter_next(&it)))
            elements.push_back(convert(element, depth + 1, options));
        return Config(std::move(elements));
    }
    case YYJSON_TYPE_OBJ: {
        if (depth >= YYJSONParser::maxDepth) throw TooDeep{};
        Config::Dictionary members;
        members.reserve(yyjson_obj_size(value));
        yyjson_val* key;
        yyjson_obj_iter it = yyjson_obj_iter_with(value);
        while ((key = yyjson_obj_iter_next(&it))) {
            yyjson_val* member = yyjson_obj_iter_get_val(key);
            if (!yyjson_is_str(key)) continue;
            members.insert_or_assign(textOf(key), convert(member, depth + 1, options));
        }
        return Config(std::move(members));
    }
    default:
        return {};
    }
}

// Byte offset of the bracket that opens nesting level maxDepth + 1. Only
// called on a document yyjson accepted, so strings are well delimited.
std::int64_t positionTooDeep(std::string_view bytes) {
    int depth = 0;
    bool inString = false;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
        } else if (c == '"') {
            inString = true;
        } else if (c == '[' || c == '{') {
            if (++depth > YYJSONParser::maxDepth) return static_cast<std::int64_t>(i);
        } else if (c == ']' || c == '}') {
            --depth;
        }
    }
    return 0;
}

} // namespace

YYJSONParser::ParseError YYJSONParser::ParseError::readFailed(std::uint32_t code,
                                                              std::string message,
                                                              std::int64_t position) {
    std::string text = "yyjson read failed (code " + std::to_string(code) + ") at position " +
                       std::to_string(position) + ": " + message;
    return ParseError(Kind::readFailed, code, std::move(message), position, text);
}

YYJSONParser::ParseError YYJSONParser::ParseError::nullDocument() {
    return ParseError(Kind::nullDocument, 0, {}, 0, "yyjson returned null document");
}

Config YYJSONParser::parseToConfig(std::string_view bytes, const Options& options) {
    if (bytes.empty()) throw ParseError::readFailed(0, "empty data", 0);
    if (!bytes.data()) throw ParseError::readFailed(0, "empty buffer", 0);
    yyjson_read_err error{};
    // yyjson does not write to the input without YYJSON_READ_INSITU.
    std::unique_ptr<yyjson_doc, DocumentFree> doc(yyjson_read_opts(
        const_cast<char*>(bytes.data()), bytes.size(),
        options.allowInfAndNaN ? YYJSON_READ_ALLOW_INF_AND_NAN : 0, nullptr, &error));
    if (!doc) {
        throw ParseError::readFailed(error.code, error.msg ? error.msg : "unknown error",
                                     static_cast<std::int64_t>(error.pos));
    }
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    if (!root) throw ParseError::nullDocument();
    try {
        return convert(root, 0, options);
    } catch (const TooDeep&) {
        throw ParseError::readFailed(YYJSON_READ_ERROR_JSON_STRUCTURE,
                                     "nesting deeper than " + std::to_string(maxDepth) + " levels",
                                     positionTooDeep(bytes));
    }
}

} // namespace hub
