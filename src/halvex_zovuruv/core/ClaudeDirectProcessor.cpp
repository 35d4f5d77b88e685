#include "halvex_zovuruv/core/ClaudeDirectProcessor.h"

#include "halvex_zovuruv/core/ProcessorError.h"
#include "halvex_zovuruv/core/Settings.h"
#include "halvex_zovuruv/core/TextCounts.h"
#include "platform/net/HttpClient.h"
#include "platform/system/SystemError.h"

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <yyjson.h>

namespace halvex {

const char* const ClaudeDirectProcessor::kCleanupPrompt =
    "Ты — редактор надиктованного текста. Исправь орфографию и пунктуацию, убери "
    "слова-паразиты («ээ», «ну», «как бы», оговорки и повторы), аккуратно разбей на "
    "предложения и абзацы. Сохрани смысл, лексику, стиль и язык оригинала — не пересказывай "
    "и не сокращай. Ответь только исправленным текстом, без пояснений, предисловий и кавычек.";

namespace {

constexpr const char* kNoKey = "Не задан API-ключ. Открой меню в менюбаре → «API-ключ Claude…»";
constexpr const char* kBadKey =
    "API-ключ содержит недопустимые символы (перевод строки или другие управляющие "
    "символы). Задай его заново: меню в менюбаре → «API-ключ Claude…»";
constexpr const char* kOffline =
    "Нет интернета — ИИ-действие недоступно. Сама диктовка работает офлайн.";
constexpr const char* kNoResponse = "Нет ответа от API";
constexpr const char* kUnexpectedFormat = "Неожиданный формат ответа API";
constexpr const char* kEmptyAnswer = "Модель вернула пустой ответ";

struct DocFree {
    void operator()(yyjson_doc* doc) const { yyjson_doc_free(doc); }
    void operator()(yyjson_mut_doc* doc) const { yyjson_mut_doc_free(doc); }
};

std::string requestBody(const std::string& model, const std::string& system,
                        const std::string& user) {
    std::unique_ptr<yyjson_mut_doc, DocFree> doc(yyjson_mut_doc_new(nullptr));
    yyjson_mut_doc* d = doc.get();
    yyjson_mut_val* root = yyjson_mut_obj(d);
    yyjson_mut_doc_set_root(d, root);
    yyjson_mut_obj_add_strn(d, root, "model", model.data(), model.size());
    yyjson_mut_obj_add_int(d, root, "max_tokens", 8192);
    yyjson_mut_obj_add_strn(d, root, "system", system.data(), system.size());
    yyjson_mut_val* outputConfig = yyjson_mut_obj_add_obj(d, root, "output_config");
    yyjson_mut_obj_add_str(d, outputConfig, "effort", "low");
    yyjson_mut_val* messages = yyjson_mut_obj_add_arr(d, root, "messages");
    yyjson_mut_val* message = yyjson_mut_arr_add_obj(d, messages);
    yyjson_mut_obj_add_str(d, message, "role", "user");
    yyjson_mut_obj_add_strn(d, message, "content", user.data(), user.size());
    size_t length = 0;
    std::unique_ptr<char, decltype(&std::free)> json(
        yyjson_mut_write(d, YYJSON_WRITE_NOFLAG, &length), &std::free);
    if (!json) throw ProcessorError(kUnexpectedFormat); // unreachable: the strings are valid UTF-8
    return std::string(json.get(), length);
}

/// The answer of a 200 response: its text blocks joined and trimmed.
std::string answerText(yyjson_val* root) {
    yyjson_val* content = yyjson_is_obj(root) ? yyjson_obj_get(root, "content") : nullptr;
    if (!yyjson_is_arr(content)) throw ProcessorError(kUnexpectedFormat);
    size_t index, count;
    yyjson_val* block;
    yyjson_arr_foreach(content, index, count, block) {
        if (!yyjson_is_obj(block)) throw ProcessorError(kUnexpectedFormat);
    }
    std::string text;
    yyjson_arr_foreach(content, index, count, block) {
        yyjson_val* type = yyjson_obj_get(block, "type");
        if (!yyjson_is_str(type) || yyjson_get_str(type) != std::string_view("text")) continue;
        yyjson_val* piece = yyjson_obj_get(block, "text");
        if (yyjson_is_str(piece)) text.append(yyjson_get_str(piece), yyjson_get_len(piece));
    }
    text = trimWhiteSpace(text);
    if (text.empty()) throw ProcessorError(kEmptyAnswer);
    return text;
}

/// The vendor's message of an error response, when it has one.
std::optional<std::string> errorMessage(yyjson_val* root) {
    yyjson_val* error = yyjson_is_obj(root) ? yyjson_obj_get(root, "error") : nullptr;
    yyjson_val* message = yyjson_is_obj(error) ? yyjson_obj_get(error, "message") : nullptr;
    if (!yyjson_is_str(message)) return std::nullopt;
    return std::string(yyjson_get_str(message), yyjson_get_len(message));
}

} // namespace

ClaudeDirectProcessor::ClaudeDirectProcessor(std::shared_ptr<UserDefaults> defaults,
                                             std::optional<std::string> baseURL)
    : defaults_(std::move(defaults)), baseURL_(std::move(baseURL)) {}

std::string ClaudeDirectProcessor::apiBaseURL() {
    if (const char* url = std::getenv("HALVEX_ZOVURUV_AI_URL"); url && *url) return url;
    return kDefaultBaseURL;
}

std::string ClaudeDirectProcessor::translationPrompt(const std::string& language) {
    return "Переведи текст на " + language +
           ". Сохрани смысл, тон и форматирование. Ответь только переводом, без пояснений, "
           "транскрипции и кавычек.";
}

std::string ClaudeDirectProcessor::process(const std::string& text) {
    return complete(kCleanupPrompt, text);
}

std::string ClaudeDirectProcessor::translate(const std::string& text, const std::string& language) {
    return complete(translationPrompt(language), text);
}

std::string ClaudeDirectProcessor::complete(const std::string& system, const std::string& user) {
    const std::string key = defaults_->string(Settings::kClaudeAPIKeyKey).value_or("");
    if (key.empty()) throw ProcessorError(kNoKey);
    // A key with a line break in it would start a header of its own.
    if (std::any_of(key.begin(), key.end(),
                    [](unsigned char c) { return c < 0x20 || c == 0x7F; })) {
        throw ProcessorError(kBadKey);
    }
    const std::string model =
        repairedUtf8(defaults_->string(Settings::kClaudeModelKey).value_or(kDefaultModel));

    platform::net::HttpRequest request;
    request.method = "POST";
    std::string base = baseURL_.value_or(apiBaseURL());
    while (!base.empty() && base.back() == '/')
        base.pop_back();
    request.url = base + "/v1/messages";
    request.headers = {{"Content-Type", "application/json"},
                       {"x-api-key", key},
                       {"anthropic-version", "2023-06-01"}};
    request.body = requestBody(model, repairedUtf8(system), repairedUtf8(user));
    request.timeout = std::chrono::seconds(kIdleTimeoutSeconds);

    platform::net::HttpResponse response;
    try {
        response = platform::net::HttpClient::send(request);
    } catch (const platform::system::SystemError& e) {
        if (platform::net::isUnreachable(e)) throw ProcessorError(kOffline);
        throw;
    }
    if (response.statusCode <= 0) throw ProcessorError(kNoResponse);

    std::unique_ptr<yyjson_doc, DocFree> doc(
        yyjson_read(response.body.data(), response.body.size(), YYJSON_READ_NOFLAG));
    yyjson_val* root = doc ? yyjson_doc_get_root(doc.get()) : nullptr;
    if (!yyjson_is_obj(root)) root = nullptr;

    if (response.statusCode != 200) {
        if (auto message = errorMessage(root)) throw ProcessorError(*message);
        throw ProcessorError("HTTP " + std::to_string(response.statusCode));
    }
    return answerText(root);
}

} // namespace halvex
