#include "murmex/utilities/WhisperError.h"

#include <gtest/gtest.h>

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
