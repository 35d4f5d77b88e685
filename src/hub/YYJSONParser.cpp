#include "hub/YYJSONParser.h"

#include "platform/system/LargeAllocator.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <mutex>
#include <vector>
#include <yyjson.h>

namespace hub {
namespace {

struct DocumentFree {
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
};

// yyjson's blocks come from the large-table allocator (a parsed tokenizer
// document takes several megabytes), each preceded by its size for free().
constexpr std::size_t kBlockHeader = 16; // keeps the block 16-byte aligned

void* documentMalloc(void*, std::size_t size) {
    try {
        auto* block = static_cast<char*>(platform::system::allocateLarge(size + kBlockHeader));
        *reinterpret_cast<std::size_t*>(block) = size + kBlockHeader;
        return block + kBlockHeader;
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void documentFree(void*, void* ptr) {
    if (!ptr) return;
    char* block = static_cast<char*>(ptr) - kBlockHeader;
    platform::system::releaseLarge(block, *reinterpret_cast<std::size_t*>(block));
}

void* documentRealloc(void* ctx, void* ptr, std::size_t oldSize, std::size_t size) {
    void* grown = documentMalloc(ctx, size);
    if (grown && ptr) {
        std::memcpy(grown, ptr, std::min(oldSize, size));
        documentFree(ctx, ptr);
    }
    return grown;
}

const yyjson_alc kDocumentAllocator = {documentMalloc, documentRealloc, documentFree, nullptr};

// Text up to the first NUL character.
std::string_view textViewOf(yyjson_val* value) {
    const char* text = yyjson_get_str(value);
    if (!text) return {};
    return std::string_view(text, std::char_traits<char>::length(text));
}

BinaryDistinctString textOf(yyjson_val* value) {
    return textViewOf(value);
}

// Arrays and objects with more entries than this stay in the parsed
// document until they are used (see Config::Deferred).
constexpr std::size_t kDeferredSize = 512;

using Document = std::shared_ptr<yyjson_doc>;

Config convert(yyjson_val* value, const YYJSONParser::Options& options, const Document& doc);

class DeferredContainer final : public Config::Deferred {
public:
    DeferredContainer(Document doc, yyjson_val* value, const YYJSONParser::Options& options)
        : doc_(std::move(doc)), value_(value), options_(options) {}

    bool isDictionary() const override { return yyjson_is_obj(value_); }
    // An object may repeat a key: only its conversion tells the count.
    std::size_t size() const override {
        return isDictionary() ? converted().dictionary()->size() : yyjson_get_len(value_);
    }

    const Config& converted() const override {
        std::call_once(once_, [this] { converted_ = isDictionary() ? dictionary() : array(); });
        return converted_;
    }

    void forEachMember(const Config::MemberVisitor& visit) const override {
        yyjson_val* key;
        yyjson_obj_iter it = yyjson_obj_iter_with(value_);
        while ((key = yyjson_obj_iter_next(&it)))
            if (yyjson_is_str(key))
                visit(textViewOf(key), convert(yyjson_obj_iter_get_val(key), options_, doc_));
    }

    void forEachElement(const Config::ElementVisitor& visit) const override {
        yyjson_val* element;
        yyjson_arr_iter it = yyjson_arr_iter_with(value_);
        while ((element = yyjson_arr_iter_next(&it)))
            visit(convert(element, options_, doc_));
    }

private:
    Config dictionary() const {
        Config::Dictionary members;
        members.reserve(yyjson_get_len(value_));
        forEachMember([&](std::string_view key, const Config& member) {
            members.insert_or_assign(BinaryDistinctString(key), member);
        });
        return Config(std::move(members));
    }

    Config array() const {
        Config::Array elements;
        elements.reserve(size());
        forEachElement([&](const Config& element) { elements.push_back(element); });
        return Config(std::move(elements));
    }

    Document doc_; // keeps value_ alive
    yyjson_val* value_;
    YYJSONParser::Options options_;
    mutable std::once_flag once_;
    mutable Config converted_;
};

Config convert(yyjson_val* value, const YYJSONParser::Options& options, const Document& doc) {
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
        if (yyjson_arr_size(value) > kDeferredSize)
            return Config(std::make_shared<const DeferredContainer>(doc, value, options));
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
            elements.push_back(convert(element, options, doc));
        return Config(std::move(elements));
    }
    case YYJSON_TYPE_OBJ: {
        if (yyjson_obj_size(value) > kDeferredSize)
            return Config(std::make_shared<const DeferredContainer>(doc, value, options));
        Config::Dictionary members;
        members.reserve(yyjson_obj_size(value));
        yyjson_val* key;
        yyjson_obj_iter it = yyjson_obj_iter_with(value);
        while ((key = yyjson_obj_iter_next(&it))) {
            yyjson_val* member = yyjson_obj_iter_get_val(key);
            if (!yyjson_is_str(key)) continue;
            members.insert_or_assign(textOf(key), convert(member, options, doc));
        }
        return Config(std::move(members));
    }
    default:
        return {};
    }
}

// Whether arrays and objects nest more than maxDepth levels, found without
// recursion: yyjson keeps the values of a document in document order, each
// container followed by its contents, so a stack of the ends of the open
// containers gives the depth.
bool tooDeep(yyjson_doc* doc) {
    yyjson_val* value = yyjson_doc_get_root(doc);
    yyjson_val* const end = value + yyjson_doc_get_val_count(doc);
    std::vector<yyjson_val*> open;
    for (; value < end; ++value) {
        while (!open.empty() && value >= open.back())
            open.pop_back();
        if (yyjson_is_ctn(value)) {
            if (open.size() >= static_cast<std::size_t>(YYJSONParser::maxDepth)) return true;
            open.push_back(unsafe_yyjson_get_next(value));
        }
    }
    return false;
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
        options.allowInfAndNaN ? YYJSON_READ_ALLOW_INF_AND_NAN : 0, &kDocumentAllocator, &error));
    if (!doc) {
        throw ParseError::readFailed(error.code, error.msg ? error.msg : "unknown error",
                                     static_cast<std::int64_t>(error.pos));
    }
    yyjson_val* root = yyjson_doc_get_root(doc.get());
    if (!root) throw ParseError::nullDocument();
    if (tooDeep(doc.get())) {
        throw ParseError::readFailed(YYJSON_READ_ERROR_JSON_STRUCTURE,
                                     "nesting deeper than " + std::to_string(maxDepth) + " levels",
                                     positionTooDeep(bytes));
    }
    // The document lives on only while deferred containers refer to it.
    const Document shared(doc.release(), DocumentFree{});
    return convert(root, options, shared);
}

} // namespace hub
