#include "hub/HubApi.h"

#include "hub/YYJSONParser.h"
#include "platform/system/Cancellation.h"
#include "platform/system/LogSink.h"
#include "platform/system/SystemError.h"
#include "platform/text/Utf8.h"

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace hub {

namespace fs = std::filesystem;
using platform::net::HttpClient;
using platform::net::HttpRequest;
using platform::net::HttpResponse;
using platform::net::Url;

namespace {

constexpr int kMaxRelativeRedirects = 10;

std::optional<std::string> environment(const char* name) {
    const char* value = std::getenv(name);
    if (!value) return std::nullopt;
    return std::string(value);
}

std::string homeFolder() {
    if (const char* home = std::getenv("HOME"); home && *home) return home;
    if (const passwd* entry = ::getpwuid(::getuid()); entry && entry->pw_dir) return entry->pw_dir;
    return fs::temp_directory_path().string();
}

std::string expandTilde(const std::string& path) {
    if (path == "~" || path.starts_with("~/")) return homeFolder() + path.substr(1);
    return path;
}

// A token file: read whole as UTF-8, its trailing line breaks removed (an
// editor's final newline must not end up inside the bearer header).
std::optional<std::string> tokenFromFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream buffer;
    buffer << in.rdbuf();
    std::string text = std::move(buffer).str();
    if (in.bad() || !platform::text::isValidUtf8(text)) return std::nullopt;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return text;
}

std::string readWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw HubClientError::fileSystemError("The file \"" + path.filename().string() +
                                              "\" couldn't be opened.");
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad())
        throw HubClientError::fileSystemError("The file \"" + path.filename().string() +
                                              "\" couldn't be read.");
    return std::move(buffer).str();
}

[[noreturn]] void throwForStatus(long status, const std::string& url) {
    if (status == 401 || status == 403) throw HubClientError::authorizationRequired();
    if (status == 404) {
        auto parsed = Url::parse(url);
        throw HubClientError::fileNotFound(parsed ? parsed->lastPathComponent() : url);
    }
    throw HubClientError::httpStatusCode(status);
}

} // namespace

std::optional<std::string> HubApi::qnTokenFromEnv() {
    auto nonEmpty = [](std::optional<std::string> value) -> std::optional<std::string> {
        if (value && !value->empty()) return value;
        return std::nullopt;
    };
    if (auto token = nonEmpty(environment("QN_TOKEN"))) return token;
    if (auto token = nonEmpty(environment("QUILLON_HUB_TOKEN"))) return token;
    if (auto path = environment("QN_TOKEN_PATH"))
        if (auto token = nonEmpty(tokenFromFile(expandTilde(*path)))) return token;
    if (auto home = environment("QN_HOME"))
        if (auto token = nonEmpty(tokenFromFile(expandTilde(*home) + "/token"))) return token;
    if (auto token = nonEmpty(tokenFromFile(homeFolder() + "/.cache/quillon/token"))) return token;
    if (auto token = nonEmpty(tokenFromFile(homeFolder() + "/.quillon/token"))) return token;
    return std::nullopt;
}

HubApi::HubApi(std::optional<fs::path> downloadBase, std::optional<std::string> qnToken,
               std::optional<std::string> endpoint, bool useBackgroundSession,
               std::optional<bool> useOfflineMode)
    : useBackgroundSession(useBackgroundSession), useOfflineMode(useOfflineMode) {
    // Every client shares the process-wide monitor: a client's own watch would
    // never be consulted. Construction restarts it, as a new client's would.
    networkMonitor = &NetworkMonitor::shared();
    this->qnToken = qnToken ? std::move(qnToken) : qnTokenFromEnv();
    if (const char* ci = std::getenv("CI_DISABLE_NETWORK_MONITOR"); ci && std::strcmp(ci, "1") == 0)
        platform::system::LogSink::writeLine(this->qnToken ? "\u2705 got token"
                                                           : "\U0001F534 NO TOKEN **");
    this->downloadBase =
        downloadBase ? std::move(*downloadBase) : fs::path(homeFolder()) / "Documents" / "quillon";
    if (endpoint) {
        this->endpoint = std::move(*endpoint);
    } else if (auto fromEnvironment = environment("QN_ENDPOINT")) {
        this->endpoint = std::move(*fromEnvironment);
    } else {
        this->endpoint = std::string(defaultEndpoint);
    }
    networkMonitor->startMonitoring();
}

const HubApi& HubApi::shared() {
    static const HubApi client;
    return client;
}

Url HubApi::endpointURL() const {
    auto url = Url::parse(endpoint);
    if (!url) throw HubClientError::parseError("Invalid hub endpoint \"" + endpoint + "\"");
    return *url;
}

std::vector<std::pair<std::string, std::string>> HubApi::authorizationHeaders() const {
    if (qnToken && !qnToken->empty()) return {{"Authorization", "Bearer " + *qnToken}};
    return {};
}

std::pair<std::string, HttpResponse> HubApi::httpGet(const std::string& url) const {
    HttpRequest request;
    request.url = url;
    request.headers = authorizationHeaders();
    request.timeout = std::chrono::seconds(60);
    HttpResponse response;
    try {
        response = HttpClient::send(request);
    } catch (const platform::system::CancellationError&) {
        throw;
    } catch (const std::exception& error) {
        throw HubClientError::downloadError(error.what());
    }
    if (response.statusCode < 200 || response.statusCode > 299)
        throwForStatus(response.statusCode, url);
    std::string body = std::move(response.body);
    response.body.clear();
    return {std::move(body), std::move(response)};
}

HttpResponse HubApi::httpHead(const std::string& url) const {
    const auto original = Url::parse(url);
    HttpRequest request;
    request.method = "HEAD";
    request.url = url;
    request.followRedirects = false;
    request.timeout = std::chrono::seconds(60);
    request.headers = authorizationHeaders();
    request.headers.emplace_back("Accept-Encoding", "identity");
    const auto firstHeaders = request.headers;

    HttpResponse response;
    for (int hop = 0;; ++hop) {
        response = HttpClient::send(request);
        const long status = response.statusCode;
        // Only a relative redirect stays on the hub and is followed: it is
        // resolved against the first request's address, whose headers it
        // keeps, with "Location" naming the new address.
        const auto location = response.header("location");
        if (status < 300 || status > 399 || !location || !original) break;
        const auto next = original->replacingPathAndQuery(*location);
        if (!next) break;
        if (hop == kMaxRelativeRedirects)
            throw platform::system::SystemError("NSURLErrorDomain", -1007,
                                                "too many HTTP redirects");
        request.url = next->string();
        request.headers = firstHeaders;
        request.headers.emplace_back("Location", request.url);
    }
    if (response.statusCode >= 200 && response.statusCode <= 399) return response;
    throwForStatus(response.statusCode, url);
}

Config HubApi::configuration(const fs::path& fileURL) const {
    const std::string bytes = readWholeFile(fileURL);
    try {
        return YYJSONParser::parseToConfig(bytes);
    } catch (const YYJSONParser::ParseError& e) {
        throw HubClientError::jsonSerialization(
            fileURL, "JSON parsing failed for " + fileURL.string() + ": " + e.errorDescription() +
                         ". If this is a private model, verify that QN_TOKEN is set.");
    }
}

Config HubApi::configuration(const std::string& filename, const Repo& repo) const {
    checkRelativeName(filename, "file name");
    return configuration(localRepoLocation(repo) / filename);
}

void HubApi::checkRelativeName(std::string_view name, std::string_view what) {
    auto refuse = [&](std::string_view why) {
        throw HubClientError::parseError("Refusing " + std::string(what) + " \"" +
                                         std::string(name) + "\": " + std::string(why));
    };
    if (name.empty()) refuse("it is empty");
    if (name.front() == '/') refuse("it is an absolute path");
    if (name.find('\\') != std::string_view::npos) refuse("it holds a backslash");
    if (name.find('\0') != std::string_view::npos) refuse("it holds a NUL byte");
    size_t start = 0;
    for (;;) {
        const size_t slash = name.find('/', start);
        const std::string_view segment = name.substr(start, slash - start);
        if (segment.empty()) refuse("it has an empty path segment");
        if (segment == "." || segment == "..") refuse("it has a \".\" or \"..\" segment");
        if (slash == std::string_view::npos) break;
        start = slash + 1;
    }
}

} // namespace hub
