#include "tokenizers/PostProcessor.h"

#include "platform/text/Graphemes.h"
#include "platform/text/UnicodeProperties.h"
#include "platform/text/Utf8.h"
#include "tokenizers/ConfigurationError.h"
#include "tokenizers/TextEdits.h"

namespace tokenizers {
namespace text = platform::text;
namespace {

void append(std::vector<std::string>& out, const std::vector<std::string>& tokens) {
    out.insert(out.end(), tokens.begin(), tokens.end());
}

std::pair<hub::Config::Token, hub::Config::Token> readSepAndCls(const hub::Config& config) {
    auto sep = config["sep"].token();
    if (!sep) throw ConfigurationError("Missing `sep` processor configuration");
    auto cls = config["cls"].token();
    if (!cls) throw ConfigurationError("Missing `cls` processor configuration");
    return {std::move(*sep), std::move(*cls)};
}

// Keep exactly one whitespace character at each end that has any.
std::string trimKeepingOne(const std::string& token) {
    const auto bounds = text::graphemeBoundaries(token);
    const std::size_t n = bounds.size() - 1;
    auto isSpace = [&](std::size_t k) {
        return text::isWhiteSpace(text::firstCodePoint(
            std::string_view(token).substr(bounds[k], bounds[k + 1] - bounds[k])));
    };
    std::size_t lead = 0, trail = 0;
    while (lead < n && isSpace(lead))
        ++lead;
    if (lead == n) {
        // Only whitespace: one character is kept.
        return n == 0 ? token : token.substr(bounds[n - 1]);
    }
    while (trail < n && isSpace(n - 1 - trail))
        ++trail;
    const std::size_t first = lead > 0 ? lead - 1 : 0;
    const std::size_t last = trail > 0 ? n - trail + 1 : n; // cluster index one past the end
    return token.substr(bounds[first], bounds[last] - bounds[first]);
}

} // namespace

PostProcessorPtr PostProcessorFactory::fromConfig(const hub::Config& config) {
    const auto type = config["type"].string();
    if (!type) return nullptr;
    const std::string& t = *type;
    if (t == "TemplateProcessing") return std::make_shared<TemplateProcessing>(config);
    if (t == "ByteLevel") return std::make_shared<ByteLevelPostProcessor>();
    if (t == "RobertaProcessing") return std::make_shared<RobertaProcessing>(config);
    if (t == "BertProcessing") return std::make_shared<BertProcessing>(config);
    if (t == "Sequence") return std::make_shared<SequenceProcessing>(config);
    throw ConfigurationError("Unsupported PostProcessor type: " + t);
}

TemplateProcessing::TemplateProcessing(const hub::Config& config) {
    const auto* single = config["single"].array();
    if (!single) throw ConfigurationError("Missing `single` processor configuration");
    const auto* pair = config["pair"].array();
    if (!pair) throw ConfigurationError("Missing `pair` processor configuration");
    single_ = *single;
    pair_ = *pair;
}

std::vector<std::string> TemplateProcessing::postProcess(const std::vector<std::string>& tokens,
                                                         const std::vector<std::string>* tokensPair,
                                                         bool addSpecialTokens) const {
    const auto& items = tokensPair ? pair_ : single_;
    std::vector<std::string> out;
    out.reserve(tokens.size() + (tokensPair ? tokensPair->size() : 0) + items.size());
    for (const hub::Config& item : items) {
        if (auto special = item["SpecialToken"]["id"].string()) {
            if (addSpecialTokens) out.push_back(std::move(*special));
        } else if (auto sequence = item["Sequence"]["id"].string()) {
            if (*sequence == "A") append(out, tokens);
            // "B" without a second sequence contributes nothing.
            else if (*sequence == "B" && tokensPair)
                append(out, *tokensPair);
        }
    }
    return out;
}

RobertaProcessing::RobertaProcessing(const hub::Config& config)
    : trimOffset_(config["trimOffset"].boolean(true)),
      addPrefixSpace_(config["addPrefixSpace"].boolean(true)) {
    std::tie(sep_, cls_) = readSepAndCls(config);
}

std::vector<std::string> RobertaProcessing::postProcess(const std::vector<std::string>& tokens,
                                                        const std::vector<std::string>* tokensPair,
                                                        bool) const {
    auto trimmed = [&](const std::vector<std::string>& list) {
        if (!trimOffset_) return list;
        std::vector<std::string> out;
        out.reserve(list.size());
        for (const auto& t : list)
            out.push_back(addPrefixSpace_
                              ? trimKeepingOne(t)
                              : stripCharacters(t, true, true, &text::isSpaceSeparatorOrTab));
        return out;
    };
    std::vector<std::string> out{cls_.text.str()};
    append(out, trimmed(tokens));
    out.push_back(sep_.text.str());
    if (tokensPair && !tokensPair->empty()) {
        out.push_back(sep_.text.str());
        append(out, trimmed(*tokensPair));
        out.push_back(sep_.text.str());
    }
    return out;
}

BertProcessing::BertProcessing(const hub::Config& config) {
    std::tie(sep_, cls_) = readSepAndCls(config);
}

std::vector<std::string> BertProcessing::postProcess(const std::vector<std::string>& tokens,
                                                     const std::vector<std::string>* tokensPair,
                                                     bool addSpecialTokens) const {
    std::vector<std::string> out;
    if (!addSpecialTokens) {
        out = tokens;
        if (tokensPair) append(out, *tokensPair);
        return out;
    }
    out.push_back(cls_.text.str());
    append(out, tokens);
    out.push_back(sep_.text.str());
    if (tokensPair && !tokensPair->empty()) {
        append(out, *tokensPair);
        out.push_back(sep_.text.str());
    }
    return out;
}

SequenceProcessing::SequenceProcessing(const hub::Config& config) {
    const auto* elements = config["processors"].array();
    if (!elements) throw ConfigurationError("Missing `processors` configuration");
    for (const hub::Config& element : *elements)
        if (auto p = PostProcessorFactory::fromConfig(element)) processors_.push_back(std::move(p));
}

bool SequenceProcessing::passesTokensThrough() const {
    for (const auto& p : processors_)
        if (!p->passesTokensThrough()) return false;
    return true;
}

std::vector<std::string> SequenceProcessing::postProcess(const std::vector<std::string>& tokens,
                                                         const std::vector<std::string>* tokensPair,
                                                         bool addSpecialTokens) const {
    if (processors_.empty()) return tokens;
    std::vector<std::string> current =
        processors_.front()->postProcess(tokens, tokensPair, addSpecialTokens);
    for (std::size_t k = 1; k < processors_.size(); ++k)
        current = processors_[k]->postProcess(current, nullptr, addSpecialTokens);
    return current;
}

} // namespace tokenizers
