// Real speech through the command-line road: the built program transcribes
// every held-back recording of the project's trained speech model, installed
// where the program looks for its model, and the words it prints must be the
// words spoken.

#include "ProgramRun.h"
#include "murmex/base/Extensions.h"
#include "support/SpeechModel.h"

#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>
#include <sstream>

namespace fs = std::filesystem;

namespace {

/// Lower-cased words without punctuation.
std::vector<std::string> wordsOf(const std::string& text) {
    std::stringstream in(murmex::normalized(text));
    std::vector<std::string> words;
    for (std::string word; in >> word;)
        words.push_back(word);
    return words;
}

/// Word-level edit distance: substitutions, insertions and deletions.
size_t wordErrors(const std::vector<std::string>& reference,
                  const std::vector<std::string>& hypothesis) {
    std::vector<size_t> row(hypothesis.size() + 1);
    for (size_t j = 0; j < row.size(); ++j)
        row[j] = j;
    for (size_t i = 1; i <= reference.size(); ++i) {
        size_t diagonal = row[0];
        row[0] = i;
        for (size_t j = 1; j <= hypothesis.size(); ++j) {
            const size_t above = row[j];
            row[j] = std::min({row[j] + 1, row[j - 1] + 1,
                               diagonal + (reference[i - 1] == hypothesis[j - 1] ? 0 : 1)});
            diagonal = above;
        }
    }
    return row[hypothesis.size()];
}

TEST(SpeechWordErrors, CountsSubstitutionsInsertionsAndDeletionsAfterNormalising) {
    struct Case {
        const char* reference;
        const char* hypothesis;
        size_t errors;
    };
    const std::vector<Case> cases = {
        {"Мама читает книгу.", "мама читает книгу", 0},
        {"Мама читает книгу.", "Папа читает книгу.", 1},
        {"Мама читает книгу.", "Мама книгу.", 1},
        {"Мама читает книгу.", "Мама, мама читает книгу!", 1},
        {"Мама читает книгу.", "", 3},
        {"", "лишнее слово", 2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(wordErrors(wordsOf(c.reference), wordsOf(c.hypothesis)), c.errors)
            << c.reference << " / " << c.hypothesis;
}

class SpeechCommandLine : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "zv-speech-cli-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(pattern.data()));
        work = pattern;
        ::setenv("XDG_DATA_HOME", (work / "data").c_str(), 1);
        // No model server: the installed model must be the one used.
        ::setenv("HALVEX_ZOVURUV_MODEL_URL", "http://127.0.0.1:9/none.tar.gz", 1);
        const fs::path base = work / "data" / "Corvane Zovuruv";
        const fs::path model =
            base / "corvanemodel" / "openai_whisper-large-v3-v20240930_turbo_632MB";
        fs::create_directories(model.parent_path());
        fs::copy(zvtest::speechModelFolder(), model, fs::copy_options::recursive);
        fs::copy(zvtest::speechTokenizerFolder(), base / "corvanetok", fs::copy_options::recursive);
    }
    void TearDown() override {
        ::unsetenv("HALVEX_ZOVURUV_MODEL_URL");
        ::unsetenv("XDG_DATA_HOME");
        std::error_code ignored;
        fs::remove_all(work, ignored);
    }

    fs::path work;
};

TEST_F(SpeechCommandLine, TranscribesTheHeldBackRecordingsWithFewWordErrors) {
    const auto recordings = zvtest::speechRecordings();
    ASSERT_GE(recordings.size(), 30u);
    const auto transcribe = [&](const fs::path& recording) {
        const zvtest::ProgramRun run = zvtest::runProgram({"--transcribe", recording}, work);
        EXPECT_EQ(run.status, 0) << recording << "\n" << run.err;
        const std::string prefix = "TRANSCRIPT: ";
        EXPECT_EQ(run.out.rfind(prefix, 0), 0u) << run.out;
        return run.out.rfind(prefix, 0) == 0 ? run.out.substr(prefix.size()) : std::string();
    };
    // An early checkpoint hears nothing at all: then there is nothing to score.
    if (wordsOf(transcribe(recordings.front().path)).empty())
        GTEST_SKIP() << "the speech model transcribes nothing of these recordings yet";
    size_t errors = 0, words = 0, exact = 0;
    for (const auto& recording : recordings) {
        const std::string heard = transcribe(recording.path);
        const auto reference = wordsOf(recording.text);
        const size_t wrong = wordErrors(reference, wordsOf(heard));
        errors += wrong;
        words += reference.size();
        exact += wrong == 0;
        if (wrong)
            std::cout << recording.path.filename().string() << ": " << wrong << " of "
                      << reference.size() << " words wrong\n  said:  " << recording.text
                      << "\n  heard: " << heard;
    }
    const double rate = double(errors) / double(words);
    std::cout << "word error rate " << 100.0 * rate << " % (" << errors << " of " << words
              << " words), " << exact << " of " << recordings.size()
              << " recordings exactly right\n";
    // The trained model's measured rate, with a little room for the
    // arithmetic of other machines.
    EXPECT_LE(rate, 0.10);
}

} // namespace
