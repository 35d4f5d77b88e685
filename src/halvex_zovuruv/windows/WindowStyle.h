#pragma once
// Fonts and colours shared by the application's windows. Sizes are given in
// pixels, so a window keeps its proportions whatever the screen's DPI.

#include <QColor>
#include <QFont>
#include <QString>
#include <string>

class QLabel;
class QWidget;

namespace halvex::windows {

/// The application's font at `pixels` pixels with the given weight.
QFont systemFont(int pixels, QFont::Weight weight = QFont::Normal);

/// The colours the windows use for marks, accents and chart bars.
namespace colors {
QColor blue();
QColor indigo();
QColor orange();
QColor green();
QColor red();
/// Text of lesser importance: captions, hints, marks of what is missing.
QColor secondaryLabel();
/// The fill behind cards and charts, and their outline.
QColor controlBackground();
QColor separator();
} // namespace colors

/// A label with `text` in `font`, painted in `color` when it is valid.
QLabel* makeLabel(const QString& text, const QFont& font, const QColor& color = QColor(),
                  QWidget* parent = nullptr);

/// Sets the text colour of `widget` through its palette.
void setTextColor(QWidget* widget, const QColor& color);

inline QString qs(const std::string& utf8) {
    return QString::fromStdString(utf8);
}
inline std::string utf8(const QString& text) {
    return text.toStdString();
}

} // namespace halvex::windows
