#include "platform/net/HttpClient.h"

#include "platform/system/Cancellation.h"
#include "platform/system/SystemError.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <curl/curl.h>
#include <exception>
#include <memory>
#include <mutex>

namespace platform::net {

namespace {

using platform::system::CancellationError;
using platform::system::SystemError;

// Control characters (other than a tab inside a value) would end the header
// line early and let the rest be read as a header of its own.
void checkHeaderField(const std::string& name, const std::string& value) {
    auto bad = [](const std::string& text, bool allowTab) {
        for (unsigned char c : text)
            if ((c < 0x20 && !(allowTab && c == '\t')) || c == 0x7f) return true;
        return false;
    };
    if (name.empty() || bad(name, false) || name.find(':') != std::string::npos ||
        bad(value, true)) {
        throw SystemError("NSURLErrorDomain", -1000,
                          "The request header \"" + name + "\" holds a control character.");
    }
}

void globalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct CurlHandle {
    CURL* curl = curl_easy_init();
    curl_slist* headers = nullptr;
    ~CurlHandle() {
        if (headers) curl_slist_free_all(headers);
        if (curl) curl_easy_cleanup(curl);
    }
};

size_t appendToString(char* data, size_t size, size_t count, void* target) {
    static_cast<std::string*>(target)->append(data, size * count);
    return size * count;
}

size_t appendToFile(char* data, size_t size, size_t count, void* target) {
    return std::fwrite(data, size, count, static_cast<FILE*>(target)) * size;
}

size_t collectHeader(char* data, size_t size, size_t count, void* target) {
    auto* response = static_cast<HttpResponse*>(target);
    std::string line(data, size * count);
    if (line.rfind("HTTP/", 0) == 0) {
        response->headers.clear(); // a new response after a redirect or 100-continue
        return size * count;
    }
    auto colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        std::transform(name.begin(), name.end(), name.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        std::string value = line.substr(colon + 1);
        auto notSpace = [](unsigned char c) { return !std::isspace(c); };
        value.erase(value.begin(), std::find_if(value.begin(), value.end(), notSpace));
        value.erase(std::find_if(value.rbegin(), value.rend(), notSpace).base(), value.end());
        response->headers[name] = value;
    }
    return size * count;
}

struct ProgressContext {
    const DownloadProgress* callback = nullptr;
    std::stop_token stopToken;
    std::chrono::steady_clock::duration idleLimit = std::chrono::seconds(60);
    bool cancelled = false;
    bool timedOut = false;
    curl_off_t lastReceived = -1;
    curl_off_t lastSent = -1;
    std::chrono::steady_clock::time_point lastChange = std::chrono::steady_clock::now();
};

// libcurl calls this at least once a second, also while no data flows, so a
// stop request is seen promptly and the idle limit is exact: the transfer
// ends when no byte has moved for that long, however long it has run.
int reportProgress(void* context, curl_off_t total, curl_off_t received, curl_off_t,
                   curl_off_t sent) {
    auto* ctx = static_cast<ProgressContext*>(context);
    if (ctx->stopToken.stop_requested() || platform::system::isCancelled()) {
        ctx->cancelled = true;
        return 1;
    }
    const auto now = std::chrono::steady_clock::now();
    if (received != ctx->lastReceived || sent != ctx->lastSent) {
        ctx->lastReceived = received;
        ctx->lastSent = sent;
        ctx->lastChange = now;
    } else if (now - ctx->lastChange >= ctx->idleLimit) {
        ctx->timedOut = true;
        return 1;
    }
    if (ctx->callback && *ctx->callback) {
        (*ctx->callback)(static_cast<uint64_t>(received), static_cast<uint64_t>(total));
    }
    return 0;
}

void watchProgress(CurlHandle& h, ProgressContext& context) {
    curl_easy_setopt(h.curl, CURLOPT_XFERINFOFUNCTION, reportProgress);
    curl_easy_setopt(h.curl, CURLOPT_XFERINFODATA, &context);
    curl_easy_setopt(h.curl, CURLOPT_NOPROGRESS, 0L);
}

void configure(CurlHandle& h, const std::string& method, const std::string& url,
               const std::vector<std::pair<std::string, std::string>>& headers,
               bool followRedirects, std::chrono::seconds timeout, HttpResponse& response) {
    if (!h.curl) throw SystemError("NSURLErrorDomain", -1, "The network library could not start.");
    curl_easy_setopt(h.curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(h.curl, CURLOPT_FOLLOWLOCATION, followRedirects ? 1L : 0L);
    curl_easy_setopt(h.curl, CURLOPT_MAXREDIRS, 10L);
    curl_easy_setopt(h.curl, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(h.curl, CURLOPT_CONNECTTIMEOUT, 30L);
    curl_easy_setopt(h.curl, CURLOPT_HEADERFUNCTION, collectHeader);
    curl_easy_setopt(h.curl, CURLOPT_HEADERDATA, &response);
    if (method == "HEAD") {
        curl_easy_setopt(h.curl, CURLOPT_NOBODY, 1L);
    } else if (method != "GET") {
        curl_easy_setopt(h.curl, CURLOPT_CUSTOMREQUEST, method.c_str());
    }
    for (const auto& [name, value] : headers) {
        checkHeaderField(name, value);
        h.headers = curl_slist_append(h.headers, (name + ": " + value).c_str());
    }
    if (h.headers) curl_easy_setopt(h.curl, CURLOPT_HTTPHEADER, h.headers);
}

void perform(CurlHandle& h, HttpResponse& response, const std::string& url,
             const ProgressContext* progress = nullptr) {
    CURLcode rc = curl_easy_perform(h.curl);
    if (rc == CURLE_ABORTED_BY_CALLBACK && progress && progress->cancelled) {
        throw CancellationError();
    }
    if (rc == CURLE_ABORTED_BY_CALLBACK && progress && progress->timedOut)
        rc = CURLE_OPERATION_TIMEDOUT;
    if (rc != CURLE_OK) {
        throw SystemError("NSURLErrorDomain", static_cast<long>(rc),
                          std::string("The request to ") + url +
                              " failed: " + curl_easy_strerror(rc));
    }
    curl_easy_getinfo(h.curl, CURLINFO_RESPONSE_CODE, &response.statusCode);
    char* effective = nullptr;
    curl_easy_getinfo(h.curl, CURLINFO_EFFECTIVE_URL, &effective);
    response.url = effective ? effective : url;
}

} // namespace

bool isUnreachable(const SystemError& error) {
    if (error.domain() != "NSURLErrorDomain") return false;
    switch (error.code()) {
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_RESOLVE_HOST:
    case CURLE_COULDNT_CONNECT:
    case CURLE_OPERATION_TIMEDOUT:
        return true;
    default:
        return false;
    }
}

std::optional<std::string> HttpResponse::header(const std::string& lowerCaseName) const {
    auto it = headers.find(lowerCaseName);
    if (it == headers.end()) return std::nullopt;
    return it->second;
}

HttpResponse HttpClient::send(const HttpRequest& request) {
    globalInit();
    CurlHandle h;
    HttpResponse response;
    configure(h, request.method, request.url, request.headers, request.followRedirects,
              request.timeout, response);
    if (!request.body.empty() || request.method == "POST") {
        curl_easy_setopt(h.curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(h.curl, CURLOPT_POSTFIELDSIZE_LARGE,
                         static_cast<curl_off_t>(request.body.size()));
    }
    curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, appendToString);
    curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, &response.body);
    ProgressContext context;
    context.stopToken = request.stopToken;
    context.idleLimit = request.timeout;
    watchProgress(h, context);
    perform(h, response, request.url, &context);
    return response;
}

HttpResponse HttpClient::download(const std::string& url, const std::filesystem::path& destination,
                                  const DownloadProgress& progress,
                                  const std::vector<std::pair<std::string, std::string>>& headers) {
    globalInit();
    CurlHandle h;
    HttpResponse response;
    configure(h, "GET", url, headers, true, std::chrono::seconds(60), response);
    std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(destination.c_str(), "wb"), &std::fclose);
    if (!file) {
        throw SystemError("NSCocoaErrorDomain", 642,
                          "The file \"" + destination.string() + "\" could not be created.");
    }
    ProgressContext context;
    context.callback = &progress;
    curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, appendToFile);
    curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, file.get());
    watchProgress(h, context);
    try {
        perform(h, response, url, &context);
    } catch (...) {
        file.reset();
        std::error_code ignored;
        std::filesystem::remove(destination, ignored);
        throw;
    }
    if (std::fflush(file.get()) != 0) {
        file.reset();
        std::error_code ignored;
        std::filesystem::remove(destination, ignored);
        throw SystemError("NSCocoaErrorDomain", 640,
                          "The file \"" + destination.string() + "\" could not be written.");
    }
    return response;
}

namespace {

struct StreamContext {
    CurlHandle* handle = nullptr;
    HttpResponse* response = nullptr;
    const ResponseHandler* onResponse = nullptr;
    const BodyHandler* onBody = nullptr;
    bool headDelivered = false;
    bool stoppedByReceiver = false;
    std::exception_ptr error;

    // Hands the final response's head to the receiver once; false stops.
    bool deliverHead() {
        if (headDelivered) return true;
        headDelivered = true;
        curl_easy_getinfo(handle->curl, CURLINFO_RESPONSE_CODE, &response->statusCode);
        char* effective = nullptr;
        curl_easy_getinfo(handle->curl, CURLINFO_EFFECTIVE_URL, &effective);
        if (effective) response->url = effective;
        if (*onResponse && !(*onResponse)(*response)) {
            stoppedByReceiver = true;
            return false;
        }
        return true;
    }
};

size_t streamBody(char* data, size_t size, size_t count, void* target) {
    auto* ctx = static_cast<StreamContext*>(target);
    const size_t bytes = size * count;
    try {
        if (!ctx->deliverHead()) return 0;
        if (*ctx->onBody && !(*ctx->onBody)(std::string_view(data, bytes))) {
            ctx->stoppedByReceiver = true;
            return 0;
        }
    } catch (...) {
        ctx->error = std::current_exception();
        return 0;
    }
    return bytes;
}

} // namespace

HttpResponse HttpClient::stream(const HttpRequest& request, const ResponseHandler& onResponse,
                                const BodyHandler& onBody) {
    globalInit();
    CurlHandle h;
    HttpResponse response;
    response.url = request.url;
    configure(h, request.method, request.url, request.headers, request.followRedirects,
              request.timeout, response);
    StreamContext stream;
    stream.handle = &h;
    stream.response = &response;
    stream.onResponse = &onResponse;
    stream.onBody = &onBody;
    curl_easy_setopt(h.curl, CURLOPT_WRITEFUNCTION, streamBody);
    curl_easy_setopt(h.curl, CURLOPT_WRITEDATA, &stream);
    curl_easy_setopt(h.curl, CURLOPT_BUFFERSIZE, 512L * 1024L);
    ProgressContext context;
    context.stopToken = request.stopToken;
    context.idleLimit = request.timeout;
    watchProgress(h, context);
    CURLcode rc = curl_easy_perform(h.curl);
    if (stream.error) std::rethrow_exception(stream.error);
    if (rc == CURLE_ABORTED_BY_CALLBACK && context.cancelled) throw CancellationError();
    if (rc == CURLE_ABORTED_BY_CALLBACK && context.timedOut) rc = CURLE_OPERATION_TIMEDOUT;
    if (stream.stoppedByReceiver) return response;
    if (rc != CURLE_OK) {
        throw SystemError("NSURLErrorDomain", static_cast<long>(rc),
                          std::string("The request to ") + request.url +
                              " failed: " + curl_easy_strerror(rc));
    }
    stream.deliverHead();
    return response;
}

} // namespace platform::net
