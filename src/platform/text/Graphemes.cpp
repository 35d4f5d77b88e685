#include "platform/text/Graphemes.h"

#include "platform/text/IcuText.h"
#include "platform/text/Utf8.h"

#include <memory>
#include <unicode/brkiter.h>
#include <unicode/utext.h>

namespace platform::text {

namespace {

// True when every character of `text` is a single code point.
bool isOneCodePointPerCharacter(std::string_view text) noexcept {
    return isBelowCombiningMarks(text) && text.find("\r\n") == std::string_view::npos;
}

struct UTextCloser {
    void operator()(UText* t) const { utext_close(t); }
};

// Walks the characters of one text with the thread's character break
// iterator, which is detached from the text again when the walk ends.
class BreakWalk {
public:
    explicit BreakWalk(std::string_view text) : iterator_(threadIterator()) {
        detail::icuLength(text); // boundaries are 32-bit offsets
        UErrorCode status = U_ZERO_ERROR;
        text_.reset(
            utext_openUTF8(nullptr, text.data(), static_cast<int64_t>(text.size()), &status));
        detail::checkIcu(status, "cannot open text for character breaks");
        iterator_.setText(text_.get(), status);
        detail::checkIcu(status, "cannot find character breaks");
    }
    ~BreakWalk() { iterator_.setText(icu::UnicodeString()); }
    BreakWalk(const BreakWalk&) = delete;
    BreakWalk& operator=(const BreakWalk&) = delete;

    icu::BreakIterator& iterator() { return iterator_; }

private:
    static icu::BreakIterator& threadIterator() {
        thread_local std::unique_ptr<icu::BreakIterator> iterator = [] {
            UErrorCode status = U_ZERO_ERROR;
            std::unique_ptr<icu::BreakIterator> created(
                icu::BreakIterator::createCharacterInstance(icu::Locale::getRoot(), status));
            detail::checkIcu(status, "cannot create the character break iterator");
            return created;
        }();
        return *iterator;
    }

    icu::BreakIterator& iterator_;
    std::unique_ptr<UText, UTextCloser> text_;
};

} // namespace

std::vector<std::size_t> graphemeBoundaries(std::string_view text) {
    std::vector<std::size_t> bounds;
    if (isOneCodePointPerCharacter(text)) {
        bounds.reserve(text.size() + 1);
        for (std::size_t i = 0; i < text.size();
             i += static_cast<unsigned char>(text[i]) < 0x80 ? 1 : 2)
            bounds.push_back(i);
        bounds.push_back(text.size());
        return bounds;
    }
    BreakWalk walk(text);
    auto& it = walk.iterator();
    for (int32_t b = it.first(); b != icu::BreakIterator::DONE; b = it.next())
        bounds.push_back(static_cast<std::size_t>(b));
    if (bounds.empty() || bounds.back() != text.size()) bounds.push_back(text.size());
    return bounds;
}

std::size_t graphemeCount(std::string_view text) {
    if (isOneCodePointPerCharacter(text)) return codePointCount(text);
    BreakWalk walk(text);
    auto& it = walk.iterator();
    std::size_t count = 0;
    for (int32_t b = it.next(); b != icu::BreakIterator::DONE; b = it.next())
        ++count;
    return count;
}

std::size_t nextGraphemeBoundary(std::string_view text, std::size_t pos) {
    if (pos >= text.size()) return text.size();
    const auto c = static_cast<unsigned char>(text[pos]);
    // Nothing joins an ASCII character other than CR to a following ASCII byte.
    if (c < 0x80 && c != '\r' &&
        (pos + 1 == text.size() || static_cast<unsigned char>(text[pos + 1]) < 0x80))
        return pos + 1;
    BreakWalk walk(text);
    const int32_t end = walk.iterator().following(static_cast<int32_t>(pos));
    if (end == icu::BreakIterator::DONE || static_cast<std::size_t>(end) <= pos) return text.size();
    return static_cast<std::size_t>(end);
}

} // namespace platform::text
