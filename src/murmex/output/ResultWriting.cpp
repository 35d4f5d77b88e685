#include "murmex/output/ResultWriting.h"

#include "platform/system/SaturatingCast.h"
#include "platform/system/SystemError.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fmt/format.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace murmex {

namespace {

using platform::system::saturatingCast;

std::exception_ptr posixError(int code, const std::string& what) {
    return std::make_exception_ptr(
        platform::system::SystemError("posix", code, what + ": " + std::strerror(code)));
}

// "file://" followed by the path, with every byte outside the characters a
// URL path may hold percent-encoded.
std::string fileURL(const std::string& absolutePath) {
    static constexpr std::string_view kAllowed = "-._~!$&'()*+,;=:@/";
    std::string url = "file://";
    for (unsigned char c : absolutePath) {
        if (std::isalnum(c) || kAllowed.find(static_cast<char>(c)) != std::string_view::npos) {
            url += static_cast<char>(c);
        } else {
            url += fmt::format("%{:02X}", c);
        }
    }
    return url;
}

// The file-mode creation mask, read without changing it (umask(2) can only
// read it by setting it, which would race with other threads creating files).
mode_t processUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0)
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    }
    return 022;
}

bool writeAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        ssize_t written = ::write(fd, bytes.data(), bytes.size());
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(written));
    }
    return true;
}

} // namespace

std::string ResultWriting::formatTime(float seconds, bool alwaysIncludeHours,
                                      std::string_view decimalMarker) const {
    float t = (std::isnan(seconds) || seconds < 0) ? 0.0f : seconds;
    int hours = saturatingCast<int>(t / 3600.0f);
    int minutes = saturatingCast<int>(std::fmod(t, 3600.0f) / 60.0f);
    int wholeSeconds = saturatingCast<int>(std::fmod(t, 60.0f));
    int milliseconds = saturatingCast<int>((t - std::floor(t)) * 1000.0f);
    if (alwaysIncludeHours || hours > 0) {
        return fmt::format("{:02d}:{:02d}:{:02d}{}{:03d}", hours, minutes, wholeSeconds,
                           decimalMarker, milliseconds);
    }
    return fmt::format("{:02d}:{:02d}{}{:03d}", minutes, wholeSeconds, decimalMarker, milliseconds);
}

std::string ResultWriting::formatSegment(int index, float start, float end,
                                         std::string_view text) const {
    return fmt::format("{}\n{} --> {}\n{}\n\n", index, formatTime(start, true, ","),
                       formatTime(end, true, ","), text);
}

std::string ResultWriting::formatTiming(float start, float end, std::string_view text) const {
    return fmt::format("{} --> {}\n{}\n\n", formatTime(start, false, "."),
                       formatTime(end, false, "."), text);
}

platform::system::Outcome<std::string> ResultWriting::writeFile(const std::string& name,
                                                                std::string_view extension,
                                                                std::string_view contents) const {
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path folder = fs::absolute(fs::path(outputDir()), error);
    if (error) return posixError(error.value(), "Cannot resolve the output folder " + outputDir());
    const fs::path target = folder / (name + "." + std::string(extension));

    // The temporary file lives in the target's folder so that the rename
    // stays on one file system; a missing folder fails here, leaving nothing.
    std::string temporaryName(".");
    temporaryName.append(target.filename().string()).append(".XXXXXX");
    std::string temporary = (target.parent_path() / temporaryName).string();
    int fd = ::mkstemp(temporary.data());
    if (fd < 0) return posixError(errno, "Cannot write " + target.string());

    // mkstemp creates the file for the owner only; give it the mode a plain
    // new file would have.
    ::fchmod(fd, 0666 & ~processUmask());

    bool ok = writeAll(fd, contents) && ::fsync(fd) == 0;
    int code = errno;
    if (::close(fd) != 0 && ok) {
        ok = false;
        code = errno;
    }
    if (ok && ::rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        code = errno;
    }
    if (!ok) {
        ::unlink(temporary.c_str());
        return posixError(code, "Cannot write " + target.string());
    }
    return fileURL(target.lexically_normal().string());
}

} // namespace murmex
