#include "tokenizers/TokenizerModel.h"

#include "tokenizers/BPETokenizer.h"
#include "tokenizers/BertTokenizer.h"
#include "tokenizers/UnigramTokenizer.h"

namespace tokenizers {
namespace {

template <typename Model>
std::shared_ptr<const TokenizingModel> make(const hub::Config& config, const hub::Config& data,
                                            const AddedTokenIds& added) {
    return std::make_shared<const Model>(config, data, added);
}

} // namespace

const std::unordered_map<std::string, PreTrainedTokenizerModel>& TokenizerModel::knownTokenizers() {
    static const std::unordered_map<std::string, PreTrainedTokenizerModel> registry = [] {
        return std::unordered_map<std::string, PreTrainedTokenizerModel>{
            {"BertTokenizer", make<BertTokenizer>},
            {"CodeGenTokenizer", make<BPETokenizer>},
            {"CodeLlamaTokenizer", make<BPETokenizer>},
            {"CohereTokenizer", make<BPETokenizer>},
            {"DistilbertTokenizer", make<BertTokenizer>},
            {"DistilBertTokenizer", make<BertTokenizer>},
            {"FalconTokenizer", make<BPETokenizer>},
            {"GemmaTokenizer", make<BPETokenizer>},
            {"GPT2Tokenizer", make<BPETokenizer>},
            {"LlamaTokenizer", make<BPETokenizer>},
            {"RobertaTokenizer", make<BPETokenizer>},
            {"T5Tokenizer", make<T5Tokenizer>},
            {"TokenizersBackend", make<BPETokenizer>},
            {"PreTrainedTokenizer", make<BPETokenizer>},
            {"Qwen2Tokenizer", make<BPETokenizer>},
            {"WhisperTokenizer", make<BPETokenizer>},
            {"XLMRobertaTokenizer", make<UnigramTokenizer>},
            {"Xlm-RobertaTokenizer", make<UnigramTokenizer>},
        };
    }();
    return registry;
}

} // namespace tokenizers
