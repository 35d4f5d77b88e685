#pragma once
// The application's diagnostic log: one line per event, "<ISO-8601 UTC time>
// <message>", appended to /tmp/halvex-zovuruv.log. Writing never fails
// visibly; a line that cannot be written is lost.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace halvex {

class Log {
public:
    /// "/tmp/halvex-zovuruv.log".
    static const std::filesystem::path& url();

    /// Appends "<time> <message>\n" to the log file.
    static void write(std::string_view message);

    /// Sends what write() appends to another file from now on, or back to
    /// url() when given nothing (tests read the lines of the code they run).
    static void redirect(std::optional<std::filesystem::path> file);

    /// The same, to a file of the caller's choice (used by tests).
    static void writeTo(const std::filesystem::path& file, std::string_view message);

    /// The current time as "YYYY-MM-DDTHH:MM:SSZ".
    static std::string timestamp();
};

} // namespace halvex
