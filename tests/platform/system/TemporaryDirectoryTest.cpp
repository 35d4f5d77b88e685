#include "platform/system/TemporaryDirectory.h"

#include <fstream>
#include <gtest/gtest.h>
#include <sys/stat.h>

using platform::system::TemporaryDirectory;

TEST(TemporaryDirectory, PrivateDistinctAndRemovedWithItsContents) {
    std::filesystem::path kept;
    {
        TemporaryDirectory a("zv-test-"), b("zv-test-");
        EXPECT_NE(a.path(), b.path());
        EXPECT_TRUE(a.path().filename().string().starts_with("zv-test-"));
        struct stat info {};
        ASSERT_EQ(::stat(a.path().c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 0777, 0700u);
        std::filesystem::create_directories(a / "x/y");
        std::ofstream(a / "x/y/file") << "data";
        kept = a.path();
    }
    EXPECT_FALSE(std::filesystem::exists(kept));
}
