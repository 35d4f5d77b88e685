#pragma once
// An application window the text can be pasted into: the one that had the
// focus when a recording started.

#include <cstdint>
#include <optional>
#include <string>

namespace halvex {

struct RunningApplication {
    uint64_t id = 0;                          ///< the desktop backend's handle of the window
    std::optional<std::string> localizedName; ///< its application's name, when known

    friend bool operator==(const RunningApplication&, const RunningApplication&) = default;
};

} // namespace halvex
