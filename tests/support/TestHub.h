#pragma once
// A model hub on 127.0.0.1 for tests and benchmarks. It serves repositories
// built from in-memory texts or files on disk the way the hub client expects:
// the file listing, the account query, metadata by HEAD on a file's resolve
// address (large "linked" files answer with an absolute redirect to a
// storage address and X-Linked-Etag / X-Linked-Size headers, small files
// answer 200 with ETag and Content-Length; a revision name can first be
// redirected relatively to the commit), and bodies with byte ranges.
//
// It logs every request it answered (method, path, Range, Authorization,
// status, body bytes sent) and misbehaves on request: drop the connection
// after some body bytes, ignore Range, answer a fixed status (401, 403, 404,
// 416, 5xx), redirect a path to itself forever, or stall mid-body.
//
// Every connection runs on a thread of its own and is closed after one
// answer; the destructor closes every connection and waits for its thread.

#include "platform/system/Sha256.h"

#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <list>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <optional>
#include <set>
#include <string>
#include <sys/sendfile.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zvtest {

class TestHub {
public:
    struct File {
        File() = default;
        File(std::string name, std::string content, bool linked = false)
            : name(std::move(name)), content(std::move(content)), linked(linked) {}
        /// A file served from disk.
        static File onDisk(std::string name, std::filesystem::path source, bool linked) {
            File file(std::move(name), {}, linked);
            file.source = std::move(source);
            return file;
        }

        std::string name;             ///< path inside the repository
        std::string content;          ///< served when `source` is empty
        std::filesystem::path source; ///< a file on disk (large files)
        bool linked = false;          ///< served through the storage redirect
        std::string sha256;           ///< filled in by addFile
        int64_t size = 0;             ///< filled in by addFile
        std::string etag;             ///< filled in by addFile
    };

    struct Repository {
        std::string id;
        std::string type = "models";
        std::string commit = "0123456789abcdef0123456789abcdef01234567";
        std::vector<File> files;
    };

    enum class FaultKind { status, dropAfter, ignoreRange, redirectLoop, stall };

    struct Fault {
        FaultKind kind = FaultKind::status;
        std::string method;       ///< "" matches every method
        std::string pathContains; ///< "" matches every path
        int status = 500;         ///< for FaultKind::status
        int64_t afterBytes = 0;   ///< dropAfter and stall: body bytes sent first
        std::chrono::milliseconds stall{0};
        int times = 1; ///< how often it applies; -1 for always
    };

    struct LogEntry {
        std::string method;
        std::string path;
        std::string range;
        std::string authorization;
        int status = 0;
        int64_t bytesSent = 0;
        uint64_t sequence = 0; ///< the request's number, counting from 0
    };

    TestHub() {
        listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int one = 1;
        ::setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        socklen_t length = sizeof address;
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        ::listen(listenFd_, 64);
        acceptThread_ = std::thread([this] { acceptLoop(); });
    }

    ~TestHub() {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        wake_.notify_all();
        ::shutdown(listenFd_, SHUT_RDWR);
        ::close(listenFd_);
        acceptThread_.join();
        std::unique_lock lock(mutex_);
        for (int fd : openConnections_)
            ::shutdown(fd, SHUT_RDWR);
        wake_.wait(lock, [&] { return openConnections_.empty(); });
    }

    TestHub(const TestHub&) = delete;
    TestHub& operator=(const TestHub&) = delete;

    std::string endpoint() const { return "http://127.0.0.1:" + std::to_string(port_); }

    /// Adds a repository; digests, sizes and etags of its files are filled in.
    Repository& addRepository(Repository repository) {
        for (File& file : repository.files)
            describe(file);
        std::lock_guard lock(mutex_);
        repositories_.push_back(std::move(repository));
        return repositories_.back();
    }

    /// The file as served (with its digest, size and etag).
    File file(const std::string& repoId, const std::string& name) const {
        std::lock_guard lock(mutex_);
        for (const auto& repository : repositories_)
            if (repository.id == repoId)
                for (const auto& file : repository.files)
                    if (file.name == name) return file;
        return {};
    }

    /// Replaces one file's content: a new remote version at a new commit.
    void replaceContent(const std::string& repoId, const std::string& name, std::string content) {
        std::lock_guard lock(mutex_);
        for (auto& repository : repositories_)
            if (repository.id == repoId)
                for (auto& file : repository.files)
                    if (file.name == name) {
                        file.content = std::move(content);
                        file.source.clear();
                        describe(file);
                        repository.commit = file.sha256.substr(0, 40);
                    }
    }

    void addFault(Fault fault) {
        std::lock_guard lock(mutex_);
        faults_.push_back(std::move(fault));
    }
    void clearFaults() {
        std::lock_guard lock(mutex_);
        faults_.clear();
    }
    /// Every request must carry "Authorization: Bearer <token>".
    void requireToken(std::string token) {
        std::lock_guard lock(mutex_);
        requiredToken_ = std::move(token);
    }
    /// HEAD on a revision other than the commit answers 307 with a relative
    /// Location naming the commit.
    void setRelativeRedirects(bool on) {
        std::lock_guard lock(mutex_);
        relativeRedirects_ = on;
    }

    std::vector<LogEntry> log() const {
        std::lock_guard lock(mutex_);
        return log_;
    }
    void clearLog() {
        std::lock_guard lock(mutex_);
        log_.clear();
    }

    /// The SHA-256 of a text or a file, in lower-case hexadecimal.
    static std::string sha256Of(const File& file) {
        using platform::system::Sha256;
        if (!file.source.empty()) return Sha256::hexString(Sha256::hashFile(file.source));
        return Sha256::hexString(Sha256::hash(file.content));
    }

private:
    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers; // lower-case names
        std::string header(const std::string& name) const {
            auto it = headers.find(name);
            return it == headers.end() ? std::string() : it->second;
        }
    };

    struct Body {
        const File* file = nullptr;
        int64_t offset = 0;
        int64_t length = 0;
    };

    static void describe(File& file) {
        if (!file.source.empty()) {
            struct stat info {};
            ::stat(file.source.c_str(), &info);
            file.size = static_cast<int64_t>(info.st_size);
        } else {
            file.size = static_cast<int64_t>(file.content.size());
        }
        file.sha256 = sha256Of(file);
        // Small files carry a commit-style 40-digit identity, linked ones their digest.
        file.etag = file.linked ? file.sha256 : file.sha256.substr(0, 40);
    }

    void acceptLoop() {
        for (;;) {
            int client = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
            std::lock_guard lock(mutex_);
            if (stopping_) {
                if (client >= 0) ::close(client);
                return;
            }
            if (client < 0) continue;
            openConnections_.insert(client);
            std::thread([this, client] {
                serve(client);
                std::lock_guard lock(mutex_);
                openConnections_.erase(client);
                ::close(client);
                wake_.notify_all();
            }).detach();
        }
    }

    static std::string decode(const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size(); ++i) {
            if (text[i] == '%' && i + 2 < text.size()) {
                out.push_back(static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16)));
                i += 2;
            } else {
                out.push_back(text[i]);
            }
        }
        return out;
    }

    static std::optional<Request> readRequest(int fd) {
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos) {
            ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0) return std::nullopt;
            head.append(buffer, static_cast<size_t>(n));
        }
        Request request;
        size_t lineEnd = head.find("\r\n");
        const std::string first = head.substr(0, lineEnd);
        const size_t space = first.find(' ');
        const size_t space2 = first.find(' ', space + 1);
        request.method = first.substr(0, space);
        request.path = first.substr(space + 1, space2 - space - 1);
        size_t at = lineEnd + 2;
        while (at < head.size()) {
            size_t end = head.find("\r\n", at);
            if (end == std::string::npos || end == at) break;
            std::string line = head.substr(at, end - at);
            size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                for (char& c : name)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                size_t valueStart = line.find_first_not_of(' ', colon + 1);
                request.headers[name] =
                    valueStart == std::string::npos ? std::string() : line.substr(valueStart);
            }
            at = end + 2;
        }
        return request;
    }

    static std::string jsonEscaped(const std::string& text) {
        std::string out;
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c < 0x20) {
                char escape[8];
                std::snprintf(escape, sizeof escape, "\\u%04x", c);
                out += escape;
            } else {
                out += static_cast<char>(c);
            }
        }
        return out;
    }

    static bool sendAll(int fd, std::string_view data) {
        while (!data.empty()) {
            ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
            if (n <= 0) return false;
            data.remove_prefix(static_cast<size_t>(n));
        }
        return true;
    }

    std::optional<Fault> takeFault(const Request& request) {
        for (auto it = faults_.begin(); it != faults_.end(); ++it) {
            if (!it->method.empty() && it->method != request.method) continue;
            if (request.path.find(it->pathContains) == std::string::npos) continue;
            Fault fault = *it;
            if (it->times > 0 && --it->times == 0) faults_.erase(it);
            return fault;
        }
        return std::nullopt;
    }

    const Repository* findRepository(const std::string& type, const std::string& id) const {
        for (const auto& repository : repositories_)
            if (repository.type == type && repository.id == id) return &repository;
        return nullptr;
    }

    // Sends the body, honouring a drop or stall fault; the bytes sent.
    int64_t sendBody(int fd, const Body& body, const std::optional<Fault>& fault) {
        int64_t sent = 0;
        int64_t limit = body.length;
        const bool drop = fault && fault->kind == FaultKind::dropAfter;
        const bool stall = fault && fault->kind == FaultKind::stall;
        if (drop) limit = std::min(limit, fault->afterBytes);
        int sourceFd = body.file->source.empty()
                           ? -1
                           : ::open(body.file->source.c_str(), O_RDONLY | O_CLOEXEC);
        bool stalled = false;
        while (sent < limit) {
            int64_t piece = std::min<int64_t>(limit - sent, 1 << 20);
            if (stall && !stalled) {
                if (sent >= fault->afterBytes) {
                    stalled = true;
                    std::unique_lock lock(mutex_);
                    wake_.wait_for(lock, fault->stall, [&] { return stopping_; });
                    if (stopping_) break;
                } else {
                    piece = std::min(piece, fault->afterBytes - sent);
                }
            }
            ssize_t n;
            if (sourceFd >= 0) {
                off_t offset = body.offset + sent;
                n = ::sendfile(fd, sourceFd, &offset, static_cast<size_t>(piece));
            } else {
                n = ::send(fd, body.file->content.data() + body.offset + sent,
                           static_cast<size_t>(piece), MSG_NOSIGNAL);
            }
            if (n <= 0) break;
            sent += n;
        }
        if (sourceFd >= 0) ::close(sourceFd);
        return sent;
    }

    void serve(int fd) {
        auto request = readRequest(fd);
        if (!request) return;
        LogEntry entry{request->method, request->path, request->header("range"),
                       request->header("authorization")};
        std::optional<Fault> fault;
        std::string statusLine;
        std::vector<std::pair<std::string, std::string>> headers;
        std::string text;
        Body body;
        {
            std::lock_guard lock(mutex_);
            fault = takeFault(*request);
            route(*request, fault, entry.status, headers, text, body);
        }
        std::string head = "HTTP/1.1 " + std::to_string(entry.status) + " Answer\r\n";
        const bool isHead = request->method == "HEAD";
        int64_t length = body.file ? body.length : static_cast<int64_t>(text.size());
        bool hasLength = false;
        for (const auto& [name, value] : headers) {
            head += name + ": " + value + "\r\n";
            if (name == "Content-Length") hasLength = true;
        }
        if (!hasLength) head += "Content-Length: " + std::to_string(length) + "\r\n";
        head += "Connection: close\r\n\r\n";

        // The entry is logged before the answer leaves, with the bytes it
        // is meant to carry, so a client that has its answer finds it in the
        // log; it is corrected afterwards when fewer bytes went out.
        int64_t planned = isHead ? 0 : length;
        if (!isHead && fault && fault->kind == FaultKind::dropAfter)
            planned = std::min(planned, fault->afterBytes);
        entry.bytesSent = planned;
        {
            std::lock_guard lock(mutex_);
            entry.sequence = nextSequence_++;
            log_.push_back(entry);
        }
        int64_t sent = 0;
        if (sendAll(fd, head) && !isHead) {
            if (body.file) {
                sent = sendBody(fd, body, fault);
            } else if (sendAll(fd, text)) {
                sent = static_cast<int64_t>(text.size());
            }
        }
        if (sent != planned) {
            std::lock_guard lock(mutex_);
            for (auto& logged : log_)
                if (logged.sequence == entry.sequence) logged.bytesSent = sent;
        }
    }

    // Decides the answer; runs under the lock.
    void route(const Request& request, const std::optional<Fault>& fault, int& status,
               std::vector<std::pair<std::string, std::string>>& headers, std::string& text,
               Body& body) {
        status = 200;
        if (!requiredToken_.empty() &&
            request.header("authorization") != "Bearer " + requiredToken_) {
            status = 401;
            text = R"({"error":"Invalid credentials"})";
            return;
        }
        if (fault && fault->kind == FaultKind::status) {
            status = fault->status;
            text = "fault";
            return;
        }
        if (fault && fault->kind == FaultKind::redirectLoop) {
            status = 307;
            headers.emplace_back("Location", request.path);
            return;
        }
        const std::string& path = request.path;
        if (path == "/api/whoami-v2") {
            if (request.header("authorization").empty()) {
                status = 401;
                return;
            }
            text = R"({"name":"tester","type":"user"})";
            return;
        }
        if (path.starts_with("/api/")) return listing(path, status, text);
        if (path.starts_with("/storage/")) {
            const std::string digest = path.substr(9);
            for (const auto& repository : repositories_)
                for (const auto& file : repository.files)
                    if (file.sha256 == digest)
                        return content(request, fault, file, status, headers, body);
            status = 404;
            return;
        }
        resolve(request, fault, status, headers, text, body);
    }

    void listing(const std::string& path, int& status, std::string& text) {
        // /api/<type>/<id...>/revision/<revision>
        const size_t typeEnd = path.find('/', 5);
        const size_t marker = path.find("/revision/");
        if (typeEnd == std::string::npos || marker == std::string::npos) {
            status = 404;
            return;
        }
        const std::string type = path.substr(5, typeEnd - 5);
        const std::string id = path.substr(typeEnd + 1, marker - typeEnd - 1);
        const std::string revision = decode(path.substr(marker + 10));
        const Repository* repository = findRepository(type, id);
        if (!repository || (revision != "main" && revision != repository->commit)) {
            status = 404;
            text = R"({"error":"Repository not found"})";
            return;
        }
        text = R"({"sha":")" + repository->commit + R"(","siblings":[)";
        for (size_t i = 0; i < repository->files.size(); ++i) {
            if (i) text += ",";
            text += R"({"rfilename":")" + jsonEscaped(repository->files[i].name) + R"("})";
        }
        text += "]}";
    }

    void resolve(const Request& request, const std::optional<Fault>& fault, int& status,
                 std::vector<std::pair<std::string, std::string>>& headers, std::string& text,
                 Body& body) {
        // /[datasets/|spaces/]<id...>/resolve/<revision>/<file...>
        std::string path = request.path;
        std::string type = "models";
        for (const std::string prefix : {"datasets", "spaces"})
            if (path.starts_with("/" + prefix + "/")) {
                type = prefix;
                path = path.substr(prefix.size() + 1);
            }
        const size_t marker = path.find("/resolve/");
        if (marker == std::string::npos) {
            status = 404;
            return;
        }
        const std::string id = path.substr(1, marker - 1);
        const size_t revisionEnd = path.find('/', marker + 9);
        const std::string revision = decode(path.substr(marker + 9, revisionEnd - marker - 9));
        const std::string name = decode(path.substr(revisionEnd + 1));
        const Repository* repository = findRepository(type, id);
        const File* found = nullptr;
        if (repository && (revision == "main" || revision == repository->commit))
            for (const auto& file : repository->files)
                if (file.name == name) found = &file;
        if (!found) {
            status = 404;
            headers.emplace_back("X-Error-Code", "EntryNotFound");
            return;
        }
        headers.emplace_back("X-Repo-Commit", repository->commit);
        if (request.method == "HEAD" && relativeRedirects_ && revision != repository->commit) {
            status = 307;
            headers.emplace_back("Location", "/" + id + "/resolve/" + repository->commit + "/" +
                                                 path.substr(revisionEnd + 1));
            return;
        }
        if (found->linked) {
            status = 302;
            headers.emplace_back("Location", endpoint() + "/storage/" + found->sha256);
            headers.emplace_back("X-Linked-Etag", "\"" + found->etag + "\"");
            headers.emplace_back("X-Linked-Size", std::to_string(found->size));
            headers.emplace_back("ETag", "W/\"redirect-page\"");
            text = "Found";
            return;
        }
        headers.emplace_back("ETag", "\"" + found->etag + "\"");
        content(request, fault, *found, status, headers, body);
        (void)text;
    }

    void content(const Request& request, const std::optional<Fault>& fault, const File& file,
                 int& status, std::vector<std::pair<std::string, std::string>>& headers,
                 Body& body) {
        body.file = &file;
        body.offset = 0;
        body.length = file.size;
        status = 200;
        const std::string range = request.header("range");
        const bool ignoreRange = fault && fault->kind == FaultKind::ignoreRange;
        if (!range.empty() && range.starts_with("bytes=") && !ignoreRange) {
            const std::string spec = range.substr(6);
            const size_t dash = spec.find('-');
            const int64_t start = std::stoll(spec.substr(0, dash));
            int64_t end = file.size - 1;
            if (dash + 1 < spec.size())
                end = std::min<int64_t>(end, std::stoll(spec.substr(dash + 1)));
            if (start >= file.size) {
                status = 416;
                headers.emplace_back("Content-Range", "bytes */" + std::to_string(file.size));
                body.file = nullptr;
                return;
            }
            status = 206;
            body.offset = start;
            body.length = end - start + 1;
            headers.emplace_back("Content-Range", "bytes " + std::to_string(start) + "-" +
                                                      std::to_string(end) + "/" +
                                                      std::to_string(file.size));
        }
        headers.emplace_back("Content-Length", std::to_string(body.length));
        headers.emplace_back("Accept-Ranges", "bytes");
    }

    int listenFd_ = -1;
    int port_ = 0;
    mutable std::mutex mutex_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::list<Repository> repositories_; // stable addresses while bodies are sent
    std::vector<Fault> faults_;
    std::string requiredToken_;
    bool relativeRedirects_ = false;
    std::vector<LogEntry> log_;
    uint64_t nextSequence_ = 0;
    std::set<int> openConnections_;
    std::thread acceptThread_;
};

} // namespace zvtest
