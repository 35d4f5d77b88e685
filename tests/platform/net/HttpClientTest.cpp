#include "platform/net/HttpClient.h"

#include "platform/system/SystemError.h"
#include "support/LocalHttpServer.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;
using platform::net::HttpClient;

namespace {
std::string readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}
} // namespace

TEST(HttpClient, DownloadsBodyToFileAndReportsStatus) {
    zvtest::LocalHttpServer server;
    std::string payload(300000, '\0');
    for (size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<char>(i * 7);
    server.setRoute("/model.tar.gz", 200, payload);
    server.setRoute("/missing", 404, "nope");

    fs::path dir = fs::temp_directory_path() / "zv-http-test";
    fs::create_directories(dir);
    uint64_t lastReceived = 0;
    auto ok = HttpClient::download(server.url("/model.tar.gz"), dir / "a.bin",
                                   [&](uint64_t received, uint64_t) { lastReceived = received; });
    EXPECT_EQ(ok.statusCode, 200);
    EXPECT_EQ(readFile(dir / "a.bin"), payload);
    EXPECT_EQ(lastReceived, payload.size());

    auto missing = HttpClient::download(server.url("/missing"), dir / "b.bin");
    EXPECT_EQ(missing.statusCode, 404);

    platform::net::HttpRequest request;
    request.url = server.url("/missing");
    auto sent = HttpClient::send(request);
    EXPECT_EQ(sent.statusCode, 404);
    EXPECT_EQ(sent.body, "nope");
    EXPECT_EQ(sent.header("content-length"), "4");
    fs::remove_all(dir);
}

TEST(HttpClient, TransportFailureThrowsAndLeavesNoFile) {
    fs::path target = fs::temp_directory_path() / "zv-http-refused.bin";
    // Port 1 on loopback: nothing listens there, the connection is refused.
    EXPECT_THROW(HttpClient::download("http://127.0.0.1:1/x", target),
                 platform::system::SystemError);
    EXPECT_FALSE(fs::exists(target));
}

TEST(HttpClient, RefusesHeadersThatWouldSplitTheRequest) {
    zvtest::LocalHttpServer server;
    server.setRoute("/", 200, "ok");
    platform::net::HttpRequest request;
    request.url = server.url("/");
    request.headers = {{"x-api-key", "secret\r\nX-Injected: 1"}};
    EXPECT_THROW(HttpClient::send(request), platform::system::SystemError);
    request.headers = {{"x-api-key", "secret"}};
    EXPECT_EQ(HttpClient::send(request).statusCode, 200);
    ASSERT_EQ(server.requestCount(), 1);
    EXPECT_EQ(server.requests()[0].headers.at("x-api-key"), "secret");
}
