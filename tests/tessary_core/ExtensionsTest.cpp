#include "tessary_core/ArrayExtensions.h"
#include "tessary_core/FileManager.h"
#include "tessary_core/FloatExtensions.h"
#include "tessary_core/ProcessInfo.h"
#include "tessary_core/StringExtensions.h"

#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace tessary;

TEST(ArrayExtensions, Batched) {
    std::vector<int> five{1, 2, 3, 4, 5};
    EXPECT_EQ(batched(five, 2), (std::vector<std::vector<int>>{{1, 2}, {3, 4}, {5}}));
    EXPECT_EQ(batched(five, 5), (std::vector<std::vector<int>>{{1, 2, 3, 4, 5}}));
    EXPECT_EQ(batched(five, 16), (std::vector<std::vector<int>>{{1, 2, 3, 4, 5}}));
    EXPECT_TRUE(batched(std::vector<int>{}, 3).empty());
    // A size of 0 or less would never advance: it is refused.
    EXPECT_THROW(batched(five, 0), std::invalid_argument);
    EXPECT_THROW(batched(five, -2), std::invalid_argument);
}

TEST(ArrayExtensions, OrderedSetAndGlobMatching) {
    EXPECT_EQ(orderedSet(std::vector<std::string>{"b", "a", "b", "c", "a"}),
              (std::vector<std::string>{"b", "a", "c"}));
    std::vector<std::string> names{"openai_whisper-base", "openai_whisper-tiny", "distil-base.en"};
    EXPECT_EQ(matching(names, "*base*"),
              (std::vector<std::string>{"openai_whisper-base", "distil-base.en"}));
    EXPECT_EQ(matching({"a/config.json", ".json"}, "*.json"),
              (std::vector<std::string>{"a/config.json", ".json"}));
}

TEST(FloatExtensions, Rounded) {
    EXPECT_FLOAT_EQ(rounded(1.23456f, 2), 1.23f);
    EXPECT_FLOAT_EQ(rounded(0.125f, 2), 0.13f);
    EXPECT_FLOAT_EQ(rounded(-2.5f, 0), -3.0f);
    EXPECT_FLOAT_EQ(rounded(1234.5f, -2), 1200.0f);
}

TEST(StringExtensions, TrimmingFromEnd) {
    struct Case {
        const char* text;
        const char* character;
        int upto;
        const char* expected;
    };
    const Case cases[] = {
        {"a///", "/", 2, "a/"},
        {"a///", "/", 5, "a"},
        {"a/b/", "/", 3, "a/b"},
        {"a//", "/", 0, "a//"},
        {"a//", "/", -1, "a//"},
        {"", "/", 2, ""},
        {"x\xE2\x80\x93\xE2\x80\x93", "\xE2\x80\x93", 1, "x\xE2\x80\x93"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(trimmingFromEnd(c.text, c.character, c.upto), c.expected) << c.text;
}

TEST(StringExtensions, TrimsUnicodeWhiteSpace) {
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \t\n hello world \xC2\xA0\xE2\x80\xA8"),
              "hello world");
    EXPECT_EQ(trimmingWhitespaceAndNewlines(" \n "), "");
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xFF x \xFF"),
              "\xFF x \xFF"); // malformed bytes are not blanks
    // An overlong form of a space is malformed too, never a blank.
    EXPECT_EQ(trimmingWhitespaceAndNewlines("\xC0\xA0x\xC0\xA0"), "\xC0\xA0x\xC0\xA0");
}

TEST(StringExtensions, LastNaturalBoundary) {
    auto words = [](const std::string& text) { // one token per blank-separated word
        std::vector<int> tokens;
        bool inWord = false;
        for (char c : text) {
            if (c != ' ' && !inWord) tokens.push_back(0);
            inWord = c != ' ';
        }
        return tokens;
    };
    EXPECT_EQ(lastNaturalBoundary("Hello there. And more", 2, words), "Hello there.");
    EXPECT_EQ(lastNaturalBoundary("one, two three. four", 3, words), "one, two three.");
    // Sentence end and clause mark both too short: everything before the last blank.
    EXPECT_EQ(lastNaturalBoundary("a b c, d. e f", 5, words), "a b c, d. e");
    EXPECT_EQ(lastNaturalBoundary("a b, c d e f. g", 7, words), std::nullopt);
    EXPECT_EQ(lastNaturalBoundary("Hi. a b c d, e", 3, words), "Hi. a b c d,");
    EXPECT_EQ(lastNaturalBoundary("x y \xE2\x80\x93 z", 3, words), "x y \xE2\x80\x93");
    EXPECT_EQ(lastNaturalBoundary("alpha beta gamma", 2, words), "alpha beta");
    EXPECT_EQ(lastNaturalBoundary("nobreaks", 0, words), std::nullopt);
}

TEST(FileManager, ResolveAbsolutePath) {
    std::string home = FileManager::homeDirectory();
    ASSERT_FALSE(home.empty());
    EXPECT_EQ(FileManager::resolveAbsolutePath("~/models/x"), home + "/models/x");
    EXPECT_EQ(FileManager::resolveAbsolutePath("~"), home);
    EXPECT_EQ(FileManager::resolveAbsolutePath("/abs/path"), "/abs/path");
    std::string cwd = std::filesystem::current_path().string();
    EXPECT_EQ(FileManager::resolveAbsolutePath("name"), cwd + "/name");
    EXPECT_EQ(FileManager::resolveAbsolutePath("../up"), cwd + "/../up");
    EXPECT_EQ(FileManager::resolveAbsolutePath("~no-such-user-zv/x"), cwd + "/~no-such-user-zv/x");
}

TEST(ProcessInfo, MachineTexts) {
    EXPECT_FALSE(ProcessInfo::hwModel().empty());
    EXPECT_EQ(&ProcessInfo::hwModel(), &ProcessInfo::hwModel()); // read once and kept
    EXPECT_FALSE(ProcessInfo::threads().empty());
    EXPECT_EQ(ProcessInfo::stringFromSysctl("kernel.ostype"), "Linux");
    EXPECT_EQ(ProcessInfo::stringFromSysctl("hw.model"), "");
}
