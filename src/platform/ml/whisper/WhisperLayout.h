#pragma once
// The feature contract and weight table of each Whisper stage: which inputs
// and outputs a stage declares (names, shapes, element types) and which
// weights its folder must hold. Shared by the loader, the model generator
// and the checkpoint converter so that all three agree.

#include "platform/ml/ModelManifest.h"
#include "platform/ml/whisper/WhisperDimensions.h"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace platform::ml {

enum class WhisperStage { melSpectrogram, audioEncoder, textDecoder, textDecoderContextPrefill };

/// Sizes of the optional cache-prefill table: two tasks (transcribe,
/// translate), `languages` language tokens from `firstLanguageToken`, and
/// `length` prefilled positions.
struct WhisperPrefillSizes {
    int64_t firstLanguageToken = 50259;
    int64_t languages = 99;
    int64_t length = 3;
};

struct WhisperLayout {
    /// "MelSpectrogram", "AudioEncoder", "TextDecoder", "TextDecoderContextPrefill":
    /// the manifest's kind and the folder's base name.
    static std::string_view kindName(WhisperStage stage);
    static std::optional<WhisperStage> stageForKind(std::string_view kind);

    /// Feature names of the stages.
    static constexpr const char* kAudio = "audio";
    static constexpr const char* kMelFeatures = "melspectrogram_features";
    static constexpr const char* kEncoderOutput = "encoder_output_embeds";
    static constexpr const char* kInputIds = "input_ids";
    static constexpr const char* kCacheLength = "cache_length";
    static constexpr const char* kKeyCache = "key_cache";
    static constexpr const char* kValueCache = "value_cache";
    static constexpr const char* kUpdateMask = "kv_cache_update_mask";
    static constexpr const char* kPaddingMask = "decoder_key_padding_mask";
    static constexpr const char* kLogits = "logits";
    static constexpr const char* kKeyCacheUpdates = "key_cache_updates";
    static constexpr const char* kValueCacheUpdates = "value_cache_updates";
    static constexpr const char* kAlignmentWeights = "alignment_heads_weights";
    static constexpr const char* kTask = "task";
    static constexpr const char* kLanguage = "language";
    static constexpr const char* kKeyCachePrefill = "key_cache_prefill";
    static constexpr const char* kValueCachePrefill = "value_cache_prefill";

    using PrefillSizes = WhisperPrefillSizes;

    static std::vector<FeatureDescription> inputs(WhisperStage stage, const WhisperDimensions& dims,
                                                  const PrefillSizes& prefill = {});
    static std::vector<FeatureDescription>
    outputs(WhisperStage stage, const WhisperDimensions& dims, const PrefillSizes& prefill = {});
    /// Names and shapes of the stage's weights, in storage order.
    static std::vector<std::pair<std::string, std::vector<int64_t>>>
    weights(WhisperStage stage, const WhisperDimensions& dims, const PrefillSizes& prefill = {});

    /// A complete manifest for the stage (weight offsets left at 0 for the
    /// writer to assign); weights are stored as `weightType` except the mel
    /// filter bank, which is always float32.
    static ModelManifest manifest(WhisperStage stage, const WhisperDimensions& dims,
                                  ElementType weightType = ElementType::float16,
                                  const PrefillSizes& prefill = {});
};

} // namespace platform::ml
