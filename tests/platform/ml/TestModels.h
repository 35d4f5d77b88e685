#pragma once
// Tiny generated model folders shared by the runtime's tests, written once
// per test program into a private temporary folder.

#include "model_gen/ModelGenerator.h"
#include "platform/ml/DictionaryFeatureProvider.h"
#include "platform/ml/MultiArray.h"

#include <filesystem>
#include <string>
#include <unistd.h>

namespace mltest {

inline std::filesystem::path scratchFolder(const std::string& name) {
    auto folder = std::filesystem::temp_directory_path() /
                  ("zv-ml-test-" + std::to_string(::getpid()) + "-" + name);
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

/// Float32 weights, so that tests can rebuild the exact values with modelgen::fillWeight.
inline modelgen::GeneratorOptions exactOptions() {
    modelgen::GeneratorOptions options;
    options.dimensions = modelgen::tinyTestDimensions();
    options.dimensions.nVocab = 300; // small vocabulary keeps the reference pass quick
    options.dimensions.nTextCtx = 64;
    options.dimensions.kvCacheLength = 32;
    options.weightType = platform::ml::ElementType::float32;
    options.seed = 7;
    return options;
}

// The caller's side of the decoder contract: caches and masks kept outside
// the model and updated after every step.
struct DecoderInputs {
    platform::ml::MultiArray inputIds{{1}, platform::ml::ElementType::int32};
    platform::ml::MultiArray cacheLength{{1}, platform::ml::ElementType::int32};
    platform::ml::MultiArray keyCache, valueCache;
    platform::ml::MultiArray updateMask, paddingMask;
    explicit DecoderInputs(const platform::ml::WhisperDimensions& dims) {
        keyCache = platform::ml::MultiArray({1, dims.kvCacheEmbedDim(), 1, dims.kvCacheLength},
                                            platform::ml::ElementType::float16);
        valueCache = platform::ml::MultiArray({1, dims.kvCacheEmbedDim(), 1, dims.kvCacheLength},
                                              platform::ml::ElementType::float16);
        updateMask =
            platform::ml::MultiArray({1, dims.kvCacheLength}, platform::ml::ElementType::int32);
        paddingMask =
            platform::ml::MultiArray({1, dims.kvCacheLength}, platform::ml::ElementType::float16);
        paddingMask.fill(-10000);
        paddingMask.setValue(0, 0);
        updateMask.setValue(0, 1);
    }
    platform::ml::DictionaryFeatureProvider
    provider(const platform::ml::MultiArray& encoder) const {
        platform::ml::DictionaryFeatureProvider p;
        p.set("input_ids", inputIds);
        p.set("cache_length", cacheLength);
        p.set("key_cache", keyCache);
        p.set("value_cache", valueCache);
        p.set("kv_cache_update_mask", updateMask);
        p.set("encoder_output_embeds", encoder);
        p.set("decoder_key_padding_mask", paddingMask);
        return p;
    }
    // Writes a step's key and value slices into cache position `i` and opens the next one.
    void advance(const platform::ml::FeatureProvider& output, int64_t i) {
        platform::ml::MultiArray keys =
            *output.featureValue("key_cache_updates")->multiArrayValue();
        platform::ml::MultiArray values =
            *output.featureValue("value_cache_updates")->multiArrayValue();
        int64_t channels = keyCache.shape()[1];
        for (int64_t c = 0; c < channels; ++c) {
            keyCache.setValueAt({0, c, 0, i}, keys.value(c));
            valueCache.setValueAt({0, c, 0, i}, values.value(c));
        }
        paddingMask.setValue(i + 1, 0);
        updateMask.setValue(i, 0);
        updateMask.setValue(i + 1, 1);
    }
};

} // namespace mltest
