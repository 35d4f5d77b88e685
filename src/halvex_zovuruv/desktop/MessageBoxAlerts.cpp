#include "halvex_zovuruv/desktop/MessageBoxAlerts.h"

#include <QMessageBox>

namespace halvex {

void MessageBoxAlerts::show(const Alert& alert) {
    QMessageBox box(alert.style == Alert::Style::warning ? QMessageBox::Warning
                                                         : QMessageBox::Information,
                    "Halvex Zovuruv", QString::fromStdString(alert.message), QMessageBox::Ok);
    box.setInformativeText(QString::fromStdString(alert.informativeText));
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    box.raise();
    box.activateWindow();
    box.exec();
}

} // namespace halvex
