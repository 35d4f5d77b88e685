#include "jinja/PropertyMembers.h"
#include "jinja/filters/FilterRows.h"
#include "jinja/filters/FilterSupport.h"
#include "jinja/filters/UnicodeText.h"

namespace jinja::filters {

std::string escapeHtml(std::string_view s) {
    std::string out;
    out.reserve(s.size());
    for (char c : s) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&#34;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            out.push_back(c);
        }
    }
    RenderLimits::checkBytes(out.size());
    return out;
}

namespace {

bool hasString(const Array& args) {
    return !args.empty() && args[0].isString();
}

std::size_t clampCount(std::int64_t n) {
    return n <= 0 ? 0 : static_cast<std::size_t>(n);
}

JINJA_FILTER(upper) {
    if (!hasString(args)) throw JinjaError::runtime("upper filter requires string");
    bindNothing(args, kwargs);
    return Value(text::toUpper(args[0].asString()));
}

JINJA_FILTER(lower) {
    if (!hasString(args)) throw JinjaError::runtime("lower filter requires string");
    bindNothing(args, kwargs);
    return Value(text::toLower(args[0].asString()));
}

JINJA_FILTER(capitalize) {
    if (!hasString(args)) return Value(std::string());
    bindNothing(args, kwargs);
    return Value(text::capitalize(args[0].asString()));
}

JINJA_FILTER(title) {
    if (!hasString(args)) return Value(std::string());
    bindNothing(args, kwargs);
    return Value(text::toTitle(args[0].asString()));
}

JINJA_FILTER(center) {
    if (args.empty()) return Value(std::string());
    if (!args[0].isString()) return args[0];
    static const Parameter params[] = {{"width", std::nullopt}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isInt()) throw JinjaError::runtime("center filter requires width parameter");
    const std::string& s = args[0].asString();
    __int128 missing = __int128(bound[0].asInt()) - static_cast<__int128>(text::graphemeCount(s));
    if (missing < 1) return args[0];
    if (missing > __int128(RenderLimits::current().maxBytes))
        RenderLimits::checkBytes(std::size_t(-1));
    auto d = static_cast<std::size_t>(missing);
    RenderLimits::checkAppend(s.size(), d);
    return Value(std::string(d / 2, ' ') + s + std::string(d - d / 2, ' '));
}

JINJA_FILTER(wordcount) {
    if (!hasString(args)) return Value(0);
    bindNothing(args, kwargs);
    return Value(static_cast<std::int64_t>(
        text::splitScalars(args[0].asString(), text::isWhiteSpace).size()));
}

JINJA_FILTER(replace) {
    if (args.empty()) return Value(std::string());
    if (!args[0].isString()) return args[0];
    static const Parameter params[] = {
        {"old", std::nullopt}, {"new", std::nullopt}, {"count", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (!bound[0].isString() || !bound[1].isString())
        throw JinjaError::runtime("replace() requires 'old' and 'new' string arguments.");
    std::optional<std::int64_t> limit;
    if (bound[2].isInt()) limit = std::max<std::int64_t>(bound[2].asInt(), 0);
    return Value(PropertyMembers::replaceOccurrences(args[0].asString(), bound[0].asString(),
                                                     bound[1].asString(), limit));
}

JINJA_FILTER(trim) {
    if (!hasString(args)) return Value(std::string());
    const std::string& s = args[0].asString();
    if (args.size() == 1 && kwargs.empty()) {
        // The common form, without a set of characters.
        std::string_view trimmed = text::trimCodePoints(s, text::isWhiteSpace);
        return trimmed.size() == s.size() ? args[0] : Value(std::string(trimmed));
    }
    static const Parameter params[] = {{"chars", Value()}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    if (bound[0].isString() && !bound[0].asString().empty()) {
        std::u32string set;
        const std::string& chars = bound[0].asString();
        for (std::size_t i = 0; i < chars.size();)
            set.push_back(text::decodeNext(chars, i));
        return Value(std::string(text::trimCodePoints(
            s, [&](char32_t c) { return set.find(c) != std::u32string::npos; })));
    }
    return Value(std::string(text::trimCodePoints(s, text::isWhiteSpace)));
}

JINJA_FILTER(forceescape) {
    if (!hasString(args)) return Value(std::string());
    bindNothing(args, kwargs);
    return Value(escapeHtml(args[0].asString()));
}

JINJA_FILTER(escape) {
    bindNothing(args, kwargs);
    return forceescape(args, kwargs, env);
}

JINJA_FILTER(safe) {
    bindNothing(args, kwargs);
    return args.empty() ? Value(std::string()) : args[0];
}

JINJA_FILTER(string) {
    if (args.empty()) return Value(std::string());
    bindNothing(args, kwargs);
    if (args[0].isString()) return args[0];
    return Value(printed(args[0]));
}

JINJA_FILTER(striptags) {
    if (!hasString(args)) return Value(std::string());
    bindNothing(args, kwargs);
    const std::string& s = args[0].asString();
    // Drop every "<" ... ">" run that holds at least one character.
    std::string stripped;
    stripped.reserve(s.size());
    std::size_t i = 0;
    while (i < s.size()) {
        if (s[i] == '<') {
            std::size_t close = s.find('>', i + 1);
            if (close != std::string::npos && close > i + 1) {
                i = close + 1;
                continue;
            }
        }
        stripped.push_back(s[i++]);
    }
    std::string out;
    for (std::string_view word : text::splitScalars(stripped, text::isWhiteSpace)) {
        if (!out.empty()) out.push_back(' ');
        out += word;
    }
    return Value(std::move(out));
}

JINJA_FILTER(format) {
    if (args.empty()) return Value(std::string());
    if (args.size() == 1 || !args[0].isString()) return args[0];
    bindNothing(args, kwargs);
    const std::string& f = args[0].asString();
    std::string out;
    std::size_t next = 1;
    for (std::size_t i = 0; i < f.size(); ++i) {
        char c = f[i];
        if (c != '%' || next >= args.size()) {
            out.push_back(c);
            continue;
        }
        if (i + 1 == f.size()) {
            out.push_back('%');
            break;
        }
        char d = f[++i];
        if (d == 's')
            RenderLimits::appendPrinted(out, args[next++]);
        else {
            out.push_back('%');
            out.push_back(d);
        }
    }
    return Value(std::move(out));
}

JINJA_FILTER(truncate) {
    if (!hasString(args)) return Value(std::string());
    static const Parameter params[] = {{"length", Value(255)},
                                       {"killwords", Value(false)},
                                       {"end", Value("...")},
                                       {"leeway", Value(5)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    std::int64_t length = bound[0].isInt() ? bound[0].asInt() : 255;
    bool killwords = bound[1].isTruthy();
    std::int64_t leeway = bound[3].isInt() ? std::max<std::int64_t>(bound[3].asInt(), 0) : 5;
    static const std::string dots = "...";
    const std::string& end = bound[2].isString() ? bound[2].asString() : dots;
    const std::string& s = args[0].asString();
    std::vector<std::size_t> bounds = text::graphemeBoundaries(s);
    const auto count = static_cast<__int128>(bounds.size() - 1);
    if (__int128(length) + leeway >= count) return args[0];
    // A negative length keeps nothing of the text.
    std::size_t keep = clampCount(length);
    std::string_view prefix = std::string_view(s).substr(0, bounds[keep]);
    if (!killwords) {
        for (std::size_t k = keep; k > 0; --k) {
            std::size_t at = bounds[k - 1];
            std::size_t i = at;
            if (text::isWhiteSpace(text::decodeNext(s, i))) {
                prefix = prefix.substr(0, at);
                break;
            }
        }
    }
    return Value(std::string(prefix) + end);
}

JINJA_FILTER(indent) {
    if (!hasString(args)) return Value(std::string());
    static const Parameter params[] = {
        {"width", Value(4)}, {"first", Value(false)}, {"blank", Value(false)}};
    CallArguments bound = bindAfterOperand(params, args, kwargs);
    std::string indentation;
    if (bound[0].isInt()) {
        // A negative width indents by nothing.
        std::size_t width = clampCount(bound[0].asInt());
        RenderLimits::checkBytes(width);
        indentation.assign(width, ' ');
    } else if (bound[0].isString()) {
        indentation = bound[0].asString();
    } else {
        indentation = "    ";
    }
    bool first = bound[1].isTruthy(), blank = bound[2].isTruthy();
    const std::string& s = args[0].asString();
    std::size_t lines = 1 + static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n'));
    RenderLimits::checkBytes(lines, indentation.size());
    RenderLimits::checkAppend(s.size(), lines * indentation.size());
    std::string out;
    std::size_t start = 0, search = 0, line = 0;
    while (true) {
        // Lines end at line feeds; a carriage return and line feed together are
        // one character and do not end a line.
        std::size_t nl = s.find('\n', search);
        if (nl != std::string::npos && nl > 0 && s[nl - 1] == '\r') {
            search = nl + 1;
            continue;
        }
        std::string_view piece = std::string_view(s).substr(
            start, nl == std::string::npos ? std::string::npos : nl - start);
        if ((line > 0 || first) && (!piece.empty() || blank)) out += indentation;
        out += piece;
        if (nl == std::string::npos) break;
        out.push_back('\n');
        start = search = nl + 1;
        ++line;
    }
    return Value(std::move(out));
}

constexpr FilterRow kRows[] = {
    {"upper", upper},
    {"lower", lower},
    {"capitalize", capitalize},
    {"title", title},
    {"center", center},
    {"wordcount", wordcount},
    {"replace", replace},
    {"trim", trim},
    {"forceescape", forceescape},
    {"escape", escape},
    {"e", escape},
    {"safe", safe},
    {"string", string},
    {"striptags", striptags},
    {"format", format},
    {"truncate", truncate},
    {"indent", indent},
};

} // namespace

std::span<const FilterRow> stringFilterRows() {
    return kRows;
}

} // namespace jinja::filters
