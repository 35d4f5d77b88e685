#include "platform/ml/ElementType.h"

namespace platform::ml {

std::string_view elementTypeName(ElementType type) {
    switch (type) {
    case ElementType::float16:
        return "float16";
    case ElementType::float32:
        return "float32";
    case ElementType::float64:
        return "float64";
    case ElementType::int32:
        return "int32";
    case ElementType::int8:
        return "int8";
    }
    return "unknown";
}

std::optional<ElementType> elementTypeFromName(std::string_view name) {
    for (ElementType type : {ElementType::float16, ElementType::float32, ElementType::float64,
                             ElementType::int32, ElementType::int8}) {
        if (elementTypeName(type) == name) return type;
    }
    return std::nullopt;
}

} // namespace platform::ml
