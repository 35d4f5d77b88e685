#include "hub/HubApi.h"
#include "hub/HubFileDownloader.h"
#include "platform/system/Cancellation.h"
#include "platform/system/SystemError.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/TestHub.h"

#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <thread>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using hub::HubApi;
using zvtest::TestHub;

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream buffer;
    buffer << in.rdbuf();
    return std::move(buffer).str();
}

void writeFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// Writes `size` bytes of varied content in 1 MiB blocks.
void writeLargeFile(const fs::path& path, int64_t size) {
    std::string block(1 << 20, '\0');
    uint64_t x = 88172645463325252ull;
    for (char& c : block) {
        x ^= x << 13;
        x ^= x >> 7;
        x ^= x << 17;
        c = static_cast<char>(x);
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    for (int64_t written = 0, index = 0; written < size; ++index) {
        std::memcpy(block.data(), &index, sizeof index); // every block differs
        const auto n = static_cast<size_t>(std::min<int64_t>(size - written, block.size()));
        if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) break;
        written += static_cast<int64_t>(n);
    }
    ::close(fd);
}

std::vector<TestHub::LogEntry> entries(const TestHub& server, const std::string& method,
                                       const std::string& pathPart = "") {
    std::vector<TestHub::LogEntry> result;
    for (const auto& entry : server.log())
        if (entry.method == method && entry.path.find(pathPart) != std::string::npos)
            result.push_back(entry);
    return result;
}

class SnapshotTest : public ::testing::Test {
protected:
    static constexpr int64_t kLargeSize = 200ll * 1024 * 1024;

    static void SetUpTestSuite() {
        data_ = new platform::system::TemporaryDirectory("zv-snapshot-data-");
        writeLargeFile(data_->path() / "large.bin", kLargeSize);
    }
    static void TearDownTestSuite() {
        delete data_;
        data_ = nullptr;
    }

    void SetUp() override {
        repository_.id = "owner/model";
        for (int i = 0; i < 18; ++i)
            repository_.files.emplace_back("AudioEncoder.mlmodelc/part" + std::to_string(i) +
                                               ".json",
                                           R"({"part":)" + std::to_string(i) + "}");
        repository_.files.emplace_back("config.json", R"({"model_type":"whisper"})");
        repository_.files.push_back(TestHub::File::onDisk(
            "AudioEncoder.mlmodelc/weights/weight.bin", data_->path() / "large.bin", true));
        repository_ = server_.addRepository(repository_);
    }

    HubApi client(std::optional<bool> offline = false) const {
        return HubApi(base_.path(), std::string(), server_.endpoint(), false, offline);
    }
    fs::path repoFolder() const { return base_ / "models" / "owner" / "model"; }
    fs::path metadataFolder() const { return HubApi::metadataLocation(repoFolder()); }

    static platform::system::TemporaryDirectory* data_;
    TestHub server_;
    TestHub::Repository repository_;
    platform::system::TemporaryDirectory base_{"zv-snapshot-"};
};

platform::system::TemporaryDirectory* SnapshotTest::data_ = nullptr;

TEST_F(SnapshotTest, MirrorsResumesVerifiesAndThenWorksOffline) {
    // The large file's connection drops at 60 %: the downloader resumes it.
    const auto large = server_.file("owner/model", "AudioEncoder.mlmodelc/weights/weight.bin");
    const int64_t dropAt = kLargeSize * 6 / 10;
    server_.addFault({TestHub::FaultKind::dropAfter, "GET", "/storage/", 0, dropAt});

    std::vector<double> fractions;
    const fs::path folder = client().snapshot(hub::Repo{"owner/model"}, "main", {},
                                              [&](const platform::system::Progress& progress) {
                                                  fractions.push_back(progress.fractionCompleted());
                                              });
    EXPECT_EQ(folder, repoFolder());
    for (const auto& file : repository_.files) {
        const fs::path mirrored = folder / file.name;
        ASSERT_TRUE(fs::exists(mirrored)) << file.name;
        EXPECT_EQ(fs::file_size(mirrored), static_cast<uintmax_t>(file.size));
        const auto metadata =
            client().readDownloadMetadata(metadataFolder() / (file.name + ".metadata"));
        ASSERT_TRUE(metadata) << file.name;
        EXPECT_EQ(metadata->commitHash, repository_.commit);
        EXPECT_EQ(metadata->etag, server_.file("owner/model", file.name).etag);
    }
    EXPECT_EQ(client().computeFileHash(folder / large.name), large.sha256);
    EXPECT_EQ(readFile(folder / "config.json"), R"({"model_type":"whisper"})");
    ASSERT_FALSE(fractions.empty());
    EXPECT_DOUBLE_EQ(fractions.back(), 1.0);

    // The first bytes were not sent again: the second request asks for the
    // rest, and the bytes sent add up to the file once.
    const auto storage = entries(server_, "GET", "/storage/");
    ASSERT_EQ(storage.size(), 2u);
    EXPECT_EQ(storage[0].bytesSent, dropAt);
    EXPECT_EQ(storage[1].range, "bytes=" + std::to_string(dropAt) + "-");
    EXPECT_EQ(storage[0].bytesSent + storage[1].bytesSent, kLargeSize);
    EXPECT_TRUE(fs::is_empty(metadataFolder() / "AudioEncoder.mlmodelc" / "weights") ||
                !fs::exists(metadataFolder() / "AudioEncoder.mlmodelc" / "weights" /
                            ("weight.bin." + large.etag + ".incomplete")));

    // Offline: no request at all, the cache is checked instead.
    server_.clearLog();
    EXPECT_EQ(client(true).snapshot(hub::Repo{"owner/model"}, "main", {}), repoFolder());
    EXPECT_TRUE(server_.log().empty());

    // Online again at the same commit: one listing and one HEAD per file.
    EXPECT_EQ(client().snapshot(hub::Repo{"owner/model"}, "main", {}), repoFolder());
    EXPECT_EQ(entries(server_, "GET").size(), 1u);
    EXPECT_EQ(entries(server_, "HEAD").size(), repository_.files.size());
}

TEST_F(SnapshotTest, OfflineValidationFailures) {
    using Kind = hub::EnvironmentError::Kind;
    auto offlineError = [&]() -> std::pair<Kind, std::string> {
        try {
            client(true).snapshot(hub::Repo{"owner/model"}, "main", {"*.json"});
        } catch (const hub::EnvironmentError& e) {
            return {e.kind(), e.what()};
        }
        return {Kind::fileWriteError, "no error"};
    };
    EXPECT_EQ(offlineError(), std::make_pair(Kind::offlineModeError,
                                             std::string("Offline mode error: Repository not "
                                                         "available locally")));
    fs::create_directories(metadataFolder());
    EXPECT_EQ(offlineError().second,
              "Offline mode error: No files available locally for this repository");

    client().snapshot(hub::Repo{"owner/model"}, "main", {"*.json"});
    EXPECT_NO_THROW(client(true).snapshot(hub::Repo{"owner/model"}, "main", {"*.json"}));

    // A small file's etag is not a digest: a changed file is not noticed.
    writeFile(repoFolder() / "config.json", "changed");
    EXPECT_NO_THROW(client(true).snapshot(hub::Repo{"owner/model"}, "main", {"*.json"}));

    // A file the user added has no metadata, even though no glob selects it.
    writeFile(repoFolder() / "notes.txt", "mine");
    EXPECT_EQ(offlineError().second, "Offline mode error: Metadata not available for notes.txt");
    fs::remove(repoFolder() / "notes.txt");

    // A file whose etag is its digest is verified.
    client().snapshot(hub::Repo{"owner/model"}, "main", {"*/weights/*"});
    {
        std::fstream tamper(repoFolder() / "AudioEncoder.mlmodelc/weights/weight.bin",
                            std::ios::in | std::ios::out | std::ios::binary);
        tamper.seekp(12345);
        tamper.put('\x5a');
    }
    EXPECT_EQ(offlineError(),
              std::make_pair(Kind::fileIntegrityError,
                             std::string("File integrity check failed: Hash mismatch for "
                                         "weight.bin")));
}

TEST_F(SnapshotTest, ThePerFileStepKeepsVerifiesOrFetchesAgain) {
    const HubApi hubClient = client();
    auto step = [&](const std::string& name) {
        return hub::HubFileDownloader{hubClient,     {"owner/model"},    "main",
                                      repoFolder(),  metadataFolder(),   name,
                                      std::string(), server_.endpoint(), false};
    };
    auto getsOf = [&](const std::string& part) { return entries(server_, "GET", part).size(); };

    // A present file whose digest equals the etag is kept, metadata written.
    const auto large = server_.file("owner/model", "AudioEncoder.mlmodelc/weights/weight.bin");
    fs::create_directories(repoFolder() / "AudioEncoder.mlmodelc" / "weights");
    fs::copy_file(data_->path() / "large.bin", repoFolder() / large.name);
    step(large.name).download();
    EXPECT_EQ(getsOf("/storage/"), 0u);
    EXPECT_TRUE(fs::exists(metadataFolder() / (large.name + ".metadata")));

    // A present small file without metadata is fetched again (its etag is
    // no digest); with metadata of the same etag it is kept.
    writeFile(repoFolder() / "config.json", "stale");
    step("config.json").download();
    EXPECT_EQ(getsOf("config.json"), 1u);
    EXPECT_EQ(readFile(repoFolder() / "config.json"), R"({"model_type":"whisper"})");
    step("config.json").download();
    EXPECT_EQ(getsOf("config.json"), 1u);

    // A new remote version (new etag) replaces the file.
    server_.replaceContent("owner/model", "config.json", R"({"model_type":"other"})");
    step("config.json").download();
    EXPECT_EQ(readFile(repoFolder() / "config.json"), R"({"model_type":"other"})");

    // Remote metadata without a size is refused before anything is written.
    server_.addFault({TestHub::FaultKind::status, "HEAD", "part1.json", 200});
    try {
        step("AudioEncoder.mlmodelc/part1.json").download();
        ADD_FAILURE();
    } catch (const hub::EnvironmentError& e) {
        EXPECT_STREQ(e.what(), "Invalid metadata: File metadata must have been retrieved from "
                               "server");
    }
}

TEST_F(SnapshotTest, MisbehavingHubEndsInAnErrorOrTheRightFile) {
    const std::string name = "AudioEncoder.mlmodelc/weights/weight.bin";
    const auto large = server_.file("owner/model", name);
    struct Case {
        const char* name;
        TestHub::Fault fault;
        bool succeeds;
    };
    using F = TestHub::FaultKind;
    const std::vector<Case> cases = {
        {"listing 401", {F::status, "GET", "/api/", 401}, false},
        {"listing 503", {F::status, "GET", "/api/", 503}, false},
        {"HEAD 403", {F::status, "HEAD", "weight.bin", 403}, false},
        {"HEAD 404", {F::status, "HEAD", "weight.bin", 404}, false},
        {"HEAD redirect loop", {F::redirectLoop, "HEAD", "weight.bin", 0, 0, {}, -1}, false},
        {"storage 500", {F::status, "GET", "/storage/", 500}, false},
        {"storage 416", {F::status, "GET", "/storage/", 416}, false},
        {"drops every time", {F::dropAfter, "GET", "/storage/", 0, 1000, {}, -1}, false},
        {"range ignored", {F::ignoreRange, "GET", "/storage/", 0, 0, {}, -1}, true},
        {"one drop", {F::dropAfter, "GET", "/storage/", 0, 3 << 20}, true},
    };
    // Start every case from a partial file of the large one, so that resuming
    // and range handling are in play.
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(base_.path() / "models");
        const fs::path incomplete = metadataFolder() / (name + "." + large.etag + ".incomplete");
        fs::create_directories(incomplete.parent_path());
        {
            std::ifstream in(data_->path() / "large.bin", std::ios::binary);
            std::string head(5 << 20, '\0');
            in.read(head.data(), static_cast<std::streamsize>(head.size()));
            writeFile(incomplete, head);
        }
        server_.clearFaults();
        server_.addFault(c.fault);
        bool failed = false;
        try {
            client().snapshot(hub::Repo{"owner/model"}, "main", {"*/weights/*"});
        } catch (const std::exception&) {
            failed = true;
        }
        EXPECT_EQ(failed, !c.succeeds);
        const fs::path mirrored = repoFolder() / name;
        if (fs::exists(mirrored)) {
            EXPECT_EQ(client().computeFileHash(mirrored), large.sha256);
        } else {
            EXPECT_FALSE(c.succeeds);
            EXPECT_FALSE(fs::exists(metadataFolder() / (name + ".metadata")));
        }
        if (fs::exists(incomplete)) {
            EXPECT_LE(fs::file_size(incomplete), static_cast<uintmax_t>(large.size));
        }
    }
}

TEST_F(SnapshotTest, CancellationIsAnErrorNeverACompleteLookingFolder) {
    server_.addFault(
        {TestHub::FaultKind::stall, "GET", "/storage/", 0, 1 << 20, std::chrono::seconds(30)});
    std::stop_source stop;
    std::exception_ptr error;
    std::jthread worker([&] {
        platform::system::CancellationScope scope(stop.get_token());
        try {
            client().snapshot(hub::Repo{"owner/model"}, "main", {});
        } catch (...) {
            error = std::current_exception();
        }
    });
    // Wait until the large transfer is under way, then cancel.
    for (int i = 0; i < 500 && entries(server_, "HEAD", "weight.bin").empty(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    stop.request_stop();
    worker.join();
    ASSERT_TRUE(error);
    EXPECT_THROW(std::rethrow_exception(error), platform::system::CancellationError);
    EXPECT_FALSE(fs::exists(repoFolder() / "AudioEncoder.mlmodelc/weights/weight.bin"));
}

} // namespace
