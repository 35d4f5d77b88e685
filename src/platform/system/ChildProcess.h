#pragma once
// Runs a program as a child process with an explicit argument vector (no
// shell), waits for it and reports how it ended.

#include <string>
#include <vector>

namespace platform::system {

struct ProcessExit {
    bool exited = false; ///< ended through exit() rather than a signal
    int status = -1;     ///< exit status when `exited`, else the signal number
    bool success() const { return exited && status == 0; }
};

/// Starts `program` with `arguments` (argv[1..]) and waits for it to end.
/// Standard input is /dev/null; output streams are inherited unless `quiet`,
/// in which case they go to /dev/null. Throws SystemError (domain "NSPOSIXErrorDomain",
/// code errno) when the program cannot be launched.
ProcessExit runProcess(const std::string& program, const std::vector<std::string>& arguments,
                       bool quiet = true);

} // namespace platform::system
