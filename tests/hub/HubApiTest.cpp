#include "hub/HubApi.h"

#include "platform/system/SystemError.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"

#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using hub::HubApi;
using hub::HubClientError;
using zvtest::TestHub;

// Sets or clears environment variables for one test and restores them after.
class ScopedEnvironment {
public:
    void set(const char* name, const char* value) {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnvironment() {
        for (const auto& [name, value] : saved_)
            value ? ::setenv(name.c_str(), value->c_str(), 1) : ::unsetenv(name.c_str());
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

TestHub::Repository sampleRepository() {
    TestHub::Repository repository;
    repository.id = "owner/model";
    repository.files = {{"config.json", R"({"a":1})"},
                        {"a.json", "{}"},
                        {"b.bin", "bytes"},
                        {"AudioEncoder.mlmodelc/weights/weight.bin", "w"},
                        {"AudioEncoder.mlmodelc/model.json", "{}"}};
    return repository;
}

HubApi clientFor(const TestHub& server, const fs::path& base,
                 std::optional<std::string> token = std::string()) {
    return HubApi(base, std::move(token), server.endpoint(), false, false);
}

TEST(HubApiToken, LookupOrderAndFiles) {
    platform::system::TemporaryDirectory home("zv-hub-home-");
    ScopedEnvironment env;
    env.set("HOME", home.path().c_str());
    for (const char* name : {"QN_TOKEN", "QUILLON_HUB_TOKEN", "QN_TOKEN_PATH", "QN_HOME"})
        env.set(name, nullptr);
    EXPECT_EQ(HubApi::qnTokenFromEnv(), std::nullopt);

    fs::create_directories(home / ".quillon");
    std::ofstream(home / ".quillon" / "token") << "from-dot-folder\r\n";
    EXPECT_EQ(HubApi::qnTokenFromEnv(), "from-dot-folder"); // line break stripped

    fs::create_directories(home / "qnhome");
    std::ofstream(home / "qnhome" / "token") << "from-qn-home\n";
    env.set("QN_HOME", "~/qnhome");
    env.set("QN_TOKEN_PATH", (home / "missing").c_str());
    EXPECT_EQ(HubApi::qnTokenFromEnv(), "from-qn-home");

    env.set("QN_TOKEN", "");
    env.set("QUILLON_HUB_TOKEN", "second");
    EXPECT_EQ(HubApi::qnTokenFromEnv(), "second");
    env.set("QN_TOKEN", "first");
    EXPECT_EQ(HubApi::qnTokenFromEnv(), "first");

    // A passed token is kept as given, even empty; the endpoint variable is
    // used as it stands, even empty.
    env.set("QN_ENDPOINT", "");
    HubApi client(home.path(), std::string());
    EXPECT_EQ(client.qnToken, "");
    EXPECT_EQ(client.endpoint, "");
}

TEST(HubApiRequests, StatusesMapToClientErrors) {
    TestHub server;
    server.addRepository(sampleRepository());
    platform::system::TemporaryDirectory base;
    const HubApi client = clientFor(server, base.path());

    struct Case {
        int status;
        HubClientError::Kind kind;
        std::string message;
    };
    for (const Case& c :
         {Case{401, HubClientError::Kind::authorizationRequired,
               "Authentication required. Please provide a valid Quillon token."},
          Case{403, HubClientError::Kind::authorizationRequired,
               "Authentication required. Please provide a valid Quillon token."},
          Case{404, HubClientError::Kind::fileNotFound, "File not found: config.json"},
          Case{500, HubClientError::Kind::httpStatusCode, "HTTP error with status code: 500"}}) {
        server.addFault({TestHub::FaultKind::status, "", "config.json", c.status});
        try {
            client.httpGet(server.endpoint() + "/owner/model/resolve/main/config.json");
            ADD_FAILURE() << c.status;
        } catch (const HubClientError& e) {
            EXPECT_EQ(e.kind(), c.kind);
            EXPECT_STREQ(e.what(), c.message.c_str());
        }
        server.addFault({TestHub::FaultKind::status, "HEAD", "config.json", c.status});
        try {
            client.getFileMetadata(server.endpoint() + "/owner/model/resolve/main/config.json");
            ADD_FAILURE() << c.status;
        } catch (const HubClientError& e) {
            EXPECT_EQ(e.kind(), c.kind);
        }
    }
    // A GET follows the redirect of a linked file and reports the final status.
    TestHub::Repository linked;
    linked.id = "owner/linked";
    linked.files = {{"big.bin", "0123456789", true}};
    server.addRepository(linked);
    auto [body, response] =
        client.httpGet(server.endpoint() + "/owner/linked/resolve/main/big.bin");
    EXPECT_EQ(body, "0123456789");
    EXPECT_EQ(response.statusCode, 200);

    // A transport failure of a GET is a download error.
    const HubApi unreachable(base.path(), std::string(), std::string("http://127.0.0.1:1"), false,
                             false);
    try {
        unreachable.getFilenames("owner/model", std::vector<std::string>{});
        ADD_FAILURE();
    } catch (const HubClientError& e) {
        EXPECT_EQ(e.kind(), HubClientError::Kind::downloadError);
    }
}

TEST(HubApiRequests, TokenIsSentOnlyWhenNonEmptyAndNeverWithControlCharacters) {
    TestHub server;
    server.addRepository(sampleRepository());
    platform::system::TemporaryDirectory base;

    clientFor(server, base.path(), std::string()).getFilenames("owner/model", "*.json");
    clientFor(server, base.path(), std::string("secret")).getFilenames("owner/model", "*.json");
    auto log = server.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].authorization, "");
    EXPECT_EQ(log[1].authorization, "Bearer secret");

    // A token that would end the header line early is refused before sending.
    const HubApi injected = clientFor(server, base.path(), std::string("x\r\nX-Evil: 1"));
    EXPECT_THROW(injected.getFilenames("owner/model", "*.json"), HubClientError);
    EXPECT_THROW(injected.getFileMetadata(server.endpoint() + "/owner/model/resolve/main/a.json"),
                 platform::system::SystemError);
    EXPECT_EQ(server.log().size(), 2u);

    EXPECT_EQ(clientFor(server, base.path(), std::string("t")).whoami()["name"].string(), "tester");
    EXPECT_THROW(clientFor(server, base.path(), std::nullopt).whoami(), HubClientError);
}

TEST(HubApiListing, GlobsSelectEachNameOnce) {
    TestHub server;
    server.addRepository(sampleRepository());
    platform::system::TemporaryDirectory base;
    const HubApi client = clientFor(server, base.path());
    const hub::Repo repo{"owner/model", hub::RepoType::models};

    EXPECT_EQ(client.getFilenames(repo, "main", {}),
              (std::vector<std::string>{"config.json", "a.json", "b.bin",
                                        "AudioEncoder.mlmodelc/weights/weight.bin",
                                        "AudioEncoder.mlmodelc/model.json"}));
    auto json = client.getFilenames(repo, "main", {"*.json", "config.json"});
    std::sort(json.begin(), json.end());
    EXPECT_EQ(json, (std::vector<std::string>{"AudioEncoder.mlmodelc/model.json", "a.json",
                                              "config.json"}));
    EXPECT_EQ(client.getFilenames(repo, "main", {"*/weights/*"}),
              (std::vector<std::string>{"AudioEncoder.mlmodelc/weights/weight.bin"}));
    EXPECT_TRUE(client.getFilenames(repo, "main", {"*.gguf"}).empty());

    // A revision is one escaped path segment.
    EXPECT_THROW(client.getFilenames(repo, "refs/pr/1", {}), HubClientError);
    EXPECT_EQ(server.log().back().path, "/api/models/owner/model/revision/refs%2Fpr%2F1");
}

TEST(HubApiListing, RefusesNamesThatWouldLeaveTheCache) {
    TestHub server;
    platform::system::TemporaryDirectory base;
    const HubApi client = clientFor(server, base.path());
    const std::vector<std::string> badNames = {"../escape", "/etc/passwd", "a/../../b", "a//b",
                                               "./a",       "a\\b",        "dir/.",     "dir/"};
    for (const std::string& bad : badNames) {
        TestHub::Repository repository;
        repository.id = "owner/bad" + std::to_string(std::hash<std::string>{}(bad) % 100000);
        repository.files = {{bad, "x"}};
        server.addRepository(repository);
        try {
            client.getFilenames(repository.id, std::vector<std::string>{});
            ADD_FAILURE() << bad;
        } catch (const HubClientError& e) {
            EXPECT_EQ(e.kind(), HubClientError::Kind::parseError) << bad;
        }
    }
    for (const std::string badId : {"../x", "/abs", "a/../b", ""})
        EXPECT_THROW(client.localRepoLocation({badId, hub::RepoType::models}), HubClientError);
    EXPECT_THROW(HubApi::checkRelativeName(std::string("a\0b", 3), "name"), HubClientError);
    EXPECT_NO_THROW(HubApi::checkRelativeName("AudioEncoder.mlmodelc/weights/weight.bin", "name"));
}

TEST(HubApiMetadata, LinkedAndPlainFilesAndRedirects) {
    TestHub server;
    TestHub::Repository repository;
    repository.id = "owner/model";
    repository.files = {{"big.bin", std::string(1000, 'x'), true}, {"config.json", "{}"}};
    server.addRepository(repository);
    platform::system::TemporaryDirectory base;
    const HubApi client = clientFor(server, base.path(), std::string("tok"));
    const auto big = server.file("owner/model", "big.bin");
    const auto config = server.file("owner/model", "config.json");

    // 302 to storage: the linked headers of the hub's own answer, no HEAD on storage.
    auto linked = client.getFileMetadata(client.resolveURL({"owner/model"}, "main", "big.bin"));
    EXPECT_EQ(linked.location, server.endpoint() + "/storage/" + big.sha256);
    EXPECT_EQ(linked.etag, big.sha256);
    EXPECT_EQ(linked.size, 1000);
    EXPECT_EQ(linked.commitHash, repository.commit);
    EXPECT_EQ(server.log().size(), 1u);

    auto plain = client.getFileMetadata(client.resolveURL({"owner/model"}, "main", "config.json"));
    EXPECT_EQ(plain.etag, config.etag);
    EXPECT_EQ(plain.size, 2);
    EXPECT_EQ(plain.location, client.resolveURL({"owner/model"}, "main", "config.json"));

    // A relative redirect is followed on the same host with the first
    // request's headers and a Location header naming the new address.
    server.setRelativeRedirects(true);
    server.clearLog();
    auto redirected =
        client.getFileMetadata(client.resolveURL({"owner/model"}, "main", "config.json"));
    EXPECT_EQ(redirected.etag, config.etag);
    auto log = server.log();
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0].status, 307);
    EXPECT_EQ(log[1].path, "/owner/model/resolve/" + repository.commit + "/config.json");
    EXPECT_EQ(log[1].authorization, "Bearer tok");

    // A relative redirect loop ends after a bounded number of hops.
    server.clearLog();
    server.addFault({TestHub::FaultKind::redirectLoop, "HEAD", "loop", 0, 0, {}, -1});
    EXPECT_THROW(client.getFileMetadata(server.endpoint() + "/owner/model/resolve/main/loop"),
                 platform::system::SystemError);
    EXPECT_LE(server.log().size(), 11u);

    // Datasets and spaces carry their type segment; models none.
    EXPECT_EQ(client.resolveURL({"o/d", hub::RepoType::datasets}, "main", "w/f.bin"),
              server.endpoint() + "/datasets/o/d/resolve/main/w/f.bin");
    EXPECT_EQ(client.resolveURL({"o/m"}, "refs/pr/1", "f"),
              server.endpoint() + "/o/m/resolve/refs%2Fpr%2F1/f");
}

TEST(HubApiMetadata, LinkHeaderTargets) {
    platform::net::HttpResponse response;
    struct Case {
        std::string link;
        std::optional<std::string> target;
    };
    for (const Case& c :
         {Case{R"(<https://a/x>; rel="other", <https://b/y>; rel="vorn-auth")", "https://b/y"},
          Case{"<https://c/z>; rel=vorn-auth", "https://c/z"},
          Case{R"(>bad<; rel="vorn-auth", <https://d/w>; rel="vorn-auth")", "https://d/w"},
          Case{R"(<https://e/v>; rel="next")", std::nullopt}}) {
        response.headers["link"] = c.link;
        EXPECT_EQ(hub::getLinkURL(response, "vorn-auth"), c.target) << c.link;
    }
}

TEST(HubApiMetadata, EndpointThatIsNotAUrlFailsTheOperation) {
    platform::system::TemporaryDirectory base;
    const HubApi client(base.path(), std::string(), std::string("not a url"), false, false);
    EXPECT_THROW(client.getFilenames("o/m", std::vector<std::string>{}), HubClientError);
}

} // namespace
