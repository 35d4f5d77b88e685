#include "tokenizers/StringSplitPattern.h"

#include "tokenizers/ConfigurationError.h"

namespace tokenizers {

StringSplitPattern StringSplitPattern::string(std::string pattern) {
    StringSplitPattern p;
    p.pattern_ = std::move(pattern);
    return p;
}

StringSplitPattern StringSplitPattern::regexp(const std::string& expression) {
    auto compiled = Regex::compile(expression);
    if (!compiled) throw ConfigurationError("Cannot build regexp from " + expression);
    StringSplitPattern p;
    p.pattern_ = expression;
    p.regexp_ = std::make_shared<const Regex>(std::move(*compiled));
    return p;
}

std::optional<StringSplitPattern> StringSplitPattern::from(const hub::Config& config) {
    const hub::Config& pattern = config["pattern"];
    if (auto text = pattern["String"].string()) return string(std::move(*text));
    if (auto expression = pattern["Regex"].string()) return regexp(*expression);
    return std::nullopt;
}

bool StringSplitPattern::matchesEmpty() const {
    return regexp_ ? regexp_->matchesEmpty() : pattern_.empty();
}

std::vector<TextRange> StringSplitPattern::ranges(std::string_view text) const {
    return regexp_ ? rangesOfRegex(text, *regexp_) : rangesOfLiteral(text, pattern_);
}

} // namespace tokenizers
