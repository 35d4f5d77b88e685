#include "jinja/CodingError.h"
#include "jinja/NestingGuard.h"
#include "jinja/filters/FilterRows.h"
#include "jinja/filters/FilterSupport.h"
#include "jinja/filters/UnicodeText.h"

#include <charconv>
#include <cmath>

namespace jinja::filters {

namespace {

// ---- wordwrap -----------------------------------------------------------------

// Pieces of one word for a line of `width` characters: hyphenated parts
// (each keeping its hyphen) when allowed, and chunks of `width` characters of
// every part longer than that.
std::vector<std::string> splitToken(std::string_view word, bool breakLongWords, std::size_t width,
                                    bool breakOnHyphens) {
    std::vector<std::string_view> chars = text::graphemes(word);
    if (!breakLongWords || chars.size() <= width) return {std::string(word)};
    std::vector<std::vector<std::string_view>> parts(1);
    for (std::string_view c : chars) {
        parts.back().push_back(c);
        if (breakOnHyphens && c == "-") parts.emplace_back();
    }
    auto join = [](auto first, auto last) {
        std::string piece;
        for (; first != last; ++first)
            piece += *first;
        return piece;
    };
    std::vector<std::string> pieces;
    for (const auto& part : parts) {
        if (part.size() <= width) {
            pieces.push_back(join(part.begin(), part.end()));
            continue;
        }
        for (std::size_t at = 0; at < part.size(); at += width)
            pieces.push_back(join(
                part.begin() + static_cast<std::ptrdiff_t>(at),
                part.begin() + static_cast<std::ptrdiff_t>(std::min(part.size(), at + width))));
    }
    return pieces;
}

JINJA_FILTER(wordwrap) {
    if (args.empty() || !args[0].isString()) return Value(std::string());
    static const Parameter params[] = {{"width", Value(79)},
                                       {"break_long_words", Value(true)},
                                       {"wrapstring", Value()},
                                       {"break_on_hyphens", Value(true)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    const std::int64_t width = bound[0].isInt() ? bound[0].asInt() : 79;
    const bool breakLongWords = bound[1].isTruthy(), breakOnHyphens = bound[3].isTruthy();
    const std::string separator = bound[2].isString() ? bound[2].asString() : "\n";
    // Cutting words into chunks of no characters can never finish.
    if (breakLongWords && width < 1) throw JinjaError::runtime("wordwrap width must be at least 1");
    const std::size_t lineWidth = width < 1 ? 0 : static_cast<std::size_t>(width);
    std::vector<std::string> lines;
    for (std::string_view inputLine : text::splitScalars(args[0].asString(), text::isNewline)) {
        std::string current;
        std::size_t currentLength = 0;
        for (std::string_view word : text::splitScalars(inputLine, text::isSpaceSeparatorOrTab)) {
            for (std::string& piece : splitToken(word, breakLongWords, lineWidth, breakOnHyphens)) {
                std::size_t pieceLength = text::graphemeCount(piece);
                if (current.empty()) {
                    current = std::move(piece);
                    currentLength = pieceLength;
                } else if (currentLength + pieceLength + 1 > lineWidth) {
                    lines.push_back(std::move(current));
                    current = std::move(piece);
                    currentLength = pieceLength;
                } else {
                    current += ' ';
                    current += piece;
                    currentLength += pieceLength + 1;
                }
            }
        }
        if (!current.empty()) lines.push_back(std::move(current));
    }
    std::string out;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) {
            RenderLimits::checkAppend(out.size(), separator.size());
            out += separator;
        }
        out += lines[i];
    }
    return Value(std::move(out));
}

// ---- urlize -----------------------------------------------------------------------

bool startsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

JINJA_FILTER(urlize) {
    if (args.empty() || !args[0].isString()) return Value(std::string());
    static const Parameter params[] = {{"trim_url_limit", Value()},
                                       {"nofollow", Value(false)},
                                       {"target", Value()},
                                       {"rel", Value()},
                                       {"extra_schemes", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    std::optional<std::size_t> limit;
    // A negative limit keeps no characters of the link text.
    if (bound[0].isInt())
        limit = bound[0].asInt() < 0 ? 0 : static_cast<std::size_t>(bound[0].asInt());
    const bool nofollow = bound[1].isTruthy();
    std::vector<std::string> schemes = {"http", "https", "mailto"};
    if (bound[4].isArray())
        for (const Value& s : bound[4].asArray())
            if (s.isString()) schemes.push_back(text::toLower(s.asString()));
    std::string attributes;
    if (nofollow) attributes += " rel=\"nofollow\"";
    if (bound[2].isString()) attributes += " target=\"" + escapeHtml(bound[2].asString()) + "\"";
    if (bound[3].isString()) attributes += " rel=\"" + escapeHtml(bound[3].asString()) + "\"";

    const std::string& s = args[0].asString();
    std::string out;
    auto render = [&](std::string_view word) {
        std::size_t b = 0, e = word.size();
        while (b < e && (word[b] == '(' || word[b] == '['))
            ++b;
        constexpr std::string_view trailing = ".,:;!?)\"]";
        while (e > b && trailing.find(word[e - 1]) != std::string_view::npos)
            --e;
        std::string_view lead = word.substr(0, b), core = word.substr(b, e - b),
                         trail = word.substr(e);
        if (core.empty()) {
            out += word;
            return;
        }
        std::string lower = text::toLower(core);
        bool mailto = startsWith(lower, "mailto:");
        bool web = startsWith(lower, "http://") || startsWith(lower, "https://");
        bool www = startsWith(lower, "www.");
        bool at = core.find('@') != std::string_view::npos;
        bool scheme = false;
        if (core.find(':') != std::string_view::npos) {
            std::size_t start = 0;
            while (start < lower.size() && lower[start] == ':')
                ++start;
            std::string first = lower.substr(start, lower.find(':', start) - start);
            scheme = std::find(schemes.begin(), schemes.end(), first) != schemes.end();
        }
        if (!mailto && !web && !www && !at && !scheme) {
            out += word;
            return;
        }
        std::string target;
        if (at && !mailto && !web)
            target = "mailto:" + std::string(core);
        else if (www)
            target = "https://" + std::string(core);
        else
            target = std::string(core);
        std::string display(core);
        if (limit) {
            std::vector<std::size_t> bounds = text::graphemeBoundaries(core);
            if (bounds.size() - 1 > *limit)
                display = std::string(core.substr(0, bounds[*limit])) + "...";
        }
        out += lead;
        out += "<a href=\"" + escapeHtml(target) + "\"" + attributes + ">" + escapeHtml(display) +
               "</a>";
        out += trail;
        RenderLimits::checkBytes(out.size());
    };
    std::size_t i = 0;
    while (i < s.size()) {
        std::size_t start = i;
        std::size_t j = i;
        char32_t c = text::decodeNext(s, j);
        if (text::isWhiteSpace(c)) {
            out.append(s, start, j - start);
            i = j;
            continue;
        }
        std::size_t end = j;
        while (end < s.size()) {
            std::size_t k = end;
            if (text::isWhiteSpace(text::decodeNext(s, k))) break;
            end = k;
        }
        render(std::string_view(s).substr(start, end - start));
        i = end;
    }
    return Value(std::move(out));
}

// ---- urlencode ----------------------------------------------------------------------

std::string percentEncode(std::string_view s, std::string_view extraAllowed) {
    static constexpr char hex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : s) {
        bool plain =
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
            std::string_view("-._~").find(static_cast<char>(c)) != std::string_view::npos ||
            (c != 0 && extraAllowed.find(static_cast<char>(c)) != std::string_view::npos);
        if (plain) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back('%');
            out.push_back(hex[c >> 4]);
            out.push_back(hex[c & 15]);
        }
    }
    RenderLimits::checkBytes(out.size());
    return out;
}

JINJA_FILTER(urlencode) {
    if (args.empty()) return Value(std::string());
    bindNothing(args, kwargs);
    const Value& v = args[0];
    if (v.isString()) return Value(percentEncode(v.asString(), "!$&'()*+,;=:@/?"));
    if (!v.isObject()) return Value(std::string());
    // Inside query items "&", "=" and "+" are encoded too, so that every item
    // reads back as written.
    constexpr std::string_view itemAllowed = "!$'()*,;:@/?";
    std::string out;
    for (const auto& [key, value] : v.asObject()) {
        if (!out.empty()) out.push_back('&');
        out += percentEncode(key.stringValue(), itemAllowed);
        out.push_back('=');
        out += percentEncode(printed(value), itemAllowed);
    }
    return Value(std::move(out));
}

// ---- xmlattr ------------------------------------------------------------------------

JINJA_FILTER(xmlattr) {
    if (args.empty() || !args[0].isObject()) return Value(std::string());
    static const Parameter params[] = {{"autospace", Value(true)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    std::string out;
    for (const auto& [key, value] : args[0].asObject()) {
        if (value.isNull() || value.isUndefined()) continue;
        std::string name = key.stringValue();
        if (name.find_first_of(" />=") != std::string::npos)
            throw JinjaError::runtime("Invalid character in XML attribute key: '" + name + "'");
        std::string text;
        for (char c : printed(value)) {
            switch (c) {
            case '&':
                text += "&amp;";
                break;
            case '<':
                text += "&lt;";
                break;
            case '>':
                text += "&gt;";
                break;
            case '"':
                text += "&quot;";
                break;
            default:
                text.push_back(c);
            }
        }
        if (!out.empty()) out.push_back(' ');
        out += name + "=\"" + text + "\"";
        RenderLimits::checkBytes(out.size());
    }
    if (bound[0].isTruthy() && !out.empty()) return Value(" " + out);
    return Value(std::move(out));
}

// ---- filesizeformat -----------------------------------------------------------------

JINJA_FILTER(filesizeformat) {
    if (args.empty()) return Value(std::string());
    static const Parameter params[] = {{"binary", Value(false)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!args[0].isNumeric()) return Value(std::string());
    const double size = args[0].toDouble();
    if (!std::isfinite(size)) throw JinjaError::runtime("filesizeformat requires a finite size");
    const bool binary = bound[0].isTruthy();
    const double base = binary ? 1024.0 : 1000.0;
    char buffer[400];
    if (size < base) {
        auto result = std::to_chars(buffer, buffer + sizeof buffer, std::trunc(size),
                                    std::chars_format::fixed, 0);
        return Value(std::string(buffer, result.ptr) + " Bytes");
    }
    auto exponent =
        static_cast<int>(std::clamp(std::floor(std::log(size) / std::log(base)), 1.0, 8.0));
    const char unit = (binary ? "KMGTPEZY" : "kMGTPEZY")[exponent - 1];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, size / std::pow(base, exponent),
                                std::chars_format::fixed, 1);
    return Value(std::string(buffer, result.ptr) + " " + unit + (binary ? "iB" : "B"));
}

// ---- tojson ---------------------------------------------------------------------------

std::string escapeNonAscii(std::string_view json) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out;
    out.reserve(json.size());
    auto unit = [&](unsigned u) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4)
            out.push_back(hex[(u >> shift) & 15]);
    };
    for (std::size_t i = 0; i < json.size();) {
        char32_t c = text::decodeNext(json, i);
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x10000) {
            unit(c);
        } else {
            unit(0xD800 + ((c - 0x10000) >> 10));
            unit(0xDC00 + ((c - 0x10000) & 0x3FF));
        }
    }
    return out;
}

JINJA_FILTER(tojson) {
    if (args.empty()) return Value("null");
    static const Parameter params[] = {{"indent", Value()}, {"ensure_ascii", Value(true)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    RenderLimits::checkPrintedSize(args[0], 0);
    Value::JsonOptions options;
    options.sortKeys = true;
    options.escapeSlashes = true;
    options.pretty = bound[0].isInt() && bound[0].asInt() >= 1;
    std::string json;
    try {
        json = args[0].toJson(options);
    } catch (const CodingError&) {
        return Value("null");
    }
    const bool ascii = text::isAscii(json);
    if (!ascii && !text::isValidUtf8(json)) return Value("null");
    if (!ascii && bound[1].isTruthy()) json = escapeNonAscii(json);
    RenderLimits::checkBytes(json.size());
    return Value(std::move(json));
}

// ---- pprint -------------------------------------------------------------------------------

void prettyPrint(std::string& out, const Value& v, std::size_t level) {
    NestingGuard guard;
    RenderLimits::checkBytes(out.size());
    std::string indent(level * 2, ' ');
    if (v.isString()) {
        out += '"';
        out += v.asString();
        out += '"';
    } else if (v.isObject() && !v.asObject().empty()) {
        out += "{\n";
        bool first = true;
        for (const auto& [key, value] : v.asObject()) {
            if (!first) out += ",\n";
            first = false;
            out += indent + "  \"" + key.stringValue() + "\": ";
            prettyPrint(out, value, level + 1);
        }
        out += "\n" + indent + "}";
    } else if (v.isArray() && !v.asArray().empty()) {
        out += "[\n";
        bool first = true;
        for (const Value& element : v.asArray()) {
            if (!first) out += ",\n";
            first = false;
            out += indent + "  ";
            prettyPrint(out, element, level + 1);
        }
        out += "\n" + indent + "]";
    } else if (v.isObject()) {
        out += "{}";
    } else if (v.isArray()) {
        out += "[]";
    } else {
        RenderLimits::appendPrinted(out, v);
    }
}

JINJA_FILTER(pprint) {
    if (args.empty()) return Value(std::string());
    bindNothing(args, kwargs);
    RenderLimits::checkValueSize(args[0]);
    std::string out;
    prettyPrint(out, args[0], 0);
    RenderLimits::checkBytes(out.size());
    return Value(std::move(out));
}

constexpr FilterRow kRows[] = {
    {"wordwrap", wordwrap},
    {"urlize", urlize},
    {"urlencode", urlencode},
    {"xmlattr", xmlattr},
    {"filesizeformat", filesizeformat},
    {"tojson", tojson},
    {"pprint", pprint},
};

} // namespace

std::span<const FilterRow> formattingFilterRows() {
    return kRows;
}

} // namespace jinja::filters
