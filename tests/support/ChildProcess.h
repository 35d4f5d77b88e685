#pragma once
// Ending a helper process a test started: asked to stop, then killed if it
// has not ended within the grace period; reaped either way.

#include <chrono>
#include <csignal>
#include <sys/types.h>
#include <sys/wait.h>
#include <thread>

namespace zvtest {

/// Stops the child `pid` (nothing when it is not positive) and sets it to -1.
inline void stopChild(pid_t& pid, std::chrono::milliseconds grace) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    constexpr auto kPoll = std::chrono::milliseconds(20);
    int status = 0;
    bool ended = false;
    for (std::chrono::milliseconds waited{0}; waited < grace && !ended; waited += kPoll) {
        ended = ::waitpid(pid, &status, WNOHANG) == pid;
        if (!ended) std::this_thread::sleep_for(kPoll);
    }
    if (!ended) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
    }
    pid = -1;
}

} // namespace zvtest
