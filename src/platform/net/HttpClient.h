#pragma once
// A small blocking HTTP(S) client over libcurl: in-memory requests and
// streaming downloads into a file. Transport failures (no network, unknown
// host, time-out) throw platform::system::SystemError in the URL error domain;
// any HTTP status, including 4xx and 5xx, is a normal response.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace platform::system {
class SystemError;
}

namespace platform::net {

struct HttpRequest {
    std::string method = "GET";
    std::string url;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    bool followRedirects = true;
    std::chrono::seconds timeout{60}; ///< no data for this long ends the transfer
};

struct HttpResponse {
    long statusCode = 0;
    std::string url;                            ///< final address after redirects
    std::map<std::string, std::string> headers; ///< names lower-cased; last value wins
    std::string body;

    std::optional<std::string> header(const std::string& lowerCaseName) const;
};

/// Bytes received so far and the expected total (0 when unknown).
using DownloadProgress = std::function<void(uint64_t received, uint64_t total)>;

/// True for a transport failure that means the server could not be reached
/// at all: unknown host, no connection, or the idle time-out.
bool isUnreachable(const platform::system::SystemError& error);

class HttpClient {
public:
    /// Performs the request and returns the whole response in memory. A header
    /// name or value holding a control character (which would split the
    /// header) is refused before anything is sent.
    static HttpResponse send(const HttpRequest& request);

    /// Streams the response body of a GET into `destination` (created or
    /// truncated). The body is written whatever the status; the caller checks
    /// `statusCode`. The file is removed when the transfer fails.
    static HttpResponse
    download(const std::string& url, const std::filesystem::path& destination,
             const DownloadProgress& progress = {},
             const std::vector<std::pair<std::string, std::string>>& headers = {});
};

} // namespace platform::net
