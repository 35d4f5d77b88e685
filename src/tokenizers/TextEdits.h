#pragma once
// Small text edits several tokenizer stages share.

#include "hub/Config.h"

#include <optional>
#include <string>
#include <string_view>

namespace tokenizers {

/// Every occurrence of `target` (left to right, non-overlapping) replaced;
/// an empty target leaves the text unchanged.
std::string replaceAll(std::string_view text, std::string_view target,
                       std::string_view replacement);

/// `text` without its leading (when `left`) and trailing (when `right`)
/// characters whose first code point satisfies `isStripped`.
std::string stripCharacters(std::string_view text, bool left, bool right,
                            bool (*isStripped)(char32_t));

/// A CJK ideograph of the blocks the Bert stages set apart: U+4E00-U+9FFF,
/// U+3400-U+4DBF, U+20000-U+2A6DF, U+2A700-U+2CEAF, U+F900-U+FAFF and
/// U+2F800-U+2FA1F.
inline bool isChineseCharacter(char32_t cp) {
    return (cp >= 0x4E00 && cp <= 0x9FFF) || (cp >= 0x3400 && cp <= 0x4DBF) ||
           (cp >= 0x20000 && cp <= 0x2A6DF) || (cp >= 0x2A700 && cp <= 0x2CEAF) ||
           (cp >= 0xF900 && cp <= 0xFAFF) || (cp >= 0x2F800 && cp <= 0x2FA1F);
}

/// Every such ideograph with a blank on each side, looked at by grapheme
/// cluster (a cluster counts by its first code point).
std::string spacedIdeographs(std::string_view text);

/// A tokenizer-class name with every "Fast" removed.
std::string withoutFast(std::string name);

/// A configured special token: a text, or an object whose "content" is a text.
std::optional<std::string> configuredTokenText(const hub::Config& value);

} // namespace tokenizers
