#include "tessary_core/Logging.h"

#include "platform/system/MachineInfo.h"

#include <cstdio>
#include <utility>

namespace tessary {

namespace {
constexpr std::string_view kCategory = "Tessary";
}

std::optional<Logging::LogLevel> Logging::logLevelFromRawValue(int rawValue) {
    if (rawValue < 1 || rawValue > 4) return std::nullopt;
    return static_cast<LogLevel>(rawValue);
}

std::string_view Logging::levelName(LogLevel level) {
    switch (level) {
    case LogLevel::debug:
        return "debug";
    case LogLevel::info:
        return "info";
    case LogLevel::error:
        return "error";
    case LogLevel::none:
        return "none";
    }
    return "none";
}

Logging& Logging::shared() {
    // Created once (thread-safe) and never destroyed, so that threads still
    // logging while the process exits never reach a dead logger.
    static Logging* instance = new Logging();
    return *instance;
}

Logging::Callback Logging::loggingCallback() const {
    std::lock_guard lock(callbackMutex_);
    return callback_ ? *callback_ : Callback();
}

void Logging::setLoggingCallback(Callback callback) {
    std::shared_ptr<const Callback> replacement;
    if (callback) replacement = std::make_shared<const Callback>(std::move(callback));
    std::shared_ptr<const Callback> previous;
    {
        std::lock_guard lock(callbackMutex_);
        previous = std::exchange(callback_, std::move(replacement));
    }
    // `previous` (and whatever it captured) is released here, outside the lock.
}

void Logging::log(std::string_view message, platform::system::LogType type) {
    std::shared_ptr<const Callback> callback;
    {
        std::lock_guard lock(callbackMutex_);
        callback = callback_;
    }
    if (callback) {
        try {
            (*callback)(std::string(message));
        } catch (...) {
            // What the callback does with the line is its own affair; a
            // failing callback does not fail the code that logs.
        }
        return;
    }
    platform::system::LogSink::write(type, kCategory, message);
}

uint64_t Logging::getMemoryUsage() {
    auto bytes = platform::system::MachineInfo::residentMemoryBytes();
    return bytes ? *bytes >> 20 : 0;
}

void Logging::logCurrentMemoryUsage(std::string_view label) {
    uint64_t mebibytes = getMemoryUsage(); // read before the level is tested
    debug(std::string(label) + " - Memory usage: " + std::to_string(mebibytes) + " MB");
}

std::string Logging::formatTimeWithPercentage(double time, double runs, double totalMilliseconds) {
    double milliseconds = time * 1000;
    double perRun = runs > 0 ? milliseconds / runs : 0;
    double share = milliseconds / totalMilliseconds * 100;
    static constexpr const char* kFormat = "%8.2f ms / %6.0f runs (%8.2f ms/run) %5.2f%%";
    // Huge values print hundreds of digits: size the text before writing it.
    int length = std::snprintf(nullptr, 0, kFormat, milliseconds, runs, perRun, share);
    if (length <= 0) return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    std::snprintf(text.data(), text.size(), kFormat, milliseconds, runs, perRun, share);
    text.resize(static_cast<size_t>(length));
    return text;
}

uint64_t getMemoryUsage() {
    return Logging::getMemoryUsage();
}

void logCurrentMemoryUsage(std::string_view label) {
    Logging::logCurrentMemoryUsage(label);
}

} // namespace tessary
