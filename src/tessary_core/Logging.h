#pragma once
// The speech library's one logger. Every layer writes diagnostic lines
// through the static debug/info/error operations, which test the shared level
// before joining their items, so a filtered-out line costs one atomic load.
// Items that take work to compute (formatted numbers, decoded text) go
// through TESSARY_LOG, which evaluates them only for a line that is written.
// Lines go to the installed callback, or else to standard error.
//
// The level and the callback are shared by every engine in the process and
// may be changed while other threads log: the level is atomic, the callback
// is swapped under a lock and always called outside it.

#include "platform/system/LogSink.h"
#include "platform/text/NumberText.h"

#include <atomic>
#include <concepts>
#include <cstdint>
#include <fmt/format.h>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <type_traits>

namespace tessary {

class Logging {
public:
    enum class LogLevel : int { debug = 1, info = 2, error = 3, none = 4 };

    /// The level with that raw value (1...4), or nothing.
    static std::optional<LogLevel> logLevelFromRawValue(int rawValue);
    /// "debug", "info", "error" or "none".
    static std::string_view levelName(LogLevel level);

    using Callback = std::function<void(const std::string&)>;

    /// Joins the items of one line with something other than a blank:
    /// `Logging::info(Logging::Separator{", "}, a, b)`.
    struct Separator {
        std::string_view text;
    };

    /// The process-wide instance, created on first use.
    static Logging& shared();

    LogLevel logLevel() const { return logLevel_.load(std::memory_order_relaxed); }
    void setLogLevel(LogLevel level) { logLevel_.store(level, std::memory_order_relaxed); }

    /// The installed callback (empty when none).
    Callback loggingCallback() const;
    /// Installs or, with an empty function, clears the callback that receives
    /// every emitted line instead of standard error.
    void setLoggingCallback(Callback callback);

    /// Writes one line whatever the level.
    void log(std::string_view message,
             platform::system::LogType type = platform::system::LogType::defaultType);

    template <typename... Items> static void debug(const Items&... items) {
        emitIfAllowed(LogLevel::debug, platform::system::LogType::debug, Separator{" "}, items...);
    }
    template <typename... Items> static void debug(Separator separator, const Items&... items) {
        emitIfAllowed(LogLevel::debug, platform::system::LogType::debug, separator, items...);
    }
    template <typename... Items> static void info(const Items&... items) {
        emitIfAllowed(LogLevel::info, platform::system::LogType::info, Separator{" "}, items...);
    }
    template <typename... Items> static void info(Separator separator, const Items&... items) {
        emitIfAllowed(LogLevel::info, platform::system::LogType::info, separator, items...);
    }
    template <typename... Items> static void error(const Items&... items) {
        emitIfAllowed(LogLevel::error, platform::system::LogType::error, Separator{" "}, items...);
    }
    template <typename... Items> static void error(Separator separator, const Items&... items) {
        emitIfAllowed(LogLevel::error, platform::system::LogType::error, separator, items...);
    }

    /// True when a line of `level` would be written now.
    static bool isEnabled(LogLevel level) { return level >= shared().logLevel(); }

    /// Resident memory of the process in whole MiB; 0 when it cannot be read.
    static uint64_t getMemoryUsage();
    /// Debug line "<label> - Memory usage: <MiB> MB".
    static void logCurrentMemoryUsage(std::string_view label);

    /// "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%" of the stage time in
    /// milliseconds, the runs, the time per run (0 without runs) and the share
    /// of `totalMilliseconds`.
    static std::string formatTimeWithPercentage(double time, double runs, double totalMilliseconds);

    /// The text of one item as it appears in a line: strings unchanged,
    /// Booleans "true"/"false", integers in decimal, floating-point numbers in
    /// their shortest form ("2.5", "2.0"), other types through fmt or <<.
    template <typename T> static void appendItem(std::string& out, const T& item);

    template <typename... Items>
    static std::string joinItems([[maybe_unused]] Separator separator, const Items&... items) {
        std::string message;
        [[maybe_unused]] bool first = true;
        (
            [&] {
                if (!first) message += separator.text;
                first = false;
                appendItem(message, items);
            }(),
            ...);
        return message;
    }

private:
    Logging() = default;

    template <typename... Items>
    static void emitIfAllowed(LogLevel level, platform::system::LogType type, Separator separator,
                              const Items&... items) {
        Logging& logger = shared();
        if (level < logger.logLevel()) return;
        try {
            logger.log(joinItems(separator, items...), type);
        } catch (...) {
            // Rendering an item failed (out of memory, a throwing formatter):
            // logging never fails its caller.
        }
    }

    std::atomic<LogLevel> logLevel_{LogLevel::none};
    mutable std::mutex callbackMutex_;
    std::shared_ptr<const Callback> callback_;
};

/// Same as Logging::getMemoryUsage / Logging::logCurrentMemoryUsage.
uint64_t getMemoryUsage();
void logCurrentMemoryUsage(std::string_view label);

template <typename T> void Logging::appendItem(std::string& out, const T& item) {
    using U = std::remove_cvref_t<T>;
    if constexpr (std::is_convertible_v<const U&, std::string_view>) {
        out += std::string_view(item);
    } else if constexpr (std::is_same_v<U, bool>) {
        out += item ? "true" : "false";
    } else if constexpr (std::is_same_v<U, char>) {
        out += item;
    } else if constexpr (std::is_integral_v<U>) {
        out += std::to_string(item);
    } else if constexpr (std::is_same_v<U, float> || std::is_same_v<U, double>) {
        out += platform::text::shortestText(item);
    } else if constexpr (std::is_enum_v<U> && !fmt::is_formattable<U>::value) {
        out += std::to_string(static_cast<std::underlying_type_t<U>>(item));
    } else if constexpr (fmt::is_formattable<U>::value) {
        out += fmt::format("{}", item);
    } else {
        std::ostringstream stream;
        stream << item;
        out += stream.str();
    }
}

} // namespace tessary

/// One line at `level` (debug, info or error) whose items are evaluated only
/// when such lines are written:
///     TESSARY_LOG(debug, fmt::format("Loaded {} in {:.2f}s", name, seconds));
/// The items are those of Logging::debug and its siblings.
#define TESSARY_LOG(level, ...)                                                                    \
    do {                                                                                           \
        if (::tessary::Logging::isEnabled(::tessary::Logging::LogLevel::level))                    \
            ::tessary::Logging::level(__VA_ARGS__);                                                \
    } while (false)

template <> struct fmt::formatter<tessary::Logging::LogLevel> : fmt::formatter<std::string_view> {
    template <typename FormatContext>
    auto format(tessary::Logging::LogLevel level, FormatContext& context) const {
        return fmt::formatter<std::string_view>::format(tessary::Logging::levelName(level),
                                                        context);
    }
};
