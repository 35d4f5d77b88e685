#include "tokenizers/LlamaPreTrainedTokenizer.h"

#include "tokenizers/TextEdits.h"
#include "tokenizers/TokenizerError.h"

namespace tokenizers {
namespace {

constexpr std::string_view kMetaspace = "\xE2\x96\x81"; // U+2581

} // namespace

std::optional<hub::Config>
LlamaPreTrainedTokenizer::maybeUpdatePostProcessor(const hub::Config& tokenizerConfig,
                                                   const hub::Config& processorConfig) {
    if (dynamic_cast<const TemplateProcessing*>(
            PostProcessorFactory::fromConfig(processorConfig).get()))
        return std::nullopt;
    const bool addBos = tokenizerConfig["addBosToken"].boolean(false);
    const auto bos = configuredTokenText(tokenizerConfig["bosToken"]);
    if (addBos && !bos)
        throw TokenizerError::mismatchedConfig("add_bos_token is True but bos_token is nil");
    const bool addEos = tokenizerConfig["addEosToken"].boolean(false);
    const auto eos = configuredTokenText(tokenizerConfig["eosToken"]);
    if (addEos && !eos)
        throw TokenizerError::mismatchedConfig("add_eos_token is True but eos_token is nil");

    auto special = [](const std::string& id, int typeId) {
        return hub::Config::object(
            {{"SpecialToken", hub::Config::object({{"id", id}, {"type_id", typeId}})}});
    };
    auto sequence = [](const char* id, int typeId) {
        return hub::Config::object(
            {{"Sequence", hub::Config::object({{"id", id}, {"type_id", typeId}})}});
    };
    hub::Config::Array single;
    if (addBos) single.push_back(special(*bos, 0));
    single.push_back(sequence("A", 0));
    if (addEos) single.push_back(special(*eos, 0));
    hub::Config::Array pair = single;
    if (addBos) pair.push_back(special(*bos, 1));
    pair.push_back(sequence("B", 1));
    if (addEos) pair.push_back(special(*eos, 1));
    return hub::Config::object(
        {{"type", "TemplateProcessing"}, {"single", single}, {"pair", pair}});
}

hub::Config LlamaPreTrainedTokenizer::editedData(const hub::Config& tokenizerConfig,
                                                 const hub::Config& tokenizerData) {
    hub::Config::Dictionary members;
    if (const auto* d = tokenizerData.dictionary()) members = *d;
    if (!tokenizerConfig["legacy"].boolean(true)) {
        members.erase(hub::BinaryDistinctString("normalizer"));
        members.insert_or_assign(hub::BinaryDistinctString("pre_tokenizer"),
                                 hub::Config::object({{"type", "Metaspace"},
                                                      {"replacement", std::string(kMetaspace)},
                                                      {"add_prefix_space", true},
                                                      {"prepend_scheme", "first"}}));
    }
    if (auto processor =
            maybeUpdatePostProcessor(tokenizerConfig, tokenizerData["postProcessor"])) {
        members.insert_or_assign(hub::BinaryDistinctString("post_processor"),
                                 processor->dictionary() ? *processor
                                                         : hub::Config(hub::Config::Dictionary{}));
    }
    return hub::Config(std::move(members));
}

LlamaPreTrainedTokenizer::LlamaPreTrainedTokenizer(const hub::Config& tokenizerConfig,
                                                   const hub::Config& tokenizerData, bool strict)
    : PreTrainedTokenizer(tokenizerConfig, editedData(tokenizerConfig, tokenizerData), strict),
      isLegacy_(tokenizerConfig["legacy"].boolean(true)) {}

std::vector<std::string> LlamaPreTrainedTokenizer::tokenize(std::string_view text) const {
    if (isLegacy_ || text.empty()) return PreTrainedTokenizer::tokenize(text);
    std::string prefixed(kMetaspace);
    for (std::size_t pos = 0; pos < text.size();) {
        if (text.substr(pos, kMetaspace.size()) == kMetaspace) {
            prefixed += ' ';
            pos += kMetaspace.size();
        } else {
            prefixed += text[pos++];
        }
    }
    auto tokens = PreTrainedTokenizer::tokenize(prefixed);
    if (tokens.size() >= 2 && tokens[0] == kMetaspace && specialTokens().count(tokens[1]))
        tokens.erase(tokens.begin());
    return tokens;
}

} // namespace tokenizers
