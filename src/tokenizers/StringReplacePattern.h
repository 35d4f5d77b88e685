#pragma once
// A replacement rule read from a "Replace" normalizer or decoder: a plain
// text or a regular expression (with a "$1"-style template) and the text put
// in its place.

#include "hub/Config.h"
#include "tokenizers/Regex.h"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace tokenizers {

class StringReplacePattern {
public:
    static StringReplacePattern string(std::string pattern, std::string replacement);
    static StringReplacePattern regexp(std::shared_ptr<const Regex> regexp,
                                       std::string replacement);

    /// "content" (the replacement) and "pattern" → "String" or "Regex"; absent
    /// when either is missing. A "Regex" that does not compile throws
    /// ConfigurationError("Cannot build regexp from <expression>").
    static std::optional<StringReplacePattern> from(const hub::Config& config);

    /// Every occurrence (left to right, non-overlapping) or every match replaced.
    std::string apply(std::string_view text) const;

    bool isRegexp() const { return regexp_ != nullptr; }

private:
    std::string pattern_;
    std::shared_ptr<const Regex> regexp_;
    std::string replacement_;
};

} // namespace tokenizers
