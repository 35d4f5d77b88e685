#include "murmex/base/WhisperError.h"

#include "tessary_core/Logging.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

using murmex::WhisperError;

TEST(WhisperErrorTest, EqualityComparesCaseAndMessage) {
    EXPECT_EQ(WhisperError::transcriptionFailed("Mel output is nil"),
              WhisperError::transcriptionFailed("Mel output is nil"));
    EXPECT_NE(WhisperError::transcriptionFailed("Mel output is nil"),
              WhisperError::transcriptionFailed("Encoder output is nil"));
    EXPECT_NE(WhisperError::decodingFailed("Decoding failed"),
              WhisperError::transcriptionFailed("Decoding failed"));
}

TEST(WhisperErrorTest, DescriptionIsTheMessage) {
    WhisperError error = WhisperError::loadAudioFailed("Resource path does not exist /nope.wav");
    EXPECT_EQ(error.errorDescription(), "Resource path does not exist /nope.wav");
    EXPECT_STREQ(error.what(), "Resource path does not exist /nope.wav");
    EXPECT_EQ(error.kind(), WhisperError::Kind::loadAudioFailed);
    EXPECT_STREQ(WhisperError::kindName(error.kind()), "loadAudioFailed");
}

TEST(WhisperErrorTest, ReadingTheDescriptionLogsItAtErrorLevelEachTime) {
    auto& logging = tessary::Logging::shared();
    auto previousLevel = logging.logLevel();
    std::vector<std::string> lines;
    logging.setLogLevel(tessary::Logging::LogLevel::error);
    logging.setLoggingCallback([&](const std::string& line) { lines.push_back(line); });

    WhisperError error = WhisperError::decodingFailed("Decoding failed");
    EXPECT_TRUE(lines.empty()); // making the error logs nothing
    (void)error.errorDescription();
    (void)error.errorDescription();
    EXPECT_EQ(error.message(), "Decoding failed"); // the plain message does not log

    logging.setLoggingCallback({});
    logging.setLogLevel(previousLevel);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_NE(lines[0].find("Decoding failed"), std::string::npos);
}
