#include "platform/system/Sha256.h"

#include "platform/system/SystemError.h"
#include "platform/system/TemporaryDirectory.h"

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>

using platform::system::Sha256;

TEST(Sha256, KnownDigests) {
    EXPECT_EQ(Sha256::hexString(Sha256::hash("")),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(Sha256::hexString(Sha256::hash("abc")),
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(Sha256, StreamingEqualsOneShotAndRestartsAfterFinish) {
    std::string text(100000, 'x');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char>('a' + i % 26);
    Sha256 hasher;
    for (size_t i = 0; i < text.size(); i += 777)
        hasher.update(std::string_view(text).substr(i, 777));
    EXPECT_EQ(hasher.finish(), Sha256::hash(text));
    hasher.update("abc");
    EXPECT_EQ(hasher.finish(), Sha256::hash("abc"));
}

TEST(Sha256, FilesAndUnreadableFiles) {
    platform::system::TemporaryDirectory scratch;
    auto path = scratch / "content";
    std::string content(3 << 20, '\0'); // spans several read pieces
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 31);
    std::ofstream(path, std::ios::binary) << content;
    EXPECT_EQ(Sha256::hashFile(path), Sha256::hash(content));
    std::filesystem::remove(path);
    try {
        Sha256::hashFile(path);
        FAIL() << "expected an error";
    } catch (const platform::system::SystemError& error) {
        EXPECT_EQ(error.code(), ENOENT);
    }
}
