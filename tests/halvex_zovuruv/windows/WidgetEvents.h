#pragma once
// Driving widgets the way a user would, without a real display: key presses
// go through the application's event delivery, so a key a widget ignores
// reaches its window as it would on the desktop.

#include "halvex_zovuruv/core/DictationRecord.h"

#include <QApplication>
#include <QKeyEvent>
#include <QWidget>
#include <string>

namespace zvtest {

inline void pressKey(QWidget* widget, int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier,
                     const QString& text = QString()) {
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QApplication::sendEvent(widget, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QApplication::sendEvent(widget, &release);
    QApplication::processEvents();
}

/// A record made at `unixSeconds` (UTC) with `text`.
inline halvex::DictationRecord recordAt(double unixSeconds, std::string text) {
    halvex::DictationRecord record;
    record.date.timeIntervalSinceReferenceDate =
        unixSeconds - static_cast<double>(halvex::Date::kReferenceDateUnixSeconds);
    record.text = std::move(text);
    return record;
}

} // namespace zvtest

#include <QElapsedTimer>
#include <QThread>
#include <functional>

namespace zvtest {

/// Runs the event loop until `done` holds or `milliseconds` have passed;
/// returns whether it holds.
inline bool waitUntil(const std::function<bool()>& done, int milliseconds = 5000) {
    QElapsedTimer elapsed;
    elapsed.start();
    while (!done()) {
        if (elapsed.elapsed() > milliseconds) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

} // namespace zvtest
