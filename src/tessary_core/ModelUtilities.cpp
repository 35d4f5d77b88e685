#include "tessary_core/ModelUtilities.h"

#include <string>
#include <system_error>

namespace tessary {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kCompiledExtension = ".mlmodelc";
constexpr std::string_view kPackageExtension = ".mlpackage";
constexpr std::string_view kPackageModelFile = "Data/com.apple.CoreML/model.mlmodel";

bool pathExists(const fs::path& path) {
    std::error_code error;
    return fs::exists(path, error);
}

fs::path compiledPath(const fs::path& folder, std::string_view name) {
    return folder / (std::string(name) + std::string(kCompiledExtension));
}

} // namespace

fs::path ModelUtilities::detectModelURL(const fs::path& folder, std::string_view name) {
    fs::path compiled = compiledPath(folder, name);
    fs::path package =
        folder / (std::string(name) + std::string(kPackageExtension)) / kPackageModelFile;
    if (pathExists(package) && !pathExists(compiled)) return package;
    return compiled;
}

fs::path ModelUtilities::detectModelURL(const fs::path& folder, std::string_view name,
                                        bool recursive) {
    if (!recursive) return detectModelURL(folder, name);
    fs::path compiled = compiledPath(folder, name);
    if (pathExists(compiled)) return compiled;
    std::string wanted = compiled.filename().string();
    std::error_code error;
    fs::recursive_directory_iterator it(folder, fs::directory_options::skip_permission_denied,
                                        error);
    for (; !error && it != fs::recursive_directory_iterator(); it.increment(error)) {
        if (it->path().filename() == wanted) return it->path();
    }
    return compiled;
}

std::optional<fs::path> ModelUtilities::detectModelURL(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return std::nullopt;
    std::optional<fs::path> firstPackage;
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const fs::path& entry = it->path();
        if (entry.extension() == kCompiledExtension) return entry;
        if (!firstPackage && entry.extension() == kPackageExtension)
            firstPackage = entry / kPackageModelFile;
    }
    if (error) return std::nullopt;
    return firstPackage;
}

} // namespace tessary
