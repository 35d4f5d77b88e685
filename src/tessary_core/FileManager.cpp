#include "tessary_core/FileManager.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace tessary {

namespace {

std::string homeOf(const char* user) {
    long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? static_cast<size_t>(suggested) : 16384);
    passwd entry{};
    passwd* found = nullptr;
    int rc = user ? ::getpwnam_r(user, &entry, buffer.data(), buffer.size(), &found)
                  : ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found);
    if (rc != 0 || !found || !found->pw_dir) return {};
    return found->pw_dir;
}

} // namespace

std::string FileManager::homeDirectory() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    return homeOf(nullptr);
}

std::string FileManager::resolveAbsolutePath(std::string_view path) {
    std::string expanded(path);
    if (path.starts_with('~')) {
        size_t slash = path.find('/');
        std::string_view user =
            path.substr(1, slash == std::string_view::npos ? std::string_view::npos : slash - 1);
        std::string home = user.empty() ? homeDirectory() : homeOf(std::string(user).c_str());
        if (!home.empty()) {
            // "~" alone, or "~/rest": the home folder takes the tilde's place.
            while (home.size() > 1 && home.back() == '/')
                home.pop_back();
            expanded = home + std::string(slash == std::string_view::npos ? std::string_view()
                                                                          : path.substr(slash));
        }
    }
    if (expanded.starts_with('/')) return expanded;
    std::error_code error;
    std::string cwd = std::filesystem::current_path(error).string();
    if (error) return expanded;
    if (cwd.empty() || cwd.back() != '/') cwd += '/';
    return cwd + expanded;
}

} // namespace tessary
