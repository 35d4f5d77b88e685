#include "platform/text/DominantLanguage.h"

#include <gtest/gtest.h>

using platform::text::dominantLanguage;

TEST(DominantLanguageTest, TellsApartTheLanguagesWrittenWithoutBlanks) {
    struct Case {
        const char* text;
        std::optional<std::string> expected;
    };
    const Case cases[] = {
        {"今日は良い天気ですね", "ja"}, // kanji with kana
        {"カタカナ", "ja"},
        {"今天天气很好", "zh"},
        {"สวัสดีครับ", "th"},
        {"ສະບາຍດີ", "lo"},
        {"မင်္ဂလာပါ", "my"},
        {"Hello, world", std::nullopt},
        {"Привет, мир", std::nullopt},
        {"Hello 你", std::nullopt}, // mostly Latin
        {"", std::nullopt},
        {"123 !?", std::nullopt},
        {"\xff\xfe\x80", std::nullopt}, // invalid UTF-8
    };
    for (const Case& c : cases)
        EXPECT_EQ(dominantLanguage(c.text), c.expected) << c.text;
}
