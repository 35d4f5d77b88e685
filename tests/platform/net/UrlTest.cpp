#include "platform/net/Url.h"

#include <gtest/gtest.h>

using platform::net::Url;

TEST(Url, ParsesAndAppendsEncodedSegments) {
    auto base = Url::parse("http://127.0.0.1:8080/api?x=1#frag");
    ASSERT_TRUE(base);
    EXPECT_EQ(base->authority(), "127.0.0.1:8080");
    EXPECT_EQ(base->path(), "/api");
    EXPECT_EQ(base->query(), "x=1");
    const Url built = Url::parse("https://hub.example/")
                          ->appendingPath("owner/name")
                          .appendingPathComponent("refs/pr/1")
                          .appendingPath("dir/file name.bin");
    EXPECT_EQ(built.string(), "https://hub.example/owner/name/refs%2Fpr%2F1/dir/file%20name.bin");
    EXPECT_EQ(built.lastPathComponent(), "file name.bin");
    for (const char* bad : {"", "not a url", "/relative/path", "http://", "://host", "1http://h"})
        EXPECT_FALSE(Url::parse(bad)) << bad;
}

TEST(Url, RelativeReferencesReplacePathAndQuery) {
    const Url original = *Url::parse("http://h:1/a/b/c?q=1");
    EXPECT_EQ(original.replacingPathAndQuery("/x/y")->string(), "http://h:1/x/y");
    EXPECT_EQ(original.replacingPathAndQuery("/x?z=2")->string(), "http://h:1/x?z=2");
    EXPECT_EQ(original.replacingPathAndQuery("d")->string(), "http://h:1/a/b/d");
    for (const char* withHost : {"http://other/x", "//other/x", "https:x"})
        EXPECT_FALSE(original.replacingPathAndQuery(withHost)) << withHost;
    EXPECT_FALSE(original.replacingPathAndQuery("/a\r\nb"));
}
