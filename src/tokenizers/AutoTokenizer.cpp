#include "tokenizers/AutoTokenizer.h"

#include "hub/LanguageModelConfigurationFromHub.h"
#include "tokenizers/LlamaPreTrainedTokenizer.h"
#include "tokenizers/PreTrainedTokenizer.h"
#include "tokenizers/TextEdits.h"
#include "tokenizers/TokenizerError.h"

namespace tokenizers {
namespace {

std::shared_ptr<Tokenizer> fromLoader(const hub::LanguageModelConfigurationFromHub& loader,
                                      bool strict, bool consultClasses) {
    const auto tokenizerConfig = loader.tokenizerConfig();
    if (!tokenizerConfig) throw TokenizerError::missingConfig();
    const hub::Config tokenizerData = loader.tokenizerData();
    if (consultClasses) return AutoTokenizer::from(*tokenizerConfig, tokenizerData, strict);
    return std::make_shared<PreTrainedTokenizer>(*tokenizerConfig, tokenizerData, strict);
}

} // namespace

const std::unordered_map<std::string, PreTrainedTokenizerClasses::TokenizerClass>&
PreTrainedTokenizerClasses::tokenizerClasses() {
    static const std::unordered_map<std::string, TokenizerClass> classes = {
        {"LlamaTokenizer", TokenizerClass::llama}};
    return classes;
}

std::shared_ptr<Tokenizer> AutoTokenizer::from(const hub::Config& tokenizerConfig,
                                               const hub::Config& tokenizerData, bool strict) {
    if (auto name = tokenizerConfig["tokenizerClass"].string()) {
        if (PreTrainedTokenizerClasses::tokenizerClasses().count(withoutFast(*name)))
            return std::make_shared<LlamaPreTrainedTokenizer>(tokenizerConfig, tokenizerData,
                                                              strict);
    }
    return std::make_shared<PreTrainedTokenizer>(tokenizerConfig, tokenizerData, strict);
}

std::shared_ptr<Tokenizer> AutoTokenizer::fromModelFolder(const std::filesystem::path& modelFolder,
                                                          bool strict) {
    const hub::LanguageModelConfigurationFromHub loader(modelFolder);
    return fromLoader(loader, strict, false);
}

std::shared_ptr<Tokenizer> AutoTokenizer::fromPretrained(const std::string& repoId,
                                                         const hub::HubApi& hubApi, bool strict) {
    const hub::LanguageModelConfigurationFromHub loader(repoId, "main", hubApi);
    return fromLoader(loader, strict, true);
}

} // namespace tokenizers
