#pragma once
// Regular expressions written in the ICU dialect the tokenizer documents use,
// run by PCRE2 (UTF, UCP, JIT). Patterns are translated where the dialects
// differ: \uhhhh and \Uhhhhhhhh escapes, \s / \S as the full Unicode
// White_Space set, \w / \W as ICU defines them, and any Unicode line
// terminator for '.', '^' and '$'.
//
// A compiled Regex is immutable and may be shared between threads; each
// search keeps its own match state in a Scanner.

#include <cstddef>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace tokenizers {

class RegexError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

class Regex {
public:
    /// Compiles an ICU-dialect pattern; throws RegexError when it does not compile.
    explicit Regex(std::string_view icuPattern);
    ~Regex();
    Regex(Regex&&) noexcept;
    Regex& operator=(Regex&&) noexcept;

    /// Compiles, or gives absent when the pattern does not compile.
    static std::optional<Regex> compile(std::string_view icuPattern);

    /// A pattern that matches `literal` exactly (every character escaped).
    static std::string escape(std::string_view literal);
    /// The PCRE2 form of an ICU-dialect pattern.
    static std::string translate(std::string_view icuPattern);

    const std::string& pattern() const { return pattern_; }
    /// Whether the pattern matches the empty text.
    bool matchesEmpty() const;
    std::size_t captureCount() const;

    struct Match {
        std::size_t begin = 0;
        std::size_t end = 0;
        /// The highest-numbered capture group that took part, as [begin, end),
        /// or the whole match when none did.
        std::size_t groupBegin = 0;
        std::size_t groupEnd = 0;
    };

    /// Iterates the matches of one regex over one text. The text must be
    /// well-formed UTF-8 (checked once at construction; throws RegexError).
    class Scanner {
    public:
        Scanner(const Regex& regex, std::string_view text);
        ~Scanner();
        Scanner(const Scanner&) = delete;
        Scanner& operator=(const Scanner&) = delete;

        /// The first match starting at or after byte `from`, if any.
        std::optional<Match> find(std::size_t from);

    private:
        friend class Regex;
        const Regex& regex_;
        std::string_view text_;
        void* matchData_;
    };

    /// All successive non-overlapping matches; an empty match moves the
    /// search one character (grapheme cluster) further.
    std::vector<Match> allMatches(std::string_view text) const;

    /// Every match replaced by `replacementTemplate`, in which "$n" stands
    /// for capture group n (as many digits as name an existing group) and a
    /// backslash makes the next character literal.
    std::string replaceAll(std::string_view text, std::string_view replacementTemplate) const;

private:
    friend class Scanner;
    std::string pattern_;
    void* code_ = nullptr;
    bool jit_ = false;
};

} // namespace tokenizers
