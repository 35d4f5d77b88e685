#pragma once
// Element types of multi-arrays, with the raw values the model files use.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace platform::ml {

enum class ElementType : int32_t {
    float16 = 0x10010,
    float32 = 0x10020,
    float64 = 0x10040,
    int32 = 0x20020,
    int8 = 0x20008,
};

/// Bytes per element.
constexpr size_t elementSize(ElementType type) {
    switch (type) {
    case ElementType::float16:
        return 2;
    case ElementType::float32:
        return 4;
    case ElementType::float64:
        return 8;
    case ElementType::int32:
        return 4;
    case ElementType::int8:
        return 1;
    }
    return 0;
}

/// "float16", "float32", "float64", "int32" or "int8": the spelling used in model.json.
std::string_view elementTypeName(ElementType type);

/// The element type for a name written by elementTypeName, if it is one.
std::optional<ElementType> elementTypeFromName(std::string_view name);

} // namespace platform::ml
