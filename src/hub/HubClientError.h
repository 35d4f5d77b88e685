#pragma once
// Every failure of the hub client itself, with the message the user sees as
// what().

#include <exception>
#include <filesystem>
#include <stdexcept>
#include <string>

namespace hub {

class HubClientError : public std::runtime_error {
public:
    enum class Kind {
        httpStatusCode,
        jsonSerialization,
        downloadError,
        fileNotFound,
        networkError,
        resourceNotFound,
        configurationMissing,
        fileSystemError,
        parseError,
        authorizationRequired,
        parse,
        unexpectedError,
    };

    static HubClientError httpStatusCode(long code) {
        return {Kind::httpStatusCode, std::to_string(code),
                "HTTP error with status code: " + std::to_string(code), code};
    }
    static HubClientError jsonSerialization(std::filesystem::path fileURL,
                                            const std::string& message) {
        HubClientError e{Kind::jsonSerialization, message, message};
        e.fileURL_ = std::move(fileURL);
        return e;
    }
    static HubClientError downloadError(const std::string& text) {
        return {Kind::downloadError, text, "Download failed: " + text};
    }
    static HubClientError fileNotFound(const std::string& text) {
        return {Kind::fileNotFound, text, "File not found: " + text};
    }
    /// Carries the network error; `description` is its localized description.
    static HubClientError networkError(const std::string& description,
                                       std::exception_ptr cause = nullptr) {
        HubClientError e{Kind::networkError, description, "Network error: " + description};
        e.cause_ = std::move(cause);
        return e;
    }
    static HubClientError resourceNotFound(const std::string& text) {
        return {Kind::resourceNotFound, text, "Resource not found: " + text};
    }
    static HubClientError configurationMissing(const std::string& text) {
        return {Kind::configurationMissing, text, "Required configuration file missing: " + text};
    }
    static HubClientError fileSystemError(const std::string& description,
                                          std::exception_ptr cause = nullptr) {
        HubClientError e{Kind::fileSystemError, description, "File system error: " + description};
        e.cause_ = std::move(cause);
        return e;
    }
    static HubClientError parseError(const std::string& text) {
        return {Kind::parseError, text, "Parse error: " + text};
    }
    static HubClientError authorizationRequired() {
        return {Kind::authorizationRequired,
                {},
                "Authentication required. Please provide a valid Quillon token."};
    }
    static HubClientError parse() { return {Kind::parse, {}, "Failed to parse server response."}; }
    static HubClientError unexpectedError() {
        return {Kind::unexpectedError, {}, "An unexpected error occurred."};
    }

    Kind kind() const { return kind_; }
    /// The case's text payload (status code in decimal for httpStatusCode).
    const std::string& payload() const { return payload_; }
    long statusCode() const { return statusCode_; }
    /// The document location of a jsonSerialization error.
    const std::filesystem::path& fileURL() const { return fileURL_; }
    /// The underlying error of networkError and fileSystemError, if kept.
    std::exception_ptr cause() const { return cause_; }
    std::string errorDescription() const { return what(); }

private:
    HubClientError(Kind kind, std::string payload, const std::string& message, long statusCode = 0)
        : std::runtime_error(message), kind_(kind), payload_(std::move(payload)),
          statusCode_(statusCode) {}

    Kind kind_;
    std::string payload_;
    long statusCode_ = 0;
    std::filesystem::path fileURL_;
    std::exception_ptr cause_;
};

} // namespace hub
