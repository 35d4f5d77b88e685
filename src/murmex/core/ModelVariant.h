#pragma once
// Which Whisper size a model folder holds; worked out from the model's
// dimensions after loading.

#include <array>
#include <string>

namespace murmex {

enum class ModelVariant {
    tiny,
    tinyEn,
    base,
    baseEn,
    small,
    smallEn,
    medium,
    mediumEn,
    large,
    largev2,
    largev3
};

inline constexpr std::array<ModelVariant, 11> allModelVariants{
    ModelVariant::tiny,  ModelVariant::tinyEn,  ModelVariant::base,   ModelVariant::baseEn,
    ModelVariant::small, ModelVariant::smallEn, ModelVariant::medium, ModelVariant::mediumEn,
    ModelVariant::large, ModelVariant::largev2, ModelVariant::largev3};

/// "tiny", "tiny.en", ..., "large-v2", "large-v3".
std::string description(ModelVariant variant);

/// False for the English-only variants (tiny.en, base.en, small.en, medium.en).
bool isMultilingual(ModelVariant variant);

} // namespace murmex
