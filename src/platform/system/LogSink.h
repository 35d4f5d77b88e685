#pragma once
// Where diagnostic lines end up: standard error, one whole line per write so
// that lines from concurrent threads never interleave. Standard output is
// left alone; the command-line mode prints its transcript there.

#include <string>
#include <string_view>

namespace platform::system {

/// The kind of a log record, from the least to the most severe.
enum class LogType { debug, info, defaultType, error, fault };

/// The short lower-case tag written in front of a record of that kind.
std::string_view logTypeName(LogType type);

class LogSink {
public:
    /// Writes "[<category>] <type>: <message>" and a line feed to standard
    /// error with a single write call. Never throws.
    static void write(LogType type, std::string_view category, std::string_view message);

    /// Writes `line` as it stands and a line feed to standard error with a
    /// single write call, for libraries whose warnings carry no category.
    /// Never throws.
    static void writeLine(std::string_view line);

    /// The complete line that `write` would emit, without the line feed.
    static std::string formatLine(LogType type, std::string_view category,
                                  std::string_view message);
};

} // namespace platform::system
