#pragma once
// Conveniences over the shared hub client (HubApi::shared()), always at
// revision "main"; a repository given by its id is a model repository.

#include "hub/HubApi.h"

namespace hub::Hub {

inline std::vector<std::string> getFilenames(const Repo& repo,
                                             const std::vector<std::string>& globs) {
    return HubApi::shared().getFilenames(repo, "main", globs);
}
inline std::vector<std::string> getFilenames(const std::string& repoId,
                                             const std::vector<std::string>& globs) {
    return HubApi::shared().getFilenames(repoId, globs);
}

/// The account of `token`, asked with a client built for that token.
inline Config whoami(const std::string& token) {
    return HubApi(std::nullopt, token).whoami();
}

inline FileMetadata getFileMetadata(const std::string& fileURL) {
    return HubApi::shared().getFileMetadata(fileURL);
}
inline std::vector<FileMetadata> getFileMetadata(const Repo& repo,
                                                 const std::vector<std::string>& globs) {
    return HubApi::shared().getFileMetadata(repo, "main", globs);
}

inline std::filesystem::path snapshot(const Repo& repo, const std::vector<std::string>& globs,
                                      const HubApi::ProgressHandler& progressHandler = {}) {
    return HubApi::shared().snapshot(repo, "main", globs, progressHandler);
}
inline std::filesystem::path snapshot(const std::string& repoId,
                                      const std::vector<std::string>& globs,
                                      const HubApi::ProgressHandler& progressHandler = {}) {
    return HubApi::shared().snapshot(repoId, "main", globs, progressHandler);
}

} // namespace hub::Hub
