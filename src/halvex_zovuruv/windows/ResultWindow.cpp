#include "halvex_zovuruv/windows/ResultWindow.h"

#include "halvex_zovuruv/windows/WindowStyle.h"

#include <QAction>
#include <QDateTime>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTextDocument>
#include <QVBoxLayout>
#include <algorithm>

namespace halvex::windows {

namespace {

constexpr int kContentWidth = 616;

QString clockTime(const Date& date) {
    const auto milliseconds = static_cast<qint64>(date.unixSeconds() * 1000.0);
    const QDateTime local = QDateTime::fromMSecsSinceEpoch(milliseconds).toLocalTime();
    return QLocale(QLocale::Russian, QLocale::Russia).toString(local, QStringLiteral("HH:mm"));
}

/// The first line of `text` cut to `width` pixels in `font`, with an
/// ellipsis wherever something was left out.
QString oneLine(const QString& text, const QFont& font, int width) {
    qsizetype end = text.size();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (c == u'\n' || c == u'\r' || c == QChar::LineSeparator ||
            c == QChar::ParagraphSeparator) {
            end = i;
            break;
        }
    }
    QString line = text.left(end);
    if (end < text.size()) line += QChar(0x2026);
    return QFontMetrics(font).elidedText(line, Qt::ElideRight, width);
}

QPushButton* makeButton(const QString& title, QWidget* parent) {
    auto* button = new QPushButton(title, parent);
    button->setAutoDefault(false);
    return button;
}

} // namespace

const std::vector<std::pair<QString, std::string>>& ResultDialog::languages() {
    static const std::vector<std::pair<QString, std::string>> list = {
        {QStringLiteral("English"), "English"},
        {QStringLiteral("中文 (китайский)"), "Simplified Chinese"},
    };
    return list;
}

ResultDialog::ResultDialog(const std::string& text, std::vector<DictationRecord> previous,
                           ResultPresenting::Completion done, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      previousRecords_(std::move(previous)), completion_(std::move(done)) {
    setWindowTitle(QStringLiteral("Corvane Zovuruv"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowModality(Qt::ApplicationModal);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(22, 20, 22, 18);
    stack->setSpacing(12);
    // The width is fixed by the content; the height follows it.
    stack->setSizeConstraint(QLayout::SetFixedSize);

    stack->addWidget(makeLabel(QStringLiteral("Расшифровка готова"),
                               systemFont(16, QFont::DemiBold), QColor(), this));

    editor_ = new QPlainTextEdit(this);
    editor_->setFont(systemFont(14));
    editor_->setPlainText(qs(text));
    editor_->document()->setDocumentMargin(8);
    editor_->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    editor_->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    editor_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    editor_->setFrameShape(QFrame::Box);
    editor_->setFixedSize(kContentWidth, 120);
    editor_->installEventFilter(this);
    stack->addWidget(editor_);

    if (!previousRecords_.empty()) {
        previousLabel_ =
            makeLabel(QStringLiteral("Предыдущие расшифровки (нажми, чтобы подставить)"),
                      systemFont(11, QFont::DemiBold), colors::secondaryLabel(), this);
        stack->addWidget(previousLabel_);
        const QFont font = systemFont(12);
        const QColor accent = QGuiApplication::palette().color(QPalette::Highlight);
        for (size_t i = 0; i < previousRecords_.size(); ++i) {
            const DictationRecord& record = previousRecords_[i];
            const QString full = clockTime(record.date) + QStringLiteral("  ·  ") + qs(record.text);
            auto* button = new QPushButton(this);
            button->setFont(font);
            button->setFlat(true);
            button->setAutoDefault(false);
            button->setCursor(Qt::PointingHandCursor);
            button->setFixedWidth(kContentWidth);
            button->setStyleSheet(
                QStringLiteral("QPushButton { text-align: left; border: none; padding: 2px 0px;"
                               " color: %1; }")
                    .arg(accent.name()));
            button->setText(oneLine(full, font, kContentWidth - 4));
            button->setToolTip(QStringLiteral("Нажми, чтобы подставить в поле выше:\n\n") +
                               qs(record.text));
            connect(button, &QPushButton::clicked, this, [this, i] { loadPrevious(i); });
            previousButtons_.push_back(button);
            stack->addWidget(button);
        }
    }

    auto* row = new QWidget(this);
    row->setFixedWidth(kContentWidth);
    auto* rowLayout = new QHBoxLayout(row);
    rowLayout->setContentsMargins(0, 0, 0, 0);
    rowLayout->setSpacing(10);
    rowLayout->addStretch(1);
    cancelButton_ = makeButton(QStringLiteral("Отмена"), row);
    translateButton_ = makeButton(QStringLiteral("🌐 Перевести"), row);
    aiButton_ = makeButton(QStringLiteral("✨ Обработать ИИ"), row);
    insertButton_ = makeButton(QStringLiteral("Вставить"), row);
    insertButton_->setDefault(true);
    for (QPushButton* button : {cancelButton_, translateButton_, aiButton_, insertButton_}) {
        rowLayout->addWidget(button);
    }
    stack->addWidget(row);

    connect(cancelButton_, &QPushButton::clicked, this, [this] { choose(ResultChoice::cancel()); });
    connect(translateButton_, &QPushButton::clicked, this, [this] { openTranslateMenu(); });
    connect(aiButton_, &QPushButton::clicked, this, [this] { choose(ResultChoice::ai()); });
    connect(insertButton_, &QPushButton::clicked, this, [this] { choose(ResultChoice::insert()); });

    editor_->setFocus();
}

QMenu* ResultDialog::translateMenu() const {
    return translateMenu_.data();
}

std::string ResultDialog::text() const {
    return utf8(editor_->toPlainText());
}

void ResultDialog::choose(ResultChoice choice) {
    choice_ = std::move(choice);
    if (choice_.kind == ResultChoice::Kind::cancel) {
        reject();
    } else {
        accept();
    }
}

void ResultDialog::done(int result) {
    if (finished_) return;
    finished_ = true;
    // Read the editor before the dialog goes away, then report once.
    const std::string finalText = text();
    const ResultChoice finalChoice = choice_;
    ResultPresenting::Completion completion = std::move(completion_);
    QDialog::done(result);
    if (completion) completion(finalChoice, finalText);
}

bool ResultDialog::eventFilter(QObject* watched, QEvent* event) {
    // In the editor Return inserts, as everywhere else in the window; Shift+
    // Return (or Ctrl+Return) still starts a new line.
    if (watched == editor_ && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) &&
            !(key->modifiers() & (Qt::ShiftModifier | Qt::ControlModifier))) {
            insertButton_->click();
            return true;
        }
        if ((key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter)) {
            editor_->insertPlainText(QStringLiteral("\n"));
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void ResultDialog::openTranslateMenu() {
    if (translateMenu_) translateMenu_->deleteLater();
    translateMenu_ = new QMenu(this);
    for (const auto& [title, language] : languages()) {
        QAction* action = translateMenu_->addAction(title);
        connect(action, &QAction::triggered, this,
                [this, name = language] { choose(ResultChoice::translate(name)); });
    }
    // Dismissing the menu without a choice leaves everything as it was.
    translateMenu_->popup(translateButton_->mapToGlobal(QPoint(0, translateButton_->height() + 4)));
}

void ResultDialog::loadPrevious(size_t index) {
    if (index >= previousRecords_.size()) return;
    editor_->setPlainText(qs(previousRecords_[index].text));
    editor_->moveCursor(QTextCursor::End);
    editor_->setFocus();
}

ResultWindow::~ResultWindow() {
    for (const QPointer<ResultDialog>& dialog : dialogs_)
        delete dialog.data();
}

void ResultWindow::present(const std::string& text, const std::vector<DictationRecord>& previous,
                           Completion done) {
    // Forget the dialogs that have closed since.
    std::erase_if(dialogs_, [](const QPointer<ResultDialog>& d) { return d.isNull(); });
    std::vector<DictationRecord> shown(previous.begin(),
                                       previous.begin() + std::min<size_t>(previous.size(), 3));
    auto* dialog = new ResultDialog(text, std::move(shown), std::move(done));
    dialogs_.emplace_back(dialog);
    dialog->adjustSize();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        dialog->move(screen->availableGeometry().center() - dialog->rect().center());
    }
    dialog->show();
    dialog->raise();
    dialog->activateWindow();
}

std::vector<ResultDialog*> ResultWindow::openDialogs() const {
    std::vector<ResultDialog*> open;
    for (const QPointer<ResultDialog>& dialog : dialogs_) {
        if (dialog && dialog->isVisible()) open.push_back(dialog.data());
    }
    return open;
}

} // namespace halvex::windows
