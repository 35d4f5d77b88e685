#include "halvex_zovuruv/core/TextInserter.h"

#include "halvex_zovuruv/core/Log.h"

namespace halvex {

TextInserter::TextInserter(Backends backends)
    : queue_(std::make_shared<Queue>(Queue{std::move(backends), false, {}})) {}

void TextInserter::insert(const std::string& text, const std::optional<RunningApplication>& target,
                          std::function<void()> afterPaste) {
    Insertion insertion{text, target, std::move(afterPaste)};
    if (queue_->busy) {
        queue_->waiting.push_back(std::move(insertion));
        return;
    }
    run(queue_, std::move(insertion));
}

void TextInserter::run(const std::shared_ptr<Queue>& queue, Insertion insertion) {
    Backends& backends = queue->backends;
    backends.clipboard->setText(insertion.text);

    if (!backends.trust->isTrusted(false)) {
        Log::write("insert: accessibility NOT trusted — text left in clipboard");
        promptForAccessibility(backends);
        if (insertion.afterPaste) backends.mainThread->post(std::move(insertion.afterPaste));
        return; // nothing is pasted, so the next insertion may go on at once
    }

    if (insertion.target) {
        backends.workspace->activate(*insertion.target);
        Log::write("insert: reactivated " + insertion.target->localizedName.value_or("target"));
    }

    queue->busy = true;
    backends.mainThread->postAfter(
        kPasteDelay, [queue, afterPaste = std::move(insertion.afterPaste)] {
            queue->backends.keystrokes->postPasteKeystroke();
            Log::write("insert: pressed Cmd+V");
            if (afterPaste) afterPaste();
            // The receiving window reads the clipboard after the keystroke
            // arrives; the next insertion must not replace it before then.
            queue->backends.mainThread->postAfter(kPasteDelay, [queue] { next(queue); });
        });
}

void TextInserter::next(const std::shared_ptr<Queue>& queue) {
    queue->busy = false;
    while (!queue->busy && !queue->waiting.empty()) {
        Insertion insertion = std::move(queue->waiting.front());
        queue->waiting.pop_front();
        run(queue, std::move(insertion));
    }
}

void TextInserter::pressCommandV() {
    queue_->backends.keystrokes->postPasteKeystroke();
}

void TextInserter::promptForAccessibility() {
    promptForAccessibility(queue_->backends);
}

void TextInserter::promptForAccessibility(Backends& backends) {
    backends.trust->isTrusted(true);
    backends.alerts->show(
        Alert{"Текст скопирован в буфер обмена",
              "Нажми Ctrl+V, чтобы вставить.\n\nДля автовставки разреши Corvane Zovuruv управлять "
              "компьютером: Настройки → Конфиденциальность и безопасность → Универсальный доступ.",
              Alert::Style::warning});
}

} // namespace halvex
