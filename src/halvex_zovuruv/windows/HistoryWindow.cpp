#include "halvex_zovuruv/windows/HistoryWindow.h"

#include "halvex_zovuruv/windows/WindowStyle.h"

#include <QClipboard>
#include <QDateTime>
#include <QGuiApplication>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTextDocument>
#include <QVBoxLayout>

namespace halvex::windows {

namespace {

/// `text` without blanks and tabs at either end; line breaks stay.
QString trimBlanksAndTabs(const QString& text) {
    qsizetype begin = 0;
    qsizetype end = text.size();
    const auto blank = [](QChar c) { return c == u' ' || c == u'\t'; };
    while (begin < end && blank(text[begin]))
        ++begin;
    while (end > begin && blank(text[end - 1]))
        --end;
    return text.mid(begin, end - begin);
}

/// Line breaks shown as blanks, so a row holds one line.
QString onOneLine(QString text) {
    for (QChar& c : text) {
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            c = u' ';
        }
    }
    return text;
}

} // namespace

HistoryWindow::HistoryWindow(std::shared_ptr<RecordStoring> store, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinMaxButtonsHint),
      store_(std::move(store)) {
    setWindowTitle(QStringLiteral("История диктовок"));
    resize(640, 560);

    searchField_ = new QLineEdit(this);
    searchField_->setPlaceholderText(QStringLiteral("Поиск по расшифровкам"));
    searchField_->setClearButtonEnabled(true);
    connect(searchField_, &QLineEdit::textChanged, this, [this] { searchChanged(); });

    table_ = new QTableWidget(0, 1, this);
    table_->horizontalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setDefaultSectionSize(34);
    table_->setAlternatingRowColors(true);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::SingleSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    table_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    connect(table_, &QTableWidget::itemSelectionChanged, this, [this] { selectionChanged(); });
    connect(table_, &QTableWidget::cellDoubleClicked, this, [this] { copySelected(); });

    auto* label = makeLabel(QStringLiteral("Полный текст (двойной клик по строке — скопировать):"),
                            systemFont(11), colors::secondaryLabel(), this);

    detailView_ = new QPlainTextEdit(this);
    detailView_->setReadOnly(true);
    detailView_->setFont(systemFont(13));
    detailView_->document()->setDocumentMargin(8);
    detailView_->setFixedHeight(120);
    detailView_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    copyButton_ = new QPushButton(QStringLiteral("Копировать"), this);
    copyButton_->setDefault(true);
    connect(copyButton_, &QPushButton::clicked, this, [this] { copySelected(); });

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 14, 14, 14);
    layout->setSpacing(0);
    layout->addWidget(searchField_);
    layout->addSpacing(10);
    layout->addWidget(table_, 1);
    layout->addSpacing(10);
    layout->addWidget(label, 0, Qt::AlignLeft);
    layout->addSpacing(6);
    layout->addWidget(detailView_);
    layout->addSpacing(10);
    layout->addWidget(copyButton_, 0, Qt::AlignRight);

    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

QString HistoryWindow::rowText(const DictationRecord& record) {
    const auto milliseconds = static_cast<qint64>(record.date.unixSeconds() * 1000.0);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds).toLocalTime();
    const QString date =
        QLocale(QLocale::Russian, QLocale::Russia).toString(local, QStringLiteral("dd.MM  HH:mm"));
    return date + QStringLiteral("    ") + onOneLine(qs(record.text));
}

void HistoryWindow::show() {
    std::vector<DictationRecord> records = store_->loadAll();
    all_.assign(records.rbegin(), records.rend());
    filtered_ = all_;
    // A search from an earlier visit would no longer match the fresh list.
    {
        const QSignalBlocker quiet(searchField_);
        searchField_->clear();
    }
    reloadTable();
    QDialog::show();
    raise();
    activateWindow();
}

void HistoryWindow::searchChanged() {
    const QString query = trimBlanksAndTabs(searchField_->text()).toLower();
    if (query.isEmpty()) {
        filtered_ = all_;
    } else {
        filtered_.clear();
        for (const DictationRecord& record : all_) {
            if (qs(record.text).toLower().contains(query)) filtered_.push_back(record);
        }
    }
    reloadTable();
}

void HistoryWindow::reloadTable() {
    const QSignalBlocker quiet(table_);
    table_->setRowCount(static_cast<int>(filtered_.size()));
    for (size_t row = 0; row < filtered_.size(); ++row) {
        auto* item = new QTableWidgetItem(rowText(filtered_[row]));
        item->setFlags(Qt::ItemIsSelectable | Qt::ItemIsEnabled);
        table_->setItem(static_cast<int>(row), 0, item);
    }
    // A focused view re-selects its current row when rows go away; with the
    // detail view emptied, no row may stay selected (or be copied).
    table_->selectionModel()->clear();
    detailView_->clear();
}

const DictationRecord* HistoryWindow::selected() const {
    const QList<QTableWidgetItem*> items = table_->selectedItems();
    if (items.isEmpty()) return nullptr;
    const int row = items.front()->row();
    if (row < 0 || static_cast<size_t>(row) >= filtered_.size()) return nullptr;
    return &filtered_[static_cast<size_t>(row)];
}

void HistoryWindow::selectionChanged() {
    const DictationRecord* record = selected();
    detailView_->setPlainText(record != nullptr ? qs(record->text) : QString());
}

void HistoryWindow::copySelected() {
    const DictationRecord* record = selected();
    if (record == nullptr) return;
    QGuiApplication::clipboard()->setText(qs(record->text));
}

} // namespace halvex::windows
