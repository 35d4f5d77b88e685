#include "halvex_zovuruv/windows/OnboardingWindow.h"

#include "halvex_zovuruv/windows/WindowStyle.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QMetaObject>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QVBoxLayout>

namespace halvex::windows {

namespace {

void showMark(QLabel* mark, bool granted) {
    mark->setText(granted ? OnboardingWindow::grantedMark() : OnboardingWindow::missingMark());
    setTextColor(mark, granted ? colors::green() : colors::secondaryLabel());
}

} // namespace

OnboardingWindow::OnboardingWindow(std::shared_ptr<AccessibilityTrust> trust,
                                   std::shared_ptr<MicrophoneAccess> microphone, Relaunch relaunch,
                                   QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::CustomizeWindowHint),
      trust_(std::move(trust)), microphone_(std::move(microphone)), relaunch_(std::move(relaunch)) {
    setWindowTitle(QStringLiteral("Corvane Zovuruv"));
}

bool OnboardingWindow::showIfNeeded() {
    if (trust_->isTrusted(false)) return false;
    if (!built_) build();
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    show();
    raise();
    activateWindow();
    if (timer_ == nullptr) {
        // The timer is the window's child: it stops when the window goes away.
        timer_ = new QTimer(this);
        timer_->setInterval(1000);
        connect(timer_, &QTimer::timeout, this, [this] { refreshStatus(); });
    }
    timer_->start();
    refreshStatus();
    return true;
}

void OnboardingWindow::build() {
    built_ = true;
    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(26, 24, 26, 22);
    stack->setSpacing(16);

    stack->addWidget(makeLabel(QStringLiteral("Добро пожаловать в Corvane Zovuruv"),
                               systemFont(20, QFont::Bold), QColor(), this),
                     0, Qt::AlignLeft);
    stack->addWidget(
        makeLabel(QStringLiteral("Осталось выдать два разрешения — это займёт минуту."),
                  systemFont(13), colors::secondaryLabel(), this),
        0, Qt::AlignLeft);
    stack->addSpacing(22 - 16);

    const auto step = [this, stack](const QString& number, const QString& text,
                                    const QString& buttonTitle, QLabel*& mark,
                                    QPushButton*& button) {
        auto* row = new QHBoxLayout();
        row->setSpacing(10);
        mark = makeLabel(missingMark(), systemFont(15), colors::secondaryLabel(), this);
        mark->setFixedWidth(16);
        auto* label =
            makeLabel(number + QStringLiteral(". ") + text, systemFont(13), QColor(), this);
        label->setWordWrap(true);
        label->setFixedWidth(340);
        button = new QPushButton(buttonTitle, this);
        button->setAutoDefault(false);
        row->addWidget(mark, 0, Qt::AlignVCenter);
        row->addWidget(label, 0, Qt::AlignVCenter);
        row->addWidget(button, 0, Qt::AlignVCenter);
        row->addStretch(1);
        stack->addLayout(row);
    };
    step(QStringLiteral("1"),
         QStringLiteral("Микрофон — чтобы слышать твой голос (аудио остаётся на этом компьютере)"),
         QStringLiteral("Разрешить"), micStatus_, micButton_);
    step(QStringLiteral("2"),
         QStringLiteral("Доступ к клавиатуре (X11 или /dev/uinput) — для горячей клавиши и "
                        "вставки текста"),
         QStringLiteral("Как выдать доступ"), axStatus_, accessButton_);
    connect(micButton_, &QPushButton::clicked, this, [this] { requestMic(); });
    connect(accessButton_, &QPushButton::clicked, this, [this] { openAccessibility(); });

    auto* note = makeLabel(QStringLiteral("При первом запуске загружается модель распознавания "
                                          "(~630 МБ) с нашего сервера — нужен интернет, пара "
                                          "минут. Дальше работает офлайн."),
                           systemFont(11), colors::secondaryLabel(), this);
    note->setWordWrap(true);
    note->setFixedWidth(508);
    stack->addWidget(note, 0, Qt::AlignLeft);

    restartButton_ = new QPushButton(QStringLiteral("Перезапустить и начать"), this);
    // The default button: Return presses it, but only once it is enabled.
    restartButton_->setDefault(true);
    restartButton_->setEnabled(false);
    connect(restartButton_, &QPushButton::clicked, this, [this] { restart(); });
    stack->addWidget(restartButton_, 0, Qt::AlignLeft);
    stack->addStretch(1);

    setMinimumSize(560, 360);
    resize(560, 360);
}

void OnboardingWindow::refreshStatus() {
    if (!built_) return;
    showMark(micStatus_, microphone_->isAuthorized());
    const bool trusted = trust_->isTrusted(false);
    showMark(axStatus_, trusted);
    // Only the keystroke permission matters for starting: without the
    // microphone the application runs, it just cannot record yet.
    restartButton_->setEnabled(trusted);
}

void OnboardingWindow::requestMic() {
    QPointer<OnboardingWindow> self(this);
    microphone_->requestAccess([self] {
        // The answer may come on any thread: refresh on the window's own.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [self] {
                if (self) self->refreshStatus();
            },
            Qt::QueuedConnection);
    });
}

void OnboardingWindow::openAccessibility() {
    // Asking with the prompt makes the backend show how to grant the access.
    trust_->isTrusted(true);
    refreshStatus();
}

void OnboardingWindow::restart() {
    if (timer_ != nullptr) timer_->stop();
    const QString program =
        relaunch_.program.isEmpty() ? QCoreApplication::applicationFilePath() : relaunch_.program;
    const QStringList arguments =
        relaunch_.program.isEmpty() ? QCoreApplication::arguments().mid(1) : relaunch_.arguments;
    // The shell only waits for this process to go; the program and its
    // arguments reach it as positional parameters, never as shell code, so a
    // path with blanks or quotes starts exactly that file.
    QStringList shellArguments = {QStringLiteral("-c"),
                                  QStringLiteral("sleep 1; exec \"$0\" \"$@\""), program};
    shellArguments += arguments;
    QProcess::startDetached(QStringLiteral("/bin/sh"), shellArguments);
    if (relaunch_.quit) {
        relaunch_.quit();
    } else {
        QCoreApplication::quit();
    }
}

} // namespace halvex::windows
