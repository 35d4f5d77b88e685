#pragma once
// File-system helpers the engine uses on user-given paths.

#include <string>
#include <string_view>

namespace tessary {

class FileManager {
public:
    FileManager() = delete;

    /// Expands a leading "~" or "~user"; a path that then begins with "/"
    /// comes back as it is, anything else is appended to the current working
    /// directory with one "/" (no further normalisation).
    static std::string resolveAbsolutePath(std::string_view path);

    /// The home folder of the current user ($HOME, else the password entry).
    static std::string homeDirectory();
};

} // namespace tessary
