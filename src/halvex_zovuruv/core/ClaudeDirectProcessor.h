#pragma once
// AI clean-up and translation through the vendor's messages API: one request
// per call, with the user's API key, over HTTPS. Stateless; calls may overlap.

#include "halvex_zovuruv/core/TextProcessor.h"
#include "halvex_zovuruv/core/UserDefaults.h"

#include <memory>
#include <optional>
#include <string>

namespace halvex {

class ClaudeDirectProcessor final : public TextProcessor {
public:
    /// The model asked for when "claudeModel" is not set.
    static constexpr const char* kDefaultModel = "claude-opus-4-8";
    /// The API's address without the path; HALVEX_ZOVURUV_AI_URL replaces it.
    static constexpr const char* kDefaultBaseURL = "https://api.anthropic.com";
    /// Sending is given up after this long without a byte coming back.
    static constexpr int kIdleTimeoutSeconds = 120;

    static const char* const kCleanupPrompt;

    /// Reads the key and the model from `defaults` at every request. Requests
    /// go to `baseURL` + "/v1/messages"; without one, to apiBaseURL().
    explicit ClaudeDirectProcessor(std::shared_ptr<UserDefaults> defaults,
                                   std::optional<std::string> baseURL = std::nullopt);

    /// $HALVEX_ZOVURUV_AI_URL when set, else kDefaultBaseURL.
    static std::string apiBaseURL();

    /// The system prompt of a translation into `language`.
    static std::string translationPrompt(const std::string& language);

    std::string process(const std::string& text) override;
    std::string translate(const std::string& text, const std::string& language) override;

private:
    /// Sends one system prompt and one user message; returns the answer's text.
    std::string complete(const std::string& system, const std::string& user);

    std::shared_ptr<UserDefaults> defaults_;
    std::optional<std::string> baseURL_;
};

} // namespace halvex
