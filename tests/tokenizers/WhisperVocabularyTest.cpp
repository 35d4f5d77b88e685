// The multilingual Whisper tokenizer folder the project writes from the public
// rank file (tests/fixtures/speech/tokenizer): special ids in the standard
// layout, and encodings that agree with byte-pair encoding by rank, as the
// speech model's training targets were written.

#include "support/SpeechModel.h"
#include "tokenizers/AutoTokenizer.h"

#include <gtest/gtest.h>

namespace {

using tokenizers::TokenId;

const tokenizers::Tokenizer& whisperTokenizer() {
    static const auto tokenizer =
        tokenizers::AutoTokenizer::fromModelFolder(zvtest::speechTokenizerFolder());
    return *tokenizer;
}

TEST(WhisperVocabularyTest, SpecialTokensHaveTheStandardIds) {
    const struct {
        const char* token;
        TokenId id;
    } cases[] = {{"<|endoftext|>", 50257},  {"<|startoftranscript|>", 50258},
                 {"<|en|>", 50259},         {"<|ru|>", 50263},
                 {"<|su|>", 50357},         {"<|translate|>", 50358},
                 {"<|transcribe|>", 50359}, {"<|startofprev|>", 50361},
                 {"<|nospeech|>", 50362},   {"<|notimestamps|>", 50363},
                 {"<|0.00|>", 50364},       {"<|0.02|>", 50365},
                 {"<|30.00|>", 51864}};
    const auto& tokenizer = whisperTokenizer();
    for (const auto& c : cases) {
        EXPECT_EQ(tokenizer.convertTokenToId(c.token), c.id) << c.token;
        EXPECT_EQ(tokenizer.convertIdToToken(c.id), c.token) << c.id;
    }
    EXPECT_EQ(tokenizer.convertIdToToken(51865), std::nullopt);
}

TEST(WhisperVocabularyTest, EncodesAsRankOrderedByteLevelBpe) {
    const struct {
        const char* text;
        std::vector<TokenId> ids;
    } cases[] = {
        {" Мы читаем книгу утром.", {12726, 38522, 7906, 32178, 28264, 1595, 13981, 1253, 13}},
        {"У меня есть двадцать пять рублей.",
         {11887, 6885, 5640, 7196, 42208, 2209, 43618, 40851, 13}},
        {"Hello world", {15947, 1002}},
        {" Where is the station?", {2305, 307, 264, 5214, 30}},
        {"Ёжик 2024 года — 100% ok!", {140, 223, 1820, 3605, 45237, 18411, 3466, 2319, 4, 3133, 0}},
    };
    const auto& tokenizer = whisperTokenizer();
    for (const auto& c : cases) {
        EXPECT_EQ(tokenizer.encode(c.text, false), c.ids) << c.text;
        EXPECT_EQ(tokenizer.decode(c.ids), c.text);
    }
}

TEST(WhisperVocabularyTest, RoundTripsRussianAndEnglishText) {
    const char* texts[] = {
        "Съешь же ещё этих мягких французских булок, да выпей чаю.",
        "Привет, мир! Как дела?",
        " Мама готовит ужин, а папа читает газету вечером.",
        "The quick brown fox jumps over the lazy dog.",
        "  two  spaces, tabs\tand\nnew lines  ",
        "Смешанный text на двух языках: 42 words.",
    };
    const auto& tokenizer = whisperTokenizer();
    for (const char* text : texts)
        EXPECT_EQ(tokenizer.decode(tokenizer.encode(text, false)), text);
}

TEST(WhisperVocabularyTest, DecodesTheEnginePromptAndTimestamps) {
    const auto& tokenizer = whisperTokenizer();
    std::vector<TokenId> ids = {50258, 50263, 50359, 50364};
    const auto text = tokenizer.encode(" Где ключ?", false);
    ids.insert(ids.end(), text.begin(), text.end());
    ids.insert(ids.end(), {50364 + 57, 50257});
    EXPECT_EQ(tokenizer.decode(ids),
              "<|startoftranscript|><|ru|><|transcribe|><|0.00|> Где ключ?<|1.14|><|endoftext|>");
    EXPECT_EQ(tokenizer.decode(ids, true), " Где ключ?");
}

} // namespace
