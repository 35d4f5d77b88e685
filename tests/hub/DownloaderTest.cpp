#include "hub/Downloader.h"

#include "hub/EnvironmentError.h"
#include "platform/system/Cancellation.h"
#include "platform/system/SystemError.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sstream>

namespace {

namespace fs = std::filesystem;
using hub::Downloader;
using zvtest::TestHub;
using Kind = Downloader::DownloadState::Kind;

constexpr int64_t kChunk = 64 * 1024;

std::string patterned(size_t size) {
    std::string text(size, '\0');
    uint32_t x = 2463534242u;
    for (char& c : text) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }
    return text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return std::move(buffer).str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct Transfer {
    std::vector<Downloader::DownloadState> states;
    Downloader::DownloadState last() const { return states.back(); }
    template <typename E> bool failedWith() const {
        if (last().kind != Kind::failed) return false;
        try {
            std::rethrow_exception(last().error);
        } catch (const E&) {
            return true;
        } catch (...) {
            return false;
        }
    }
};

Transfer consume(Downloader::StateStream& stream) {
    Transfer run;
    for (;;) {
        auto state = stream.next(std::chrono::seconds(60));
        if (!state) {
            ADD_FAILURE() << "no final state";
            return run;
        }
        if (state->kind == Kind::notStarted) continue; // replayed to a listener that came first
        run.states.push_back(*state);
        if (state->kind == Kind::completed || state->kind == Kind::failed) return run;
    }
}

class DownloaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        content_ = patterned(5 * kChunk + 1234);
        TestHub::Repository repository;
        repository.id = "o/m";
        repository.files = {{"f.bin", content_}};
        server_.addRepository(repository);
        writeFile(incomplete(), "");
    }

    fs::path destination() const { return dir_ / "out" / "f.bin"; }
    fs::path incomplete() const { return dir_ / "f.bin.incomplete"; }
    std::string url() const { return server_.endpoint() + "/o/m/resolve/main/f.bin"; }

    Transfer download(std::optional<int64_t> expected, int retries = 5,
                      std::optional<std::string> sha = std::nullopt, double timeout = 10) {
        Downloader downloader(destination(), incomplete(), false, kChunk);
        auto stream = downloader.download(url(), std::nullopt, std::nullopt, expected, timeout,
                                          retries, std::move(sha));
        return consume(stream);
    }

    std::vector<TestHub::LogEntry> gets() const {
        std::vector<TestHub::LogEntry> result;
        for (const auto& entry : server_.log())
            if (entry.method == "GET") result.push_back(entry);
        return result;
    }

    TestHub server_;
    platform::system::TemporaryDirectory dir_{"zv-downloader-"};
    std::string content_;
};

TEST_F(DownloaderTest, FreshTransferReportsChunksAndMovesTheFile) {
    Downloader downloader(destination(), incomplete(), false, kChunk);
    auto early = downloader.subscribe();
    EXPECT_EQ(early.next().kind, Kind::notStarted);
    auto stream = downloader.download(url(), std::string("tok"), std::nullopt,
                                      static_cast<int64_t>(content_.size()), 10, 5);
    const Transfer run = consume(stream);
    const Transfer other = consume(early); // a second listener sees the same end
    ASSERT_EQ(run.last().kind, Kind::completed);
    EXPECT_EQ(other.last().kind, Kind::completed);
    EXPECT_EQ(run.last().url, destination());
    EXPECT_EQ(readFile(destination()), content_);
    EXPECT_FALSE(fs::exists(incomplete()));

    // The first state has fraction 0 and no speed; then one per full chunk.
    EXPECT_EQ(run.states[0].kind, Kind::downloading);
    EXPECT_EQ(run.states[0].fraction, 0.0);
    EXPECT_FALSE(run.states[0].speed);
    EXPECT_EQ(run.states.size(), 1u + 5u + 1u);
    EXPECT_NEAR(run.states[5].fraction, 5.0 * kChunk / content_.size(), 1e-9);
    auto log = gets();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].range, "");
    EXPECT_EQ(log[0].authorization, "Bearer tok");
}

TEST_F(DownloaderTest, ResumesFromThePartialFileWithARange) {
    const size_t quarter = content_.size() / 4;
    writeFile(incomplete(), content_.substr(0, quarter));
    const Transfer run = download(static_cast<int64_t>(content_.size()));
    ASSERT_EQ(run.last().kind, Kind::completed);
    EXPECT_NEAR(run.states[0].fraction, 0.25, 0.001);
    EXPECT_EQ(readFile(destination()), content_);
    ASSERT_EQ(gets().size(), 1u);
    EXPECT_EQ(gets()[0].range, "bytes=" + std::to_string(quarter) + "-");
    EXPECT_EQ(gets()[0].bytesSent, static_cast<int64_t>(content_.size() - quarter));
}

TEST_F(DownloaderTest, BrokenBodiesResumeWhereTheBytesEnded) {
    server_.addFault({TestHub::FaultKind::dropAfter, "GET", "f.bin", 0, kChunk + 100, {}, 2});
    const Transfer run = download(static_cast<int64_t>(content_.size()));
    ASSERT_EQ(run.last().kind, Kind::completed);
    EXPECT_EQ(readFile(destination()), content_);
    const auto log = gets();
    ASSERT_EQ(log.size(), 3u);
    // No byte is sent twice: each retry starts where the received bytes end.
    int64_t sent = 0;
    for (const auto& entry : log) {
        EXPECT_EQ(entry.range, sent == 0 ? "" : "bytes=" + std::to_string(sent) + "-");
        sent += entry.bytesSent;
    }
    EXPECT_EQ(sent, static_cast<int64_t>(content_.size()));
}

TEST_F(DownloaderTest, FailuresNeverLeaveAWrongFile) {
    const std::string quarter = content_.substr(0, content_.size() / 4);
    const auto size = static_cast<int64_t>(content_.size());
    struct Case {
        const char* name;
        std::string partial;
        std::optional<TestHub::Fault> fault;
        std::optional<int64_t> expected;
        std::optional<std::string> sha;
        int retries;
        bool completes;
        bool partialKept; // when it fails: the incomplete file still holds `partial`
    };
    const std::string wrongSha(64, 'a');
    const std::vector<Case> cases = {
        {"ignored range restarts", quarter,
         TestHub::Fault{TestHub::FaultKind::ignoreRange, "GET", ""}, size, std::nullopt, 0, true,
         false},
        {"oversized partial is emptied", content_ + "junk", std::nullopt, size, std::nullopt, 0,
         true, false},
        {"error status writes nothing", quarter,
         TestHub::Fault{TestHub::FaultKind::status, "GET", "", 503}, size, std::nullopt, 5, false,
         true},
        {"416 deletes the partial", quarter,
         TestHub::Fault{TestHub::FaultKind::status, "GET", "", 416}, size, std::nullopt, 5, false,
         false},
        {"size mismatch deletes the partial", "", std::nullopt, size + 1, std::nullopt, 0, false,
         false},
        {"digest mismatch deletes the partial", "", std::nullopt, size, wrongSha, 0, false, false},
        {"digest checked across a resume", quarter, std::nullopt, size,
         TestHub::sha256Of(TestHub::File("x", content_)), 0, true, false},
        {"a drop without retries keeps the prefix", "",
         TestHub::Fault{TestHub::FaultKind::dropAfter, "GET", "", 0, kChunk - 7}, size,
         std::nullopt, 0, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(dir_ / "out");
        writeFile(incomplete(), c.partial);
        server_.clearFaults();
        if (c.fault) server_.addFault(*c.fault);
        const Transfer run = download(c.expected, c.retries, c.sha);
        if (c.completes) {
            ASSERT_EQ(run.last().kind, Kind::completed);
            EXPECT_EQ(readFile(destination()), content_);
            continue;
        }
        ASSERT_EQ(run.last().kind, Kind::failed);
        EXPECT_FALSE(fs::exists(destination()));
        if (c.partialKept) {
            EXPECT_EQ(readFile(incomplete()), c.partial);
        }
        if (fs::exists(incomplete())) {
            const std::string left = readFile(incomplete());
            EXPECT_EQ(left, content_.substr(0, left.size())) << "not a prefix";
        }
    }
    // A kept prefix is a prefix of the file.
    EXPECT_TRUE(fs::exists(incomplete()));
    EXPECT_EQ(readFile(incomplete()), content_.substr(0, kChunk - 7));
}

TEST_F(DownloaderTest, ErrorKinds) {
    server_.addFault({TestHub::FaultKind::status, "GET", "", 500});
    Transfer run = download(static_cast<int64_t>(content_.size()));
    EXPECT_TRUE(run.failedWith<Downloader::DownloadError>());
    run = download(static_cast<int64_t>(content_.size()), 0, std::string(64, 'b'));
    EXPECT_TRUE(run.failedWith<hub::EnvironmentError>());
    fs::remove(incomplete());
    run = download(static_cast<int64_t>(content_.size()));
    EXPECT_TRUE(run.failedWith<platform::system::SystemError>()); // no incomplete file
}

TEST_F(DownloaderTest, AWholePartialFileNeedsNoRequest) {
    writeFile(incomplete(), content_);
    const Transfer run = download(static_cast<int64_t>(content_.size()));
    ASSERT_EQ(run.last().kind, Kind::completed);
    EXPECT_EQ(readFile(destination()), content_);
    EXPECT_TRUE(gets().empty());
}

TEST_F(DownloaderTest, AStalledBodyHitsTheIdleLimitAndResumes) {
    server_.addFault({TestHub::FaultKind::stall, "GET", "", 0, kChunk, std::chrono::seconds(20)});
    const Transfer run = download(static_cast<int64_t>(content_.size()), 1, std::nullopt, 1);
    ASSERT_EQ(run.last().kind, Kind::completed);
    EXPECT_EQ(readFile(destination()), content_);
    // The stalled connection is still held by the server; the retry's is logged.
    const auto log = gets();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back().range, "bytes=" + std::to_string(kChunk) + "-");
}

TEST_F(DownloaderTest, CancelStopsATransferThatHasNotStarted) {
    server_.addFault({TestHub::FaultKind::stall, "GET", "", 0, 0, std::chrono::seconds(20)});
    Downloader downloader(destination(), incomplete(), false, kChunk);
    auto stream = downloader.download(url(), std::nullopt, std::nullopt,
                                      static_cast<int64_t>(content_.size()), 10, 5);
    EXPECT_EQ(stream.next().kind, Kind::notStarted);
    EXPECT_EQ(stream.next().kind, Kind::downloading);
    downloader.cancel();
    const Transfer run = consume(stream);
    EXPECT_TRUE(run.failedWith<platform::system::CancellationError>());
    EXPECT_FALSE(fs::exists(destination()));
}

} // namespace
