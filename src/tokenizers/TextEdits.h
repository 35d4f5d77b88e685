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

/// A tokenizer-class name with every "Fast" removed.
std::string withoutFast(std::string name);

/// A configured special token: a text, or an object whose "content" is a text.
std::optional<std::string> configuredTokenText(const hub::Config& value);

} // namespace tokenizers
