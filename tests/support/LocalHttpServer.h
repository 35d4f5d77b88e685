#pragma once
// A tiny HTTP/1.1 server on 127.0.0.1 for tests: serves fixed routes from a
// background thread and counts the requests it answered.

#include <arpa/inet.h>
#include <atomic>
#include <map>
#include <mutex>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>

namespace zvtest {

class LocalHttpServer {
public:
    struct Route {
        int status = 200;
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
            auto firstSpace = request.find(' ');
            auto secondSpace = request.find(' ', firstSpace + 1);
            std::string path = firstSpace == std::string::npos
                                   ? "/"
                                   : request.substr(firstSpace + 1, secondSpace - firstSpace - 1);
            Route route{404, "not found"};
            {
                std::lock_guard lock(mutex_);
                auto it = routes_.find(path);
                if (it != routes_.end()) route = it->second;
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
    std::mutex mutex_;
    std::map<std::string, Route> routes_;
    std::thread thread_;
};

} // namespace zvtest
