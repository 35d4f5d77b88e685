#pragma once
// Alerts: a message, a detail and one button that closes them. Main thread
// only; the call returns when the user has closed the alert.

#include <string>

namespace halvex {

struct Alert {
    enum class Style { informational, warning };

    std::string message;         ///< the headline
    std::string informativeText; ///< the detail, may hold line feeds
    Style style = Style::warning;

    friend bool operator==(const Alert&, const Alert&) = default;
};

class AlertPresenting {
public:
    virtual ~AlertPresenting() = default;

    /// Brings the application to the front and shows the alert modally.
    virtual void show(const Alert& alert) = 0;
};

} // namespace halvex
