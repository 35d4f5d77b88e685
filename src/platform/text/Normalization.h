#pragma once
// The four Unicode normalization forms of UTF-8 text.

#include <string>
#include <string_view>

namespace platform::text {

enum class NormalizationForm {
    nfc,  ///< canonical decomposition, then canonical composition
    nfd,  ///< canonical decomposition
    nfkc, ///< compatibility decomposition, then canonical composition
    nfkd, ///< compatibility decomposition
};

/// `text` in the normalization `form`. ASCII text is its own normal form in
/// all four, and text below U+0300 its own NFC: both come back without
/// reaching the Unicode tables. Ill-formed sequences are copied unchanged.
std::string normalize(std::string_view text, NormalizationForm form);

} // namespace platform::text
