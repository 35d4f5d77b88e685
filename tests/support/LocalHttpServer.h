#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for tests: serves fixed routes from a
// background thread, counts the requests it answered and keeps them (method,
// path, headers with lower-cased names, body) for the test to inspect.

#include <arpa/inet.h>
#include <atomic>
#include <cctype>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace zvtest {

class LocalHttpServer {
public:
    struct Route {
        int status = 200;
        std::string body;
    };

    struct Request {
        std::string method;
        std::string path;
        std::map<std::string, std::string> headers; ///< names lower-cased
        std::string body;
    };

    LocalHttpServer() {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        int one = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        ::bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = ntohs(addr.sin_port);
        ::listen(fd_, 16);
        thread_ = std::thread([this] { serve(); });
    }

    ~LocalHttpServer() {
        stopping_ = true;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        thread_.join();
    }

    void setRoute(const std::string& path, int status, std::string body) {
        std::lock_guard lock(mutex_);
        routes_[path] = Route{status, std::move(body)};
    }

    std::string url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    int requestCount() const { return requests_.load(); }

    /// Every request answered so far, in order.
    std::vector<Request> requests() const {
        std::lock_guard lock(mutex_);
        return received_;
    }

private:
    void serve() {
        while (!stopping_) {
            int client = ::accept(fd_, nullptr, nullptr);
            if (client < 0) continue;
            std::string request;
            char buffer[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                if (n <= 0) break;
                request.append(buffer, static_cast<size_t>(n));
            }
            Request parsed = parseHead(request);
            // The body follows the head; read what Content-Length announces.
            const size_t headEnd = request.find("\r\n\r\n");
            if (headEnd != std::string::npos) {
                parsed.body = request.substr(headEnd + 4);
                auto expect = parsed.headers.find("expect");
                if (expect != parsed.headers.end() && expect->second == "100-continue")
                    sendAll(client, "HTTP/1.1 100 Continue\r\n\r\n");
                auto announced = parsed.headers.find("content-length");
                const size_t length =
                    announced == parsed.headers.end() ? 0 : std::stoul(announced->second);
                while (parsed.body.size() < length) {
                    ssize_t n = ::recv(client, buffer, sizeof buffer, 0);
                    if (n <= 0) break;
                    parsed.body.append(buffer, static_cast<size_t>(n));
                }
            }
            Route route{404, "not found"};
            {
                std::lock_guard lock(mutex_);
                auto it = routes_.find(parsed.path);
                if (it != routes_.end()) route = it->second;
                received_.push_back(parsed);
            }
            ++requests_;
            std::string head = "HTTP/1.1 " + std::to_string(route.status) +
                               " X\r\nContent-Length: " + std::to_string(route.body.size()) +
                               "\r\nConnection: close\r\n\r\n";
            sendAll(client, head);
            sendAll(client, route.body);
            ::close(client);
        }
    }

    static Request parseHead(const std::string& text) {
        Request request;
        const size_t lineEnd = text.find("\r\n");
        const std::string first = text.substr(0, lineEnd);
        const size_t firstSpace = first.find(' ');
        const size_t secondSpace = first.find(' ', firstSpace + 1);
        request.method = first.substr(0, firstSpace);
        request.path = firstSpace == std::string::npos
                           ? "/"
                           : first.substr(firstSpace + 1, secondSpace - firstSpace - 1);
        size_t pos = lineEnd == std::string::npos ? text.size() : lineEnd + 2;
        while (pos < text.size()) {
            const size_t end = text.find("\r\n", pos);
            if (end == std::string::npos || end == pos) break;
            const std::string line = text.substr(pos, end - pos);
            const size_t colon = line.find(':');
            if (colon != std::string::npos) {
                std::string name = line.substr(0, colon);
                for (char& c : name)
                    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
                const size_t valueStart = line.find_first_not_of(' ', colon + 1);
                request.headers[name] =
                    valueStart == std::string::npos ? "" : line.substr(valueStart);
            }
            pos = end + 2;
        }
        return request;
    }

    static void sendAll(int fd, const std::string& data) {
        size_t sent = 0;
        while (sent < data.size()) {
            ssize_t n = ::send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }

    int fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> requests_{0};
    mutable std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::vector<Request> received_;
    std::thread thread_;
};

} // namespace zvtest
