#pragma once
// Finding a compiled model inside a folder. A model named N lives in the
// folder "N.mlmodelc"; a source package "N.mlpackage" holds its model file
// at "Data/com.apple.CoreML/model.mlmodel".

#include <filesystem>
#include <optional>
#include <string_view>

namespace tessary {

class ModelUtilities {
public:
    ModelUtilities() = delete;

    /// folder/N.mlpackage/Data/com.apple.CoreML/model.mlmodel when that exists
    /// and folder/N.mlmodelc does not; folder/N.mlmodelc in every other case
    /// (also when neither exists: the caller checks again).
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder,
                                                std::string_view name);

    /// With `recursive`, folder/N.mlmodelc when it exists, else the first
    /// N.mlmodelc found anywhere below the folder, else folder/N.mlmodelc.
    /// Without it, the two-argument form.
    static std::filesystem::path detectModelURL(const std::filesystem::path& folder,
                                                std::string_view name, bool recursive);

    /// The first compiled model directly in the folder (by listing order), else
    /// the model file of the first package; nothing when there is neither or
    /// the folder cannot be listed.
    static std::optional<std::filesystem::path> detectModelURL(const std::filesystem::path& folder);
};

} // namespace tessary
