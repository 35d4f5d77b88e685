#include "tokenizers/TextEdits.h"

#include "platform/text/Graphemes.h"
#include "platform/text/Utf8.h"

namespace tokenizers {
namespace text = platform::text;

std::string replaceAll(std::string_view text, std::string_view target,
                       std::string_view replacement) {
    if (target.empty()) return std::string(text);
    std::string out;
    out.reserve(text.size());
    std::size_t pos = 0;
    for (std::size_t hit; (hit = text.find(target, pos)) != std::string_view::npos;
         pos = hit + target.size()) {
        out.append(text.substr(pos, hit - pos));
        out.append(replacement);
    }
    out.append(text.substr(pos));
    return out;
}

std::string stripCharacters(std::string_view text, bool left, bool right,
                            bool (*isStripped)(char32_t)) {
    const auto bounds = text::graphemeBoundaries(text);
    std::size_t first = 0, last = bounds.size() - 1; // character indices [first, last)
    auto stripped = [&](std::size_t k) {
        return isStripped(text::firstCodePoint(text.substr(bounds[k], bounds[k + 1] - bounds[k])));
    };
    if (left)
        while (first < last && stripped(first))
            ++first;
    if (right)
        while (last > first && stripped(last - 1))
            --last;
    return std::string(text.substr(bounds[first], bounds[last] - bounds[first]));
}

std::string spacedIdeographs(std::string_view input) {
    const auto bounds = text::graphemeBoundaries(input);
    std::string out;
    out.reserve(input.size() + 16);
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k) {
        const std::string_view character = input.substr(bounds[k], bounds[k + 1] - bounds[k]);
        if (isChineseCharacter(text::firstCodePoint(character))) {
            out += ' ';
            out.append(character);
            out += ' ';
        } else {
            out.append(character);
        }
    }
    return out;
}

std::string withoutFast(std::string name) {
    for (std::size_t at; (at = name.find("Fast")) != std::string::npos;)
        name.erase(at, 4);
    return name;
}

std::optional<std::string> configuredTokenText(const hub::Config& value) {
    if (auto text = value.string()) return text;
    return value["content"].string();
}

} // namespace tokenizers
