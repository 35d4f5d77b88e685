#pragma once
// weights.bin of a model folder, mapped read-only into memory. Tensors are
// looked up by the names of the manifest's weight table and checked against
// the shapes the network expects; a tensor stored in the precision asked for
// is used in place, so a loaded model holds its weights once, in the page
// cache, however many stages and processes share the file.

#include "platform/ml/ModelManifest.h"
#include "platform/ml/WeightBuffer.h"

#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace platform::ml {

class WeightFile {
public:
    /// Maps the file and checks that every table entry lies inside it.
    /// Throws ModelError naming the file when it is missing or too short.
    WeightFile(const std::filesystem::path& file, const ModelManifest& manifest);
    ~WeightFile();
    WeightFile(const WeightFile&) = delete;
    WeightFile& operator=(const WeightFile&) = delete;

    const std::filesystem::path& path() const { return path_; }

    /// The entry of that name with exactly this shape; throws ModelError
    /// naming the file when it is missing or shaped differently.
    const WeightEntry& entry(const std::string& name, const std::vector<int64_t>& shape) const;

    /// The tensor's elements as float32: in place when stored so, else widened.
    WeightBuffer<float> floats(const std::string& name, const std::vector<int64_t>& shape) const;

    /// The tensor's elements as half-precision bit patterns: in place when
    /// stored so, else rounded.
    WeightBuffer<uint16_t> halves(const std::string& name, const std::vector<int64_t>& shape) const;

    /// Raw bytes of a tensor inside the mapping.
    const void* bytes(const WeightEntry& entry) const;

private:
    struct Mapping;
    std::filesystem::path path_;
    const ModelManifest* manifest_;
    std::shared_ptr<const Mapping> mapping_;
};

} // namespace platform::ml
