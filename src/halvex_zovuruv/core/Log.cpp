#include "halvex_zovuruv/core/Log.h"

#include <ctime>
#include <fcntl.h>
#include <mutex>
#include <unistd.h>

namespace halvex {

namespace {
std::mutex redirectMutex;
std::optional<std::filesystem::path> redirected;
} // namespace

const std::filesystem::path& Log::url() {
    static const std::filesystem::path path = "/tmp/halvex-zovuruv.log";
    return path;
}

std::string Log::timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm utc{};
    gmtime_r(&now, &utc);
    char buffer[32];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return buffer;
}

void Log::write(std::string_view message) {
    std::filesystem::path file;
    {
        std::lock_guard lock(redirectMutex);
        file = redirected ? *redirected : url();
    }
    writeTo(file, message);
}

void Log::redirect(std::optional<std::filesystem::path> file) {
    std::lock_guard lock(redirectMutex);
    redirected = std::move(file);
}

void Log::writeTo(const std::filesystem::path& file, std::string_view message) {
    std::string line = timestamp();
    line += ' ';
    line.append(message);
    line += '\n';
    // The log lives in a world-writable folder: never follow a symbolic link
    // planted at its name, and keep the file private to its owner, since it
    // holds transcripts. O_APPEND makes each line one atomic append, so lines
    // written from several threads never overwrite each other.
    int fd = ::open(file.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return;
    const char* data = line.data();
    size_t left = line.size();
    while (left > 0) {
        ssize_t n = ::write(fd, data, left);
        if (n <= 0) break;
        data += n;
        left -= static_cast<size_t>(n);
    }
    ::close(fd);
}

} // namespace halvex
