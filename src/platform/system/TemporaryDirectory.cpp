#include "platform/system/TemporaryDirectory.h"

#include "platform/system/SystemError.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>
#include <system_error>

namespace platform::system {

TemporaryDirectory::TemporaryDirectory(std::string_view prefix) {
    std::error_code error;
    std::filesystem::path base = std::filesystem::temp_directory_path(error);
    if (error) base = "/tmp";
    std::string pattern = (base / (std::string(prefix) + "XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        int code = errno;
        throw SystemError("NSPOSIXErrorDomain", code,
                          "Cannot create a temporary folder " + pattern + ": " +
                              std::strerror(code));
    }
    path_ = pattern;
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored; // best effort: a destructor cannot report
    std::filesystem::remove_all(path_, ignored);
}

} // namespace platform::system
