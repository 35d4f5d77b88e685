#include "tessary_core/ModelDownloader.h"

#include "hub/HubApi.h"
#include "tessary_core/Logging.h"
#include "tessary_core/MLUtilities.h"
#include "tessary_core/ModelUtilities.h"

namespace tessary {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view kPrefix = "[ModelDownloader] ";

hub::Repo repositoryOf(const ModelDownloadConfig& config) {
    return hub::Repo{config.modelRepo, hub::RepoType::models};
}

std::string repoText(const hub::Repo& repo) {
    return "Repo(id: \"" + repo.id + "\", type: " + std::string(hub::rawValue(repo.type)) + ")";
}

} // namespace

// ---------------------------------------------------------------------------
// ModelInfo

std::string ModelInfo::downloadPattern() const {
    return name + "/" + version.value_or("*") + "/" + variant.value_or("*") + "/*";
}

fs::path ModelInfo::modelURL(const fs::path& baseURL) const {
    fs::path url = baseURL / name;
    if (version) url /= *version;
    if (variant) url /= *variant;
    return url;
}

std::string ModelInfo::description() const {
    std::string text = name;
    if (version) text += "/" + *version;
    if (variant) text += "/" + *variant;
    return text;
}

std::string ModelInfo::debugDescription() const {
    return "ModelInfo(name: " + name + ", version: " + version.value_or("nil") +
           ", variant: " + variant.value_or("nil") +
           ", computeUnit: " + std::string(tessary::description(computeUnits)) + ")";
}

std::optional<fs::path> ModelInfo::findBaseFolder(const fs::path& url) const {
    for (fs::path current = url; current.has_relative_path(); current = current.parent_path()) {
        if (current.filename() == name) return current.parent_path();
        if (current.parent_path() == current) break;
    }
    return std::nullopt;
}

// ---------------------------------------------------------------------------
// ModelDownloader

ModelDownloader::ModelDownloader(ModelDownloadConfig config) : config_(std::move(config)) {}

ModelDownloader::ModelDownloader(std::string endpoint, std::string repoName,
                                 std::optional<std::string> modelToken, std::string revision,
                                 bool useBackgroundSession)
    : config_{std::nullopt,         std::move(repoName), std::move(modelToken), std::nullopt,
              useBackgroundSession, std::move(endpoint), std::move(revision)} {}

std::optional<fs::path>
ModelDownloader::cacheRoot(const std::optional<fs::path>& downloadBase) const {
    if (downloadBase) return downloadBase;
    if (config_.downloadBase && !config_.downloadBase->empty())
        return fs::path(*config_.downloadBase);
    return std::nullopt;
}

hub::HubApi ModelDownloader::hubClient(const std::optional<fs::path>& root,
                                       std::optional<bool> useOfflineMode) const {
    return hub::HubApi(root, config_.modelToken, config_.endpoint, config_.useBackgroundSession,
                       useOfflineMode);
}

fs::path ModelDownloader::downloadModel(const ModelInfo& modelInfo,
                                        const std::optional<fs::path>& downloadBase,
                                        std::optional<bool> useOfflineMode) const {
    const std::string pattern = modelInfo.downloadPattern();
    const hub::HubApi client = hubClient(downloadBase, useOfflineMode);
    const hub::Repo repo = repositoryOf(config_);
    if (useOfflineMode.value_or(false)) {
        Logging::debug(std::string(kPrefix) + "Searching for models matching \"" + pattern +
                       "\" in " + repoText(repo));
        std::optional<std::vector<std::string>> names;
        try {
            names = client.getFilenames(repo, config_.revision, {pattern});
        } catch (const std::exception& error) {
            // Without the hub the cache still answers: go on to its check.
            Logging::debug(std::string(kPrefix) +
                           "Listing failed, checking the cache only: " + error.what());
        }
        if (names && names->empty())
            throw ModelDownloaderError::modelUnavailable("No models found matching \"" + pattern +
                                                         "\" in " + config_.modelRepo);
    }
    Logging::debug(std::string(kPrefix) + "Downloading model " + pattern +
                   " with offline mode: " + (useOfflineMode.value_or(false) ? "true" : "false"));
    return client.snapshot(repo, config_.revision, {pattern});
}

fs::path ModelDownloader::localRepoLocation(const std::optional<fs::path>& downloadBase) const {
    return hubClient(cacheRoot(downloadBase), std::nullopt)
        .localRepoLocation(repositoryOf(config_));
}

std::optional<fs::path> ModelDownloader::modelURLIfExists(const fs::path& folder,
                                                          const std::string& name) const {
    const fs::path url = ModelUtilities::detectModelURL(folder, name);
    std::error_code ec;
    if (fs::exists(url, ec)) return url;
    return std::nullopt;
}

fs::path ModelDownloader::resolveModel(const std::string& name, const ModelInfo& info,
                                       const std::optional<fs::path>& modelFolder,
                                       const std::optional<fs::path>& downloadBase, bool download,
                                       const ModelStateCallback& modelStateCallback) const {
    std::optional<fs::path> folder = modelFolder;
    if (!folder && config_.modelFolder) folder = fs::path(*config_.modelFolder);
    if (folder) {
        if (auto url = modelURLIfExists(info.modelURL(*folder), name)) {
            Logging::debug(std::string(kPrefix) + "Found " + name + " in model folder");
            return *url;
        }
    }
    const auto root = cacheRoot(downloadBase);
    try {
        const fs::path cached = downloadModel(info, root, true);
        if (auto url = modelURLIfExists(info.modelURL(cached), name)) {
            Logging::debug(std::string(kPrefix) + "Found existing " + name + " in cache");
            if (modelStateCallback) modelStateCallback(ModelState::downloaded);
            return *url;
        }
    } catch (const std::exception&) {
        // Not cached; the download below decides.
    }
    if (!download)
        throw ModelDownloaderError::modelUnavailable("No model found for " + name +
                                                     " (download disabled)");
    if (modelStateCallback) modelStateCallback(ModelState::downloading);
    const fs::path downloaded = downloadModel(info, root, std::nullopt);
    if (auto url = modelURLIfExists(info.modelURL(downloaded), name)) {
        Logging::debug(std::string(kPrefix) + "Downloaded " + name);
        if (modelStateCallback) modelStateCallback(ModelState::downloaded);
        return *url;
    }
    throw ModelDownloaderError::modelUnavailable("No model found for " + name);
}

std::string ModelDownloader::resolveModelPath(const std::string& name, const ModelInfo& info,
                                              const std::optional<fs::path>& modelFolder,
                                              const std::optional<fs::path>& downloadBase,
                                              bool download,
                                              const ModelStateCallback& modelStateCallback) const {
    return resolveModel(name, info, modelFolder, downloadBase, download, modelStateCallback)
        .string();
}

bool ModelDownloader::patternExistsLocally(const std::string& pattern,
                                           const fs::path& repoFolder) const {
    fs::path folder = repoFolder;
    bool anyPiece = false;
    size_t start = 0;
    while (start <= pattern.size()) {
        const size_t slash = pattern.find('/', start);
        const std::string piece = pattern.substr(start, slash - start);
        if (piece.find('*') != std::string::npos) break;
        if (!piece.empty()) {
            folder /= piece;
            anyPiece = true;
        }
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    if (!anyPiece) return false;
    std::error_code ec;
    if (!fs::is_directory(folder, ec)) return false;
    fs::directory_iterator it(folder, ec);
    return !ec && it != fs::directory_iterator();
}

fs::path ModelDownloader::resolveRepo(const std::vector<std::string>& patterns,
                                      const std::optional<fs::path>& downloadBase, bool download,
                                      const ProgressCallback& progressCallback) const {
    const auto root = cacheRoot(downloadBase);
    const fs::path repoFolder = localRepoLocation(root);
    bool missing = false;
    for (const std::string& pattern : patterns) {
        if (!patternExistsLocally(pattern, repoFolder)) {
            missing = true;
            break;
        }
    }
    if (!missing) {
        Logging::debug(std::string(kPrefix) + "All models found in local cache at " +
                       repoFolder.string());
        return repoFolder;
    }
    if (!download)
        throw ModelDownloaderError::modelUnavailable(
            "No local models found for repo '" + config_.modelRepo + "' and download is disabled.");
    const hub::HubApi client = hubClient(root, std::nullopt);
    Logging::info(std::string(kPrefix) + "Downloading " + std::to_string(patterns.size()) +
                  " model(s) from " + config_.modelRepo + "...");
    const fs::path folder = client.snapshot(repositoryOf(config_), config_.revision, patterns,
                                            [&](const platform::system::Progress& progress) {
                                                if (progressCallback) progressCallback(progress);
                                            });
    Logging::info(std::string(kPrefix) + "Download complete: " + folder.string());
    return folder;
}

std::vector<std::string>
ModelDownloader::fetchFilenames(const std::vector<std::string>& patterns,
                                const std::optional<fs::path>& downloadBase) const {
    return hubClient(cacheRoot(downloadBase), std::nullopt)
        .getFilenames(repositoryOf(config_), config_.revision, patterns);
}

} // namespace tessary
