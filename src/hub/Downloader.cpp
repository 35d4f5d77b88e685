#include "hub/Downloader.h"

#include "hub/EnvironmentError.h"
#include "platform/net/HttpClient.h"
#include "platform/system/Cancellation.h"
#include "platform/system/Sha256.h"
#include "platform/system/SystemError.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace hub {

namespace fs = std::filesystem;
using platform::system::CancellationError;
using platform::system::Sha256;
using platform::system::SystemError;

namespace {

constexpr int kRetriesAfterProgress = 5;

[[noreturn]] void throwPosix(const std::string& what, const fs::path& path) {
    const int error = errno;
    throw SystemError("NSPOSIXErrorDomain", error,
                      what + " \"" + path.string() + "\": " + std::strerror(error));
}

bool isTransportError(const SystemError& error) {
    return error.domain() == "NSURLErrorDomain" && error.code() != -1000;
}

// Writes the body piece by piece at the file's end as it arrives, while the
// bytes are still in the processor's caches, and, given a hasher, feeds the
// digest on a thread of its own that reads the fresh bytes back a little
// behind the writes. Nothing of the body is gathered in memory.
class FileSink {
public:
    FileSink(int fd, const fs::path& path, int64_t offset, Sha256* hasher)
        : fd_(fd), path_(path), written_(offset), hashed_(offset), hasher_(hasher) {
        if (hasher_) hashing_ = std::jthread([this](std::stop_token stop) { hashLoop(stop); });
    }

    ~FileSink() {
        {
            std::lock_guard lock(mutex_);
            hashing_.request_stop();
        }
        changed_.notify_all();
    }

    void write(std::string_view piece) {
        int64_t offset = written();
        while (!piece.empty()) {
            const ssize_t n = ::pwrite(fd_, piece.data(), piece.size(), offset);
            if (n < 0) {
                if (errno == EINTR) continue;
                throwPosix("Cannot write", path_);
            }
            piece.remove_prefix(static_cast<size_t>(n));
            offset += n;
        }
        {
            std::lock_guard lock(mutex_);
            written_ = offset;
        }
        if (hasher_) changed_.notify_all();
    }

    int64_t written() {
        std::lock_guard lock(mutex_);
        return written_;
    }

    /// Waits until every written byte is in the digest; rethrows a read error.
    void drain() {
        if (!hasher_) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return error_ || hashed_ == written_; });
        if (error_) std::rethrow_exception(error_);
    }

    /// Empties the file and starts again from its first byte.
    void restart() {
        drain();
        if (::ftruncate(fd_, 0) != 0) throwPosix("Cannot truncate", path_);
        std::lock_guard lock(mutex_);
        written_ = hashed_ = 0;
        if (hasher_) hasher_->finish(); // starts the digest afresh
    }

private:
    void hashLoop(std::stop_token stop) {
        std::vector<char> block(1 << 20);
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return hashed_ < written_ || stop.stop_requested(); });
            if (hashed_ >= written_) return;
            const int64_t from = hashed_;
            const auto length = static_cast<size_t>(
                std::min<int64_t>(written_ - hashed_, static_cast<int64_t>(block.size())));
            lock.unlock();
            ssize_t n;
            do {
                n = ::pread(fd_, block.data(), length, from);
            } while (n < 0 && errno == EINTR);
            if (n > 0) hasher_->update(block.data(), static_cast<size_t>(n));
            lock.lock();
            if (n <= 0) {
                error_ = std::make_exception_ptr(
                    SystemError("NSPOSIXErrorDomain", n < 0 ? errno : EIO,
                                "Cannot read back \"" + path_.string() + "\" for its digest"));
                changed_.notify_all();
                return;
            }
            hashed_ = from + n;
            changed_.notify_all();
        }
    }

    int fd_;
    const fs::path& path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    int64_t written_;
    int64_t hashed_;
    Sha256* hasher_;
    std::exception_ptr error_;
    std::jthread hashing_;
};

// Reads the start of "bytes START-END/TOTAL".
std::optional<int64_t> contentRangeStart(const std::optional<std::string>& header) {
    if (!header || !header->starts_with("bytes ")) return std::nullopt;
    try {
        size_t used = 0;
        long long start = std::stoll(header->substr(6), &used);
        if (used == 0 || header->at(6 + used) != '-') return std::nullopt;
        return start;
    } catch (const std::exception&) {
        return std::nullopt;
    }
}

void hashExistingBytes(int fd, const fs::path& path, int64_t length, Sha256& hasher) {
    std::vector<char> block(1 << 20);
    int64_t offset = 0;
    while (offset < length) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(length - offset, 1 << 20));
        ssize_t n = ::pread(fd, block.data(), want, offset);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throwPosix("Cannot read", path);
        if (n == 0) break;
        hasher.update(block.data(), static_cast<size_t>(n));
        offset += n;
    }
}

void pauseBeforeRetry(std::stop_token stop) {
    std::mutex mutex;
    std::condition_variable_any wake;
    std::unique_lock lock(mutex);
    wake.wait_for(lock, stop, std::chrono::seconds(1), [] { return false; });
    if (stop.stop_requested()) throw CancellationError();
}

struct FileCloser {
    int fd = -1;
    ~FileCloser() {
        if (fd >= 0) ::close(fd);
    }
    void closeNow(const fs::path& path) {
        int f = fd;
        fd = -1;
        if (::close(f) != 0) throwPosix("Cannot close", path);
    }
};

} // namespace

struct Downloader::Transfer {
    std::string url;
    std::optional<std::string> token;
    Headers headers;
    std::optional<int64_t> expectedSize;
    double timeout = 10;
    int numRetries = 0;
    std::optional<std::string> expectedSha256;
};

Downloader::Downloader(fs::path destination, fs::path incompleteDestination, bool,
                       int64_t chunkSize)
    : destination_(std::move(destination)),
      incompleteDestination_(std::move(incompleteDestination)),
      chunkSize_(chunkSize > 0 ? chunkSize : defaultChunkSize),
      broadcaster_([] { return std::optional<DownloadState>(DownloadState::notStarted()); }) {}

Downloader::~Downloader() {
    std::jthread task;
    {
        std::lock_guard lock(taskMutex_);
        task = std::move(task_);
    }
    // jthread's destructor requests the stop and joins.
}

int64_t Downloader::incompleteFileSize(const fs::path& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return 0;
    return static_cast<int64_t>(info.st_size);
}

void Downloader::moveDownloadedFile(const fs::path& from, const fs::path& to) {
    if (fs::is_directory(fs::symlink_status(to))) fs::remove_all(to);
    if (to.has_parent_path()) fs::create_directories(to.parent_path());
    fs::rename(from, to); // replaces an existing file in one step
}

Downloader::StateStream
Downloader::download(const std::string& url, const std::optional<std::string>& token,
                     const std::optional<Headers>& headers, std::optional<int64_t> expectedSize,
                     double timeout, int numRetries, std::optional<std::string> expectedSha256) {
    Transfer transfer{url,     token,      headers.value_or(Headers{}), expectedSize,
                      timeout, numRetries, std::move(expectedSha256)};
    StateStream stream = broadcaster_.subscribe();
    std::jthread previous;
    {
        std::lock_guard lock(taskMutex_);
        previous = std::move(task_);
    }
    // The previous transfer writes the same incomplete file: let it stop first.
    previous = std::jthread();
    std::lock_guard lock(taskMutex_);
    task_ = std::jthread(
        [this, transfer = std::move(transfer)](std::stop_token stop) { run(stop, transfer); });
    return stream;
}

void Downloader::cancel() {
    {
        std::lock_guard lock(taskMutex_);
        task_.request_stop();
    }
    broadcaster_.broadcast(DownloadState::failed(std::make_exception_ptr(CancellationError())));
}

void Downloader::run(std::stop_token stop, const Transfer& t) {
    std::vector<std::pair<std::string, std::string>> headers(t.headers.begin(), t.headers.end());
    if (t.token) headers.emplace_back("Authorization", "Bearer " + *t.token);
    const std::optional<int64_t> expected = t.expectedSize;
    const int64_t resumeSize = incompleteFileSize(incompleteDestination_);
    broadcaster_.broadcast(DownloadState::downloading(resumeSize > 0 && expected && *expected >= 1
                                                          ? static_cast<double>(resumeSize) /
                                                                static_cast<double>(*expected)
                                                          : 0.0,
                                                      std::nullopt));

    FileCloser file;
    try {
        file.fd = ::open(incompleteDestination_.c_str(), O_RDWR | O_CLOEXEC);
        if (file.fd < 0) throwPosix("Cannot open", incompleteDestination_);

        int64_t downloaded = resumeSize;
        if (expected && downloaded > *expected) {
            // Longer than the file can be: its bytes cannot be trusted.
            if (::ftruncate(file.fd, 0) != 0) throwPosix("Cannot truncate", incompleteDestination_);
            downloaded = 0;
        }
        std::optional<Sha256> hasher;
        if (t.expectedSha256) {
            hasher.emplace();
            hashExistingBytes(file.fd, incompleteDestination_, downloaded, *hasher);
        }
        FileSink writer(file.fd, incompleteDestination_, downloaded, hasher ? &*hasher : nullptr);

        auto discardIncomplete = [&] {
            std::error_code ignored;
            fs::remove(incompleteDestination_, ignored);
        };

        // A whole file left by a run that stopped before the move needs no
        // request (asking for the bytes after its end would be refused).
        const bool alreadyWhole = expected && downloaded > 0 && downloaded == *expected;
        int retriesLeft = t.numRetries;
        while (!alreadyWhole) {
            platform::net::HttpRequest request;
            request.url = t.url;
            request.headers = headers;
            request.timeout =
                std::chrono::seconds(std::max<long>(1, static_cast<long>(std::ceil(t.timeout))));
            request.stopToken = stop;
            const bool ranged = downloaded > 0;
            if (ranged)
                request.headers.emplace_back("Range", "bytes=" + std::to_string(downloaded) + "-");

            bool headSeen = false;
            auto sampleTime = std::chrono::steady_clock::now();
            int64_t sampleBytes = downloaded;
            int64_t sinceChunk = 0;
            try {
                platform::net::HttpClient::stream(
                    request,
                    [&](const platform::net::HttpResponse& head) {
                        headSeen = true;
                        if (head.statusCode == 416) discardIncomplete();
                        if (head.statusCode < 200 || head.statusCode > 299) {
                            throw DownloadError::unexpectedError("The server answered " +
                                                                 std::to_string(head.statusCode) +
                                                                 " for " + t.url);
                        }
                        if (ranged && head.statusCode != 206) {
                            // The range was ignored: the body starts at byte 0.
                            writer.restart();
                            downloaded = sampleBytes = 0;
                        } else if (ranged) {
                            auto start = contentRangeStart(head.header("content-range"));
                            if (start && *start != downloaded) {
                                throw DownloadError::unexpectedError(
                                    "The server sent a range from byte " + std::to_string(*start) +
                                    " instead of " + std::to_string(downloaded));
                            }
                        }
                        return true;
                    },
                    [&](std::string_view piece) {
                        writer.write(piece);
                        sinceChunk += static_cast<int64_t>(piece.size());
                        // Progress and the retry budget move once per full chunk.
                        while (sinceChunk >= chunkSize_) {
                            sinceChunk -= chunkSize_;
                            retriesLeft = kRetriesAfterProgress;
                            if (!expected) continue;
                            const int64_t runningTotal = writer.written() - sinceChunk;
                            const auto now = std::chrono::steady_clock::now();
                            const double seconds =
                                std::chrono::duration<double>(now - sampleTime).count();
                            std::optional<double> speed;
                            if (seconds > 0)
                                speed = static_cast<double>(runningTotal - sampleBytes) / seconds;
                            const double fraction = *expected == 0
                                                        ? 0.0
                                                        : static_cast<double>(runningTotal) /
                                                              static_cast<double>(*expected);
                            broadcaster_.broadcast(DownloadState::downloading(fraction, speed));
                            sampleTime = now;
                            sampleBytes = runningTotal;
                        }
                        return true;
                    });
                writer.drain();
                downloaded = writer.written();
                break;
            } catch (const SystemError& error) {
                if (!isTransportError(error) || !headSeen) throw;
                // The bytes that did arrive are on disk, a valid prefix: keep them.
                writer.drain();
                downloaded = writer.written();
                if (retriesLeft <= 0) throw;
                --retriesLeft;
                pauseBeforeRetry(stop);
            }
        }
        writer.drain();

        if (expected && downloaded != *expected) {
            discardIncomplete();
            throw DownloadError::unexpectedError("Received " + std::to_string(downloaded) +
                                                 " bytes of " + t.url + ", expected " +
                                                 std::to_string(*expected));
        }
        if (hasher && Sha256::hexString(hasher->finish()) != *t.expectedSha256) {
            discardIncomplete();
            throw EnvironmentError::fileIntegrityError("Hash mismatch for " +
                                                       destination_.filename().string());
        }
        file.closeNow(incompleteDestination_);
        if (stop.stop_requested()) throw CancellationError();
        moveDownloadedFile(incompleteDestination_, destination_);
        broadcaster_.broadcast(DownloadState::completed(destination_));
    } catch (...) {
        broadcaster_.broadcast(DownloadState::failed(std::current_exception()));
    }
}

} // namespace hub
