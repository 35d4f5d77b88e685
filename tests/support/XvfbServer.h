#pragma once
// A private X server for tests: Xvfb on a display number it picks itself
// (-displayfd), optionally with the openbox window manager on it. The
// server and the manager die with the object, and with the test process
// when it is killed.
//
//     zvtest::XvfbServer x;
//     if (!x.running()) GTEST_SKIP() << x.failure();
//     x.startWindowManager();        // optional: EWMH focus handling
//     XOpenDisplay(x.display().c_str());

#include "support/ChildProcess.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <optional>
#include <poll.h>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zvtest {

class XvfbServer {
public:
    explicit XvfbServer(const std::string& geometry = "1280x800x24") {
        if (::access("/usr/bin/Xvfb", X_OK) != 0) {
            failure_ = "Xvfb is not installed (scripts/install-deps installs it)";
            return;
        }
        int pipeFds[2];
        if (::pipe(pipeFds) != 0) {
            failure_ = "no pipe";
            return;
        }
        server_ = spawn({"/usr/bin/Xvfb", "-displayfd", std::to_string(pipeFds[1]), "-screen", "0",
                         geometry, "-nolisten", "tcp", "-noreset"},
                        {}, pipeFds[1]);
        ::close(pipeFds[1]);
        // Xvfb writes the display number once it accepts connections.
        std::string number;
        pollfd p{pipeFds[0], POLLIN, 0};
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (std::chrono::steady_clock::now() < deadline) {
            if (::poll(&p, 1, 100) > 0) {
                char c;
                const ssize_t n = ::read(pipeFds[0], &c, 1);
                if (n <= 0) break;
                if (c == '\n') break;
                number += c;
            }
        }
        ::close(pipeFds[0]);
        if (number.empty()) {
            failure_ = "Xvfb did not start";
            stop(server_);
            return;
        }
        display_ = ":" + number;
    }

    ~XvfbServer() {
        for (auto it = helpers_.rbegin(); it != helpers_.rend(); ++it)
            stop(*it);
        stop(server_);
    }

    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return !display_.empty(); }
    const std::string& failure() const { return failure_; }
    /// ":N".
    const std::string& display() const { return display_; }

    /// Starts openbox on the display; false when it is not installed. The
    /// caller waits for it to announce itself (X11Windows::hasWindowManager).
    bool startWindowManager() {
        if (::access("/usr/bin/openbox", X_OK) != 0) return false;
        startHelper({"/usr/bin/openbox", "--sm-disable"});
        return true;
    }

    /// Starts any program on the display; it is stopped with the server.
    pid_t startHelper(const std::vector<std::string>& argv,
                      const std::vector<std::string>& environment = {}) {
        std::vector<std::string> env = {"DISPLAY=" + display_};
        env.insert(env.end(), environment.begin(), environment.end());
        const pid_t pid = spawn(argv, env, -1);
        if (pid > 0) helpers_.push_back(pid);
        return pid;
    }

    /// Stops one program started by startHelper.
    void stopHelper(pid_t pid) {
        for (auto it = helpers_.begin(); it != helpers_.end(); ++it) {
            if (*it == pid) {
                stop(pid);
                helpers_.erase(it);
                return;
            }
        }
    }

private:
    /// Starts `argv` with this process's environment plus `environment`;
    /// `keepFd` stays open in the child.
    static pid_t spawn(const std::vector<std::string>& argv,
                       const std::vector<std::string>& environment, int keepFd) {
        std::vector<std::string> args = argv;
        std::vector<char*> cargv;
        for (auto& a : args)
            cargv.push_back(a.data());
        cargv.push_back(nullptr);
        std::vector<std::string> env = environment;
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            for (auto& e : env)
                ::putenv(e.data());
            const int null = ::open("/dev/null", O_RDWR);
            ::dup2(null, 0);
            if (!std::getenv("ZV_TEST_HELPER_OUTPUT")) {
                ::dup2(null, 1);
                ::dup2(null, 2);
            }
            // Close everything else the test holds open.
            for (int fd = 3; fd < 1024; ++fd)
                if (fd != keepFd) ::close(fd);
            ::execv(cargv[0], cargv.data());
            ::_exit(127);
        }
        return pid;
    }

    static void stop(pid_t& pid) { stopChild(pid, std::chrono::seconds(2)); }

    std::string display_;
    std::string failure_;
    pid_t server_ = -1;
    std::vector<pid_t> helpers_;
};

} // namespace zvtest
