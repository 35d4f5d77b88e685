#include "convert/CheckpointConverter.h"

#include "convert/SafetensorsFile.h"
#include "model_gen/MelFilterBank.h"
#include "platform/ml/ModelFolderWriter.h"

#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <yyjson.h>

namespace convert {

using platform::ml::WhisperDimensions;
using platform::ml::WhisperLayout;
using platform::ml::WhisperStage;

namespace {

struct Document {
    yyjson_doc* doc = nullptr;
    ~Document() { yyjson_doc_free(doc); }
    yyjson_val* root() const { return yyjson_doc_get_root(doc); }
};

std::unique_ptr<Document> readJson(const std::filesystem::path& file) {
    std::ifstream stream(file, std::ios::binary);
    if (!stream) throw std::runtime_error("Checkpoint file not found: " + file.string());
    std::stringstream buffer;
    buffer << stream.rdbuf();
    std::string text = buffer.str();
    auto document = std::make_unique<Document>();
    document->doc = yyjson_read(text.data(), text.size(), 0);
    if (!document->doc || !yyjson_is_obj(document->root())) {
        throw std::runtime_error("Invalid checkpoint file " + file.string() +
                                 ": not a JSON object");
    }
    return document;
}

int64_t requiredInteger(yyjson_val* root, const char* key, const std::filesystem::path& file) {
    yyjson_val* value = yyjson_obj_get(root, key);
    if (!yyjson_is_int(value) || yyjson_get_sint(value) <= 0) {
        throw std::runtime_error("Invalid checkpoint file " + file.string() + ": \"" + key +
                                 "\" is missing or not a positive integer");
    }
    return yyjson_get_sint(value);
}

bool startsWith(const std::string& text, std::string_view prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

// Our per-layer names and the checkpoint's, after "layers.N.".
const std::pair<const char*, const char*> kLayerNames[] = {
    {"attn_ln", "self_attn_layer_norm"},
    {"attn.query", "self_attn.q_proj"},
    {"attn.key", "self_attn.k_proj"},
    {"attn.value", "self_attn.v_proj"},
    {"attn.out", "self_attn.out_proj"},
    {"cross_attn_ln", "encoder_attn_layer_norm"},
    {"cross_attn.query", "encoder_attn.q_proj"},
    {"cross_attn.key", "encoder_attn.k_proj"},
    {"cross_attn.value", "encoder_attn.v_proj"},
    {"cross_attn.out", "encoder_attn.out_proj"},
    {"mlp_ln", "final_layer_norm"},
    {"mlp.fc1", "fc1"},
    {"mlp.fc2", "fc2"},
};

// All tensors of a checkpoint, possibly spread over several files.
class Checkpoint {
public:
    explicit Checkpoint(const std::filesystem::path& folder) {
        std::filesystem::path single = folder / "model.safetensors";
        std::filesystem::path index = folder / "model.safetensors.index.json";
        if (std::filesystem::exists(single)) {
            files_.push_back(std::make_unique<SafetensorsFile>(single));
        } else if (std::filesystem::exists(index)) {
            auto document = readJson(index);
            yyjson_val* map = yyjson_obj_get(document->root(), "weight_map");
            if (!yyjson_is_obj(map))
                throw std::runtime_error("Invalid checkpoint file " + index.string());
            std::map<std::string, bool> shards;
            size_t i, n;
            yyjson_val *key, *value;
            yyjson_obj_foreach(map, i, n, key, value) {
                if (yyjson_is_str(value)) shards[yyjson_get_str(value)] = true;
            }
            for (const auto& [shard, unused] : shards) {
                if (std::filesystem::path(shard).filename() != shard) {
                    throw std::runtime_error("Invalid checkpoint file " + index.string() +
                                             ": shard \"" + shard +
                                             "\" is not a file of the checkpoint folder");
                }
                files_.push_back(std::make_unique<SafetensorsFile>(folder / shard));
            }
        } else {
            throw std::runtime_error("Checkpoint weights not found: " + single.string());
        }
    }

    std::vector<float> floats(const std::string& name, const std::vector<int64_t>& shape) const {
        for (const std::string& candidate : {"model." + name, name}) {
            for (const auto& file : files_) {
                if (file->contains(candidate)) return file->floats(candidate, shape);
            }
        }
        throw std::runtime_error("Checkpoint lacks the tensor \"model." + name + "\"");
    }

private:
    std::vector<std::unique_ptr<SafetensorsFile>> files_;
};

} // namespace

std::string checkpointTensorName(WhisperStage stage, const std::string& weight) {
    const std::string side = stage == WhisperStage::audioEncoder ? "encoder." : "decoder.";
    if (stage == WhisperStage::melSpectrogram || stage == WhisperStage::textDecoderContextPrefill)
        return "";
    if (startsWith(weight, "layers.")) {
        size_t dot = weight.find('.', 7);
        std::string layer = weight.substr(0, dot + 1); // "layers.N."
        std::string rest = weight.substr(dot + 1);
        for (const auto& [ours, theirs] : kLayerNames) {
            std::string prefix = std::string(ours) + ".";
            if (startsWith(rest, prefix))
                return side + layer + theirs + "." + rest.substr(prefix.size());
        }
        return "";
    }
    static const std::map<std::string, std::string> kEncoder = {
        {"conv1.weight", "conv1.weight"},
        {"conv1.bias", "conv1.bias"},
        {"conv2.weight", "conv2.weight"},
        {"conv2.bias", "conv2.bias"},
        {"positional_embedding", "embed_positions.weight"},
        {"ln_post.weight", "layer_norm.weight"},
        {"ln_post.bias", "layer_norm.bias"},
    };
    static const std::map<std::string, std::string> kDecoder = {
        {"token_embedding", "embed_tokens.weight"},
        {"positional_embedding", "embed_positions.weight"},
        {"ln.weight", "layer_norm.weight"},
        {"ln.bias", "layer_norm.bias"},
    };
    const auto& table = stage == WhisperStage::audioEncoder ? kEncoder : kDecoder;
    auto it = table.find(weight);
    return it == table.end() ? "" : side + it->second;
}

WhisperDimensions readCheckpointDimensions(const std::filesystem::path& configFile) {
    auto document = readJson(configFile);
    yyjson_val* root = document->root();
    WhisperDimensions dims;
    dims.nMels = requiredInteger(root, "num_mel_bins", configFile);
    dims.nAudioState = dims.nTextState = requiredInteger(root, "d_model", configFile);
    dims.nAudioLayer = requiredInteger(root, "encoder_layers", configFile);
    dims.nAudioHead = requiredInteger(root, "encoder_attention_heads", configFile);
    dims.nTextLayer = requiredInteger(root, "decoder_layers", configFile);
    dims.nTextHead = requiredInteger(root, "decoder_attention_heads", configFile);
    dims.nVocab = requiredInteger(root, "vocab_size", configFile);
    dims.nAudioCtx = requiredInteger(root, "max_source_positions", configFile);
    dims.nTextCtx = requiredInteger(root, "max_target_positions", configFile);
    if (dims.nAudioState % dims.nAudioHead != 0 || dims.nTextState % dims.nTextHead != 0) {
        throw std::runtime_error("Invalid checkpoint file " + configFile.string() +
                                 ": \"d_model\" is not a multiple of the head count");
    }
    return dims;
}

ConvertResult convertCheckpoint(const std::filesystem::path& checkpoint,
                                const std::filesystem::path& output,
                                const ConvertOptions& options) {
    ConvertResult result;
    WhisperDimensions dims = readCheckpointDimensions(checkpoint / "config.json");
    dims.kvCacheLength = std::min(options.kvCacheLength, dims.nTextCtx);

    if (options.alignmentHeads) {
        dims.alignmentHeads = *options.alignmentHeads;
    } else if (std::filesystem::exists(checkpoint / "generation_config.json")) {
        auto document = readJson(checkpoint / "generation_config.json");
        yyjson_val* heads = yyjson_obj_get(document->root(), "alignment_heads");
        size_t i, n;
        yyjson_val* pair;
        yyjson_arr_foreach(heads, i, n, pair) {
            if (yyjson_arr_size(pair) == 2) {
                dims.alignmentHeads.emplace_back(yyjson_get_sint(yyjson_arr_get(pair, 0)),
                                                 yyjson_get_sint(yyjson_arr_get(pair, 1)));
            }
        }
    }
    if (dims.alignmentHeads.empty()) {
        for (int64_t layer = dims.nTextLayer / 2; layer < dims.nTextLayer; ++layer) {
            for (int64_t head = 0; head < dims.nTextHead; ++head)
                dims.alignmentHeads.emplace_back(layer, head);
        }
    }
    for (auto [layer, head] : dims.alignmentHeads) {
        if (layer < 0 || layer >= dims.nTextLayer || head < 0 || head >= dims.nTextHead) {
            throw std::runtime_error("Alignment head (" + std::to_string(layer) + ", " +
                                     std::to_string(head) + ") is not a head of the decoder");
        }
    }

    Checkpoint tensors(checkpoint);
    std::filesystem::create_directories(output);
    auto write = [&](WhisperStage stage) {
        auto manifest = WhisperLayout::manifest(stage, dims, options.weightType);
        std::filesystem::path target =
            output / (std::string(WhisperLayout::kindName(stage)) + ".mlmodelc");
        platform::ml::ModelFolderWriter::write(
            target, std::move(manifest),
            [&](const platform::ml::WeightEntry& entry, std::span<float> values) {
                std::vector<float> source =
                    entry.name == "mel_filters"
                        ? modelgen::melFilterBank(dims.nMels)
                        : tensors.floats(checkpointTensorName(stage, entry.name), entry.shape);
                std::copy(source.begin(), source.end(), values.begin());
            });
        return target;
    };
    result.models.melSpectrogram = write(WhisperStage::melSpectrogram);
    result.models.audioEncoder = write(WhisperStage::audioEncoder);
    result.models.textDecoder = write(WhisperStage::textDecoder);

    static const char* kTokenizerFiles[] = {
        "tokenizer.json",          "tokenizer_config.json", "vocab.json",      "merges.txt",
        "special_tokens_map.json", "added_tokens.json",     "normalizer.json", "config.json",
        "generation_config.json"};
    bool anyTokenizer = std::filesystem::exists(checkpoint / "tokenizer.json") ||
                        std::filesystem::exists(checkpoint / "vocab.json");
    if (anyTokenizer) {
        result.tokenizerFolder = output / "tokenizer";
        std::filesystem::create_directories(result.tokenizerFolder);
        for (const char* name : kTokenizerFiles) {
            if (std::filesystem::exists(checkpoint / name)) {
                std::filesystem::copy_file(checkpoint / name, result.tokenizerFolder / name,
                                           std::filesystem::copy_options::overwrite_existing);
            }
        }
    }
    result.dimensions = dims;
    return result;
}

} // namespace convert
