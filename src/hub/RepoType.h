#pragma once
// The kind of a hub repository; its raw text is a path segment of hub
// addresses and a folder name of the local cache.

#include <optional>
#include <string_view>

namespace hub {

enum class RepoType { models, datasets, spaces };

/// "models", "datasets" or "spaces".
constexpr std::string_view rawValue(RepoType type) {
    switch (type) {
    case RepoType::models:
        return "models";
    case RepoType::datasets:
        return "datasets";
    case RepoType::spaces:
        return "spaces";
    }
    return "models";
}

/// Exactly one of the three raw texts (case-sensitive), else absent.
constexpr std::optional<RepoType> repoTypeFromRawValue(std::string_view text) {
    if (text == "models") return RepoType::models;
    if (text == "datasets") return RepoType::datasets;
    if (text == "spaces") return RepoType::spaces;
    return std::nullopt;
}

} // namespace hub
