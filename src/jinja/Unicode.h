#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// The template engine's string identity: two texts are equal when they are
// canonically equivalent, and order by the code points of their composed
// forms. Pure ASCII text never reaches the normalization tables.
namespace jinja::unicode {

// Canonical composed form (NFC); ill-formed bytes are kept.
std::string toNFC(std::string_view text);
bool canonicallyEqual(std::string_view a, std::string_view b);
// -1, 0 or 1 by the code point order of the canonical composed forms.
int compareCanonical(std::string_view a, std::string_view b);
// A hash that is equal for canonically equivalent texts.
std::size_t canonicalHash(std::string_view text) noexcept;

} // namespace jinja::unicode
