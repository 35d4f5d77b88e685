#pragma once
// Failures of the hub cache and the repository snapshot: unreadable or
// missing metadata, offline work without a usable local copy, a mirrored
// file whose digest does not match, a metadata file that cannot be written.

#include <stdexcept>
#include <string>

namespace hub {

class EnvironmentError : public std::runtime_error {
public:
    enum class Kind { invalidMetadataError, offlineModeError, fileIntegrityError, fileWriteError };

    static EnvironmentError invalidMetadataError(const std::string& message) {
        return {Kind::invalidMetadataError, message, "Invalid metadata: "};
    }
    static EnvironmentError offlineModeError(const std::string& message) {
        return {Kind::offlineModeError, message, "Offline mode error: "};
    }
    static EnvironmentError fileIntegrityError(const std::string& message) {
        return {Kind::fileIntegrityError, message, "File integrity check failed: "};
    }
    static EnvironmentError fileWriteError(const std::string& message) {
        return {Kind::fileWriteError, message, "Failed to write file: "};
    }

    Kind kind() const { return kind_; }
    /// The message without its prefix.
    const std::string& message() const { return message_; }

private:
    EnvironmentError(Kind kind, std::string message, const std::string& prefix)
        : std::runtime_error(prefix + message), kind_(kind), message_(std::move(message)) {}

    Kind kind_;
    std::string message_;
};

} // namespace hub
