#pragma once
// Writes a model folder: weights.bin with every tensor at an aligned offset,
// then model.json. The folder appears complete or not at all: it is built
// under a temporary name beside the target and renamed into place.

#include "platform/ml/ModelManifest.h"

#include <filesystem>
#include <functional>
#include <span>

namespace platform::ml {

class ModelFolderWriter {
public:
    /// Produces the values of one weight (entry.count() floats, row-major);
    /// the writer stores them in the entry's element type.
    using WeightSource = std::function<void(const WeightEntry& entry, std::span<float> values)>;

    /// Assigns the weight offsets of `manifest`, writes both files into
    /// `folder` (replacing a folder already there) and returns the manifest
    /// as written. Throws ModelError: writeFailed naming the path and the
    /// system's reason when a file or folder cannot be made, written or moved
    /// into place; unsupported for a weight stored as neither float16 nor
    /// float32. What the source throws passes on unchanged. On any failure
    /// the folder already at `folder` stays as it was.
    static ModelManifest write(const std::filesystem::path& folder, ModelManifest manifest,
                               const WeightSource& source);
};

} // namespace platform::ml
