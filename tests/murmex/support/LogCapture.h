#pragma once
// Captures the engine log for a test: while the object lives the shared
// logger runs at debug level and its lines are collected instead of printed.

#include "tessary_core/Logging.h"

#include <mutex>
#include <string>
#include <vector>

namespace murmex::testing {

/// Collects the engine log lines written while it lives, at debug level.
class LogCapture {
public:
    LogCapture() : previousLevel_(tessary::Logging::shared().logLevel()) {
        tessary::Logging::shared().setLogLevel(tessary::Logging::LogLevel::debug);
        tessary::Logging::shared().setLoggingCallback([this](const std::string& line) {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        });
    }
    ~LogCapture() {
        tessary::Logging::shared().setLoggingCallback({});
        tessary::Logging::shared().setLogLevel(previousLevel_);
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool contains(const std::string& text) {
        for (const std::string& line : lines()) {
            if (line.find(text) != std::string::npos) return true;
        }
        return false;
    }
    int count(const std::string& prefix) {
        int n = 0;
        for (const std::string& line : lines())
            n += line.rfind(prefix, 0) == 0;
        return n;
    }

private:
    tessary::Logging::LogLevel previousLevel_;
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

} // namespace murmex::testing
