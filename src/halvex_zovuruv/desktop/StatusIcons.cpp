#include "halvex_zovuruv/desktop/StatusIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace halvex {

namespace {

constexpr int kSizes[] = {16, 22, 24, 32, 48, 64};

/// Draws on a 64-unit square, scaled to `size` pixels.
QPixmap draw(int size, const std::function<void(QPainter&)>& paint) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    paint(p);
    return pixmap;
}

void microphone(QPainter& p, const QColor& color, bool filled) {
    QPen pen(color, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    p.setPen(pen);
    p.setBrush(filled ? QBrush(color) : Qt::NoBrush);
    p.drawRoundedRect(QRectF(22, 6, 20, 34), 10, 10);
    p.setBrush(Qt::NoBrush);
    QPainterPath cup;
    cup.moveTo(13, 30);
    cup.cubicTo(13, 56, 51, 56, 51, 30);
    p.drawPath(cup);
    p.drawLine(QPointF(32, 50), QPointF(32, 58));
    p.drawLine(QPointF(22, 58), QPointF(42, 58));
}

void waveform(QPainter& p, const QColor& color) {
    p.setPen(QPen(color, 5, Qt::SolidLine, Qt::RoundCap));
    const double heights[] = {10, 24, 40, 28, 16, 34, 12};
    for (int i = 0; i < 7; ++i) {
        const double x = 8 + i * 8;
        p.drawLine(QPointF(x, 32 - heights[i] / 2), QPointF(x, 32 + heights[i] / 2));
    }
}

void sparkle(QPainter& p, QPointF centre, double radius) {
    QPainterPath star;
    const double waist = radius * 0.22;
    star.moveTo(centre.x(), centre.y() - radius);
    star.quadTo(centre.x() + waist, centre.y() - waist, centre.x() + radius, centre.y());
    star.quadTo(centre.x() + waist, centre.y() + waist, centre.x(), centre.y() + radius);
    star.quadTo(centre.x() - waist, centre.y() + waist, centre.x() - radius, centre.y());
    star.quadTo(centre.x() - waist, centre.y() - waist, centre.x(), centre.y() - radius);
    p.drawPath(star);
}

void sparkles(QPainter& p, const QColor& color) {
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    sparkle(p, {26, 36}, 22);
    sparkle(p, {50, 14}, 10);
    sparkle(p, {52, 50}, 8);
}

} // namespace

QColor recordingRed() {
    return QColor(0xff, 0x3b, 0x30);
}

StatusIcon statusIcon(DictationState state, const QColor& templateColor) {
    std::function<void(QPainter&)> paint;
    StatusIcon result;
    switch (state) {
    case DictationState::idle:
        paint = [&](QPainter& p) { microphone(p, templateColor, false); };
        result.description = "Halvex Zovuruv";
        break;
    case DictationState::recording:
        paint = [](QPainter& p) { microphone(p, recordingRed(), true); };
        result.description = "Идёт запись";
        result.isTemplate = false;
        break;
    case DictationState::transcribing:
        paint = [&](QPainter& p) { waveform(p, templateColor); };
        result.description = "Расшифровка";
        break;
    case DictationState::processing:
        paint = [&](QPainter& p) { sparkles(p, templateColor); };
        result.description = "ИИ-обработка";
        break;
    }
    for (int size : kSizes)
        result.icon.addPixmap(draw(size, paint));
    return result;
}

} // namespace halvex
