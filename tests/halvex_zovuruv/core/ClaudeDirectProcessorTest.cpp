#include "halvex_zovuruv/core/ClaudeDirectProcessor.h"

#include "LogCapture.h"
#include "halvex_zovuruv/core/ProcessorError.h"
#include "halvex_zovuruv/core/Settings.h"
#include "platform/system/TemporaryDirectory.h"
#include "support/LocalHttpServer.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#include <yyjson.h>

namespace {

using namespace halvex;

class ClaudeDirectProcessorTest : public ::testing::Test {
protected:
    platform::system::TemporaryDirectory dir{"zv-ai-"};
    std::shared_ptr<UserDefaults> defaults = std::make_shared<UserDefaults>(dir / "settings.conf");
    zvtest::LocalHttpServer server;
    ClaudeDirectProcessor processor{defaults, server.url("")};

    void SetUp() override { defaults->setString(Settings::kClaudeAPIKeyKey, "sk-test-123"); }

    /// The message of the ProcessorError that `call` throws, or "" without one.
    template <typename Call> std::string errorOf(Call&& call) {
        try {
            call();
        } catch (const ProcessorError& e) {
            return e.message();
        }
        return "";
    }
};

/// A JSON document's member as text, for checking the request body.
std::string member(yyjson_val* object, const char* key) {
    yyjson_val* v = yyjson_obj_get(object, key);
    if (yyjson_is_str(v)) return yyjson_get_str(v);
    if (yyjson_is_int(v)) return std::to_string(yyjson_get_int(v));
    return v ? "<other>" : "<missing>";
}

TEST_F(ClaudeDirectProcessorTest, SendsTheSpecifiedRequest) {
    server.setRoute("/v1/messages", 200,
                    R"({"content":[{"type":"text","text":"Готово."}],"stop_reason":"end_turn"})");
    EXPECT_EQ(processor.process("ну это самое тест"), "Готово.");
    defaults->setString(Settings::kClaudeModelKey, "");
    EXPECT_EQ(processor.translate("привет", "Simplified Chinese"), "Готово.");

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& r : requests) {
        EXPECT_EQ(r.method, "POST");
        EXPECT_EQ(r.path, "/v1/messages");
        EXPECT_EQ(r.headers.at("content-type"), "application/json");
        EXPECT_EQ(r.headers.at("x-api-key"), "sk-test-123");
        EXPECT_EQ(r.headers.at("anthropic-version"), "2023-06-01");
    }

    struct Expected {
        const char* model;
        std::string system;
        const char* user;
    };
    const Expected expected[] = {
        {"claude-opus-4-8", ClaudeDirectProcessor::kCleanupPrompt, "ну это самое тест"},
        {"", // an empty model name is sent as it is
         "Переведи текст на Simplified Chinese. Сохрани смысл, тон и форматирование. Ответь "
         "только переводом, без пояснений, транскрипции и кавычек.",
         "привет"},
    };
    for (size_t i = 0; i < 2; ++i) {
        yyjson_doc* doc = yyjson_read(requests[i].body.data(), requests[i].body.size(), 0);
        ASSERT_NE(doc, nullptr) << requests[i].body;
        yyjson_val* root = yyjson_doc_get_root(doc);
        EXPECT_EQ(yyjson_obj_size(root), 5u);
        EXPECT_EQ(member(root, "model"), expected[i].model);
        EXPECT_EQ(member(root, "max_tokens"), "8192");
        EXPECT_EQ(member(root, "system"), expected[i].system);
        EXPECT_EQ(member(yyjson_obj_get(root, "output_config"), "effort"), "low");
        yyjson_val* messages = yyjson_obj_get(root, "messages");
        ASSERT_EQ(yyjson_arr_size(messages), 1u);
        EXPECT_EQ(member(yyjson_arr_get(messages, 0), "role"), "user");
        EXPECT_EQ(member(yyjson_arr_get(messages, 0), "content"), expected[i].user);
        yyjson_doc_free(doc);
    }
    EXPECT_EQ(requests[0].body.find('\n'), std::string::npos); // compact
}

TEST_F(ClaudeDirectProcessorTest, RepliesBecomeTextOrTheRightError) {
    struct Case {
        int status;
        std::string body;
        std::string text;  ///< expected answer, or
        std::string error; ///< expected error message
    };
    const Case cases[] = {
        {200,
         R"({"content":[{"type":"thinking","thinking":"x"},{"type":"text","text":"  Первое "},)"
         R"({"type":"text","text":"второе.\n"},{"type":"text"},{"type":"tool_use","text":"no"}]})",
         "Первое второе.", ""},
        {200, R"({"content":[]})", "", "Модель вернула пустой ответ"},
        {200, R"({"content":[{"type":"text","text":" \n "}]})", "", "Модель вернула пустой ответ"},
        {200, "<html>oops</html>", "", "Неожиданный формат ответа API"},
        {200, R"({"content":"text"})", "", "Неожиданный формат ответа API"},
        {200, R"({"content":[{"type":"text","text":"a"},"b"]})", "",
         "Неожиданный формат ответа API"},
        {529, R"({"type":"error","error":{"type":"overloaded_error","message":"Overloaded"}})", "",
         "Overloaded"},
        {502, "<html><body>Bad Gateway</body></html>", "", "HTTP 502"},
        {401, R"({"error":{"message":42}})", "", "HTTP 401"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        server.setRoute("/v1/messages", c.status, c.body);
        std::string answer;
        EXPECT_EQ(errorOf([&] { answer = processor.process("текст"); }), c.error);
        EXPECT_EQ(answer, c.text);
    }
}

TEST_F(ClaudeDirectProcessorTest, NoNetworkOrNoUsableKeyGivesItsMessage) {
    // A closed port: nothing listens there.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    socklen_t len = sizeof addr;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    ::close(fd);
    ClaudeDirectProcessor offline(defaults,
                                  "http://127.0.0.1:" + std::to_string(ntohs(addr.sin_port)));
    EXPECT_EQ(errorOf([&] { offline.process("текст"); }),
              "Нет интернета — ИИ-действие недоступно. Сама диктовка работает офлайн.");

    zvtest::LogCapture log;
    const std::pair<const char*, const char*> keys[] = {
        {"", "Не задан API-ключ. Открой меню в менюбаре → «API-ключ Claude…»"},
        // A pasted key with a line break would add a header of its own.
        {"sk-secret\r\nX-Injected: 1",
         "API-ключ содержит недопустимые символы (перевод строки или другие управляющие "
         "символы). Задай его заново: меню в менюбаре → «API-ключ Claude…»"},
        {"sk-secret\t", "API-ключ содержит недопустимые символы (перевод строки или другие "
                        "управляющие символы). Задай его заново: меню в менюбаре → «API-ключ "
                        "Claude…»"},
    };
    for (const auto& [key, message] : keys) {
        defaults->setString(Settings::kClaudeAPIKeyKey, key);
        EXPECT_EQ(errorOf([&] { processor.translate("текст", "English"); }), message);
    }
    EXPECT_EQ(server.requestCount(), 0); // nothing was sent
    EXPECT_EQ(log.text().find("sk-secret"), std::string::npos);
}

} // namespace
