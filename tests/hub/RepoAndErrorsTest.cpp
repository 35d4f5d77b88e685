#include "hub/HubClientError.h"
#include "hub/Repo.h"

#include <gtest/gtest.h>

namespace {

TEST(RepoType, RawValuesAreExact) {
    EXPECT_EQ(hub::repoTypeFromRawValue("models"), hub::RepoType::models);
    EXPECT_EQ(hub::repoTypeFromRawValue("spaces"), hub::RepoType::spaces);
    EXPECT_EQ(hub::repoTypeFromRawValue("Models"), std::nullopt);
    EXPECT_EQ(hub::rawValue(hub::RepoType::datasets), "datasets");
}

TEST(Repo, SerialisesIdThenType) {
    const hub::Repo repo{"openai/whisper-base", hub::RepoType::models};
    EXPECT_EQ(repo.toJson(), R"({"id":"openai/whisper-base","type":"models"})");
    EXPECT_EQ(hub::Repo::fromJson(R"({"type":"datasets","id":"x/y"})"),
              (hub::Repo{"x/y", hub::RepoType::datasets}));
    EXPECT_THROW(hub::Repo::fromJson(R"({"id":"x/y"})"), std::invalid_argument);
    EXPECT_THROW(hub::Repo::fromJson(R"({"id":"x/y","type":"Models"})"), std::invalid_argument);
    EXPECT_THROW(hub::Repo::fromJson(R"({"id":1,"type":"models"})"), std::invalid_argument);
}

TEST(HubClientError, Messages) {
    EXPECT_STREQ(hub::HubClientError::httpStatusCode(404).what(),
                 "HTTP error with status code: 404");
    EXPECT_STREQ(hub::HubClientError::configurationMissing("tokenizer.json").what(),
                 "Required configuration file missing: tokenizer.json");
    EXPECT_STREQ(hub::HubClientError::jsonSerialization("/x.json", "plain message").what(),
                 "plain message");
    EXPECT_STREQ(hub::HubClientError::authorizationRequired().what(),
                 "Authentication required. Please provide a valid Quillon token.");
    EXPECT_STREQ(hub::HubClientError::parse().what(), "Failed to parse server response.");
    EXPECT_STREQ(hub::HubClientError::fileNotFound("a.bin").what(), "File not found: a.bin");
}

} // namespace
