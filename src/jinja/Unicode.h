#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

// Text services over UTF-8 strings. A "character" is a user-perceived
// character (an extended grapheme cluster); string equality is Unicode
// canonical equivalence. Pure ASCII text takes fast paths that never reach
// ICU (except that a carriage return and a line feed form one character).
namespace jinja::unicode {

bool isAscii(std::string_view text) noexcept;

// Canonical composed form (NFC). Invalid UTF-8 becomes U+FFFD.
std::string toNFC(std::string_view text);
bool canonicallyEqual(std::string_view a, std::string_view b);
// -1, 0 or 1 by the code point order of the canonical composed forms.
int compareCanonical(std::string_view a, std::string_view b);
// A hash that is equal for canonically equivalent texts.
std::size_t canonicalHash(std::string_view text) noexcept;

// Decodes the code point at byte offset and advances the offset past it;
// malformed bytes decode as U+FFFD, one byte at a time.
char32_t decodeNext(std::string_view text, std::size_t& offset) noexcept;
void appendUtf8(std::string& out, char32_t codePoint);

bool isWhiteSpace(char32_t codePoint) noexcept; // White_Space property
bool isAlphabetic(char32_t codePoint) noexcept; // Alphabetic property
bool isNumeric(char32_t codePoint) noexcept;    // has a numeric type

// Walks the characters of one text. Reuses one break iterator per thread.
class CharacterIterator {
public:
    explicit CharacterIterator(std::string_view text);
    ~CharacterIterator();
    CharacterIterator(const CharacterIterator&) = delete;
    CharacterIterator& operator=(const CharacterIterator&) = delete;

    // Byte offset where the character that starts at `offset` ends.
    std::size_t next(std::size_t offset);

private:
    struct Icu;
    std::string_view text_;
    std::unique_ptr<Icu> icu_;
};

// Byte offsets of every character start, followed by the text's size.
std::vector<std::size_t> characterBoundaries(std::string_view text);
std::size_t characterCount(std::string_view text);

} // namespace jinja::unicode
