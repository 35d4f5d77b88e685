#include "tokenizers/Regex.h"

#include "platform/text/Graphemes.h"
#include "platform/text/Utf8.h"
#include "tokenizers/RegexClasses.h"

#define PCRE2_CODE_UNIT_WIDTH 8
#include <algorithm>
#include <cctype>
#include <pcre2.h>
#include <utility>

namespace tokenizers {
namespace text = platform::text;
namespace {

// ICU's line terminators.
constexpr std::string_view kLineTerminators = "\\n\\x0B\\f\\r\\x{85}\\x{2028}\\x{2029}";

pcre2_code* code(void* p) {
    return static_cast<pcre2_code*>(p);
}

bool isHex(char c) {
    return std::isxdigit(static_cast<unsigned char>(c)) != 0;
}

std::string compileMessage(int error) {
    PCRE2_UCHAR buffer[256];
    pcre2_get_error_message(error, buffer, sizeof buffer);
    return reinterpret_cast<const char*>(buffer);
}

struct Compiled {
    pcre2_code* code = nullptr;
    int error = 0;
    std::size_t offset = 0;
};

Compiled compilePcre(const std::string& translated) {
    static pcre2_compile_context* context = [] {
        pcre2_compile_context* c = pcre2_compile_context_create(nullptr);
        // Line-feed newlines: with "any", PCRE2 never starts a match between
        // CR and LF, which ICU does. '.', '$' and \Z get ICU's line
        // terminators through translate() instead.
        pcre2_set_newline(c, PCRE2_NEWLINE_LF);
        return c;
    }();
    Compiled result;
    PCRE2_SIZE offset = 0;
    result.code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(translated.data()), translated.size(),
                                PCRE2_UTF | PCRE2_UCP, &result.error, &offset, context);
    result.offset = offset;
    return result;
}

// Where the search goes on after a match: its end, or one character past an
// empty match; absent after an empty match at the end of the text.
std::optional<std::size_t> resumeAfter(std::string_view text, const Regex::Match& m) {
    if (m.end > m.begin) return m.end;
    if (m.begin >= text.size()) return std::nullopt;
    return text::nextGraphemeBoundary(text, m.begin);
}

} // namespace

std::string Regex::translate(std::string_view p) {
    std::string out;
    out.reserve(p.size() + 16);
    int classDepth = 0;
    // With the dot-all flag '.' already matches everything.
    const bool dotAll = p.find("(?s") != std::string_view::npos;
    const std::string endOfInput = "(?=(?:\\r\\n|[" + std::string(kLineTerminators) + "])?\\z)";
    for (std::size_t i = 0; i < p.size(); ++i) {
        const char c = p[i];
        if (c == '\\' && i + 1 < p.size()) {
            const char e = p[i + 1];
            if (e == 'Q') { // quoted run: copy through \E unchanged
                const std::size_t end = p.find("\\E", i + 2);
                const std::size_t stop = end == std::string_view::npos ? p.size() : end + 2;
                out.append(p.substr(i, stop - i));
                i = stop - 1;
                continue;
            }
            if ((e == 'u' && i + 6 <= p.size() &&
                 std::all_of(p.begin() + i + 2, p.begin() + i + 6, isHex)) ||
                (e == 'U' && i + 10 <= p.size() &&
                 std::all_of(p.begin() + i + 2, p.begin() + i + 10, isHex))) {
                const std::size_t digits = e == 'u' ? 4 : 8;
                out += "\\x{";
                out.append(p.substr(i + 2, digits));
                out += '}';
                i += 1 + digits;
                continue;
            }
            // Classes: as ICU's tables define them (see RegexClasses.h).
            const detail::ClassForms* forms = nullptr;
            bool complement = false;
            std::size_t consumed = 2; // the escape's length in the pattern
            if (e == 'p' || e == 'P') {
                complement = e == 'P';
                std::string_view name;
                if (i + 2 < p.size() && p[i + 2] == '{') {
                    const std::size_t close = p.find('}', i + 3);
                    if (close != std::string_view::npos) {
                        name = p.substr(i + 3, close - i - 3);
                        consumed = close + 1 - i;
                    }
                } else if (i + 2 < p.size()) {
                    name = p.substr(i + 2, 1);
                    consumed = 3;
                }
                if (!name.empty() && name.front() == '^') {
                    complement = !complement;
                    name.remove_prefix(1);
                }
                if (!name.empty()) forms = detail::propertyClass(name);
            } else if (e == 'd' || e == 'D') {
                forms = detail::propertyClass("Nd");
                complement = e == 'D';
            } else if (e == 's' || e == 'S') {
                forms = detail::propertyClass("White_Space");
                complement = e == 'S';
            } else if (e == 'w' || e == 'W') {
                forms = &detail::wordClass();
                complement = e == 'W';
            }
            if (forms) {
                if (classDepth > 0)
                    out += complement ? forms->notMatchingItems : forms->matchingItems;
                else
                    out += complement ? forms->notMatching : forms->matching;
                i += consumed - 1;
                continue;
            }
            if (e == 'Z' && classDepth == 0) {
                out += endOfInput;
            } else {
                out += c;
                out += e;
            }
            ++i;
            continue;
        }
        if (c == '[') {
            ++classDepth;
        } else if (c == ']' && classDepth > 0) {
            --classDepth;
        } else if (classDepth == 0 && c == '.' && !dotAll) {
            out += "[^" + std::string(kLineTerminators) + "]";
            continue;
        } else if (classDepth == 0 && c == '$') {
            out += endOfInput;
            continue;
        }
        out += c;
    }
    return out;
}

std::string Regex::escape(std::string_view literal) {
    std::string out;
    out.reserve(literal.size() * 2);
    for (char c : literal) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x80 && !std::isalnum(u) && u != '_') out += '\\';
        out += c;
    }
    return out;
}

Regex::Regex(std::string_view icuPattern) : pattern_(icuPattern) {
    const Compiled compiled = compilePcre(translate(icuPattern));
    if (!compiled.code) {
        throw RegexError("cannot compile regular expression \"" + pattern_ +
                         "\": " + compileMessage(compiled.error));
    }
    code_ = compiled.code;
    jit_ = pcre2_jit_compile(code(code_), PCRE2_JIT_COMPLETE) == 0;
}

Regex::~Regex() {
    if (code_) pcre2_code_free(code(code_));
}

Regex::Regex(Regex&& other) noexcept
    : pattern_(std::move(other.pattern_)), code_(std::exchange(other.code_, nullptr)),
      jit_(other.jit_) {}

Regex& Regex::operator=(Regex&& other) noexcept {
    if (this != &other) {
        if (code_) pcre2_code_free(code(code_));
        pattern_ = std::move(other.pattern_);
        code_ = std::exchange(other.code_, nullptr);
        jit_ = other.jit_;
    }
    return *this;
}

std::optional<Regex> Regex::compile(std::string_view icuPattern) {
    try {
        return Regex(icuPattern);
    } catch (const RegexError&) {
        return std::nullopt;
    }
}

bool Regex::matchesEmpty() const {
    Scanner scanner(*this, std::string_view());
    return scanner.find(0).has_value();
}

std::size_t Regex::captureCount() const {
    uint32_t count = 0;
    pcre2_pattern_info(code(code_), PCRE2_INFO_CAPTURECOUNT, &count);
    return count;
}

Regex::Scanner::Scanner(const Regex& regex, std::string_view text) : regex_(regex), text_(text) {
    if (!text::isValidUtf8(text))
        throw RegexError("text searched by a regular expression is not valid UTF-8");
    matchData_ = pcre2_match_data_create_from_pattern(code(regex.code_), nullptr);
    if (!matchData_) throw std::bad_alloc();
}

Regex::Scanner::~Scanner() {
    pcre2_match_data_free(static_cast<pcre2_match_data*>(matchData_));
}

std::optional<Regex::Match> Regex::Scanner::find(std::size_t from) {
    if (from > text_.size()) return std::nullopt;
    auto* data = static_cast<pcre2_match_data*>(matchData_);
    // An empty view may have a null data pointer; PCRE2 wants a real address.
    const auto* subject = reinterpret_cast<PCRE2_SPTR>(text_.data() ? text_.data() : "");
    const int rc = regex_.jit_ ? pcre2_jit_match(code(regex_.code_), subject, text_.size(), from, 0,
                                                 data, nullptr)
                               : pcre2_match(code(regex_.code_), subject, text_.size(), from,
                                             PCRE2_NO_UTF_CHECK, data, nullptr);
    if (rc == PCRE2_ERROR_NOMATCH) return std::nullopt;
    if (rc < 0) throw RegexError("regular expression search failed: " + compileMessage(rc));
    const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
    Match m;
    m.begin = ovector[0];
    m.end = std::max(ovector[1], ovector[0]);
    m.groupBegin = m.begin;
    m.groupEnd = m.end;
    const uint32_t pairs = pcre2_get_ovector_count(data);
    for (uint32_t g = std::min<uint32_t>(pairs, static_cast<uint32_t>(rc)); g-- > 1;) {
        if (ovector[2 * g] != PCRE2_UNSET) {
            m.groupBegin = ovector[2 * g];
            m.groupEnd = ovector[2 * g + 1];
            break;
        }
    }
    return m;
}

std::vector<Regex::Match> Regex::allMatches(std::string_view text) const {
    std::vector<Match> matches;
    Scanner scanner(*this, text);
    std::size_t pos = 0;
    while (auto m = scanner.find(pos)) {
        matches.push_back(*m);
        const auto next = resumeAfter(text, *m);
        if (!next) break;
        pos = *next;
    }
    return matches;
}

std::string Regex::replaceAll(std::string_view text, std::string_view replacement) const {
    Scanner scanner(*this, text);
    auto* data = static_cast<pcre2_match_data*>(scanner.matchData_);
    const std::size_t groups = captureCount();
    std::string out;
    std::size_t copied = 0, pos = 0;
    while (auto m = scanner.find(pos)) {
        out.append(text.substr(copied, m->begin - copied));
        const PCRE2_SIZE* ovector = pcre2_get_ovector_pointer(data);
        for (std::size_t i = 0; i < replacement.size(); ++i) {
            const char c = replacement[i];
            if (c == '\\' && i + 1 < replacement.size()) {
                out += replacement[++i];
            } else if (c == '$' && i + 1 < replacement.size() &&
                       std::isdigit(static_cast<unsigned char>(replacement[i + 1]))) {
                std::size_t group = static_cast<std::size_t>(replacement[++i] - '0');
                while (i + 1 < replacement.size() &&
                       std::isdigit(static_cast<unsigned char>(replacement[i + 1]))) {
                    const std::size_t longer =
                        group * 10 + static_cast<std::size_t>(replacement[i + 1] - '0');
                    if (longer > groups) break;
                    group = longer;
                    ++i;
                }
                if (group <= groups && ovector[2 * group] != PCRE2_UNSET)
                    out.append(text.substr(ovector[2 * group],
                                           ovector[2 * group + 1] - ovector[2 * group]));
            } else {
                out += c;
            }
        }
        const auto next = resumeAfter(text, *m);
        if (!next) {
            copied = m->end;
            break;
        }
        // After an empty match the skipped character is kept as it is.
        out.append(text.substr(m->end, *next - m->end));
        copied = pos = *next;
    }
    out.append(text.substr(std::min(copied, text.size())));
    return out;
}

} // namespace tokenizers
