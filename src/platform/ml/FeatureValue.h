#pragma once
// One named input or output of a model: a multi-array (every feature of the
// Whisper stages) or an integer.

#include "platform/ml/MultiArray.h"

#include <cstdint>
#include <optional>
#include <variant>

namespace platform::ml {

enum class FeatureType { invalid, int64, multiArray };

class FeatureValue {
public:
    FeatureValue() = default;
    FeatureValue(MultiArray array)
        : value_(std::move(array)) {} // NOLINT: a feature value wraps an array
    static FeatureValue fromInt64(int64_t value) {
        FeatureValue feature;
        feature.value_ = value;
        return feature;
    }

    FeatureType type() const {
        switch (value_.index()) {
        case 1:
            return FeatureType::int64;
        case 2:
            return FeatureType::multiArray;
        default:
            return FeatureType::invalid;
        }
    }

    /// The wrapped array, or nothing when the value is of another kind.
    std::optional<MultiArray> multiArrayValue() const {
        if (auto* array = std::get_if<MultiArray>(&value_)) return *array;
        return std::nullopt;
    }
    /// The integer, or 0 when the value is of another kind.
    int64_t int64Value() const {
        if (auto* value = std::get_if<int64_t>(&value_)) return *value;
        return 0;
    }

private:
    std::variant<std::monostate, int64_t, MultiArray> value_;
};

} // namespace platform::ml
