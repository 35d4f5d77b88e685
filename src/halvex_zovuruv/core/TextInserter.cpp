#include "halvex_zovuruv/core/TextInserter.h"

#include "halvex_zovuruv/core/Log.h"

namespace halvex {

TextInserter::TextInserter(Backends backends) : backends_(std::move(backends)) {}

void TextInserter::insert(const std::string& text, const std::optional<RunningApplication>& target,
                          std::function<void()> afterPaste) {
    backends_.clipboard->setText(text);

    if (!backends_.trust->isTrusted(false)) {
        Log::write("insert: accessibility NOT trusted — text left in clipboard");
        promptForAccessibility();
        if (afterPaste) backends_.mainThread->post(std::move(afterPaste));
        return;
    }

    if (target) {
        backends_.workspace->activate(*target);
        Log::write("insert: reactivated " + target->localizedName.value_or("target"));
    }

    // The job holds the backend, not the inserter: it may run after the
    // inserter is gone.
    backends_.mainThread->postAfter(
        kPasteDelay, [keystrokes = backends_.keystrokes, afterPaste = std::move(afterPaste)] {
            keystrokes->postPasteKeystroke();
            Log::write("insert: pressed Cmd+V");
            if (afterPaste) afterPaste();
        });
}

void TextInserter::pressCommandV() {
    backends_.keystrokes->postPasteKeystroke();
}

void TextInserter::promptForAccessibility() {
    backends_.trust->isTrusted(true);
    backends_.alerts->show(
        Alert{"Текст скопирован в буфер обмена",
              "Нажми Ctrl+V, чтобы вставить.\n\nДля автовставки разреши Corvane Zovuruv управлять "
              "компьютером: Настройки → Конфиденциальность и безопасность → Универсальный доступ.",
              Alert::Style::warning});
}

} // namespace halvex
