#include "jinja/Unicode.h"

#include <cstring>
#include <functional>
#include <unicode/brkiter.h>
#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/uchar.h>
#include <unicode/utext.h>
#include <unicode/utf8.h>

namespace jinja::unicode {

namespace {

const icu::Normalizer2* nfc() {
    static const icu::Normalizer2* instance = [] {
        UErrorCode status = U_ZERO_ERROR;
        return icu::Normalizer2::getNFCInstance(status);
    }();
    return instance;
}

bool isAsciiByte(char c) noexcept {
    return static_cast<unsigned char>(c) < 0x80;
}

} // namespace

bool isAscii(std::string_view text) noexcept {
    // Branch-free over blocks so that the compiler can vectorise it.
    unsigned char any = 0;
    std::size_t i = 0;
    for (; i + 64 <= text.size(); i += 64) {
        for (std::size_t k = 0; k < 64; ++k)
            any |= static_cast<unsigned char>(text[i + k]);
        if (any & 0x80) return false;
    }
    for (; i < text.size(); ++i)
        any |= static_cast<unsigned char>(text[i]);
    return (any & 0x80) == 0;
}

std::string toNFC(std::string_view text) {
    if (isAscii(text)) return std::string(text);
    std::string out;
    icu::StringByteSink<std::string> sink(&out, static_cast<int32_t>(text.size()));
    UErrorCode status = U_ZERO_ERROR;
    nfc()->normalizeUTF8(0, icu::StringPiece(text.data(), static_cast<int32_t>(text.size())), sink,
                         nullptr, status);
    if (U_FAILURE(status)) return std::string(text);
    return out;
}

bool canonicallyEqual(std::string_view a, std::string_view b) {
    if (a == b) return true;
    if (isAscii(a) && isAscii(b)) return false;
    return toNFC(a) == toNFC(b);
}

int compareCanonical(std::string_view a, std::string_view b) {
    int order;
    if (isAscii(a) && isAscii(b)) {
        order = a.compare(b);
    } else {
        // UTF-8 byte order is code point order.
        order = toNFC(a).compare(toNFC(b));
    }
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

std::size_t canonicalHash(std::string_view text) noexcept {
    if (isAscii(text)) return std::hash<std::string_view>{}(text);
    try {
        return std::hash<std::string>{}(toNFC(text));
    } catch (...) {
        return 0;
    }
}

char32_t decodeNext(std::string_view text, std::size_t& offset) noexcept {
    if (offset >= text.size()) return U'\uFFFD';
    // A code point takes at most four bytes; decoding within that window keeps
    // ICU's 32-bit indices small whatever the size of the text.
    std::string_view window = text.substr(offset, 4);
    int32_t i = 0;
    UChar32 c;
    U8_NEXT(reinterpret_cast<const uint8_t*>(window.data()), i, static_cast<int32_t>(window.size()),
            c);
    offset += static_cast<std::size_t>(i);
    return c < 0 ? U'\uFFFD' : static_cast<char32_t>(c);
}

void appendUtf8(std::string& out, char32_t codePoint) {
    if (codePoint < 0x80) {
        out.push_back(static_cast<char>(codePoint));
        return;
    }
    uint8_t buffer[4];
    int32_t length = 0;
    UBool error = false;
    U8_APPEND(buffer, length, 4, static_cast<UChar32>(codePoint), error);
    if (error) {
        out += "\xEF\xBF\xBD";
        return;
    }
    out.append(reinterpret_cast<const char*>(buffer), static_cast<std::size_t>(length));
}

bool isWhiteSpace(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return codePoint == ' ' || (codePoint >= 0x09 && codePoint <= 0x0D);
    return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_WHITE_SPACE);
}

bool isAlphabetic(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return (codePoint | 0x20) >= 'a' && (codePoint | 0x20) <= 'z';
    return u_hasBinaryProperty(static_cast<UChar32>(codePoint), UCHAR_ALPHABETIC);
}

bool isNumeric(char32_t codePoint) noexcept {
    if (codePoint < 0x80) return codePoint >= '0' && codePoint <= '9';
    return u_getIntPropertyValue(static_cast<UChar32>(codePoint), UCHAR_NUMERIC_TYPE) != U_NT_NONE;
}

struct CharacterIterator::Icu {
    UText* text = nullptr;

    ~Icu() {
        if (text) utext_close(text);
    }
};

namespace {

// One break iterator per thread, pointed at the text of whichever
// CharacterIterator used it last.
struct ThreadBreaks {
    std::unique_ptr<icu::BreakIterator> breaks;
    const void* owner = nullptr;
};

ThreadBreaks& threadBreaks() {
    thread_local ThreadBreaks instance = [] {
        ThreadBreaks created;
        UErrorCode status = U_ZERO_ERROR;
        created.breaks.reset(
            icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
        if (U_FAILURE(status)) created.breaks.reset();
        return created;
    }();
    return instance;
}

} // namespace

CharacterIterator::CharacterIterator(std::string_view text) : text_(text) {}

CharacterIterator::~CharacterIterator() {
    if (icu_) {
        ThreadBreaks& shared = threadBreaks();
        if (shared.owner == this) shared.owner = nullptr;
    }
}

std::size_t CharacterIterator::next(std::size_t offset) {
    const std::size_t size = text_.size();
    if (offset >= size) return size;
    char c = text_[offset];
    if (isAsciiByte(c)) {
        if (offset + 1 == size) return size;
        char following = text_[offset + 1];
        // CR LF is one character; nothing ever joins a line feed.
        if (c == '\r' && following == '\n') return offset + 2;
        if (isAsciiByte(following)) return offset + 1;
    }
    ThreadBreaks& shared = threadBreaks();
    UErrorCode status = U_ZERO_ERROR;
    if (!icu_) {
        auto icu = std::make_unique<Icu>();
        icu->text = utext_openUTF8(nullptr, text_.data(), static_cast<int64_t>(size), &status);
        if (U_FAILURE(status)) icu.reset();
        icu_ = std::move(icu);
    }
    if (!icu_ || !shared.breaks) {
        // Without ICU fall back to code points.
        std::size_t end = offset;
        decodeNext(text_, end);
        return end;
    }
    if (shared.owner != this) {
        shared.breaks->setText(icu_->text, status);
        shared.owner = this;
    }
    int32_t end = shared.breaks->following(static_cast<int32_t>(offset));
    if (end == icu::BreakIterator::DONE || static_cast<std::size_t>(end) <= offset) return size;
    return static_cast<std::size_t>(end);
}

std::vector<std::size_t> characterBoundaries(std::string_view text) {
    std::vector<std::size_t> starts;
    starts.reserve(text.size() + 1);
    CharacterIterator characters(text);
    for (std::size_t offset = 0; offset < text.size(); offset = characters.next(offset))
        starts.push_back(offset);
    starts.push_back(text.size());
    return starts;
}

std::size_t characterCount(std::string_view text) {
    CharacterIterator characters(text);
    std::size_t count = 0;
    for (std::size_t offset = 0; offset < text.size(); offset = characters.next(offset))
        ++count;
    return count;
}

} // namespace jinja::unicode
