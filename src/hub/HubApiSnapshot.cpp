// Repository snapshots: mirror the matching files of a revision into the
// cache, or, offline, check that the cache holds a verified copy.

#include "hub/HubApi.h"
#include "hub/HubFileDownloader.h"
#include "platform/system/Cancellation.h"

#include <cmath>
#include <limits>

namespace hub {

namespace fs = std::filesystem;
using platform::system::Progress;

namespace {

// fraction × 100, truncated; fractions that are not finite count as none.
int64_t percentUnits(double fraction) {
    if (!std::isfinite(fraction)) return 0;
    const double units = std::trunc(fraction * 100.0);
    if (units <= 0) return 0;
    return units >= 100 ? 100 : static_cast<int64_t>(units);
}

} // namespace

fs::path HubApi::offlineSnapshot(const Repo&, const fs::path& repoFolder) const {
    std::error_code ec;
    if (!fs::exists(repoFolder, ec))
        throw EnvironmentError::offlineModeError("Repository not available locally");
    const auto files = getFileUrls(repoFolder);
    if (files.empty())
        throw EnvironmentError::offlineModeError("No files available locally for this repository");
    const fs::path metadataFolder = metadataLocation(repoFolder);
    for (const fs::path& file : files) {
        // Only the repository folder's own prefix is replaced: the rest of the
        // path may repeat it.
        const fs::path relative = file.lexically_relative(repoFolder);
        fs::path metadataPath = metadataFolder / relative;
        metadataPath += ".metadata";
        const auto metadata = readDownloadMetadata(metadataPath);
        if (!metadata)
            throw EnvironmentError::offlineModeError("Metadata not available for " +
                                                     file.filename().string());
        if (isValidHash(metadata->etag, sha256Pattern) && computeFileHash(file) != metadata->etag)
            throw EnvironmentError::fileIntegrityError("Hash mismatch for " +
                                                       file.filename().string());
    }
    return repoFolder;
}

fs::path HubApi::snapshot(const Repo& repo, const std::string& revision,
                          const std::vector<std::string>& globs,
                          const ProgressHandler& progressHandler) const {
    const fs::path repoFolder = localRepoLocation(repo);
    const fs::path metadataFolder = metadataLocation(repoFolder);

    const bool monitorSaysOffline = NetworkMonitor::shared().state().shouldUseOfflineMode();
    const bool offline = useOfflineMode.value_or(monitorSaysOffline);
    if (offline) return offlineSnapshot(repo, repoFolder);

    const auto names = getFilenames(repo, revision, globs);
    auto overall = Progress::create(static_cast<int64_t>(names.size()));
    auto report = [&] {
        if (progressHandler) progressHandler(*overall);
    };
    for (const std::string& name : names) {
        auto fileProgress = Progress::create(100);
        overall->addChild(fileProgress, 1);
        HubFileDownloader step{*this, repo,    revision, repoFolder,          metadataFolder,
                               name,  qnToken, endpoint, useBackgroundSession};
        step.download([&](double fraction, std::optional<double> speed) {
            fileProgress->setCompletedUnitCount(percentUnits(fraction));
            if (speed) {
                fileProgress->setThroughput(speed);
                overall->setThroughput(speed);
            }
            report();
        });
        // A cancelled run never returns a folder that looks complete.
        platform::system::checkCancellation();
        fileProgress->setCompletedUnitCount(100);
    }
    report();
    return repoFolder;
}

fs::path HubApi::snapshot(const std::string& repoId, const std::string& revision,
                          const std::vector<std::string>& globs,
                          const ProgressHandler& progressHandler) const {
    return snapshot(Repo{repoId, RepoType::models}, revision, globs, progressHandler);
}

fs::path HubApi::snapshot(const Repo& repo, const std::string& revision,
                          const std::vector<std::string>& globs,
                          const SpeedProgressHandler& progressHandler) const {
    return snapshot(repo, revision, globs, [&](const Progress& progress) {
        if (progressHandler) progressHandler(progress, progress.throughput());
    });
}

} // namespace hub
