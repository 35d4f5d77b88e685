#include "platform/net/HttpClient.h"

#include "platform/system/Cancellation.h"
#include "platform/system/SystemError.h"
#include "support/LocalHttpServer.h"
#include "support/TestHub.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>

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

TEST(HttpClientStream, HeadComesBeforeTheBodyAndCanStopIt) {
    zvtest::TestHub server;
    zvtest::TestHub::Repository repository;
    repository.id = "o/m";
    repository.files = {{"f.bin", std::string(3 << 20, 'x')}};
    server.addRepository(repository);
    platform::net::HttpRequest request;
    request.url = server.endpoint() + "/o/m/resolve/main/f.bin";

    size_t received = 0;
    bool bodyBeforeHead = false;
    long status = 0;
    auto head = HttpClient::stream(
        request,
        [&](const platform::net::HttpResponse& response) {
            status = response.statusCode;
            return true;
        },
        [&](std::string_view piece) {
            bodyBeforeHead = bodyBeforeHead || status == 0;
            received += piece.size();
            return true;
        });
    EXPECT_FALSE(bodyBeforeHead);
    EXPECT_EQ(head.statusCode, 200);
    EXPECT_EQ(received, size_t(3) << 20);

    // A receiver that refuses the head gets no body and no error.
    received = 0;
    HttpClient::stream(
        request, [](const auto&) { return false; },
        [&](std::string_view piece) {
            received += piece.size();
            return true;
        });
    EXPECT_EQ(received, 0u);

    // A header value with a line break is refused before anything is sent.
    request.headers = {{"Authorization", "Bearer a\r\nX-Injected: 1"}};
    const auto before = server.log().size();
    EXPECT_THROW(HttpClient::send(request), platform::system::SystemError);
    EXPECT_EQ(server.log().size(), before);
}

TEST(HttpClientStream, IdleLimitAndCancellation) {
    zvtest::TestHub server;
    zvtest::TestHub::Repository repository;
    repository.id = "o/m";
    repository.files = {{"f.bin", std::string(1 << 20, 'x')}};
    server.addRepository(repository);
    server.addFault(
        {zvtest::TestHub::FaultKind::stall, "GET", "", 0, 1000, std::chrono::seconds(30), -1});
    platform::net::HttpRequest request;
    request.url = server.endpoint() + "/o/m/resolve/main/f.bin";
    request.timeout = std::chrono::seconds(1);
    try {
        HttpClient::stream(request, {}, [](std::string_view) { return true; });
        ADD_FAILURE();
    } catch (const platform::system::SystemError& e) {
        EXPECT_EQ(e.code(), platform::net::kTimedOutCode);
    }

    request.timeout = std::chrono::seconds(60);
    std::stop_source stop;
    std::exception_ptr error;
    std::thread worker([&] {
        platform::system::CancellationScope scope(stop.get_token());
        try {
            HttpClient::stream(request, {}, [](std::string_view) { return true; });
        } catch (...) {
            error = std::current_exception();
        }
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    stop.request_stop();
    worker.join();
    EXPECT_THROW(std::rethrow_exception(error), platform::system::CancellationError);
}
