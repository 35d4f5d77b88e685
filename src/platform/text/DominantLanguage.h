#pragma once
// Guesses the dominant language of a text from the scripts its letters are
// written in. It only tells apart the languages whose words are not
// separated by blanks: Japanese (any kana among Han characters), Chinese (Han
// without kana), Thai, Lao and Burmese. A text written mostly in another
// script, or without letters, is undetermined.

#include <optional>
#include <string>
#include <string_view>

namespace platform::text {

/// "ja", "zh", "th", "lo" or "my"; absent when undetermined. `utf8` may hold
/// invalid sequences, which count as no letter.
std::optional<std::string> dominantLanguage(std::string_view utf8);

} // namespace platform::text
