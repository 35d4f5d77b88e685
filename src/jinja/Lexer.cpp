#include "jinja/Lexer.h"

#include "jinja/CharacterText.h"
#include "jinja/JinjaError.h"
#include "platform/text/UnicodeProperties.h"

#include <string>
#include <unordered_map>

namespace jinja {

namespace {

using Kind = Token::Kind;

const std::unordered_map<std::string_view, Kind>& keywords() {
    static const std::unordered_map<std::string_view, Kind> table = {
        {"if", Kind::if_},
        {"else", Kind::else_},
        {"elif", Kind::elif},
        {"endif", Kind::endif},
        {"for", Kind::for_},
        {"endfor", Kind::endfor},
        {"in", Kind::in},
        {"not", Kind::not_},
        {"and", Kind::and_},
        {"or", Kind::or_},
        {"set", Kind::set},
        {"endset", Kind::endset},
        {"macro", Kind::macro},
        {"endmacro", Kind::endmacro},
        {"true", Kind::boolean},
        {"false", Kind::boolean},
        {"null", Kind::null},
        {"none", Kind::null},
        {"break", Kind::break_},
        {"is", Kind::is},
        {"continue", Kind::continue_},
        {"call", Kind::call},
        {"endcall", Kind::endcall},
        {"filter", Kind::filter},
        {"endfilter", Kind::endfilter},
        {"generation", Kind::generation},
        {"endgeneration", Kind::endgeneration},
        {"True", Kind::boolean},
        {"False", Kind::boolean},
        {"None", Kind::null},
    };
    return table;
}

// The operator spelled by one or two ASCII characters (second may be 0), and how many it takes.
std::pair<Kind, std::size_t> lookupOperator(char c, char next) noexcept {
    switch (c) {
    case '+':
        return {Kind::plus, 1};
    case '-':
        return {Kind::minus, 1};
    case '*':
        return next == '*' ? std::pair{Kind::power, std::size_t{2}}
                           : std::pair{Kind::multiply, std::size_t{1}};
    case '/':
        return next == '/' ? std::pair{Kind::floorDivide, std::size_t{2}}
                           : std::pair{Kind::divide, std::size_t{1}};
    case '%':
        return {Kind::modulo, 1};
    case '~':
        return {Kind::concat, 1};
    case '=':
        return next == '=' ? std::pair{Kind::equal, std::size_t{2}}
                           : std::pair{Kind::equals, std::size_t{1}};
    case '!':
        return next == '=' ? std::pair{Kind::notEqual, std::size_t{2}}
                           : std::pair{Kind::eof, std::size_t{0}};
    case '<':
        return next == '=' ? std::pair{Kind::lessEqual, std::size_t{2}}
                           : std::pair{Kind::less, std::size_t{1}};
    case '>':
        return next == '=' ? std::pair{Kind::greaterEqual, std::size_t{2}}
                           : std::pair{Kind::greater, std::size_t{1}};
    case '|':
        return {Kind::pipe, 1};
    default:
        return {Kind::eof, 0};
    }
}

std::string positionText(std::size_t position) {
    return std::to_string(position);
}

std::size_t skipWhiteSpace(const CharacterText& chars, std::size_t i) {
    while (chars.isWhiteSpace(i))
        ++i;
    return i;
}

// The whitespace-control rewrites below work on whole characters and replace
// matches from left to right without overlap, as a regular-expression
// replace-all would; each finds the literal marker and looks around it.

// "-%}\s*" -> "%}" and "-}}\s*" -> "}}".
std::string removeAfterClose(const std::string& text, std::string_view marker,
                             std::string_view replacement) {
    if (text.find(marker) == std::string::npos) return text;
    CharacterText chars(text);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t m = chars.find(marker, 0); m != std::string::npos;
         m = chars.find(marker, copied)) {
        out += chars.slice(copied, m);
        out += replacement;
        copied = skipWhiteSpace(chars, m + marker.size());
    }
    out += chars.slice(copied, chars.size());
    return out;
}

// The rewrites of an opening tag with a "-" marker ("{%-" or "{{-"), `open`
// being "{%" or "{{".
std::string removeBeforeOpen(std::string text, std::string_view open) {
    const std::string marker = std::string(open) + "-";
    if (text.find(marker) == std::string::npos) return text;

    // "\{\s+\{%-" -> "{ {%": keeps a brace before the tag from pairing with it.
    {
        CharacterText chars(text);
        std::string out;
        std::size_t copied = 0;
        for (std::size_t m = chars.find(marker, 0); m != std::string::npos;) {
            std::size_t w = m;
            while (w > copied && chars.isWhiteSpace(w - 1))
                --w;
            if (w < m && w > copied && chars.ascii(w - 1) == '{') {
                out += chars.slice(copied, w - 1);
                out += "{ ";
                out += open;
                copied = m + marker.size();
                m = chars.find(marker, copied);
            } else {
                m = chars.find(marker, m + 1);
            }
        }
        if (copied > 0) {
            out += chars.slice(copied, chars.size());
            text = std::move(out);
        }
    }

    // "^\s*\{%-" -> "{%": whitespace at the very start goes entirely. This runs
    // before the general rule below, which would otherwise keep the first
    // whitespace character of the text as the character in front of the tag.
    {
        CharacterText chars(text);
        std::size_t j = skipWhiteSpace(chars, 0);
        if (chars.matches(j, marker))
            text = std::string(open) + std::string(text.substr(chars.begin(j + marker.size())));
    }

    // "([^\{])\s*\{%-" -> "$1{%": the whitespace before the tag and the marker
    // go; the character in front of them stays.
    CharacterText chars(text);
    std::string out;
    out.reserve(text.size());
    std::size_t copied = 0;
    for (std::size_t m = chars.find(marker, 0); m != std::string::npos;) {
        std::size_t w = m;
        while (w > copied && chars.isWhiteSpace(w - 1))
            --w;
        // The match starts at the character before the whitespace unless that
        // is a brace (or already taken); then at the first whitespace character.
        std::size_t kept;
        if (w > copied && chars.ascii(w - 1) != '{')
            kept = w - 1;
        else if (w < m)
            kept = w;
        else {
            m = chars.find(marker, m + 1);
            continue;
        }
        out += chars.slice(copied, kept + 1);
        out += open;
        copied = m + marker.size();
        m = chars.find(marker, copied);
    }
    out += chars.slice(copied, chars.size());
    return out;
}

class Scanner {
public:
    explicit Scanner(std::string_view text) : chars_(text) {}

    std::vector<Token> run() {
        std::vector<Token> tokens;
        const std::size_t n = chars_.size();
        tokens.reserve(n / 4);
        std::size_t i = 0;
        while (i < n) {
            if (inTag_) {
                i = skipWhiteSpace(chars_, i);
                if (i >= n) break;
            }
            Token token = extractToken(i);
            switch (token.kind) {
            case Kind::openExpression:
            case Kind::openStatement:
                inTag_ = true;
                depth_ = 0;
                break;
            case Kind::closeExpression:
            case Kind::closeStatement:
                inTag_ = false;
                break;
            case Kind::openBrace:
                ++depth_;
                break;
            case Kind::closeBrace:
                --depth_;
                break;
            default:
                break;
            }
            if (token.kind == Kind::text && token.value.empty()) continue;
            tokens.push_back(std::move(token));
        }
        tokens.emplace_back(Kind::eof, std::string_view(), static_cast<std::int64_t>(n));
        return tokens;
    }

private:
    Token make(Kind kind, std::size_t start, std::size_t end, std::size_t& i) {
        i = end;
        return Token(kind, chars_.slice(start, end), static_cast<std::int64_t>(start));
    }

    Token extractToken(std::size_t& i) {
        const std::size_t p = i;
        const char c = chars_.ascii(p);
        const char next = chars_.ascii(p + 1);
        if (c == '{' && p + 1 < chars_.size()) {
            if (next == '{') return make(Kind::openExpression, p, p + 2, i);
            if (next == '%') return make(Kind::openStatement, p, p + 2, i);
            if (next == '#') return extractComment(i);
        }
        if (!inTag_) return extractText(i);
        if (c == '}' && next == '}' && depth_ == 0) return make(Kind::closeExpression, p, p + 2, i);
        if (c == '%' && next == '}') return make(Kind::closeStatement, p, p + 2, i);
        switch (c) {
        case '(':
            return make(Kind::openParen, p, p + 1, i);
        case ')':
            return make(Kind::closeParen, p, p + 1, i);
        case '[':
            return make(Kind::openBracket, p, p + 1, i);
        case ']':
            return make(Kind::closeBracket, p, p + 1, i);
        case '{':
            return make(Kind::openBrace, p, p + 1, i);
        case '}':
            return make(Kind::closeBrace, p, p + 1, i);
        case ',':
            return make(Kind::comma, p, p + 1, i);
        case '.':
            return make(Kind::dot, p, p + 1, i);
        case ':':
            return make(Kind::colon, p, p + 1, i);
        case '|':
            return make(Kind::pipe, p, p + 1, i);
        default:
            break;
        }
        if (auto [kind, length] = lookupOperator(c, next); length > 0)
            return make(kind, p, p + length, i);
        if (c == '\'' || c == '"') return extractString(i, c);
        char32_t first = chars_.first(p);
        if (platform::text::isNumeric(first)) return extractNumber(i);
        if (platform::text::isAlphabetic(first) || c == '_') return extractIdentifier(i);
        throw JinjaError::lexer("Unexpected character '" + std::string(chars_.at(p)) +
                                "' at position " + positionText(p));
    }

    Token extractText(std::size_t& i) {
        const std::size_t start = i;
        const std::size_t n = chars_.size();
        std::size_t j = start;
        while (j < n) {
            if (chars_.ascii(j) == '{') {
                char after = chars_.ascii(j + 1);
                if (after == '{' || after == '%' || after == '#') break;
            }
            ++j;
        }
        return make(Kind::text, start, j, i);
    }

    Token extractComment(std::size_t& i) {
        const std::size_t start = i;
        const std::size_t n = chars_.size();
        for (std::size_t j = start + 2; j + 1 < n; ++j) {
            if (chars_.ascii(j) == '#' && chars_.ascii(j + 1) == '}') {
                i = j + 2;
                return Token(Kind::comment, chars_.slice(start + 2, j),
                             static_cast<std::int64_t>(start));
            }
        }
        throw JinjaError::lexer("Unclosed comment at position " + positionText(start));
    }

    Token extractString(std::size_t& i, char quote) {
        const std::size_t start = i;
        const std::size_t n = chars_.size();
        std::string content;
        std::size_t j = start + 1;
        while (j < n) {
            char c = chars_.ascii(j);
            if (c == quote) {
                i = j + 1;
                return Token(Kind::string, content, static_cast<std::int64_t>(start));
            }
            if (c == '\\') {
                if (j + 1 >= n) break;
                switch (chars_.ascii(j + 1)) {
                case 'n':
                    content += '\n';
                    break;
                case 't':
                    content += '\t';
                    break;
                case 'r':
                    content += '\r';
                    break;
                case 'b':
                    content += '\b';
                    break;
                case 'f':
                    content += '\f';
                    break;
                case 'v':
                    content += '\v';
                    break;
                default:
                    content += chars_.at(j + 1);
                    break;
                }
                j += 2;
                continue;
            }
            content += chars_.at(j);
            ++j;
        }
        throw JinjaError::lexer("Unclosed string at position " + positionText(start));
    }

    Token extractNumber(std::size_t& i) {
        const std::size_t start = i;
        const std::size_t n = chars_.size();
        std::size_t j = start;
        bool sawPoint = false;
        while (j < n) {
            if (chars_.ascii(j) == '.') {
                if (sawPoint) break;
                sawPoint = true;
            } else if (!platform::text::isNumeric(chars_.first(j))) {
                break;
            }
            ++j;
        }
        return make(Kind::number, start, j, i);
    }

    Token extractIdentifier(std::size_t& i) {
        const std::size_t start = i;
        const std::size_t n = chars_.size();
        std::size_t j = start;
        while (j < n) {
            char32_t c = chars_.first(j);
            if (!(c == '_' || platform::text::isAlphabetic(c) || platform::text::isNumeric(c)))
                break;
            ++j;
        }
        std::string_view word = chars_.slice(start, j);
        const auto& table = keywords();
        auto found = table.find(word);
        return make(found == table.end() ? Kind::identifier : found->second, start, j, i);
    }

    CharacterText chars_;
    bool inTag_ = false;
    long depth_ = 0;
};

} // namespace

std::string Lexer::preprocess(std::string_view text) {
    std::string out = removeAfterClose(std::string(text), "-%}", "%}");
    out = removeAfterClose(out, "-}}", "}}");
    out = removeBeforeOpen(std::move(out), "{%");
    return removeBeforeOpen(std::move(out), "{{");
}

std::vector<Token> Lexer::tokenize(std::string_view text) {
    std::string rewritten = preprocess(text);
    return Scanner(rewritten).run();
}

} // namespace jinja
