#pragma once
// Carries a dictation from the first press of the hotkey to the inserted
// text: records the microphone, has the recording transcribed, shows the text
// in the result window, optionally sends it through the AI model, inserts the
// final text into the window that had the focus when the recording began and
// appends a record to the store.
//
// Everything here runs on the main thread; transcriptions and AI requests run
// on the background executor and hand their results back to the main thread.
// Each dictation keeps its own target window and timings, because its result
// window may still be open while the next dictation records.

#include "halvex_zovuruv/core/AlertPresenting.h"
#include "halvex_zovuruv/core/AudioRecording.h"
#include "halvex_zovuruv/core/BackgroundExecutor.h"
#include "halvex_zovuruv/core/Clock.h"
#include "halvex_zovuruv/core/DictationState.h"
#include "halvex_zovuruv/core/MainThreadExecutor.h"
#include "halvex_zovuruv/core/RecordStoring.h"
#include "halvex_zovuruv/core/ResultPresenting.h"
#include "halvex_zovuruv/core/RunningApplication.h"
#include "halvex_zovuruv/core/SpeechTranscribing.h"
#include "halvex_zovuruv/core/TextInserter.h"
#include "halvex_zovuruv/core/TextProcessor.h"
#include "halvex_zovuruv/core/Workspace.h"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace halvex {

class DictationController : public std::enable_shared_from_this<DictationController> {
public:
    struct Components {
        std::shared_ptr<AudioRecording> recorder;
        std::shared_ptr<SpeechTranscribing> transcriber;
        std::shared_ptr<TextInserter> inserter;
        std::shared_ptr<ResultPresenting> resultWindow;
        std::shared_ptr<TextProcessor> processor;
        std::shared_ptr<RecordStoring> records;
        std::shared_ptr<AlertPresenting> alerts;
        std::shared_ptr<Workspace> workspace;
        std::shared_ptr<MainThreadExecutor> mainThread;
        std::shared_ptr<BackgroundExecutor> background;
        std::shared_ptr<Clock> clock;
    };

    /// Samples per second of a recording.
    static constexpr double kSampleRate = 16000;

    /// Background jobs keep the controller alive, so it is always shared.
    static std::shared_ptr<DictationController> create(Components components);

    /// Called on the main thread with the new state after every change.
    std::function<void(DictationState)> onStateChange;

    /// recording or transcribing while a recording is under way, else
    /// processing while an AI request runs, else idle.
    DictationState state() const;

    /// The user's one action: starts a recording when idle, stops it when
    /// recording, and is ignored while a transcription or an AI request runs.
    void toggle();

    /// Starts loading the speech engine in the background; a failure is
    /// dropped (the first dictation tries again and reports it).
    void preloadModel();

private:
    /// What belongs to one dictation, from its start to its record.
    struct Dictation {
        std::optional<RunningApplication> target; ///< focused when the recording started
        double recordingSeconds = 0;
        double transcriptionSeconds = 0;
    };

    /// The steps of the recording pipeline: idle, recording or transcribing.
    enum class Pipeline { idle, recording, transcribing };

    explicit DictationController(Components components);

    void start();
    void stop();
    void presentResult(const std::string& text, const Dictation& dictation);
    void carryOut(const ResultChoice& choice, const std::string& text, const Dictation& dictation);
    void processAndInsert(const std::string& text, const Dictation& dictation);
    void translateAndInsert(const std::string& text, const std::string& language,
                            const Dictation& dictation);
    /// Runs an AI request in the background, then inserts and records its
    /// answer, or on failure the original text and, after the paste, the alert
    /// "<failurePrefix><error><failureSuffix>".
    void runAI(const std::string& text, const Dictation& dictation,
               std::function<std::string(TextProcessor&, const std::string&)> request,
               std::string failurePrefix, std::string failureSuffix);
    void insertAndRecord(const std::string& text, const Dictation& dictation, bool aiProcessed,
                         std::function<void()> afterPaste = {});
    void showError(const std::string& message);

    /// Moves the pipeline or the AI count and tells onStateChange when the
    /// published state changed.
    void update(std::function<void()> change);

    Components c_;
    Pipeline pipeline_ = Pipeline::idle;
    int aiRequests_ = 0;
    Dictation current_; ///< the dictation being recorded
};

} // namespace halvex
