#include "hub/HubClientError.h"
#include "hub/Repo.h"
#include "platform/system/CodingError.h"

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
}

TEST(Repo, DecodingFailuresSayWhatWasWrong) {
    using Kind = platform::system::CodingError::Kind;
    const std::pair<const char*, Kind> cases[] = {
        {R"({"id":"x/y"})", Kind::keyNotFound},
        {R"({"id":null,"type":"models"})", Kind::valueNotFound},
        {R"({"id":1,"type":"models"})", Kind::typeMismatch},
        {R"(["x/y","models"])", Kind::typeMismatch},
        {R"({"id":"x/y","type":"Models"})", Kind::dataCorrupted},
        {R"({"id":"x/y",)", Kind::dataCorrupted},
    };
    for (const auto& [json, kind] : cases) {
        try {
            hub::Repo::fromJson(json);
            ADD_FAILURE() << json;
        } catch (const platform::system::CodingError& e) {
            EXPECT_EQ(e.kind(), kind) << json << ": " << e.what();
        }
    }
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
