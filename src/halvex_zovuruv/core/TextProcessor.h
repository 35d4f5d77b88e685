#pragma once
// AI clean-up and translation of a dictated text. Both operations block and
// run off the main thread; they throw ProcessorError (or a transport error)
// when no text comes back.

#include <string>

namespace halvex {

class TextProcessor {
public:
    virtual ~TextProcessor() = default;

    /// The text with orthography, punctuation and filler words fixed.
    virtual std::string process(const std::string& text) = 0;

    /// The text translated into `language` (its English name, as it is to
    /// appear in the prompt, e.g. "English" or "Simplified Chinese").
    virtual std::string translate(const std::string& text, const std::string& language) = 0;
};

} // namespace halvex
