// The hub cache: repository folders, the metadata file beside every mirrored
// file, digests, and the per-file download step.

#include "hub/Downloader.h"
#include "hub/HubApi.h"
#include "hub/HubFileDownloader.h"
#include "platform/system/Cancellation.h"
#include "platform/system/LogSink.h"
#include "platform/system/Sha256.h"
#include "platform/system/SystemError.h"
#include "platform/text/NumberText.h"
#include "platform/text/Utf8.h"

#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <locale.h>
#include <regex>
#include <sstream>
#include <stop_token>
#include <unistd.h>

namespace hub {

namespace fs = std::filesystem;
using platform::system::LogSink;
using platform::system::LogType;

namespace {

void logError(const std::string& message) {
    LogSink::write(LogType::error, "HubApi", message);
}

// Splits at every line end the metadata format knows: LF, CR, VT, FF and the
// UTF-8 encoded NEL, LINE SEPARATOR and PARAGRAPH SEPARATOR.
std::vector<std::string> splitLines(std::string_view text) {
    std::vector<std::string> pieces;
    std::string current;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        size_t width = 0;
        if (c == '\n' || c == '\r' || c == '\v' || c == '\f') {
            width = 1;
        } else if (text.substr(i, 2) == "\xC2\x85") {
            width = 2;
        } else if (text.substr(i, 3) == "\xE2\x80\xA8" || text.substr(i, 3) == "\xE2\x80\xA9") {
            width = 3;
        }
        if (width == 0) {
            current.push_back(c);
            continue;
        }
        pieces.push_back(std::move(current));
        current.clear();
        i += width - 1;
    }
    pieces.push_back(std::move(current));
    return pieces;
}

std::string trimmed(std::string_view text) {
    auto isSpace = [](char c) {
        return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
    };
    while (!text.empty() && isSpace(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isSpace(text.back()))
        text.remove_suffix(1);
    return std::string(text);
}

// The whole text as a C-locale strtod number.
std::optional<double> parseTimestamp(const std::string& text) {
    if (text.empty()) return std::nullopt;
    static locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", nullptr);
    char* end = nullptr;
    errno = 0;
    const double value = ::strtod_l(text.c_str(), &end, cLocale);
    if (end != text.c_str() + text.size()) return std::nullopt;
    return value;
}

void writeAtomically(const fs::path& target, const std::string& text) {
    fs::path temporary = target;
    temporary += ".tmp-" + std::to_string(::getpid());
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out) throw std::runtime_error("cannot create " + temporary.string());
        out << text;
        out.flush();
        if (!out) {
            std::error_code ignored;
            fs::remove(temporary, ignored);
            throw std::runtime_error("cannot write " + temporary.string());
        }
    }
    std::error_code error;
    fs::rename(temporary, target, error);
    if (error) {
        std::error_code ignored;
        fs::remove(temporary, ignored);
        throw std::runtime_error(error.message());
    }
}

} // namespace

fs::path HubApi::localRepoLocation(const Repo& repo) const {
    checkRelativeName(repo.id, "repository id");
    return downloadBase / std::string(rawValue(repo.type)) / repo.id;
}

fs::path HubApi::metadataLocation(const fs::path& repoFolder) {
    return repoFolder / ".cache" / "quillon" / "download";
}

bool HubApi::isValidHash(const std::string& hash, const std::string& pattern) {
    try {
        return std::regex_search(hash, std::regex(pattern));
    } catch (const std::regex_error&) {
        return false;
    }
}

std::optional<HubApi::LocalDownloadFileMetadata>
HubApi::readDownloadMetadata(const fs::path& metadataPath) const {
    std::error_code ec;
    if (!fs::exists(metadataPath, ec)) return std::nullopt;
    try {
        std::ifstream in(metadataPath, std::ios::binary);
        if (!in) throw std::runtime_error("The file could not be opened.");
        std::ostringstream buffer;
        buffer << in.rdbuf();
        const std::string text = std::move(buffer).str();
        if (!platform::text::isValidUtf8(text))
            throw std::runtime_error("The file is not valid UTF-8 text.");
        try {
            const auto pieces = splitLines(text);
            if (pieces.size() < 3)
                throw EnvironmentError::invalidMetadataError(
                    "Metadata file is missing required fields");
            const std::string timestampText = trimmed(pieces[2]);
            const auto seconds = parseTimestamp(timestampText);
            if (!seconds) throw EnvironmentError::invalidMetadataError("Invalid timestamp format");
            std::string filename = metadataPath.filename().string();
            for (size_t at = filename.find(".metadata"); at != std::string::npos;
                 at = filename.find(".metadata"))
                filename.erase(at, 9);
            LocalDownloadFileMetadata metadata;
            metadata.commitHash = trimmed(pieces[0]);
            metadata.etag = trimmed(pieces[1]);
            metadata.filename = filename;
            metadata.timestamp = std::chrono::system_clock::time_point(
                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                    std::chrono::duration<double>(*seconds)));
            return metadata;
        } catch (const EnvironmentError& error) {
            logError("Invalid metadata file " + metadataPath.string() + ": " + error.what() +
                     ". Removing it from disk and continuing.");
        }
    } catch (const std::exception& error) {
        logError("Error reading metadata file " + metadataPath.string() + ": " + error.what() +
                 ". Removing it from disk and continuing.");
    }
    fs::remove(metadataPath, ec);
    if (ec)
        throw EnvironmentError::invalidMetadataError("Could not remove corrupted metadata file: " +
                                                     ec.message());
    return std::nullopt;
}

void HubApi::writeDownloadMetadata(const std::string& commitHash, const std::string& etag,
                                   const fs::path& metadataPath) const {
    const double now =
        std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
    const std::string text =
        commitHash + "\n" + etag + "\n" + platform::text::shortestText(now) + "\n";
    try {
        fs::create_directories(metadataPath.parent_path());
        writeAtomically(metadataPath, text);
    } catch (const std::exception& error) {
        throw EnvironmentError::fileWriteError("Failed to write metadata to " +
                                               metadataPath.string() + ": " + error.what());
    }
}

std::string HubApi::computeFileHash(const fs::path& file) const {
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) throw HubClientError::fileNotFound(file.filename().string());
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};
    platform::system::Sha256 hasher;
    std::vector<char> block(1 << 20);
    for (;;) {
        const ssize_t n = ::read(fd, block.data(), block.size());
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) {
            // A read error is not the end of the file: hashing what was read
            // so far would report a false mismatch.
            const int error = errno;
            throw HubClientError::fileSystemError("Cannot read " + file.string() + ": " +
                                                  std::strerror(error));
        }
        if (n == 0) break;
        hasher.update(block.data(), static_cast<size_t>(n));
    }
    return platform::system::Sha256::hexString(hasher.finish());
}

std::vector<fs::path> HubApi::getFileUrls(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec);
    if (ec) return files;
    for (; it != fs::recursive_directory_iterator(); it.increment(ec)) {
        if (ec) throw fs::filesystem_error("Cannot list the folder", folder, ec);
        const fs::path& path = it->path();
        if (path.filename().string().starts_with(".")) {
            if (it->is_directory(ec)) it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file(ec)) files.push_back(path);
    }
    return files;
}

// ---------------------------------------------------------------------------
// The per-file step

std::string HubFileDownloader::source() const {
    HubApi client = hub;
    client.endpoint = endpoint.value_or(std::string(HubApi::defaultEndpoint));
    return client.resolveURL(repo, revision, relativeFilename);
}

void HubFileDownloader::prepareCacheDestination(const fs::path& incompleteFile) {
    fs::create_directories(incompleteFile.parent_path());
    if (!fs::exists(incompleteFile)) writeAtomically(incompleteFile, "");
}

fs::path HubFileDownloader::download(
    const std::function<void(double, std::optional<double>)>& progressHandler) const {
    HubApi::checkRelativeName(relativeFilename, "file name");
    const fs::path destination = repoDestination / relativeFilename;
    const fs::path metadataPath = repoMetadataDestination / (relativeFilename + ".metadata");

    const auto local = hub.readDownloadMetadata(metadataPath);
    const FileMetadata remote = hub.getFileMetadata(source());
    std::error_code ec;
    const bool destinationExists = fs::exists(destination, ec);

    if (remote.commitHash && HubApi::isValidHash(*remote.commitHash, hub.commitHashPattern) &&
        destinationExists && local && local->commitHash == *remote.commitHash)
        return destination;

    if (!remote.commitHash || !remote.etag || !remote.size || remote.location.empty())
        throw EnvironmentError::invalidMetadataError(
            "File metadata must have been retrieved from server");
    const std::string& etag = *remote.etag;
    HubApi::checkRelativeName(etag, "etag");
    if (etag.find('/') != std::string::npos)
        throw HubClientError::parseError("Refusing etag \"" + etag + "\": it holds a slash");
    const bool etagIsDigest = HubApi::isValidHash(etag, hub.sha256Pattern);

    if (destinationExists) {
        if (local && local->etag == etag) {
            hub.writeDownloadMetadata(*remote.commitHash, etag, metadataPath);
            return destination;
        }
        if (etagIsDigest && hub.computeFileHash(destination) == etag) {
            hub.writeDownloadMetadata(*remote.commitHash, etag, metadataPath);
            return destination;
        }
    }

    const fs::path incomplete =
        repoMetadataDestination / (relativeFilename + "." + etag + ".incomplete");
    prepareCacheDestination(incomplete);

    Downloader downloader(destination, incomplete, backgroundSession, Downloader::defaultChunkSize);
    auto states =
        downloader.download(source(), qnToken, std::nullopt, *remote.size, 10.0, 5,
                            etagIsDigest ? std::optional<std::string>(etag) : std::nullopt);
    // Cancelling the task that runs this step stops the transfer.
    std::stop_callback onCancel(platform::system::currentStopToken(),
                                [&downloader] { downloader.cancel(); });
    for (;;) {
        const Downloader::DownloadState state = states.next();
        using Kind = Downloader::DownloadState::Kind;
        if (state.kind == Kind::downloading) {
            if (progressHandler) progressHandler(state.fraction, state.speed);
        } else if (state.kind == Kind::completed) {
            break;
        } else if (state.kind == Kind::failed) {
            std::rethrow_exception(state.error);
        }
    }
    hub.writeDownloadMetadata(*remote.commitHash, etag, metadataPath);
    return destination;
}

} // namespace hub
