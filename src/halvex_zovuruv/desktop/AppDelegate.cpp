#include "halvex_zovuruv/desktop/AppDelegate.h"

#include "halvex_zovuruv/core/ClaudeDirectProcessor.h"
#include "halvex_zovuruv/core/Log.h"
#include "halvex_zovuruv/desktop/StatusIcons.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QMetaObject>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace halvex {

AppDelegate::AppDelegate(Components components)
    : c_(std::move(components)), context_(std::make_unique<QObject>()) {}

AppDelegate::~AppDelegate() {
    // The menu goes before the tray icon and the window that show it.
    if (statusItem_) statusItem_->setContextMenu(nullptr);
    if (windowButton_) windowButton_->setMenu(nullptr);
    if (c_.dictation) c_.dictation->onStateChange = nullptr;
    if (c_.hotkeyMonitor) c_.hotkeyMonitor->onTrigger = nullptr;
}

QString AppDelegate::hotkeyTitle(HotkeyChoice choice) {
    switch (choice) {
    case HotkeyChoice::rightCommand:
        return "Правый ⌘ (Command)";
    case HotkeyChoice::rightOption:
        return "Правый ⌥ (Option)";
    case HotkeyChoice::rightControl:
        return "Правый ⌃ (Control)";
    case HotkeyChoice::fn:
        return "Клавиша Fn (🌐)";
    }
    return {};
}

QString AppDelegate::hotkeyShortName(HotkeyChoice choice) {
    switch (choice) {
    case HotkeyChoice::rightCommand:
        return "правый ⌘";
    case HotkeyChoice::rightOption:
        return "правый ⌥";
    case HotkeyChoice::rightControl:
        return "правый ⌃";
    case HotkeyChoice::fn:
        return "Fn";
    }
    return {};
}

QString AppDelegate::apiKeyConsoleHost() {
    // Keys are issued on the console beside the service's API host.
    QString host = QUrl(QString::fromUtf8(ClaudeDirectProcessor::kDefaultBaseURL)).host();
    if (host.startsWith("api.")) host = "console." + host.mid(4);
    return host;
}

void AppDelegate::applicationDidFinishLaunching() {
    Log::write(std::string("app launched; accessibility trusted = ") +
               (c_.trust->isTrusted(false) ? "true" : "false"));
    createStatusItem();
    updateIcon(DictationState::idle);
    buildMenu();

    // Queued, so the icon is repainted after the step that changed the state.
    QObject* context = context_.get();
    c_.dictation->onStateChange = [this, context](DictationState state) {
        QMetaObject::invokeMethod(
            context, [this, state] { updateIcon(state); }, Qt::QueuedConnection);
    };
    std::weak_ptr<DictationController> dictation = c_.dictation;
    c_.hotkeyMonitor->onTrigger = [dictation] {
        Log::write("hotkey triggered");
        if (auto d = dictation.lock()) d->toggle();
    };
    c_.hotkeyMonitor->start();
    Log::write("hotkey monitor started");

    if (c_.trust->isTrusted(false)) {
        if (c_.modelMissing && c_.modelMissing()) showDownloadNotice();
    } else if (c_.showOnboardingIfNeeded) {
        c_.showOnboardingIfNeeded();
    }
    c_.dictation->preloadModel();
}

void AppDelegate::createStatusItem() {
    if (!c_.forceWindow && QSystemTrayIcon::isSystemTrayAvailable()) {
        statusItem_ = std::make_unique<QSystemTrayIcon>();
        statusItem_->show();
        return;
    }
    // No tray on this desktop: a small window with the same icon and menu.
    window_ = std::make_unique<QWidget>(nullptr, Qt::Window | Qt::WindowStaysOnTopHint);
    window_->setWindowTitle("Halvex Zovuruv");
    window_->setMinimumWidth(240); // room for the whole title
    // Like a tray icon, it must not take the focus from the user's window.
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    auto* layout = new QVBoxLayout(window_.get());
    layout->setContentsMargins(6, 6, 6, 6);
    windowButton_ = new QToolButton(window_.get());
    windowButton_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    windowButton_->setPopupMode(QToolButton::InstantPopup);
    windowButton_->setIconSize(QSize(32, 32));
    windowButton_->setText("Halvex Zovuruv");
    layout->addWidget(windowButton_);
    window_->show();
}

void AppDelegate::updateIcon(DictationState state) {
    const QColor text = QApplication::palette().color(QPalette::WindowText);
    const StatusIcon icon = statusIcon(state, text);
    iconDescription_ = icon.description;
    if (statusItem_) {
        statusItem_->setIcon(icon.icon);
        statusItem_->setToolTip(icon.description);
    }
    if (windowButton_) {
        windowButton_->setIcon(icon.icon);
        windowButton_->setToolTip(icon.description);
        windowButton_->setAccessibleName(icon.description);
    }
}

void AppDelegate::buildMenu() {
    auto menu = std::make_unique<QMenu>();
    const HotkeyChoice current = c_.settings->hotkey();

    QObject::connect(menu->addAction("Диктовка (" + hotkeyShortName(current) + ")"),
                     &QAction::triggered, [this] { toggleDictation(); });

    QMenu* hotkeys = menu->addMenu("⌨️ Горячая клавиша");
    for (HotkeyChoice choice : kAllHotkeyChoices) {
        QAction* item = hotkeys->addAction(hotkeyTitle(choice));
        const QString raw = QString::fromUtf8(rawValue(choice).data(), rawValue(choice).size());
        item->setData(raw);
        item->setCheckable(true);
        item->setChecked(choice == current);
        QObject::connect(item, &QAction::triggered, [this, raw] {
            // Rebuilding deletes the menu whose item is being handled.
            QMetaObject::invokeMethod(
                context_.get(), [this, raw] { selectHotkey(raw); }, Qt::QueuedConnection);
        });
    }
    menu->addSeparator();
    QObject::connect(menu->addAction("🎙 История диктовок"), &QAction::triggered,
                     [this] {
                         if (c_.showHistory) c_.showHistory();
                     });
    QObject::connect(menu->addAction("📊 Моя статистика"), &QAction::triggered, [this] {
        if (c_.showStats) c_.showStats();
    });
    menu->addSeparator();
    QObject::connect(menu->addAction("API-ключ Claude…"), &QAction::triggered,
                     [this] { setAPIKey(); });
    menu->addSeparator();
    QAction* quit = menu->addAction("Выйти");
    quit->setShortcut(QKeySequence("Ctrl+Q"));
    QObject::connect(quit, &QAction::triggered, [] { QCoreApplication::quit(); });

    if (statusItem_) statusItem_->setContextMenu(menu.get());
    if (windowButton_) windowButton_->setMenu(menu.get());
    menu_ = std::move(menu);
}

void AppDelegate::toggleDictation() {
    c_.dictation->toggle();
}

void AppDelegate::selectHotkey(const QString& raw) {
    auto choice = hotkeyChoiceFromRawValue(raw.toStdString());
    if (!choice) return;
    c_.settings->setHotkey(*choice);
    buildMenu();
}

std::unique_ptr<QDialog> AppDelegate::makeAPIKeyDialog() const {
    auto dialog = std::make_unique<QDialog>();
    dialog->setWindowTitle("Halvex Zovuruv");
    auto* layout = new QVBoxLayout(dialog.get());
    auto* message = new QLabel("<b>API-ключ Claude</b>", dialog.get());
    auto* detail = new QLabel("Ключ хранится только на этом компьютере и используется для "
                              "ИИ-обработки текста. Получить: " +
                                  apiKeyConsoleHost(),
                              dialog.get());
    detail->setWordWrap(true);
    auto* field = new QLineEdit(dialog.get());
    field->setObjectName("apiKeyField");
    field->setEchoMode(QLineEdit::Password);
    field->setFixedSize(340, 24);
    field->setText(QString::fromStdString(
        c_.settings->defaults()->string(Settings::kClaudeAPIKeyKey).value_or("")));
    auto* buttons = new QDialogButtonBox(dialog.get());
    QPushButton* save = buttons->addButton("Сохранить", QDialogButtonBox::AcceptRole);
    buttons->addButton("Отмена", QDialogButtonBox::RejectRole);
    save->setDefault(true);
    QObject::connect(buttons, &QDialogButtonBox::accepted, dialog.get(), &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, dialog.get(), &QDialog::reject);
    layout->addWidget(message);
    layout->addWidget(detail);
    layout->addWidget(field);
    layout->addWidget(buttons);
    return dialog;
}

void AppDelegate::setAPIKey() {
    auto dialog = makeAPIKeyDialog();
    dialog->raise();
    dialog->activateWindow();
    if (dialog->exec() != QDialog::Accepted) return;
    storeAPIKey(dialog->findChild<QLineEdit*>("apiKeyField")->text());
}

void AppDelegate::storeAPIKey(const QString& text) {
    c_.settings->defaults()->setString(Settings::kClaudeAPIKeyKey, text.trimmed().toStdString());
}

void AppDelegate::showDownloadNotice() {
    QMessageBox notice(QMessageBox::Information, "Halvex Zovuruv", "Загружаю модель распознавания");
    notice.setInformativeText("Скачивается модель (~630 МБ) с нашего сервера. Нужен интернет, пара "
                              "минут. После загрузки диктовка работает офлайн.");
    notice.addButton("Понятно", QMessageBox::AcceptRole);
    notice.raise();
    notice.activateWindow();
    notice.exec();
}

} // namespace halvex
