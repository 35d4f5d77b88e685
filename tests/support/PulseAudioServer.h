#pragma once
// A private PulseAudio sound server for tests, with a microphone the test
// feeds: the server runs from a fresh temporary folder (runtime, state and
// home folders of its own, no system or user configuration), its default
// source is a pipe source reading 16 kHz mono float samples from a FIFO, and
// its default sink discards what it is given.
//
// While the object lives, this process talks to that server only: PULSE_SERVER
// names its socket, and ALSA_CONFIG_PATH adds a configuration that makes
// ALSA's default device the server (through ALSA's PulseAudio plugin), which
// is how PortAudio reaches it. Everything is stopped and removed again when
// the object goes away.
//
//     zvtest::PulseAudioServer server;
//     if (!server.running()) GTEST_SKIP() << server.failure();
//     server.feed(samples);   // paced like a real microphone

#include "support/ChildProcess.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <pthread.h>
#include <stdexcept>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zvtest {

class PulseAudioServer {
public:
    static constexpr int sampleRate = 16000;

    PulseAudioServer() {
        namespace fs = std::filesystem;
        std::string pattern = (fs::temp_directory_path() / "zv-pulse-XXXXXX").string();
        if (!mkdtemp(pattern.data())) {
            failure_ = "cannot make a temporary folder";
            return;
        }
        folder_ = pattern;
        for (const char* sub : {"run/pulse", "state", "home/.config/pulse"})
            fs::create_directories(folder_ / sub);
        socket_ = (folder_ / "run/pulse/native").string();
        fifo_ = (folder_ / "microphone").string();
        {
            std::ofstream script(folder_ / "server.pa");
            script << ".fail\n"
                   << "load-module module-native-protocol-unix socket=" << socket_
                   << " auth-anonymous=1\n"
                   << "load-module module-pipe-source source_name=microphone file=" << fifo_
                   << " format=float32le rate=" << sampleRate << " channels=1\n"
                   << "load-module module-null-sink sink_name=discard\n"
                   << "set-default-source microphone\n"
                   << "set-default-sink discard\n";
        }
        std::ofstream(folder_ / "client.conf") << "autospawn = no\n";
        std::ofstream(folder_ / "asound.conf") << "pcm.!default { type pulse }\n"
                                               << "ctl.!default { type pulse }\n";
        if (!start()) return;
        exportEnvironment();
    }

    ~PulseAudioServer() {
        stopFeeding();
        stopChild(pid_, std::chrono::seconds(1));
        for (const auto& [name, value] : savedEnvironment_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        if (!folder_.empty()) {
            std::error_code ignored;
            std::filesystem::remove_all(folder_, ignored);
        }
    }

    PulseAudioServer(const PulseAudioServer&) = delete;
    PulseAudioServer& operator=(const PulseAudioServer&) = delete;

    bool running() const { return pid_ > 0; }
    /// Why the server is not running.
    const std::string& failure() const { return failure_; }
    const std::filesystem::path& folder() const { return folder_; }

    /// Starts writing `samples` (16 kHz mono) into the microphone from a
    /// background thread, a twentieth of a second at a time at the pace of a
    /// real microphone, and silence after them for as long as the server
    /// runs or until the next feed (a real microphone never stops sending);
    /// returns at once. A feed in progress is stopped first.
    void feed(std::vector<float> samples) {
        stopFeeding();
        stopFeed_ = false;
        feedDone_ = false;
        feeder_ = std::thread([this, samples = std::move(samples)] {
            // A server that has stopped reading must not block the writer,
            // nor kill the process with SIGPIPE once it has gone.
            sigset_t pipeSignal;
            sigemptyset(&pipeSignal);
            sigaddset(&pipeSignal, SIGPIPE);
            pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);
            const int fd = ::open(fifo_.c_str(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0) {
                const size_t piece = sampleRate / 20;
                const std::vector<float> silence(piece, 0.0f);
                auto next = std::chrono::steady_clock::now();
                for (size_t at = 0; !stopFeed_; at += piece) {
                    if (at >= samples.size()) feedDone_ = true;
                    const size_t count =
                        at < samples.size() ? std::min(piece, samples.size() - at) : piece;
                    const float* source =
                        at < samples.size() ? samples.data() + at : silence.data();
                    const char* bytes = reinterpret_cast<const char*>(source);
                    size_t left = count * sizeof(float);
                    while (left > 0 && !stopFeed_) {
                        const ssize_t n = ::write(fd, bytes, left);
                        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
                            std::this_thread::sleep_for(std::chrono::milliseconds(2));
                            continue;
                        }
                        if (n <= 0) break;
                        bytes += n;
                        left -= size_t(n);
                    }
                    next += std::chrono::microseconds(1'000'000 * count / sampleRate);
                    std::this_thread::sleep_until(next);
                }
                ::close(fd);
            }
            feedDone_ = true;
        });
    }

    /// Waits until the fed samples have been written completely.
    void waitForFeed() const {
        while (!feedDone_ && feeder_.joinable())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    bool feedDone() const { return feedDone_; }

private:
    bool start() {
        if (::access("/usr/bin/pulseaudio", X_OK) != 0) {
            failure_ = "/usr/bin/pulseaudio is not installed";
            return false;
        }
        const std::string script = (folder_ / "server.pa").string();
        const std::string log = (folder_ / "server.log").string();
        std::vector<std::string> args = {"pulseaudio",
                                         "-n",
                                         "-F",
                                         script,
                                         "--daemonize=no",
                                         "--exit-idle-time=-1",
                                         "--use-pid-file=no",
                                         "--system=false",
                                         "--disallow-exit=yes",
                                         "--log-target=file:" + log,
                                         "--log-level=warning"};
        std::vector<std::string> env = {"PATH=/usr/bin:/bin",
                                        "HOME=" + (folder_ / "home").string(),
                                        "XDG_CONFIG_HOME=" + (folder_ / "home/.config").string(),
                                        "XDG_RUNTIME_DIR=" + (folder_ / "run").string(),
                                        "PULSE_RUNTIME_PATH=" + (folder_ / "run/pulse").string(),
                                        "PULSE_STATE_PATH=" + (folder_ / "state").string()};
        std::vector<char*> argv, envp;
        for (std::string& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        for (std::string& e : env)
            envp.push_back(e.data());
        envp.push_back(nullptr);
        // The server dies with this process, also when a test is killed.
        const int logFd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const int nullFd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) ::_exit(127);
            ::dup2(nullFd, 0);
            ::dup2(logFd, 1);
            ::dup2(logFd, 2);
            ::execve("/usr/bin/pulseaudio", argv.data(), envp.data());
            ::_exit(127);
        }
        if (logFd >= 0) ::close(logFd);
        if (nullFd >= 0) ::close(nullFd);
        if (pid < 0) {
            failure_ = std::string("pulseaudio cannot be started: ") + std::strerror(errno);
            return false;
        }
        pid_ = pid;
        // Ready when its socket accepts a connection.
        for (int i = 0; i < 500; ++i) {
            int waited = 0;
            if (::waitpid(pid_, &waited, WNOHANG) == pid_) {
                pid_ = -1;
                failure_ = "pulseaudio exited at start: " + readLog();
                return false;
            }
            if (connects()) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        failure_ = "pulseaudio did not open its socket within 10 s: " + readLog();
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
        return false;
    }

    bool connects() const {
        const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
        if (fd < 0) return false;
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::strncpy(address.sun_path, socket_.c_str(), sizeof address.sun_path - 1);
        const bool ok =
            ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
        ::close(fd);
        return ok;
    }

    std::string readLog() const {
        std::ifstream in(folder_ / "server.log");
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

    void setEnvironment(const std::string& name, const std::string& value) {
        if (!savedEnvironment_.count(name)) {
            const char* old = std::getenv(name.c_str());
            savedEnvironment_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        ::setenv(name.c_str(), value.c_str(), 1);
    }

    void exportEnvironment() {
        setEnvironment("PULSE_SERVER", "unix:" + socket_);
        setEnvironment("PULSE_CLIENTCONFIG", (folder_ / "client.conf").string());
        setEnvironment("PULSE_RUNTIME_PATH", (folder_ / "run/pulse").string());
        // The system's ALSA configuration, then ours on top of it.
        std::string alsa = "/usr/share/alsa/alsa.conf";
        if (const char* old = std::getenv("ALSA_CONFIG_PATH"); old && *old) alsa = old;
        setEnvironment("ALSA_CONFIG_PATH", alsa + ":" + (folder_ / "asound.conf").string());
    }

    void stopFeeding() {
        stopFeed_ = true;
        if (feeder_.joinable()) feeder_.join();
    }

    std::filesystem::path folder_;
    std::string socket_;
    std::string fifo_;
    std::string failure_;
    pid_t pid_ = -1;
    std::thread feeder_;
    std::atomic<bool> stopFeed_{false};
    std::atomic<bool> feedDone_{false};
    std::map<std::string, std::optional<std::string>> savedEnvironment_;
};

} // namespace zvtest
