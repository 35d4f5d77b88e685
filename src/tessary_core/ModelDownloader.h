#pragma once
// Finds the files of a model that lives in a model repository on the hub:
// first in a local model folder, then in the hub cache without downloading
// (offline), and finally by downloading them through the hub client. Also
// checks whether whole sets of repository patterns are cached (downloading
// them when allowed) and lists a repository's files. Immutable after
// creation, so any number of threads may use one downloader.
//
// A model is addressed by a ModelInfo; inside a repository or a model folder
// its files lie in name/version/variant (missing parts left out).

#include "platform/ml/ComputeUnits.h"
#include "platform/system/Progress.h"
#include "tessary_core/ModelState.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace hub {
class HubApi;
}

namespace tessary {

struct ModelDownloadConfig {
    /// Root of the hub cache; absent or empty: the hub client's default.
    std::optional<std::string> downloadBase;
    std::string modelRepo;
    std::optional<std::string> modelToken;
    /// A local folder that already holds the model folders.
    std::optional<std::string> modelFolder;
    bool useBackgroundSession = false;
    std::string endpoint;
    std::string revision = "main";
};

struct ModelInfo {
    std::optional<std::string> version;
    std::optional<std::string> variant;
    std::string name;
    platform::ml::ComputeUnits computeUnits = platform::ml::ComputeUnits::cpuAndNeuralEngine;

    /// name/(version or *)/(variant or *)/*
    std::string downloadPattern() const;
    /// base/name[/version][/variant]
    std::filesystem::path modelURL(const std::filesystem::path& baseURL) const;
    /// name[/version][/variant]
    std::string description() const;
    /// ModelInfo(name: n, version: v|nil, variant: v|nil, computeUnit: units)
    std::string debugDescription() const;
    /// The parent of the nearest folder named `name`, walking up from `url`
    /// itself; nothing when only the root is left.
    std::optional<std::filesystem::path> findBaseFolder(const std::filesystem::path& url) const;
};

class ModelDownloaderError : public std::runtime_error {
public:
    enum class Kind { modelUnavailable };
    static ModelDownloaderError modelUnavailable(const std::string& message) {
        return ModelDownloaderError(message);
    }
    Kind kind() const { return Kind::modelUnavailable; }

private:
    explicit ModelDownloaderError(const std::string& message) : std::runtime_error(message) {}
};

class ModelDownloader {
public:
    using ProgressCallback = std::function<void(const platform::system::Progress&)>;
    using ModelStateCallback = std::function<void(ModelState)>;

    explicit ModelDownloader(ModelDownloadConfig config);
    /// No cache root and no model folder; the repository named `repoName`.
    ModelDownloader(std::string endpoint, std::string repoName,
                    std::optional<std::string> modelToken = std::nullopt,
                    std::string revision = "main", bool useBackgroundSession = false);
    virtual ~ModelDownloader() = default;

    const ModelDownloadConfig& config() const { return config_; }

    /// The repository folder holding the model's files, from a snapshot of
    /// its download pattern. With `useOfflineMode` true nothing is
    /// downloaded: the cached copy is checked (and the repository listed,
    /// when the hub answers, to tell a model it lacks).
    virtual std::filesystem::path
    downloadModel(const ModelInfo& modelInfo,
                  const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
                  std::optional<bool> useOfflineMode = std::nullopt) const;

    /// cache root/models/repository id.
    virtual std::filesystem::path localRepoLocation(
        const std::optional<std::filesystem::path>& downloadBase = std::nullopt) const;

    /// The model file of `name`: from the model folder, else the cache, else
    /// (when `download`) the hub. Reports `downloading` before a download and
    /// `downloaded` when found in the cache or downloaded.
    virtual std::filesystem::path
    resolveModel(const std::string& name, const ModelInfo& info,
                 const std::optional<std::filesystem::path>& modelFolder = std::nullopt,
                 const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
                 bool download = true, const ModelStateCallback& modelStateCallback = {}) const;
    virtual std::string
    resolveModelPath(const std::string& name, const ModelInfo& info,
                     const std::optional<std::filesystem::path>& modelFolder = std::nullopt,
                     const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
                     bool download = true, const ModelStateCallback& modelStateCallback = {}) const;

    /// The repository folder once every pattern is present in the cache,
    /// downloading them all when one is missing and `download` allows.
    virtual std::filesystem::path
    resolveRepo(const std::vector<std::string>& patterns,
                const std::optional<std::filesystem::path>& downloadBase = std::nullopt,
                bool download = true, const ProgressCallback& progressCallback = {}) const;

    /// The repository's file names at the configured revision.
    virtual std::vector<std::string>
    fetchFilenames(const std::vector<std::string>& patterns,
                   const std::optional<std::filesystem::path>& downloadBase = std::nullopt) const;

    /// The model's file in the folder when something exists there.
    virtual std::optional<std::filesystem::path>
    modelURLIfExists(const std::filesystem::path& folder, const std::string& name) const;

private:
    std::optional<std::filesystem::path>
    cacheRoot(const std::optional<std::filesystem::path>& downloadBase) const;
    hub::HubApi hubClient(const std::optional<std::filesystem::path>& root,
                          std::optional<bool> useOfflineMode) const;
    bool patternExistsLocally(const std::string& pattern,
                              const std::filesystem::path& repoFolder) const;

    ModelDownloadConfig config_;
};

} // namespace tessary
