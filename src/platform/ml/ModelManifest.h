#pragma once
// The description file of a model folder, "model.json": format marker and
// version, the kind of network, the declared inputs and outputs, integer
// hyper-parameters and the table of weights stored in "weights.bin".

#include "platform/ml/ElementType.h"
#include "platform/ml/FeatureDescription.h"

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform::ml {

/// One tensor of weights.bin.
struct WeightEntry {
    std::string name;
    ElementType dataType = ElementType::float32;
    std::vector<int64_t> shape;
    uint64_t offset = 0; // bytes from the start of weights.bin

    int64_t count() const;
    uint64_t byteCount() const { return static_cast<uint64_t>(count()) * elementSize(dataType); }
};

struct ModelManifest {
    static constexpr const char* kFormatName = "zovuruv-model";
    static constexpr int kFormatVersion = 1;
    static constexpr const char* kManifestFileName = "model.json";
    static constexpr const char* kWeightsFileName = "weights.bin";
    /// Weight offsets are multiples of this, so mapped tensors are aligned.
    static constexpr uint64_t kWeightAlignment = 64;

    int formatVersion = kFormatVersion;
    std::string kind;
    std::vector<FeatureDescription> inputs;
    std::vector<FeatureDescription> outputs;
    /// Integers or integer lists; nested lists are flattened in order.
    std::map<std::string, std::vector<int64_t>> hyperParameters;
    std::vector<WeightEntry> weights;

    /// Reads and checks `<folder>/model.json`. Throws ModelError naming the
    /// file for a missing file, bad JSON, a foreign format or a bad entry.
    static ModelManifest read(const std::filesystem::path& folder);

    /// The JSON text of this manifest.
    std::string toJson() const;

    /// A scalar hyper-parameter, or nothing when absent or a list.
    std::optional<int64_t> integer(const std::string& name) const;
    const WeightEntry* weight(const std::string& name) const;
};

} // namespace platform::ml
