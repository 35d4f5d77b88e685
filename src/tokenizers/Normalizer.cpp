#include "tokenizers/Normalizer.h"

#include "platform/text/CaseMapping.h"
#include "platform/text/Graphemes.h"
#include "platform/text/Normalization.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"
#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TextEdits.h"

namespace tokenizers {
namespace text = platform::text;
namespace {

// NFD with every scalar of U+0300-U+036F removed, not recomposed.
std::string stripAccents(std::string_view text) {
    const std::string decomposed = text::normalize(text, text::NormalizationForm::nfd);
    std::string out;
    out.reserve(decomposed.size());
    for (std::size_t i = 0; i < decomposed.size();) {
        const std::size_t start = i;
        const char32_t cp = text::decodeNext(decomposed, i);
        if (cp < 0x300 || cp > 0x36F) out.append(decomposed, start, i - start);
    }
    return out;
}

template <typename Fn> std::string mapClusters(std::string_view text, Fn&& fn) {
    const auto bounds = text::graphemeBoundaries(text);
    std::string out;
    out.reserve(text.size());
    for (std::size_t k = 0; k + 1 < bounds.size(); ++k)
        fn(out, text.substr(bounds[k], bounds[k + 1] - bounds[k]));
    return out;
}

} // namespace

NormalizerPtr NormalizerFactory::fromConfig(const hub::Config& config) {
    const auto type = config["type"].string();
    if (!type) return nullptr;
    const std::string& t = *type;
    if (t == "Sequence") return std::make_shared<NormalizerSequence>(config);
    if (t == "Prepend") return std::make_shared<PrependNormalizer>(config);
    if (t == "Replace") return std::make_shared<ReplaceNormalizer>(config);
    if (t == "Lowercase") return std::make_shared<LowercaseNormalizer>();
    if (t == "NFD") return std::make_shared<NFDNormalizer>();
    if (t == "NFC") return std::make_shared<NFCNormalizer>();
    if (t == "NFKD") return std::make_shared<NFKDNormalizer>();
    if (t == "NFKC") return std::make_shared<NFKCNormalizer>();
    if (t == "Bert" || t == "BertNormalizer") return std::make_shared<BertNormalizer>(config);
    if (t == "Precompiled") return std::make_shared<PrecompiledNormalizer>();
    if (t == "StripAccents") return std::make_shared<StripAccentsNormalizer>();
    if (t == "Strip") return std::make_shared<StripNormalizer>(config);
    throw ConfigurationError("Unsupported Normalizer type: " + t);
}

NormalizerSequence::NormalizerSequence(const hub::Config& config) {
    const auto* elements = config["normalizers"].array();
    if (!elements) throw ConfigurationError("No normalizers in Sequence");
    for (const hub::Config& element : *elements)
        if (auto normalizer = NormalizerFactory::fromConfig(element))
            normalizers_.push_back(std::move(normalizer));
}

std::string NormalizerSequence::normalize(std::string_view text) const {
    std::string current(text);
    for (const auto& normalizer : normalizers_)
        current = normalizer->normalize(current);
    return current;
}

std::string LowercaseNormalizer::normalize(std::string_view text) const {
    return text::toLower(text);
}
std::string NFDNormalizer::normalize(std::string_view text) const {
    return text::normalize(text, text::NormalizationForm::nfd);
}
std::string NFCNormalizer::normalize(std::string_view text) const {
    return text::normalize(text, text::NormalizationForm::nfc);
}
std::string NFKDNormalizer::normalize(std::string_view text) const {
    return text::normalize(text, text::NormalizationForm::nfkd);
}
std::string NFKCNormalizer::normalize(std::string_view text) const {
    return text::normalize(text, text::NormalizationForm::nfkc);
}
std::string StripAccentsNormalizer::normalize(std::string_view text) const {
    return stripAccents(text);
}

BertNormalizer::BertNormalizer(const hub::Config& config)
    : shouldCleanText_(config["cleanText"].boolean(true)),
      shouldHandleChineseChars_(config["handleChineseChars"].boolean(true)),
      shouldStripAccents_(false), shouldLowercase_(config["lowercase"].boolean(true)) {
    shouldStripAccents_ = config["stripAccents"].boolean(shouldLowercase_);
}

std::string BertNormalizer::normalize(std::string_view text) const {
    std::string out(text);
    if (shouldCleanText_) {
        out = mapClusters(out, [](std::string& o, std::string_view c) {
            const char32_t first = text::firstCodePoint(c);
            if (first == '\t' || first == '\n' || first == '\r')
                o += ' ';
            else
                o.append(c);
        });
    }
    if (shouldHandleChineseChars_) out = spacedIdeographs(out);
    if (shouldStripAccents_) out = stripAccents(out);
    if (shouldLowercase_) out = text::toLower(out);
    return out;
}

std::string PrecompiledNormalizer::normalize(std::string_view text) const {
    std::string cleaned;
    cleaned.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const std::size_t start = i;
        const char32_t cp = text::decodeNext(text, i);
        const bool removed = (cp >= 0x01 && cp <= 0x08) || cp == 0x0B ||
                             (cp >= 0x0E && cp <= 0x1F) || cp == 0x7F || cp == 0x8F || cp == 0x9F;
        const bool blank = cp == 0x09 || cp == 0x0A || cp == 0x0C || cp == 0x0D || cp == 0x1680 ||
                           (cp >= 0x200B && cp <= 0x200F) || cp == 0x2028 || cp == 0x2029 ||
                           cp == 0x2581 || cp == 0xFEFF || cp == 0xFFFD;
        if (removed) continue;
        if (blank)
            cleaned += ' ';
        else
            cleaned.append(text.substr(start, i - start));
    }
    // NFKC would turn the full-width tilde into "~": normalise around it.
    static constexpr std::string_view kTilde = "\xEF\xBD\x9E"; // U+FF5E
    if (cleaned.find(kTilde) == std::string::npos)
        return text::normalize(cleaned, text::NormalizationForm::nfkc);
    std::string out;
    std::size_t start = 0;
    for (;;) {
        const std::size_t hit = cleaned.find(kTilde, start);
        const std::string_view piece = std::string_view(cleaned).substr(
            start, hit == std::string::npos ? std::string::npos : hit - start);
        out += text::normalize(piece, text::NormalizationForm::nfkc);
        if (hit == std::string::npos) break;
        out += kTilde;
        start = hit + kTilde.size();
    }
    return out;
}

std::string StripNormalizer::normalize(std::string_view text) const {
    return stripCharacters(text, leftStrip_, rightStrip_, &text::isWhiteSpace);
}

} // namespace tokenizers
