#include "halvex_zovuruv/core/DictationController.h"

#include "halvex_zovuruv/core/ErrorText.h"
#include "halvex_zovuruv/core/Log.h"

#include <algorithm>
#include <fmt/format.h>

namespace halvex {

std::shared_ptr<DictationController> DictationController::create(Components components) {
    return std::shared_ptr<DictationController>(new DictationController(std::move(components)));
}

DictationController::DictationController(Components components) : c_(std::move(components)) {}

DictationState DictationController::state() const {
    switch (pipeline_) {
    case Pipeline::recording:
        return DictationState::recording;
    case Pipeline::transcribing:
        return DictationState::transcribing;
    case Pipeline::idle:
        break;
    }
    return aiRequests_ > 0 ? DictationState::processing : DictationState::idle;
}

void DictationController::update(std::function<void()> change) {
    const DictationState before = state();
    change();
    const DictationState after = state();
    if (after != before && onStateChange) onStateChange(after);
}

void DictationController::toggle() {
    Log::write("toggle called; current state = " + std::string(toString(state())));
    switch (state()) {
    case DictationState::idle:
        start();
        break;
    case DictationState::recording:
        stop();
        break;
    case DictationState::transcribing:
    case DictationState::processing:
        break; // the press is dropped
    }
}

void DictationController::preloadModel() {
    auto transcriber = c_.transcriber;
    c_.background->run([transcriber] {
        try {
            transcriber->loadModel();
        } catch (...) {
            // The first dictation loads again and reports the failure.
        }
    });
}

void DictationController::start() {
    // The window that has the focus now is where the text will go.
    auto target = c_.workspace->frontmostApplication();
    Log::write("target app for insertion: " +
               (target && target->localizedName ? *target->localizedName : std::string("nil")));
    try {
        c_.recorder->start();
    } catch (...) {
        const auto error = std::current_exception();
        Log::write("recording start FAILED: " + errorDebugText(error));
        showError("Не удалось начать запись: " + errorLocalizedText(error) +
                  "\nПроверь доступ к микрофону в Настройках → Конфиденциальность.");
        return;
    }
    current_ = Dictation{std::move(target), 0, 0};
    update([&] { pipeline_ = Pipeline::recording; });
    Log::write("recording started");
}

void DictationController::stop() {
    std::vector<float> samples = c_.recorder->stop();
    Dictation dictation = current_;
    dictation.recordingSeconds = static_cast<double>(samples.size()) / kSampleRate;
    update([&] { pipeline_ = Pipeline::transcribing; });
    Log::write("recording stopped; captured " + std::to_string(samples.size()) + " samples");

    c_.background->run(
        [self = shared_from_this(), samples = std::move(samples), dictation]() mutable {
            const auto t0 = self->c_.clock->monotonicNow();
            try {
                std::string text = self->c_.transcriber->transcribe(samples);
                const std::chrono::duration<double> elapsed = self->c_.clock->monotonicNow() - t0;
                Log::write(fmt::format("transcribed in {:.2f}s: \"{}\"", elapsed.count(), text));
                dictation.transcriptionSeconds = elapsed.count();
                self->c_.mainThread->post([self, text = std::move(text), dictation] {
                    self->presentResult(text, dictation);
                });
            } catch (...) {
                const auto error = std::current_exception();
                Log::write("transcription FAILED: " + errorDebugText(error));
                std::string message = "Ошибка распознавания: " + errorLocalizedText(error);
                self->c_.mainThread->post([self, message = std::move(message)] {
                    self->update([&] { self->pipeline_ = Pipeline::idle; });
                    self->showError(message);
                });
            }
        });
}

void DictationController::presentResult(const std::string& text, const Dictation& dictation) {
    update([&] { pipeline_ = Pipeline::idle; });
    if (text.empty()) {
        showError("Речь не распознана. Попробуй ещё раз.");
        return;
    }
    // The three most recent transcripts, newest first.
    std::vector<DictationRecord> all = c_.records->loadAll();
    const size_t shown = std::min<size_t>(3, all.size());
    std::vector<DictationRecord> previous(all.rbegin(), all.rbegin() + static_cast<long>(shown));

    // The window holds the controller weakly: an answer that comes after the
    // controller is gone is dropped, and no cycle keeps either alive.
    std::weak_ptr<DictationController> weak = weak_from_this();
    c_.resultWindow->present(
        text, previous, [weak, dictation](const ResultChoice& choice, const std::string& edited) {
            if (auto self = weak.lock()) self->carryOut(choice, edited, dictation);
        });
}

void DictationController::carryOut(const ResultChoice& choice, const std::string& text,
                                   const Dictation& dictation) {
    switch (choice.kind) {
    case ResultChoice::Kind::insert:
        insertAndRecord(text, dictation, false);
        break;
    case ResultChoice::Kind::ai:
        processAndInsert(text, dictation);
        break;
    case ResultChoice::Kind::translate:
        translateAndInsert(text, choice.language, dictation);
        break;
    case ResultChoice::Kind::cancel:
        break; // dropped, nothing recorded
    }
}

void DictationController::processAndInsert(const std::string& text, const Dictation& dictation) {
    runAI(
        text, dictation,
        [](TextProcessor& processor, const std::string& input) { return processor.process(input); },
        "ИИ-обработка не удалась: ", "\nВставляю текст без обработки.");
}

void DictationController::translateAndInsert(const std::string& text, const std::string& language,
                                             const Dictation& dictation) {
    runAI(
        text, dictation,
        [language](TextProcessor& processor, const std::string& input) {
            return processor.translate(input, language);
        },
        "Перевод не удался: ", "\nВставляю оригинал.");
}

void DictationController::runAI(
    const std::string& text, const Dictation& dictation,
    std::function<std::string(TextProcessor&, const std::string&)> request,
    std::string failurePrefix, std::string failureSuffix) {
    update([&] { ++aiRequests_; });
    c_.background->run([self = shared_from_this(), text, dictation, request = std::move(request),
                        failurePrefix = std::move(failurePrefix),
                        failureSuffix = std::move(failureSuffix)] {
        try {
            std::string answer = request(*self->c_.processor, text);
            self->c_.mainThread->post([self, answer = std::move(answer), dictation] {
                self->update([&] { --self->aiRequests_; });
                self->insertAndRecord(answer, dictation, true);
            });
        } catch (...) {
            std::string message =
                failurePrefix + errorLocalizedText(std::current_exception()) + failureSuffix;
            self->c_.mainThread->post([self, text, dictation, message = std::move(message)] {
                self->update([&] { --self->aiRequests_; });
                // The alert would take the focus from the target window: it
                // waits until the paste has been posted.
                self->insertAndRecord(text, dictation, false,
                                      [self, message] { self->showError(message); });
            });
        }
    });
}

void DictationController::insertAndRecord(const std::string& text, const Dictation& dictation,
                                          bool aiProcessed, std::function<void()> afterPaste) {
    c_.inserter->insert(text, dictation.target, std::move(afterPaste));
    c_.records->record(text, dictation.recordingSeconds, dictation.transcriptionSeconds,
                       aiProcessed);
}

void DictationController::showError(const std::string& message) {
    // Queued, so whatever the caller does next happens before the alert.
    c_.mainThread->post([alerts = c_.alerts, message] {
        alerts->show(Alert{"Corvane Zovuruv", message, Alert::Style::warning});
    });
}

} // namespace halvex
