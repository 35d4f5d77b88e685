#pragma once
// Fetches one remote file into an incomplete file and, once it is whole,
// moves it to its final place. A transfer resumes from the bytes the
// incomplete file already holds by asking for the rest with an HTTP range,
// writes the body in chunks (10 MiB at the hub cache) so memory stays flat,
// retries a broken body a bounded number of times after a pause, checks the
// final size (and, when given, the SHA-256 digest) and reports its progress
// as a stream of states that any number of listeners can follow.
//
// The incomplete file never ends up holding anything but a prefix of the
// remote file: the status is checked before a body byte is written, a
// server that ignores the range restarts the file from its first byte, an
// incomplete file longer than the expected size is emptied first, and a
// transfer whose size or digest comes out wrong deletes it. The file is
// closed, then moved, then announced complete.

#include "hub/Broadcaster.h"

#include <atomic>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>

namespace hub {

class Downloader {
public:
    struct DownloadState {
        enum class Kind { downloading, completed, failed, notStarted };
        Kind kind = Kind::notStarted;
        /// downloading: the share of the expected size on disk (0 when unknown).
        double fraction = 0;
        /// downloading: bytes per second over the last interval, when measured.
        std::optional<double> speed;
        /// completed: where the file now is.
        std::filesystem::path url;
        /// failed: what went wrong.
        std::exception_ptr error;

        static DownloadState downloading(double fraction, std::optional<double> speed) {
            return {Kind::downloading, fraction, speed, {}, nullptr};
        }
        static DownloadState completed(std::filesystem::path url) {
            return {Kind::completed, 0, std::nullopt, std::move(url), nullptr};
        }
        static DownloadState failed(std::exception_ptr error) {
            return {Kind::failed, 0, std::nullopt, {}, std::move(error)};
        }
        static DownloadState notStarted() { return {}; }
    };

    class DownloadError : public std::runtime_error {
    public:
        enum class Kind { invalidDownloadLocation, unexpectedError, tempFileNotFound };
        DownloadError(Kind kind, const std::string& detail)
            : std::runtime_error(detail), kind_(kind) {}
        static DownloadError unexpectedError(const std::string& detail) {
            return {Kind::unexpectedError, detail};
        }
        Kind kind() const { return kind_; }

    private:
        Kind kind_;
    };

    using StateStream = Broadcaster<DownloadState>::Stream;
    using Headers = std::map<std::string, std::string>;

    static constexpr int64_t defaultChunkSize = 10 * 1024 * 1024;

    /// `inBackground` asks for a transfer that outlives the process; this
    /// platform has no such service, so transfers always run in-process and
    /// resume from the incomplete file on the next run instead.
    Downloader(std::filesystem::path destination, std::filesystem::path incompleteDestination,
               bool inBackground = false, int64_t chunkSize = defaultChunkSize);
    /// Stops a running transfer and waits for it.
    ~Downloader();
    Downloader(const Downloader&) = delete;
    Downloader& operator=(const Downloader&) = delete;

    /// Starts the transfer on a thread of its own (stopping one still
    /// running) and returns a stream of its states. `timeout` is the idle
    /// limit in seconds: a transfer may take as long as it needs while bytes
    /// flow. With `expectedSha256`, the finished file must have that digest.
    StateStream download(const std::string& url, const std::optional<std::string>& token,
                         const std::optional<Headers>& headers, std::optional<int64_t> expectedSize,
                         double timeout, int numRetries,
                         std::optional<std::string> expectedSha256 = std::nullopt);

    /// Stops the transfer; listeners see `failed` with a CancellationError.
    void cancel();

    /// A new listener of this downloader's states.
    StateStream subscribe() { return broadcaster_.subscribe(); }

    const std::filesystem::path& destination() const { return destination_; }
    const std::filesystem::path& incompleteDestination() const { return incompleteDestination_; }

    /// The file's size in bytes; 0 when it cannot be read.
    static int64_t incompleteFileSize(const std::filesystem::path& path);

    /// Replaces `to` with `from`, creating `to`'s folder when needed.
    static void moveDownloadedFile(const std::filesystem::path& from,
                                   const std::filesystem::path& to);

private:
    struct Transfer;

    void run(std::stop_token stop, const Transfer& transfer);

    const std::filesystem::path destination_;
    const std::filesystem::path incompleteDestination_;
    const int64_t chunkSize_;
    Broadcaster<DownloadState> broadcaster_;
    std::mutex taskMutex_;
    std::jthread task_;
};

} // namespace hub
