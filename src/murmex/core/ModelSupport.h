#pragma once
// The models of one device family, as model folder names of the repository.

#include <string>
#include <vector>

namespace murmex {

struct ModelSupport {
    /// The folder to use when the caller names no model (the document's "default").
    std::string defaultModel;
    /// The folders the family can run, in the document's order.
    std::vector<std::string> supported;
    /// The known folders the family cannot run; computed, never read or written.
    std::vector<std::string> disabled = {};

    friend bool operator==(const ModelSupport&, const ModelSupport&) = default;
};

} // namespace murmex
