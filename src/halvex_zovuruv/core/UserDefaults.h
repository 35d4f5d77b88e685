#pragma once
// The user's settings: string values under keys, kept in one settings file
// (by default $XDG_CONFIG_HOME/Halvex Zovuruv/settings.conf, readable by its
// owner only since it holds the API key). Each call reads or writes the file
// anew, so a value changed in one place is seen everywhere at the next read;
// calls may come from any thread.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace halvex {

class UserDefaults {
public:
    explicit UserDefaults(std::filesystem::path file = defaultFile());

    static std::filesystem::path defaultFile();

    const std::filesystem::path& file() const { return file_; }

    /// The string stored under `key`, or nothing when none is stored.
    std::optional<std::string> string(std::string_view key) const;

    /// Stores `value` under `key`, replacing any earlier value.
    void setString(std::string_view key, std::string_view value);

private:
    std::filesystem::path file_;
};

} // namespace halvex
