#pragma once
// A platform-level error carrying a domain, a numeric code and a localized,
// human-readable description (what the user is shown). `what()` returns the
// description; `debugDescription()` is the default textual form used in logs
// and on the command line.

#include <stdexcept>
#include <string>

namespace platform::system {

class SystemError : public std::runtime_error {
public:
    SystemError(std::string domain, long code, std::string localizedDescription)
        : std::runtime_error(localizedDescription), domain_(std::move(domain)), code_(code),
          localizedDescription_(std::move(localizedDescription)) {}

    const std::string& domain() const { return domain_; }
    long code() const { return code_; }
    const std::string& localizedDescription() const { return localizedDescription_; }

    /// "Error Domain=<domain> Code=<code> "<description>"".
    std::string debugDescription() const {
        return "Error Domain=" + domain_ + " Code=" + std::to_string(code_) + " \"" +
               localizedDescription_ + "\"";
    }

private:
    std::string domain_;
    long code_;
    std::string localizedDescription_;
};

} // namespace platform::system
