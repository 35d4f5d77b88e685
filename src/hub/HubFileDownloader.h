#pragma once
// The per-file step of a snapshot: decides from the local metadata, the
// remote metadata and the local file whether the mirrored copy of one
// repository file is current, verifies it by SHA-256 where the remote etag
// is a digest, and otherwise fetches it through the resumable Downloader
// into an incomplete file beside its metadata, then records new metadata.

#include "hub/HubApi.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace hub {

struct HubFileDownloader {
    HubApi hub;
    Repo repo;
    std::string revision;
    std::filesystem::path repoDestination;
    std::filesystem::path repoMetadataDestination;
    std::string relativeFilename;
    std::optional<std::string> qnToken;
    std::optional<std::string> endpoint;
    bool backgroundSession = false;

    /// The file's resolve address (also asked for its metadata).
    std::string source() const;

    /// Creates the incomplete file's folder and, when the file is missing,
    /// an empty file; an existing one keeps its bytes for resumption.
    static void prepareCacheDestination(const std::filesystem::path& incompleteFile);

    /// Brings the file up to date and returns where it lies. The handler
    /// receives (fraction, speed) while bytes are transferred. Cancelling the
    /// running task stops the transfer with CancellationError.
    std::filesystem::path
    download(const std::function<void(double, std::optional<double>)>& progressHandler = {}) const;
};

} // namespace hub
