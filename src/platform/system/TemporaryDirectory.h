#pragma once
// A fresh private directory under the system's temporary folder, removed with
// everything in it when the object goes away.

#include <filesystem>
#include <string_view>

namespace platform::system {

class TemporaryDirectory {
public:
    /// Creates "<tmp>/<prefix>XXXXXX" (mode 0700). Throws SystemError (domain
    /// "NSPOSIXErrorDomain", the errno) when it cannot be made.
    explicit TemporaryDirectory(std::string_view prefix = "zv-");
    ~TemporaryDirectory();
    TemporaryDirectory(const TemporaryDirectory&) = delete;
    TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::filesystem::path& child) const {
        return path_ / child;
    }

private:
    std::filesystem::path path_;
};

} // namespace platform::system
