#pragma once
// Cooperative cancellation: the running task installs its std::stop_token in a
// thread-local scope so that code deep in a call chain can check it without
// the token being passed through every signature.

#include <stdexcept>
#include <stop_token>

namespace platform::system {

/// Thrown when the running task has been asked to stop.
class CancellationError : public std::runtime_error {
public:
    CancellationError() : std::runtime_error("The operation was cancelled.") {}
};

/// Installs a stop token for the current thread for the lifetime of the scope.
/// Scopes nest: the previous token comes back when the scope ends.
class CancellationScope {
public:
    explicit CancellationScope(std::stop_token token);
    ~CancellationScope();
    CancellationScope(const CancellationScope&) = delete;
    CancellationScope& operator=(const CancellationScope&) = delete;

private:
    std::stop_token previous_;
};

/// The stop token installed for the current thread (an empty token if none).
std::stop_token currentStopToken();

/// True when the current task has been asked to stop.
bool isCancelled();

/// Throws CancellationError when the current task has been asked to stop.
void checkCancellation();

} // namespace platform::system
