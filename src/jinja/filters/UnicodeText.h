#pragma once

// Text services of the built-ins: the text layer's services under the names
// the built-ins use, plus the rules that are the template engine's own
// (capitalizing, locale-free ordering, splitting by code point). Every
// function takes and returns UTF-8.

#include "jinja/Unicode.h"
#include "platform/text/CaseMapping.h"
#include "platform/text/Graphemes.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace jinja::text {

// The text layer's services under their own names (text::graphemeBoundaries,
// text::toLower, ...), and the engine's canonical string identity.
using namespace platform::text;
using unicode::canonicallyEqual;
using unicode::toNFC;

// The characters themselves, as views into s.
std::vector<std::string_view> graphemes(std::string_view s);

// First user-perceived character upper-cased, the rest lower-cased.
std::string capitalize(std::string_view s);
// Upper-cases only the first character, keeping the rest unchanged.
std::string upperFirst(std::string_view s);

// Three-way order of two texts by the code points of their composed forms,
// optionally ignoring case (full case folding); independent of any locale.
int compareText(std::string_view a, std::string_view b, bool ignoreCase = false);

// Splits at every scalar for which pred holds, dropping empty pieces.
template <class Pred> std::vector<std::string_view> splitScalars(std::string_view s, Pred pred) {
    std::vector<std::string_view> out;
    std::size_t start = 0, i = 0;
    while (i < s.size()) {
        std::size_t at = i;
        char32_t c = decodeNext(s, i);
        if (pred(c)) {
            if (at > start) out.push_back(s.substr(start, at - start));
            start = i;
        }
    }
    if (s.size() > start) out.push_back(s.substr(start));
    return out;
}

} // namespace jinja::text
