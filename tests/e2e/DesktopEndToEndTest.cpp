// The application as a user meets it: started without arguments on a
// private X display with a window manager, it records the microphone (a
// private sound server fed with a recording) between two presses of the
// hotkey, shows the transcript in the result window, and on Return pastes it
// into the text field that had the focus, then stores one record.

#include "halvex_zovuruv/Transcriber.h"
#include "halvex_zovuruv/core/Stats.h"
#include "murmex/core/audio/AudioProcessor.h"
#include "platform/system/TemporaryDirectory.h"
#include "platform/ui/X11Keystrokes.h"
#include "platform/ui/X11Windows.h"
#include "support/PulseAudioServer.h"
#include "support/SpeechModel.h"
#include "support/XvfbServer.h"

#include <QApplication>
#include <QClipboard>
#include <QLineEdit>
#include <X11/Xlib.h>
#include <X11/keysym.h>
// Xlib macros that clash with names inside the test framework.
#undef None
#undef Bool
#include <chrono>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <linux/input-event-codes.h>
#include <thread>

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const fs::path kLogFile = "/tmp/halvex-zovuruv.log";

/// Waits for `condition`, keeping this process's windows alive meanwhile.
bool waitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        if (condition()) return true;
        std::this_thread::sleep_for(10ms);
    }
    return condition();
}

/// The lines the application appends to its diagnostic log after `offset`,
/// timestamps cut off.
std::vector<std::string> logSince(std::uintmax_t offset) {
    std::ifstream in(kLogFile);
    in.seekg(std::streamoff(offset));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        const size_t blank = line.find(' ');
        lines.push_back(blank == std::string::npos ? line : line.substr(blank + 1));
    }
    return lines;
}

std::optional<std::string> logLine(std::uintmax_t offset, const std::string& prefix) {
    for (const auto& line : logSince(offset))
        if (line.rfind(prefix, 0) == 0) return line;
    return std::nullopt;
}

/// The title of a window.
std::string titleOf(const std::string& display, uint64_t window) {
    Display* d = XOpenDisplay(display.c_str());
    char* name = nullptr;
    std::string title;
    if (XFetchName(d, window, &name) && name) title = name;
    if (name) XFree(name);
    XCloseDisplay(d);
    return title;
}

int64_t codePoints(const std::string& text) {
    int64_t count = 0;
    for (unsigned char c : text)
        count += (c & 0xC0) != 0x80;
    return count;
}

int64_t wordCount(const std::string& text) {
    std::istringstream in(text);
    int64_t count = 0;
    for (std::string word; in >> word;)
        ++count;
    return count;
}

void setEnvironment(const char* name, const std::string& value) {
    ::setenv(name, value.c_str(), 1);
}

} // namespace

TEST(DesktopEndToEnd, HotkeyRecordsTheResultWindowShowsTheTextAndReturnPastesIt) {
    zvtest::XvfbServer x;
    if (!x.running()) GTEST_SKIP() << "no X server: " << x.failure();
    ASSERT_TRUE(x.startWindowManager()) << "openbox is not installed";
    auto windows = platform::ui::X11Windows::open(x.display());
    ASSERT_TRUE(windows);
    ASSERT_TRUE(waitFor([&] { return windows->hasWindowManager(); }, 20s));
    zvtest::PulseAudioServer pulse;
    if (!pulse.running()) GTEST_SKIP() << "PulseAudio cannot start here: " << pulse.failure();

    // The application's data and settings live in a folder of the test's,
    // with the trained speech model installed where it looks for it.
    platform::system::TemporaryDirectory home("zv-e2e-");
    const fs::path data = home / "data", config = home / "config";
    const fs::path base = data / "Corvane Zovuruv";
    fs::create_directories(base / "corvanemodel");
    fs::create_directories(config);
    fs::create_directory_symlink(zvtest::speechModelFolder(),
                                 base / "corvanemodel" /
                                     "openai_whisper-large-v3-v20240930_turbo_632MB");
    fs::create_directory_symlink(zvtest::speechTokenizerFolder(), base / "corvanetok");
    setEnvironment("XDG_DATA_HOME", data.string());
    setEnvironment("XDG_CONFIG_HOME", config.string());
    setEnvironment("DISPLAY", x.display());
    setEnvironment("QT_QPA_PLATFORM", "xcb");
    ::unsetenv("HALVEX_ZOVURUV_MODEL_URL");

    std::error_code ec;
    const std::uintmax_t logStart = fs::exists(kLogFile, ec) ? fs::file_size(kLogFile, ec) : 0;
    const fs::path program = fs::path(ZV_BINARY_DIR) / "src/halvex_zovuruv/halvex-zovuruv";
    const pid_t app = x.startHelper({program.string()});
    ASSERT_GT(app, 0);
    ASSERT_TRUE(
        waitFor([&] { return logLine(logStart, "hotkey monitor started").has_value(); }, 30s))
        << "the application did not start";
    // The helper: a text field with the focus.
    static int argc = 1;
    static char name[] = "e2e_tests";
    static char* argv[] = {name, nullptr};
    QApplication helper(argc, argv);
    QLineEdit field;
    field.setWindowTitle("Helper");
    field.resize(500, 40);
    field.show();
    ASSERT_TRUE(waitFor([&] { return field.isVisible() && field.winId() != 0; }, 10s));
    const uint64_t helperWindow = field.winId();
    ASSERT_TRUE(waitFor(
        [&] {
            windows->activate(helperWindow);
            return windows->activeWindow() == helperWindow && field.hasFocus();
        },
        10s));

    auto keys = platform::ui::X11Keystrokes::open(x.display());
    ASSERT_TRUE(keys);
    auto pressHotkey = [&] {
        keys->sendKey(KEY_RIGHTMETA, true);
        keys->sendKey(KEY_RIGHTMETA, false);
    };

    const auto recordings = zvtest::speechRecordings();
    ASSERT_GT(recordings.size(), 1u);
    const zvtest::SpeechRecording& spoken = recordings[1];
    std::vector<float> samples(4800, 0.0f);
    const auto speech = murmex::AudioProcessor::loadAudioAsFloatArray(spoken.path.string());
    samples.insert(samples.end(), speech.begin(), speech.end());
    samples.insert(samples.end(), 8000, 0.0f);

    pressHotkey();
    ASSERT_TRUE(waitFor([&] { return logLine(logStart, "recording started").has_value(); }, 10s))
        << "the hotkey did not start a recording";
    pulse.feed(samples);
    ASSERT_TRUE(waitFor([&] { return pulse.feedDone(); }, 60s));
    std::this_thread::sleep_for(300ms);
    pressHotkey();

    std::optional<std::string> transcribed;
    ASSERT_TRUE(waitFor(
        [&] {
            transcribed = logLine(logStart, "transcribed in");
            return transcribed || logLine(logStart, "transcription FAILED");
        },
        60s));
    ASSERT_TRUE(transcribed) << *logLine(logStart, "transcription FAILED");
    const size_t quote = transcribed->find('"');
    const std::string transcript = transcribed->substr(quote + 1, transcribed->size() - quote - 2);
    if (transcript.empty()) GTEST_SKIP() << "the speech model transcribes nothing of it yet";

    // The result window comes to the front with the transcript in its editor.
    ASSERT_TRUE(waitFor(
        [&] {
            auto active = windows->activeWindow();
            return active && windows->processId(*active) == app &&
                   titleOf(x.display(), *active) == "Corvane Zovuruv";
        },
        20s))
        << "no result window";
    QGuiApplication::clipboard()->clear();
    keys->pressChord({XK_Control_L}, XK_a);
    keys->pressChord({XK_Control_L}, XK_c);
    std::string shown;
    waitFor(
        [&] {
            shown = QGuiApplication::clipboard()->text().toStdString();
            return !shown.empty();
        },
        10s);
    EXPECT_EQ(shown, transcript);

    // Return inserts: the helper's field gets exactly that text.
    keys->pressChord({}, XK_Return);
    ASSERT_TRUE(waitFor([&] { return !field.text().isEmpty(); }, 20s))
        << "nothing was pasted into the helper's field";
    EXPECT_EQ(field.text().toStdString(), shown);

    std::vector<halvex::DictationRecord> records;
    waitFor(
        [&] {
            records = halvex::Stats(data / "Halvex Zovuruv" / "stats.json").loadAll();
            return !records.empty();
        },
        10s);
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].text, shown);
    EXPECT_EQ(records[0].words, wordCount(shown));
    EXPECT_EQ(records[0].characters, codePoints(shown));
    EXPECT_FALSE(records[0].aiProcessed);
    const double fedSeconds = double(samples.size()) / 16000;
    EXPECT_GT(records[0].seconds, fedSeconds * 0.8);
    EXPECT_LT(records[0].seconds, fedSeconds + 10);

    x.stopHelper(app);

    // The words themselves are checked once the model hears this recording
    // right when it is handed the file directly.
    const std::string direct = halvex::Transcriber().transcribeFile(spoken.path.string());
    if (direct == spoken.text)
        EXPECT_EQ(shown, spoken.text);
    else
        std::cout << "[ NOTE ] the speech model still mishears the recording (\"" << direct
                  << "\" for \"" << spoken.text << "\"); its words are not compared\n";
}
