#pragma once
// The client of the model-hub web service. One value holds what every hub
// operation needs: the root of the local mirror (the hub cache), the access
// token, the service's address, and whether to work offline. It lists
// repository files, reads remote file metadata, mirrors repository revisions
// into the cache with resumable, verified downloads (snapshot) and checks
// the cache when it works offline.
//
// Every operation blocks the calling thread and honours the cancellation of
// the running task (platform/system/Cancellation.h). Names that come from
// the server or the caller and end up in cache paths (listed file names,
// etags, repository ids) are checked first: an absolute path, a ".." or "."
// segment, an empty segment, a backslash or a NUL byte is refused with a
// parse error, so server data never reaches outside the cache.

#include "hub/Config.h"
#include "hub/EnvironmentError.h"
#include "hub/FileMetadata.h"
#include "hub/HubClientError.h"
#include "hub/NetworkMonitor.h"
#include "hub/Repo.h"
#include "platform/net/HttpClient.h"
#include "platform/net/Url.h"
#include "platform/system/Progress.h"

#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hub {

struct HubFileDownloader;

class HubApi {
public:
    using EnvironmentError = hub::EnvironmentError;
    using FileMetadata = hub::FileMetadata;
    using NetworkMonitor = hub::NetworkMonitor;
    using HubFileDownloader = hub::HubFileDownloader;

    /// The hub service used when neither the caller nor QN_ENDPOINT names one.
    static constexpr std::string_view defaultEndpoint = "https://quillon.co";

    /// One metadata file of the cache, parsed.
    struct LocalDownloadFileMetadata {
        std::string commitHash;
        std::string etag;
        std::string filename;
        std::chrono::system_clock::time_point timestamp;
    };

    using ProgressHandler = std::function<void(const platform::system::Progress&)>;
    /// Receives the overall progress and the last reported speed (bytes/s).
    using SpeedProgressHandler =
        std::function<void(const platform::system::Progress&, std::optional<double>)>;

    /// Absent arguments take the defaults: the token from the environment or
    /// a token file, the endpoint from QN_ENDPOINT or `defaultEndpoint`, the
    /// cache root "~/Documents/quillon". An absent offline flag leaves the
    /// choice to the network monitor.
    explicit HubApi(std::optional<std::filesystem::path> downloadBase = std::nullopt,
                    std::optional<std::string> qnToken = std::nullopt,
                    std::optional<std::string> endpoint = std::nullopt,
                    bool useBackgroundSession = false,
                    std::optional<bool> useOfflineMode = std::nullopt);

    std::filesystem::path downloadBase;
    std::optional<std::string> qnToken;
    std::string endpoint;
    bool useBackgroundSession = false;
    std::optional<bool> useOfflineMode;
    /// The monitor this client was made with. Offline decisions read the
    /// process-wide `NetworkMonitor::shared()`, which this is.
    NetworkMonitor* networkMonitor = nullptr;
    std::string sha256Pattern = "^[0-9a-f]{64}$";
    std::string commitHashPattern = "^[0-9a-f]{40}$";

    /// The client built with every argument absent, made on first use.
    static const HubApi& shared();

    // Requests. Both throw HubClientError for statuses: 401 and 403
    // authorizationRequired, 404 fileNotFound(last path component), any
    // other failure status httpStatusCode.

    /// A GET that follows redirects; a transport failure is downloadError.
    std::pair<std::string, platform::net::HttpResponse> httpGet(const std::string& url) const;
    /// A HEAD that follows only relative redirects (at most 10) and returns
    /// any other 3xx answer with its own headers. Transport failures pass
    /// through as platform::system::SystemError.
    platform::net::HttpResponse httpHead(const std::string& url) const;

    /// Reads a local JSON file: HubClientError::jsonSerialization when it is
    /// not JSON, HubClientError::fileSystemError when it cannot be read.
    Config configuration(const std::filesystem::path& fileURL) const;
    /// The file `filename` of the repository's cache folder, read as above.
    Config configuration(const std::string& filename, const Repo& repo) const;

    // Listing.

    /// The repository's file names at `revision`; with globs (shell-style,
    /// "*" crosses "/") only those matching one of them, each once.
    std::vector<std::string> getFilenames(const Repo& repo, const std::string& revision,
                                          const std::vector<std::string>& globs) const;
    std::vector<std::string> getFilenames(const Repo& repo, const std::string& glob) const;
    std::vector<std::string> getFilenames(const std::string& repoId,
                                          const std::vector<std::string>& globs) const;
    std::vector<std::string> getFilenames(const std::string& repoId, const std::string& glob) const;
    /// The account the token belongs to; authorizationRequired without one.
    Config whoami() const;

    // Remote metadata.

    FileMetadata getFileMetadata(const std::string& url) const;
    std::vector<FileMetadata> getFileMetadata(const Repo& repo, const std::string& revision,
                                              const std::vector<std::string>& globs) const;
    std::vector<FileMetadata> getFileMetadata(const std::string& repoId,
                                              const std::string& revision,
                                              const std::vector<std::string>& globs) const;

    /// endpoint/[datasets|spaces/]id/resolve/revision/relativeName.
    std::string resolveURL(const Repo& repo, const std::string& revision,
                           const std::string& relativeName) const;

    // Snapshot.

    /// Mirrors every matching file of the revision into the cache and
    /// returns the repository folder. Offline (the flag, else the network
    /// monitor) it makes no request and checks the cached files instead.
    /// Throws platform::system::CancellationError when the task is
    /// cancelled.
    std::filesystem::path snapshot(const Repo& repo, const std::string& revision,
                                   const std::vector<std::string>& globs,
                                   const ProgressHandler& progressHandler = {}) const;
    std::filesystem::path snapshot(const std::string& repoId, const std::string& revision,
                                   const std::vector<std::string>& globs,
                                   const ProgressHandler& progressHandler = {}) const;
    std::filesystem::path snapshot(const Repo& repo, const std::string& revision,
                                   const std::vector<std::string>& globs,
                                   const SpeedProgressHandler& progressHandler) const;

    // The cache.

    /// downloadBase/type/id. Throws HubClientError::parseError for an id
    /// that is not a clean relative path.
    std::filesystem::path localRepoLocation(const Repo& repo) const;
    /// repository folder/.cache/quillon/download.
    static std::filesystem::path metadataLocation(const std::filesystem::path& repoFolder);

    /// The parsed metadata file, or nothing when there is none. A malformed
    /// file is logged and deleted; one that cannot be deleted is an
    /// EnvironmentError::invalidMetadataError.
    std::optional<LocalDownloadFileMetadata>
    readDownloadMetadata(const std::filesystem::path& metadataPath) const;
    /// Writes "commit\netag\ntime\n" atomically; EnvironmentError::fileWriteError.
    void writeDownloadMetadata(const std::string& commitHash, const std::string& etag,
                               const std::filesystem::path& metadataPath) const;
    /// Lower-case hexadecimal SHA-256 of the file, read in 1 MiB blocks.
    /// HubClientError::fileNotFound when it cannot be opened,
    /// HubClientError::fileSystemError when a read fails.
    std::string computeFileHash(const std::filesystem::path& file) const;
    /// True when the pattern compiles and matches somewhere in `hash`.
    static bool isValidHash(const std::string& hash, const std::string& pattern);

    /// Checks a "/"-separated relative name from outside (see the top of
    /// this file); throws HubClientError::parseError naming `what`.
    static void checkRelativeName(std::string_view name, std::string_view what);

    /// The regular, non-hidden files below `folder` (hidden folders are not
    /// entered); empty when the folder cannot be listed.
    static std::vector<std::filesystem::path> getFileUrls(const std::filesystem::path& folder);

    /// The token lookup of construction: QN_TOKEN, QUILLON_HUB_TOKEN, the
    /// file named by QN_TOKEN_PATH, QN_HOME/token, ~/.cache/quillon/token,
    /// ~/.quillon/token; the first non-empty one (a file's trailing line
    /// breaks removed).
    static std::optional<std::string> qnTokenFromEnv();

private:
    platform::net::Url endpointURL() const;
    std::vector<std::pair<std::string, std::string>> authorizationHeaders() const;
    std::filesystem::path offlineSnapshot(const Repo& repo,
                                          const std::filesystem::path& repoFolder) const;
};

/// The target of the first part of the response's "Link" header whose
/// relation is `rel` (rel="name", or rel=name as a plain prefix test).
std::optional<std::string> getLinkURL(const platform::net::HttpResponse& response,
                                      const std::string& rel);

} // namespace hub
