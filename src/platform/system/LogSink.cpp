#include "platform/system/LogSink.h"

#include <cerrno>
#include <string>
#include <unistd.h>

namespace platform::system {

std::string_view logTypeName(LogType type) {
    switch (type) {
    case LogType::debug:
        return "debug";
    case LogType::info:
        return "info";
    case LogType::defaultType:
        return "default";
    case LogType::error:
        return "error";
    case LogType::fault:
        return "fault";
    }
    return "default";
}

std::string LogSink::formatLine(LogType type, std::string_view category, std::string_view message) {
    std::string line;
    line.reserve(category.size() + message.size() + 16);
    line += '[';
    line += category;
    line += "] ";
    line += logTypeName(type);
    line += ": ";
    line += message;
    return line;
}

void LogSink::write(LogType type, std::string_view category, std::string_view message) {
    try {
        writeLine(formatLine(type, category, message));
    } catch (...) {
        // Logging never fails its caller, not even when memory runs out.
    }
}

void LogSink::writeLine(std::string_view text) {
    try {
        std::string line;
        line.reserve(text.size() + 1);
        line += text;
        line += '\n';
        const char* data = line.data();
        size_t left = line.size();
        while (left > 0) {
            ssize_t n = ::write(STDERR_FILENO, data, left);
            if (n < 0) {
                if (errno == EINTR) continue;
                return; // nowhere to report a failing log sink
            }
            data += n;
            left -= static_cast<size_t>(n);
        }
    } catch (...) {
        // Logging never fails its caller, not even when memory runs out.
    }
}

} // namespace platform::system
