#pragma once
// Small helpers shared by the tokenizer tests.

#include "hub/YYJSONParser.h"
#include "tokenizers/ConfigurationError.h"

#include <gtest/gtest.h>
#include <string>
#include <string_view>
#include <vector>

namespace zv::testing {

inline hub::Config json(std::string_view text) {
    return hub::YYJSONParser::parseToConfig(text);
}

using Tokens = std::vector<std::string>;

/// Runs `build` and expects a ConfigurationError with exactly `message`.
template <typename Fn> void expectConfigurationError(Fn&& build, const std::string& message) {
    try {
        build();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const tokenizers::ConfigurationError& e) {
        EXPECT_EQ(e.what(), message);
    }
}

} // namespace zv::testing
