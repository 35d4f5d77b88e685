#include "murmex/core/TextDecoding.h"

#include "murmex/base/WhisperError.h"
#include "murmex/core/ModelFeatureProviders.h"
#include "platform/system/Cancellation.h"
#include "tessary_core/Logging.h"
#include "tessary_core/MLUtilities.h"

#include <algorithm>
#include <cstring>

namespace murmex {

using platform::ml::ElementType;
using platform::ml::MultiArray;
using platform::system::Float16;

namespace {

// Only the last `limit` tokens count; special tokens and ids that are no
// token at all (negative) are dropped, keeping the order.
std::vector<int> textTokensOfTail(const std::vector<int>& tokens, size_t limit,
                                  int specialTokenBegin) {
    const size_t first = tokens.size() > limit ? tokens.size() - limit : 0;
    std::vector<int> kept;
    for (size_t i = first; i < tokens.size(); ++i) {
        if (tokens[i] >= 0 && tokens[i] < specialTokenBegin) kept.push_back(tokens[i]);
    }
    return kept;
}

int64_t dimension(const MultiArray& array, size_t index) {
    return index < array.shape().size() ? array.shape()[index] : 0;
}

} // namespace

std::shared_ptr<DecodingInputs> TextDecoding::prepareDecoderInputs(const std::vector<int>& prompt) {
    const std::optional<int> embedDim = kvCacheEmbedDim();
    if (!embedDim)
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine kvCacheEmbedDim");
    const std::optional<int> sequenceLength = kvCacheMaxSequenceLength();
    if (!sequenceLength)
        throw WhisperError::prepareDecoderInputsFailed(
            "Unable to determine kvCacheMaxSequenceLength");
    const std::optional<int> encoderOutputDim = windowSize();
    if (!encoderOutputDim)
        throw WhisperError::prepareDecoderInputsFailed("Unable to determine encoderOutputDim");

    const int64_t e = *embedDim, s = *sequenceLength, w = *encoderOutputDim;
    MultiArray inputIds({1}, ElementType::int32);
    MultiArray cacheLength({1}, ElementType::int32);
    MultiArray keyCache({1, e, 1, s}, ElementType::float16);
    MultiArray valueCache({1, e, 1, s}, ElementType::float16);
    MultiArray alignmentWeights({s, w}, ElementType::float16);
    MultiArray kvCacheUpdateMask({1, s}, ElementType::int32);
    MultiArray decoderKeyPaddingMask =
        tessary::makeMultiArray({1, s}, ElementType::float16,
                                Float16::fromBits(platform::system::kFloat16MinusTenThousandBits));
    MultiArray prefillKeyCache({1, e, 1, s}, ElementType::float16);
    MultiArray prefillValueCache({1, e, 1, s}, ElementType::float16);

    // The first step writes position 0 and may attend to it.
    if (s > 0) {
        kvCacheUpdateMask.data<int32_t>()[0] = 1;
        decoderKeyPaddingMask.data<uint16_t>()[0] = 0;
    }
    return std::make_shared<DecodingInputs>(
        prompt, inputIds, cacheLength, keyCache, valueCache, alignmentWeights, kvCacheUpdateMask,
        decoderKeyPaddingMask, prefillKeyCache, prefillValueCache);
}

std::shared_ptr<DecodingInputs>
TextDecoding::prefillDecoderInputs(std::shared_ptr<DecodingInputs> inputs,
                                   const std::optional<DecodingOptions>& options) {
    const std::shared_ptr<WhisperTokenizer> tokenizer = this->tokenizer();
    if (!tokenizer) throw WhisperError::tokenizerUnavailable("Tokenizer is unavailable");
    if (!inputs)
        throw WhisperError::prepareDecoderInputsFailed(
            "Unable to cast decoderInputs to DecodingInputs");

    const SpecialTokens& special = tokenizer->specialTokens();
    std::vector<int> prompt{special.startOfTranscriptToken};
    int languageToken = special.englishToken;
    int taskToken = special.transcribeToken;

    if (options) {
        if (isModelMultilingual()) {
            const std::string language = options->language.value_or("en");
            languageToken =
                tokenizer->convertTokenToId("<|" + language + "|>").value_or(special.englishToken);
            prompt.push_back(languageToken);
            const bool translate = options->task == DecodingTask::translate;
            taskToken = tokenizer->convertTokenToId(translate ? "<|translate|>" : "<|transcribe|>")
                            .value_or(special.transcribeToken);
            prompt.push_back(taskToken);
        }
        prompt.push_back(options->withoutTimestamps ? special.noTimestampsToken
                                                    : special.timeTokenBegin);
        if (options->promptTokens) {
            std::vector<int> previous{special.startOfPreviousToken};
            auto text = textTokensOfTail(*options->promptTokens, 111, special.specialTokenBegin);
            previous.insert(previous.end(), text.begin(), text.end());
            prompt.insert(prompt.begin(), previous.begin(), previous.end());
        }
        if (options->prefixTokens) {
            auto prefix = textTokensOfTail(*options->prefixTokens, 112, special.specialTokenBegin);
            prompt.insert(prompt.end(), prefix.begin(), prefix.end());
        }
    }
    inputs->initialPrompt = prompt;

    const int64_t positions = inputs->kvCacheUpdateMask.count();
    auto* updateMask = inputs->kvCacheUpdateMask.data<int32_t>();
    auto* padding = inputs->decoderKeyPaddingMask.data<uint16_t>();
    const int64_t paddingPositions = inputs->decoderKeyPaddingMask.count();

    if (options && options->usePrefillCache && prefillData() && !options->promptTokens) {
        std::optional<DecodingCache> cache = prefillKVCache(
            tessary::multiArrayFromInts({taskToken == special.transcribeToken ? 0 : 1}, 1),
            tessary::multiArrayFromInts({languageToken}, 1));
        if (!cache || !cache->keyCache || !cache->valueCache) {
            tessary::Logging::error("Unable to prefill cache");
            return inputs;
        }
        inputs->prefillKeyCache = *cache->keyCache;
        inputs->prefillValueCache = *cache->valueCache;
        auto start = std::find(prompt.begin(), prompt.end(), special.startOfTranscriptToken);
        const int insertAt = start == prompt.end() ? 0 : static_cast<int>(start - prompt.begin());
        updateKVCache(inputs->keyCache, inputs->prefillKeyCache, inputs->valueCache,
                      inputs->prefillValueCache, insertAt);

        // The next step writes right behind the prefilled positions and sees
        // all of them; positions that the arrays do not have are left alone.
        const auto prefilled = static_cast<int32_t>(dimension(inputs->prefillKeyCache, 3));
        inputs->cacheLength.data<int32_t>()[0] = prefilled;
        for (int64_t i = 0; i <= prefilled; ++i) {
            if (i < positions) updateMask[i] = 0;
            if (i < paddingPositions) padding[i] = 0;
        }
        if (prefilled < positions) updateMask[prefilled] = 1;
        inputs->kvCacheUpdateMask.markModified();
        inputs->decoderKeyPaddingMask.markModified();
        return inputs;
    }

    if (positions > 0 && paddingPositions > 0) {
        updateMask[0] = 1;
        padding[0] = 0;
        inputs->kvCacheUpdateMask.markModified();
        inputs->decoderKeyPaddingMask.markModified();
    }
    return inputs;
}

std::optional<DecodingCache> TextDecoding::prefillKVCache(const MultiArray& task,
                                                          const MultiArray& language) {
    const std::shared_ptr<WhisperMLModel> holder = prefillData();
    if (!holder) return std::nullopt;
    const std::shared_ptr<platform::ml::Model> model = holder->model();
    if (!model) return std::nullopt;

    const TextDecoderCachePrefillInput input(task, language);
    platform::system::checkCancellation();
    const auto output = tessary::asyncPrediction(*model, input);
    auto key = output->featureValue("key_cache_prefill");
    auto value = output->featureValue("value_cache_prefill");
    if (!key || !value || !key->multiArrayValue() || !value->multiArrayValue()) return std::nullopt;
    DecodingCache cache;
    cache.keyCache = key->multiArrayValue();
    cache.valueCache = value->multiArrayValue();
    return cache;
}

void TextDecoding::updateKVCache(MultiArray& keyTensor, const MultiArray& keySlice,
                                 MultiArray& valueTensor, const MultiArray& valueSlice,
                                 int insertAtIndex) {
    for (const MultiArray* array : {static_cast<const MultiArray*>(&keyTensor), &keySlice,
                                    static_cast<const MultiArray*>(&valueTensor), &valueSlice}) {
        if (!array->isValid() || array->shape().size() != 4) return;
    }
    const int64_t n = insertAtIndex;
    if (n < 0) return;
    const int64_t channels = std::min({dimension(keyTensor, 1), dimension(valueTensor, 1),
                                       dimension(keySlice, 1), dimension(valueSlice, 1)});
    const int64_t length = std::min({dimension(keySlice, 3), dimension(valueSlice, 3),
                                     dimension(keyTensor, 3) - n, dimension(valueTensor, 3) - n});
    if (channels <= 0 || length <= 0) return;

    const auto& ks = keySlice.strides();
    const auto& vs = valueSlice.strides();
    const auto& kt = keyTensor.strides();
    const auto& vt = valueTensor.strides();
    const bool allHalf = keyTensor.dataType() == ElementType::float16 &&
                         valueTensor.dataType() == ElementType::float16 &&
                         keySlice.dataType() == ElementType::float16 &&
                         valueSlice.dataType() == ElementType::float16;
    if (allHalf) {
        auto* keyOut = keyTensor.data<uint16_t>();
        auto* valueOut = valueTensor.data<uint16_t>();
        const auto* keyIn = keySlice.data<uint16_t>();
        const auto* valueIn = valueSlice.data<uint16_t>();
        for (int64_t c = 0; c < channels; ++c) {
            for (int64_t p = 0; p < length; ++p) {
                keyOut[c * kt[1] + (n + p) * kt[3]] = keyIn[c * ks[1] + p * ks[3]];
                valueOut[c * vt[1] + (n + p) * vt[3]] = valueIn[c * vs[1] + p * vs[3]];
            }
        }
        return;
    }
    // Other element types convert element by element.
    for (int64_t c = 0; c < channels; ++c) {
        for (int64_t p = 0; p < length; ++p) {
            keyTensor.setValueAt({0, c, 0, n + p}, keySlice.valueAt({0, c, 0, p}));
            valueTensor.setValueAt({0, c, 0, n + p}, valueSlice.valueAt({0, c, 0, p}));
        }
    }
}

void TextDecoding::updateAlignmentWeights(MultiArray& alignmentTensor,
                                          const MultiArray& alignmentSlice, int insertAtIndex) {
    if (!alignmentTensor.isValid() || !alignmentSlice.isValid() ||
        alignmentTensor.shape().size() != 2 || alignmentSlice.shape().empty()) {
        return;
    }
    const int64_t row = static_cast<int64_t>(insertAtIndex) + 1;
    if (row < 1 || row >= alignmentTensor.shape()[0]) return;
    const int64_t columns = std::min(alignmentTensor.shape()[1], alignmentSlice.shape().back());
    const int64_t sliceStride = alignmentSlice.strides().back();
    const auto& ts = alignmentTensor.strides();
    if (alignmentTensor.dataType() == ElementType::float16 &&
        alignmentSlice.dataType() == ElementType::float16) {
        auto* out = alignmentTensor.data<uint16_t>();
        const auto* in = alignmentSlice.data<uint16_t>();
        for (int64_t j = 0; j < columns; ++j)
            out[row * ts[0] + j * ts[1]] = in[j * sliceStride];
        return;
    }
    std::vector<int64_t> index(alignmentSlice.shape().size(), 0);
    for (int64_t j = 0; j < columns; ++j) {
        index.back() = j;
        alignmentTensor.setValueAt({row, j}, alignmentSlice.valueAt(index));
    }
}

} // namespace murmex
