#include "halvex_zovuruv/desktop/QtMainThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

namespace halvex {

void QtMainThread::post(std::function<void()> job) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) return;
    QMetaObject::invokeMethod(app, std::move(job), Qt::QueuedConnection);
}

void QtMainThread::postAfter(std::chrono::milliseconds delay, std::function<void()> job) {
    // The timer is started on the main thread, whichever thread asks.
    post([delay, job = std::move(job)]() mutable {
        QTimer::singleShot(delay, QCoreApplication::instance(), std::move(job));
    });
}

} // namespace halvex
