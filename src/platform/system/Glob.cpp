#include "platform/system/Glob.h"

#include <fnmatch.h>
#include <string>

namespace platform::system {

bool globMatches(std::string_view pattern, std::string_view name) {
    // fnmatch reads C strings: an embedded zero byte would silently cut the text short.
    if (pattern.find('\0') != std::string_view::npos || name.find('\0') != std::string_view::npos)
        return false;
    return ::fnmatch(std::string(pattern).c_str(), std::string(name).c_str(), 0) == 0;
}

} // namespace platform::system
