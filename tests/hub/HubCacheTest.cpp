#include "hub/HubApi.h"
#include "platform/system/TemporaryDirectory.h"

#include <fstream>
#include <gtest/gtest.h>

namespace {

namespace fs = std::filesystem;
using hub::HubApi;

void writeFile(const fs::path& path, std::string_view bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

class HubCacheTest : public ::testing::Test {
protected:
    platform::system::TemporaryDirectory dir_{"zv-hub-cache-"};
    HubApi client_{dir_.path(), std::string(), std::string("http://127.0.0.1:1"), false, true};
};

TEST_F(HubCacheTest, MetadataFilesParseOrAreDeleted) {
    struct Case {
        std::string text;
        std::optional<std::pair<std::string, std::string>> parsed;
    };
    const std::vector<Case> cases = {
        {"c\ne\n1700000000.25\n", std::pair<std::string, std::string>{"c", "e"}},
        {"  c  \n\te \n 12 \nextra\n", std::pair<std::string, std::string>{"c", "e"}},
        {"c\ne\n", std::nullopt},            // two lines
        {"c\ne\nyesterday\n", std::nullopt}, // not a number
        {"c\r\ne\r\n1.5\r\n", std::nullopt}, // CRLF: the third piece is the etag
        {"c\ne\n\xff\xfe\n", std::nullopt},  // not UTF-8
    };
    for (const Case& c : cases) {
        const fs::path path = dir_ / "meta" / "weights" / "model.bin.metadata";
        writeFile(path, c.text);
        const auto metadata = client_.readDownloadMetadata(path);
        if (c.parsed) {
            ASSERT_TRUE(metadata) << c.text;
            EXPECT_EQ(metadata->commitHash, c.parsed->first);
            EXPECT_EQ(metadata->etag, c.parsed->second);
            EXPECT_EQ(metadata->filename, "model.bin");
            EXPECT_TRUE(fs::exists(path));
        } else {
            EXPECT_FALSE(metadata) << c.text;
            EXPECT_FALSE(fs::exists(path)) << "a bad metadata file is removed";
        }
    }
    EXPECT_FALSE(client_.readDownloadMetadata(dir_ / "missing.metadata"));
}

TEST_F(HubCacheTest, WrittenMetadataReadsBack) {
    const fs::path path = dir_ / "new" / "folder" / "f.metadata";
    const auto before = std::chrono::system_clock::now();
    client_.writeDownloadMetadata("commit", "etag", path);
    const auto metadata = client_.readDownloadMetadata(path);
    ASSERT_TRUE(metadata);
    EXPECT_EQ(metadata->commitHash, "commit");
    EXPECT_EQ(metadata->etag, "etag");
    EXPECT_LE(std::chrono::abs(metadata->timestamp - before), std::chrono::seconds(5));

    // A folder where the metadata file should go cannot be written.
    fs::create_directories(dir_ / "blocked.metadata");
    try {
        client_.writeDownloadMetadata("c", "e", dir_ / "blocked.metadata");
        ADD_FAILURE();
    } catch (const hub::EnvironmentError& e) {
        EXPECT_EQ(e.kind(), hub::EnvironmentError::Kind::fileWriteError);
        EXPECT_TRUE(std::string(e.what()).starts_with("Failed to write file: Failed to write "
                                                      "metadata to "));
    }
}

TEST_F(HubCacheTest, FileHashes) {
    writeFile(dir_ / "empty", "");
    EXPECT_EQ(client_.computeFileHash(dir_ / "empty"),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    writeFile(dir_ / "abc", "abc");
    EXPECT_EQ(client_.computeFileHash(dir_ / "abc"),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    try {
        client_.computeFileHash(dir_ / "absent.bin");
        ADD_FAILURE();
    } catch (const hub::HubClientError& e) {
        EXPECT_EQ(e.kind(), hub::HubClientError::Kind::fileNotFound);
        EXPECT_STREQ(e.what(), "File not found: absent.bin");
    }
    // A read error is a file-system error, never a digest of what was read.
    fs::create_directories(dir_ / "folder");
    try {
        client_.computeFileHash(dir_ / "folder");
        ADD_FAILURE();
    } catch (const hub::HubClientError& e) {
        EXPECT_EQ(e.kind(), hub::HubClientError::Kind::fileSystemError);
    }
}

TEST_F(HubCacheTest, HashPatterns) {
    const std::string digest(64, 'a');
    const std::string commit(40, '0');
    EXPECT_TRUE(HubApi::isValidHash(digest, client_.sha256Pattern));
    EXPECT_FALSE(HubApi::isValidHash(std::string(64, 'A'), client_.sha256Pattern));
    EXPECT_FALSE(HubApi::isValidHash(commit, client_.sha256Pattern));
    EXPECT_TRUE(HubApi::isValidHash(commit, client_.commitHashPattern));
    EXPECT_FALSE(HubApi::isValidHash(commit + "0", client_.commitHashPattern));
    EXPECT_FALSE(HubApi::isValidHash("x", "(")); // does not compile
}

TEST_F(HubCacheTest, RepositoryFoldersAndListing) {
    EXPECT_EQ(client_.localRepoLocation({"owner/name", hub::RepoType::models}),
              dir_ / "models" / "owner" / "name");
    EXPECT_EQ(client_.localRepoLocation({"o/d", hub::RepoType::datasets}), dir_ / "datasets/o/d");
    const fs::path repo = dir_ / "models" / "o" / "m";
    writeFile(repo / "a.json", "{}");
    writeFile(repo / "AudioEncoder.mlmodelc" / "weights" / "weight.bin", "w");
    writeFile(repo / ".hidden", "h");
    writeFile(HubApi::metadataLocation(repo) / "a.json.metadata", "c\ne\n1\n");
    auto files = HubApi::getFileUrls(repo);
    std::sort(files.begin(), files.end());
    EXPECT_EQ(files, (std::vector<fs::path>{repo / "AudioEncoder.mlmodelc/weights/weight.bin",
                                            repo / "a.json"}));
    EXPECT_TRUE(HubApi::getFileUrls(dir_ / "nowhere").empty());

    writeFile(repo / "config.json", R"({"model_type":"whisper"})");
    EXPECT_EQ(client_.configuration("config.json", {"o/m"})["model_type"].string(), "whisper");
    writeFile(repo / "bad.json", "{");
    try {
        client_.configuration("bad.json", {"o/m"});
        ADD_FAILURE();
    } catch (const hub::HubClientError& e) {
        EXPECT_EQ(e.kind(), hub::HubClientError::Kind::jsonSerialization);
        EXPECT_TRUE(std::string(e.what()).starts_with("JSON parsing failed for "));
    }
}

} // namespace
