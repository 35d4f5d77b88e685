#pragma once
// The text of a shape in error messages: "[1, 384, 1, 3000]".

#include <cstdint>
#include <span>
#include <string>

namespace platform::ml {

inline std::string shapeText(std::span<const int64_t> shape) {
    std::string text = "[";
    for (size_t i = 0; i < shape.size(); ++i) {
        if (i) text += ", ";
        text += std::to_string(shape[i]);
    }
    return text + "]";
}

} // namespace platform::ml
