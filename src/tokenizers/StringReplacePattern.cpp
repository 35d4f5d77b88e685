#include "tokenizers/StringReplacePattern.h"

#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TextEdits.h"

namespace tokenizers {

StringReplacePattern StringReplacePattern::string(std::string pattern, std::string replacement) {
    StringReplacePattern p;
    p.pattern_ = std::move(pattern);
    p.replacement_ = std::move(replacement);
    return p;
}

StringReplacePattern StringReplacePattern::regexp(std::shared_ptr<const Regex> regexp,
                                                  std::string replacement) {
    StringReplacePattern p;
    p.pattern_ = regexp->pattern();
    p.regexp_ = std::move(regexp);
    p.replacement_ = std::move(replacement);
    return p;
}

std::optional<StringReplacePattern> StringReplacePattern::from(const hub::Config& config) {
    const auto replacement = config["content"].string();
    if (!replacement) return std::nullopt;
    const hub::Config& pattern = config["pattern"];
    if (auto text = pattern["String"].string()) return string(std::move(*text), *replacement);
    if (auto expression = pattern["Regex"].string()) {
        auto compiled = Regex::compile(*expression);
        if (!compiled) throw ConfigurationError("Cannot build regexp from " + *expression);
        return regexp(std::make_shared<const Regex>(std::move(*compiled)), *replacement);
    }
    return std::nullopt;
}

std::string StringReplacePattern::apply(std::string_view text) const {
    if (regexp_) return regexp_->replaceAll(text, replacement_);
    return replaceAll(text, pattern_, replacement_);
}

} // namespace tokenizers
