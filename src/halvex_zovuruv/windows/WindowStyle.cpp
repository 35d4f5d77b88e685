#include "halvex_zovuruv/windows/WindowStyle.h"

#include <QApplication>
#include <QLabel>
#include <QPalette>
#include <QWidget>

namespace halvex::windows {

QFont systemFont(int pixels, QFont::Weight weight) {
    QFont font = QApplication::font();
    font.setPixelSize(pixels);
    font.setWeight(weight);
    return font;
}

namespace colors {
QColor blue() {
    return QColor(0x00, 0x7a, 0xff);
}
QColor indigo() {
    return QColor(0x58, 0x56, 0xd6);
}
QColor orange() {
    return QColor(0xff, 0x95, 0x00);
}
QColor green() {
    return QColor(0x28, 0xa7, 0x45);
}
QColor red() {
    return QColor(0xff, 0x3b, 0x30);
}

QColor secondaryLabel() {
    // Half way between the text and the window colour reads as secondary on
    // both light and dark themes.
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    return QColor((text.red() * 55 + window.red() * 45) / 100,
                  (text.green() * 55 + window.green() * 45) / 100,
                  (text.blue() * 55 + window.blue() * 45) / 100);
}

QColor controlBackground() {
    return QApplication::palette().color(QPalette::Base);
}

QColor separator() {
    const QPalette palette = QApplication::palette();
    const QColor text = palette.color(QPalette::WindowText);
    const QColor window = palette.color(QPalette::Window);
    return QColor((text.red() * 18 + window.red() * 82) / 100,
                  (text.green() * 18 + window.green() * 82) / 100,
                  (text.blue() * 18 + window.blue() * 82) / 100);
}
} // namespace colors

void setTextColor(QWidget* widget, const QColor& color) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, color);
    palette.setColor(QPalette::Text, color);
    palette.setColor(QPalette::ButtonText, color);
    widget->setPalette(palette);
}

QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setTextFormat(Qt::PlainText);
    if (color.isValid()) setTextColor(label, color);
    return label;
}

} // namespace halvex::windows
