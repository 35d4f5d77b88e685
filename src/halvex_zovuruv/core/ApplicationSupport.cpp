#include "halvex_zovuruv/core/ApplicationSupport.h"

#include <cstdlib>
#include <sys/stat.h>
#include <system_error>

namespace fs = std::filesystem;

namespace halvex {

namespace {

/// The folder an XDG base-directory variable names, when it holds an absolute
/// path (relative ones are to be ignored), else $HOME + `fallback`.
fs::path baseDirectory(const char* variable, const char* fallback) {
    if (const char* value = std::getenv(variable); value && *value == '/') return value;
    if (const char* home = std::getenv("HOME"); home && *home) return fs::path(home) / fallback;
    return fs::temp_directory_path();
}

} // namespace

fs::path applicationSupportFolder(std::string_view name) {
    fs::path folder = baseDirectory("XDG_DATA_HOME", ".local/share") / name;
    std::error_code ignored;
    fs::create_directories(folder, ignored);
    return folder;
}

fs::path configurationFolder(std::string_view name) {
    fs::path folder = baseDirectory("XDG_CONFIG_HOME", ".config") / name;
    std::error_code ignored;
    fs::create_directories(folder.parent_path(), ignored);
    ::mkdir(folder.c_str(), 0700);
    return folder;
}

} // namespace halvex
