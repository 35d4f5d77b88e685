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

// Writes filled chunks on a thread of its own, hashing them as it goes, while
// the caller fills the next one: receiving and writing overlap, and at most
// two chunks are ever held in memory.
class ChunkWriter {
public:
    ChunkWriter(int fd, const fs::path& path, int64_t offset, Sha256* hasher, size_t capacity)
        : fd_(fd), path_(path), offset_(offset), hasher_(hasher) {
        fill_.reserve(capacity);
        spare_.reserve(capacity);
        thread_ = std::jthread([this](std::stop_token stop) { work(stop); });
    }

    ~ChunkWriter() {
        {
            std::lock_guard lock(mutex_);
            thread_.request_stop();
        }
        changed_.notify_all();
    }

    std::string& buffer() { return fill_; }

    /// Hands the filled buffer over; waits while the previous one is written.
    void submit() {
        if (fill_.empty()) return;
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !pending_; });
        rethrowLocked();
        std::swap(fill_, spare_);
        pending_ = true;
        lock.unlock();
        changed_.notify_all();
    }

    /// Waits until everything handed over is on disk; rethrows a write error.
    void drain() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [&] { return !pending_; });
        rethrowLocked();
    }

    /// Bytes of the file written so far (exact after drain()).
    int64_t written() {
        std::lock_guard lock(mutex_);
        return offset_;
    }

    /// Empties the file and starts again from its first byte.
    void restart() {
        drain();
        fill_.clear();
        if (::ftruncate(fd_, 0) != 0) throwPosix("Cannot truncate", path_);
        std::lock_guard lock(mutex_);
        offset_ = 0;
        if (hasher_) hasher_->finish(); // starts the digest afresh
    }

private:
    void rethrowLocked() {
        if (error_) std::rethrow_exception(error_);
    }

    void work(std::stop_token stop) {
        std::unique_lock lock(mutex_);
        for (;;) {
            changed_.wait(lock, [&] { return pending_ || stop.stop_requested(); });
            if (!pending_) return;
            int64_t offset = offset_;
            lock.unlock();
            std::exception_ptr error;
            try {
                const char* data = spare_.data();
                size_t left = spare_.size();
                while (left > 0) {
                    ssize_t n = ::pwrite(fd_, data, left, offset);
                    if (n < 0) {
                        if (errno == EINTR) continue;
                        throwPosix("Cannot write", path_);
                    }
                    data += n;
                    left -= static_cast<size_t>(n);
                    offset += n;
                }
                if (hasher_) hasher_->update(spare_.data(), spare_.size());
            } catch (...) {
                error = std::current_exception();
            }
            lock.lock();
            offset_ = offset;
            spare_.clear();
            pending_ = false;
            if (error) error_ = error;
            changed_.notify_all();
        }
    }

    int fd_;
    const fs::path& path_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string fill_;
    std::string spare_;
    bool pending_ = false;
    int64_t offset_;
    Sha256* hasher_;
    std::exception_ptr error_;
    std::jthread thread_;
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
        ChunkWriter writer(file.fd, incompleteDestination_, downloaded, hasher ? &*hasher : nullptr,
                           static_cast<size_t>(chunkSize_));

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
            int64_t runningTotal = downloaded;
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
                            downloaded = runningTotal = sampleBytes = 0;
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
                        std::string& buffer = writer.buffer();
                        while (!piece.empty()) {
                            const size_t room = static_cast<size_t>(chunkSize_) - buffer.size();
                            const size_t take = std::min(room, piece.size());
                            buffer.append(piece.data(), take);
                            piece.remove_prefix(take);
                            if (buffer.size() < static_cast<size_t>(chunkSize_)) break;
                            runningTotal += static_cast<int64_t>(buffer.size());
                            writer.submit();
                            retriesLeft = kRetriesAfterProgress;
                            if (!expected) continue;
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
                writer.submit();
                writer.drain();
                downloaded = writer.written();
                break;
            } catch (const SystemError& error) {
                if (!isTransportError(error) || !headSeen) throw;
                // The bytes that did arrive are a valid prefix: keep them.
                writer.submit();
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
