#pragma once
// Hand-driven stand-ins for the dictation core's collaborators: a main thread
// whose jobs (and delayed jobs, on a virtual clock) run when the test says, a
// background executor likewise, and recording fakes of every backend. Fakes
// that touch the desktop append to one shared event list, so tests can check
// the order of what the user would see.

#include "halvex_zovuruv/core/AccessibilityTrust.h"
#include "halvex_zovuruv/core/AlertPresenting.h"
#include "halvex_zovuruv/core/AudioRecording.h"
#include "halvex_zovuruv/core/BackgroundExecutor.h"
#include "halvex_zovuruv/core/Clipboard.h"
#include "halvex_zovuruv/core/Clock.h"
#include "halvex_zovuruv/core/ErrorText.h"
#include "halvex_zovuruv/core/KeystrokePosting.h"
#include "halvex_zovuruv/core/MainThreadExecutor.h"
#include "halvex_zovuruv/core/ModifierEventSource.h"
#include "halvex_zovuruv/core/RecordStoring.h"
#include "halvex_zovuruv/core/ResultPresenting.h"
#include "halvex_zovuruv/core/SpeechTranscribing.h"
#include "halvex_zovuruv/core/TextProcessor.h"
#include "halvex_zovuruv/core/Workspace.h"
#include "platform/system/SystemError.h"

#include <chrono>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace zvtest {

using namespace halvex;

/// What the user would see happen, in order.
using EventList = std::shared_ptr<std::vector<std::string>>;

class FakeClock final : public Clock {
public:
    std::chrono::steady_clock::time_point monotonic{std::chrono::hours(1000)};
    std::chrono::system_clock::time_point wall{std::chrono::seconds(1'700'000'000)};

    std::chrono::steady_clock::time_point monotonicNow() override { return monotonic; }
    std::chrono::system_clock::time_point now() override { return wall; }

    void advance(std::chrono::duration<double> d) {
        monotonic += std::chrono::duration_cast<std::chrono::steady_clock::duration>(d);
        wall += std::chrono::duration_cast<std::chrono::system_clock::duration>(d);
    }
};

/// Jobs run when the test calls runPending() or advance().
class ManualMainThread final : public MainThreadExecutor {
public:
    void post(std::function<void()> job) override { ready_.push_back(std::move(job)); }
    void postAfter(std::chrono::milliseconds delay, std::function<void()> job) override {
        delayed_.emplace(now_ + delay, std::move(job));
    }

    /// Runs the ready jobs, and those they post, until none is left.
    void runPending() {
        while (!ready_.empty()) {
            auto job = std::move(ready_.front());
            ready_.pop_front();
            job();
        }
    }

    /// Moves virtual time on, running every job that falls due, in time order.
    void advance(std::chrono::milliseconds by) {
        const auto until = now_ + by;
        runPending();
        while (!delayed_.empty() && delayed_.begin()->first <= until) {
            auto node = delayed_.extract(delayed_.begin());
            now_ = node.key();
            node.mapped()();
            runPending();
        }
        now_ = until;
    }

    bool idle() const { return ready_.empty() && delayed_.empty(); }

private:
    std::chrono::milliseconds now_{0};
    std::deque<std::function<void()>> ready_;
    std::multimap<std::chrono::milliseconds, std::function<void()>> delayed_;
};

/// Jobs run when the test calls runAll(), on the test's thread.
class ManualBackground final : public BackgroundExecutor {
public:
    void run(std::function<void()> job) override { jobs_.push_back(std::move(job)); }
    void runAll() {
        while (!jobs_.empty()) {
            auto job = std::move(jobs_.front());
            jobs_.pop_front();
            job();
        }
    }
    size_t pending() const { return jobs_.size(); }

private:
    std::deque<std::function<void()>> jobs_;
};

class FakeRecorder final : public AudioRecording {
public:
    std::optional<std::string> startFailure; ///< start() throws this when set
    size_t nextSampleCount = 16000;
    int starts = 0;

    void start() override {
        if (startFailure) throw platform::system::SystemError("HalvexZovuruv", 1, *startFailure);
        ++starts;
    }
    std::vector<float> stop() override { return std::vector<float>(nextSampleCount, 0.0f); }
};

class FakeTranscriber final : public SpeechTranscribing {
public:
    explicit FakeTranscriber(std::shared_ptr<FakeClock> clock) : clock_(std::move(clock)) {}

    struct Answer {
        std::string text;
        double seconds = 0; ///< how long the transcription "takes"
        bool fails = false;
    };
    std::deque<Answer> answers;
    int loads = 0;
    bool loadFails = false;

    std::string transcribe(const std::vector<float>&) override {
        Answer answer = answers.empty() ? Answer{} : answers.front();
        if (!answers.empty()) answers.pop_front();
        clock_->advance(std::chrono::duration<double>(answer.seconds));
        if (answer.fails) throw DescribedError("failed(\"" + answer.text + "\")", answer.text);
        return answer.text;
    }
    void loadModel() override {
        ++loads;
        if (loadFails) throw std::runtime_error("no network");
    }

private:
    std::shared_ptr<FakeClock> clock_;
};

class FakeWorkspace final : public Workspace {
public:
    explicit FakeWorkspace(EventList events) : events_(std::move(events)) {}
    std::optional<RunningApplication> frontmost;

    std::optional<RunningApplication> frontmostApplication() override { return frontmost; }
    void activate(const RunningApplication& application) override {
        events_->push_back("activate " + application.localizedName.value_or("?"));
    }

private:
    EventList events_;
};

class FakeClipboard final : public Clipboard {
public:
    explicit FakeClipboard(EventList events) : events_(std::move(events)) {}
    std::string text;
    void setText(const std::string& t) override {
        text = t;
        events_->push_back("clipboard " + t);
    }

private:
    EventList events_;
};

class FakeKeystrokes final : public KeystrokePosting {
public:
    explicit FakeKeystrokes(EventList events, std::shared_ptr<FakeClipboard> clipboard)
        : events_(std::move(events)), clipboard_(std::move(clipboard)) {}
    /// The paste lands whatever the clipboard holds at that moment.
    void postPasteKeystroke() override { events_->push_back("paste " + clipboard_->text); }

private:
    EventList events_;
    std::shared_ptr<FakeClipboard> clipboard_;
};

class FakeTrust final : public AccessibilityTrust {
public:
    bool trusted = true;
    int prompts = 0;
    bool isTrusted(bool prompt) override {
        if (prompt) ++prompts;
        return trusted;
    }
};

class FakeAlerts final : public AlertPresenting {
public:
    explicit FakeAlerts(EventList events) : events_(std::move(events)) {}
    std::vector<Alert> shown;
    void show(const Alert& alert) override {
        shown.push_back(alert);
        events_->push_back("alert " + alert.informativeText);
    }

private:
    EventList events_;
};

/// Result windows stay open until the test answers them.
class FakeResultWindow final : public ResultPresenting {
public:
    struct Open {
        std::string text;
        std::vector<DictationRecord> previous;
        Completion done;
    };
    std::vector<Open> open;

    void present(const std::string& text, const std::vector<DictationRecord>& previous,
                 Completion done) override {
        open.push_back({text, previous, std::move(done)});
    }

    /// Answers the window opened `index`-th (0 = first still open).
    void answer(size_t index, const ResultChoice& choice, const std::string& text) {
        auto window = std::move(open.at(index));
        open.erase(open.begin() + static_cast<long>(index));
        window.done(choice, text);
    }
};

class FakeProcessor final : public TextProcessor {
public:
    std::optional<std::string> failure; ///< requests throw this message when set
    std::vector<std::pair<std::string, std::string>> calls; ///< (text, language or "")

    std::string process(const std::string& text) override {
        calls.emplace_back(text, "");
        if (failure) throw std::runtime_error(*failure);
        return "cleaned: " + text;
    }
    std::string translate(const std::string& text, const std::string& language) override {
        calls.emplace_back(text, language);
        if (failure) throw std::runtime_error(*failure);
        return language + ": " + text;
    }
};

class FakeRecords final : public RecordStoring {
public:
    std::vector<DictationRecord> records;
    std::vector<DictationRecord> loadAll() override { return records; }
    void record(const std::string& text, double seconds, double transcriptionSeconds,
                bool aiProcessed) override {
        DictationRecord r;
        r.text = text;
        r.seconds = seconds;
        r.transcriptionSeconds = transcriptionSeconds;
        r.aiProcessed = aiProcessed;
        records.push_back(r);
    }
};

class FakeModifierSource final : public ModifierEventSource {
public:
    std::function<void(const ModifierEvent&)> handler;
    void start(std::function<void(const ModifierEvent&)> h) override { handler = std::move(h); }
};

} // namespace zvtest
