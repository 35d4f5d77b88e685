#pragma once
// A small blocking HTTP(S) client over libcurl: in-memory requests, streaming
// downloads into a file, and bodies streamed piece by piece to the caller.
// Transport failures (no network, unknown host, a connection dropped
// mid-body, the idle limit) throw platform::system::SystemError in the URL
// error domain; any HTTP status, including 4xx and 5xx, is a normal response.
// A request whose header names or values hold control characters is refused
// before anything is sent, so a value can never smuggle in another header.
// Work on a thread whose task is cancelled (platform/system/Cancellation.h),
// or whose request's stop token is triggered, stops within about a second
// with CancellationError.

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
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
    std::stop_token stopToken;        ///< a stop request aborts the transfer
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

/// Sees the final response's status and headers before any body byte
/// arrives; returning false ends the transfer there, without an error.
using ResponseHandler = std::function<bool(const HttpResponse& head)>;
/// Receives the body piece by piece; returning false ends the transfer.
using BodyHandler = std::function<bool(std::string_view piece)>;

/// The URL error domain's code for a transfer ended by the idle limit.
inline constexpr long kTimedOutCode = 28;

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

    /// Performs the request and hands the body to `onBody` as it arrives;
    /// `onResponse` is called exactly once, before the first piece (also for
    /// an empty body). Returns the response head (its body empty). An
    /// exception thrown by a handler ends the transfer and is rethrown.
    static HttpResponse stream(const HttpRequest& request, const ResponseHandler& onResponse,
                               const BodyHandler& onBody);
};

} // namespace platform::net
