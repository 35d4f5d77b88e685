#pragma once
// The folders where the application keeps its files.

#include <filesystem>
#include <string_view>

namespace halvex {

/// $XDG_DATA_HOME (default ~/.local/share) + `name`: the application's data
/// folder, created with any missing parents when it is missing (a failure
/// to create it is ignored; the later file access reports it).
std::filesystem::path applicationSupportFolder(std::string_view name);

/// $XDG_CONFIG_HOME (default ~/.config) + `name`, created the same way and
/// readable by its owner only, since it holds the API key.
std::filesystem::path configurationFolder(std::string_view name);

} // namespace halvex
