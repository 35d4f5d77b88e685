#pragma once
// One row of a model-support table: a device family, the identifier prefixes
// that select it, and its models.

#include "murmex/core/ModelSupport.h"

#include <optional>
#include <string>
#include <vector>

namespace murmex {

struct DeviceSupport {
    /// Human-readable chip names, such as "M2, M3, M4"; informational only.
    std::optional<std::string> chips;
    /// Device identifier prefixes, such as "Mac14" or "iPad13,4".
    std::vector<std::string> identifiers;
    ModelSupport models;

    friend bool operator==(const DeviceSupport&, const DeviceSupport&) = default;
};

} // namespace murmex
