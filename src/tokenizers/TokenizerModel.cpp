#include "tokenizers/TokenizerModel.h"

#include "tokenizers/BPETokenizer.h"
#include "tokenizers/TokenizerError.h"

namespace tokenizers {
namespace {

std::shared_ptr<const TokenizingModel> makeBpe(const hub::Config& config, const hub::Config& data,
                                               const AddedTokenIds& added) {
    return std::make_shared<const BPETokenizer>(config, data, added);
}

PreTrainedTokenizerModel unavailable(std::string modelClass) {
    return [modelClass = std::move(modelClass)](
               const hub::Config&, const hub::Config&,
               const AddedTokenIds&) -> std::shared_ptr<const TokenizingModel> {
        throw TokenizerError::unsupportedTokenizer(modelClass);
    };
}

} // namespace

const std::unordered_map<std::string, PreTrainedTokenizerModel>& TokenizerModel::knownTokenizers() {
    static const std::unordered_map<std::string, PreTrainedTokenizerModel> registry = [] {
        return std::unordered_map<std::string, PreTrainedTokenizerModel>{
            {"BertTokenizer", unavailable("BertTokenizer")},
            {"CodeGenTokenizer", makeBpe},
            {"CodeLlamaTokenizer", makeBpe},
            {"CohereTokenizer", makeBpe},
            {"DistilbertTokenizer", unavailable("DistilbertTokenizer")},
            {"DistilBertTokenizer", unavailable("DistilBertTokenizer")},
            {"FalconTokenizer", makeBpe},
            {"GemmaTokenizer", makeBpe},
            {"GPT2Tokenizer", makeBpe},
            {"LlamaTokenizer", makeBpe},
            {"RobertaTokenizer", makeBpe},
            {"T5Tokenizer", unavailable("T5Tokenizer")},
            {"TokenizersBackend", makeBpe},
            {"PreTrainedTokenizer", makeBpe},
            {"Qwen2Tokenizer", makeBpe},
            {"WhisperTokenizer", makeBpe},
            {"XLMRobertaTokenizer", unavailable("XLMRobertaTokenizer")},
            {"Xlm-RobertaTokenizer", unavailable("Xlm-RobertaTokenizer")},
        };
    }();
    return registry;
}

} // namespace tokenizers
