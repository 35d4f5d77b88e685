#pragma once
// One named input or output of a model: a multi-array, an integer, a number
// or a string.

#include "platform/ml/MultiArray.h"

#include <cstdint>
#include <optional>
#include <string>
#include <variant>

namespace platform::ml {

enum class FeatureType { invalid, int64, double_, string, multiArray };

class FeatureValue {
public:
    FeatureValue() = default;
    FeatureValue(MultiArray array) : value_(std::move(array)) {}  // NOLINT: a feature value wraps an array
    static FeatureValue fromInt64(int64_t value) { return FeatureValue(Value(value)); }
    static FeatureValue fromDouble(double value) { return FeatureValue(Value(value)); }
    static FeatureValue fromString(std::string value) { return FeatureValue(Value(std::move(value))); }

    FeatureType type() const {
        switch (value_.index()) {
            case 1: return FeatureType::int64;
            case 2: return FeatureType::double_;
            case 3: return FeatureType::string;
            case 4: return FeatureType::multiArray;
            default: return FeatureType::invalid;
        }
    }

    /// The wrapped array, or nothing when the value is of another kind.
    std::optional<MultiArray> multiArrayValue() const {
        if (auto* array = std::get_if<MultiArray>(&value_)) return *array;
        return std::nullopt;
    }
    int64_t int64Value() const { return type() == FeatureType::int64 ? std::get<int64_t>(value_) : 0; }
    double doubleValue() const { return type() == FeatureType::double_ ? std::get<double>(value_) : 0.0; }
    std::string stringValue() const { return type() == FeatureType::string ? std::get<std::string>(value_) : std::string(); }

private:
    using Value = std::variant<std::monostate, int64_t, double, std::string, MultiArray>;
    explicit FeatureValue(Value value) : value_(std::move(value)) {}
    Value value_;
};

}  // namespace platform::ml
