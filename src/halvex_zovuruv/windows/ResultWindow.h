#pragma once
// The result window: the transcript in an editor, up to three earlier
// transcripts to load into it, and the buttons that decide what happens to
// the text. Every result gets a dialog of its own, so a second result shown
// while the first is still open leaves the first one's text and choice alone.
// Main thread only.

#include "halvex_zovuruv/core/DictationRecord.h"
#include "halvex_zovuruv/core/ResultPresenting.h"

#include <QDialog>
#include <QPointer>
#include <QString>
#include <string>
#include <vector>

class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;

namespace halvex::windows {

/// One result: the editor, the earlier transcripts and the four buttons.
/// Calls its completion once, when the user has chosen or closed it.
class ResultDialog final : public QDialog {
public:
    /// The languages the translate menu offers: (menu title, language name).
    static const std::vector<std::pair<QString, std::string>>& languages();

    ResultDialog(const std::string& text, std::vector<DictationRecord> previous,
                 ResultPresenting::Completion done, QWidget* parent = nullptr);

    /// The choice so far: cancel until the user decides.
    const ResultChoice& choice() const { return choice_; }
    /// The editor's whole text.
    std::string text() const;

    QPlainTextEdit* editor() const { return editor_; }
    /// The label over the earlier transcripts; none when there are none.
    QLabel* previousLabel() const { return previousLabel_; }
    /// One button per earlier transcript, the newest first.
    const std::vector<QPushButton*>& previousButtons() const { return previousButtons_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* translateButton() const { return translateButton_; }
    QPushButton* aiButton() const { return aiButton_; }
    QPushButton* insertButton() const { return insertButton_; }
    /// The language menu while it is open (or since it was last opened).
    QMenu* translateMenu() const;

    /// Finishes with `result`: reports the choice and the text once.
    void done(int result) override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void choose(ResultChoice choice);
    void openTranslateMenu();
    void loadPrevious(size_t index);

    ResultChoice choice_ = ResultChoice::cancel();
    std::vector<DictationRecord> previousRecords_;
    ResultPresenting::Completion completion_;
    bool finished_ = false;

    QPlainTextEdit* editor_ = nullptr;
    QLabel* previousLabel_ = nullptr;
    std::vector<QPushButton*> previousButtons_;
    QPushButton* cancelButton_ = nullptr;
    QPushButton* translateButton_ = nullptr;
    QPushButton* aiButton_ = nullptr;
    QPushButton* insertButton_ = nullptr;
    QPointer<QMenu> translateMenu_;
};

/// Shows each result in a new ResultDialog, centred and in front.
class ResultWindow final : public ResultPresenting {
public:
    ResultWindow() = default;
    ResultWindow(const ResultWindow&) = delete;
    ResultWindow& operator=(const ResultWindow&) = delete;
    /// Closes the dialogs still open, without calling their completions.
    ~ResultWindow() override;

    void present(const std::string& text, const std::vector<DictationRecord>& previous,
                 Completion done) override;

    /// The dialogs still open, the oldest first.
    std::vector<ResultDialog*> openDialogs() const;

private:
    std::vector<QPointer<ResultDialog>> dialogs_;
};

} // namespace halvex::windows
