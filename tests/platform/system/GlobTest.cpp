#include "platform/system/Glob.h"

#include <gtest/gtest.h>
#include <string>

using platform::system::globMatches;

TEST(Glob, MatchesLikeFnmatchWithoutFlags) {
    struct Case {
        const char* pattern;
        std::string name;
        bool matches;
    };
    const Case cases[] = {
        {"*base*", "openai_whisper-base", true},
        {"*base*", "openai_whisper-tiny", false},
        {"*", "a/b/c", true},             // "*" crosses slashes
        {"*.json", ".config.json", true}, // and matches a leading period
        {"model/*", "model/sub/weights.bin", true},
        {"?", "/", true},
        {"[ab]x", "bx", true},
        {"[!ab]x", "bx", false},
        {"\\*", "*", true},
        {"\\*", "a", false},
        {"exact", "exact", true},
        {"exact", "exactly", false},
        {"", "", true},
        {"*", std::string("a\0b", 3), false}, // a zero byte never matches
    };
    for (const auto& c : cases)
        EXPECT_EQ(globMatches(c.pattern, c.name), c.matches) << c.pattern << " ~ " << c.name;
}
