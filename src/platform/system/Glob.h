#pragma once
// Shell-style file-name pattern matching with the C library's fnmatch and no
// flags: "*" and "?" also match "/" and a leading ".", "[...]" is a bracket
// expression and "\" escapes the next character.

#include <string_view>

namespace platform::system {

/// True when `name` matches `pattern`. Text holding a zero byte never matches.
bool globMatches(std::string_view pattern, std::string_view name);

} // namespace platform::system
