#pragma once
// The history window: every stored dictation, newest first, filtered by a
// search text, with the selected one's full text below and a button that
// copies it. The list is read from the store on every show() and never
// written. Main thread only.

#include "halvex_zovuruv/core/DictationRecord.h"
#include "halvex_zovuruv/core/RecordStoring.h"

#include <QDialog>
#include <QString>
#include <memory>
#include <vector>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class QTableWidget;

namespace halvex::windows {

class HistoryWindow final : public QDialog {
public:
    explicit HistoryWindow(std::shared_ptr<RecordStoring> store, QWidget* parent = nullptr);

    /// Reads the store anew, clears the search and brings the window to the front.
    void show();

    /// A row's text: the date as "dd.MM  HH:mm" (local time), four blanks
    /// and the record's text on one line.
    static QString rowText(const DictationRecord& record);

    /// The records the table shows, in the order shown.
    const std::vector<DictationRecord>& filtered() const { return filtered_; }

    QLineEdit* searchField() const { return searchField_; }
    QTableWidget* table() const { return table_; }
    QPlainTextEdit* detailView() const { return detailView_; }
    QPushButton* copyButton() const { return copyButton_; }

private:
    void searchChanged();
    void reloadTable();
    void selectionChanged();
    void copySelected();
    /// The selected row's record, if a row inside `filtered_` is selected.
    const DictationRecord* selected() const;

    std::shared_ptr<RecordStoring> store_;
    std::vector<DictationRecord> all_;
    std::vector<DictationRecord> filtered_;

    QLineEdit* searchField_ = nullptr;
    QTableWidget* table_ = nullptr;
    QPlainTextEdit* detailView_ = nullptr;
    QPushButton* copyButton_ = nullptr;
};

} // namespace halvex::windows
