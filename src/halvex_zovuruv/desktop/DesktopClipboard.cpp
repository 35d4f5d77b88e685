#include "halvex_zovuruv/desktop/DesktopClipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace halvex {

void DesktopClipboard::setText(const std::string& text) {
    QClipboard* clipboard = QGuiApplication::clipboard();
    clipboard->clear(QClipboard::Clipboard);
    clipboard->setText(QString::fromStdString(text), QClipboard::Clipboard);
}

std::string DesktopClipboard::text() const {
    return QGuiApplication::clipboard()->text(QClipboard::Clipboard).toStdString();
}

} // namespace halvex
