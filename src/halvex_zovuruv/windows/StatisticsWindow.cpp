#include "halvex_zovuruv/windows/StatisticsWindow.h"

#include "halvex_zovuruv/core/Format.h"
#include "halvex_zovuruv/windows/WindowStyle.h"

#include <QFontMetricsF>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QScreen>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace halvex::windows {

namespace {

constexpr int kWidth = 720;
constexpr int kHeight = 620;
// Room under the bars for the day labels, and above the tallest for its caption.
constexpr double kBottomMargin = 26;
constexpr double kTopMargin = 24;
constexpr double kSideMargin = 14;

} // namespace

CardView::CardView(const QString& title, const QString& value, const QColor& accent,
                   QWidget* parent)
    : QFrame(parent) {
    setObjectName(QStringLiteral("card"));
    setFixedHeight(74);
    setStyleSheet(QStringLiteral("QFrame#card { background: %1; border: 1px solid %2;"
                                 " border-radius: 12px; }")
                      .arg(colors::controlBackground().name(), colors::separator().name()));
    title_ = makeLabel(title.toUpper(), systemFont(10, QFont::DemiBold), accent, this);
    value_ = makeLabel(value, systemFont(24, QFont::Bold), QColor(), this);
    value_->setMinimumWidth(0);
    value_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);

    auto* stack = new QVBoxLayout(this);
    stack->setContentsMargins(14, 0, 14, 0);
    stack->setSpacing(6);
    stack->addStretch(1);
    stack->addWidget(title_, 0, Qt::AlignLeft);
    stack->addWidget(value_);
    stack->addStretch(1);
}

std::vector<BarChartView::BarPlace> BarChartView::layout(const std::vector<Bar>& bars, double width,
                                                         double height) {
    std::vector<BarPlace> places;
    if (bars.empty()) return places;
    size_t highlighted = 0;
    for (size_t j = 1; j < bars.size(); ++j) {
        if (bars[j].value > bars[highlighted].value) highlighted = j;
    }
    const double largest = bars[highlighted].value;
    const double scale = largest <= 1 ? 1 : largest;
    const double plot = height - kBottomMargin - kTopMargin;
    const double slot = (width - 2 * kSideMargin) / static_cast<double>(bars.size());
    const double barWidth = std::min(slot * 0.5, 44.0);
    for (size_t j = 0; j < bars.size(); ++j) {
        const double centre = slot * (static_cast<double>(j) + 0.5) + kSideMargin;
        const double value = bars[j].value;
        const double barHeight = value > 0 ? std::max(plot * value / scale, 3.0) : 0.0;
        BarPlace place{};
        place.rect =
            QRectF(centre - barWidth / 2, height - kBottomMargin - barHeight, barWidth, barHeight);
        place.highlighted = value > 0 && j == highlighted;
        place.centreX = centre;
        place.captionBottom = height - (barHeight + kBottomMargin + 4);
        place.labelBottom = height - 6;
        places.push_back(place);
    }
    return places;
}

BarChartView::BarChartView(QWidget* parent) : QWidget(parent) {}

void BarChartView::setBars(std::vector<Bar> bars) {
    bars_ = std::move(bars);
    update();
}

void BarChartView::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF bounds = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    painter.setPen(QPen(colors::separator(), 1));
    painter.setBrush(colors::controlBackground());
    painter.drawRoundedRect(bounds, 12, 12);
    if (bars_.empty()) return;

    const QFont captionFont = systemFont(10, QFont::DemiBold);
    const QFont labelFont = systemFont(10);
    const QColor textColor = colors::secondaryLabel();
    const auto drawCentred = [&](const QString& text, const QFont& font, double centreX,
                                 double bottom) {
        const QFontMetricsF metrics(font);
        const double w = metrics.horizontalAdvance(text);
        painter.setFont(font);
        painter.setPen(textColor);
        painter.drawText(
            QRectF(centreX - w / 2, bottom - metrics.height(), w + 1, metrics.height()),
            Qt::AlignLeft | Qt::AlignBottom, text);
    };

    const std::vector<BarPlace> places = layout(bars_, width(), height());
    for (size_t j = 0; j < bars_.size(); ++j) {
        const BarPlace& place = places[j];
        if (place.rect.height() > 0) {
            painter.setPen(Qt::NoPen);
            painter.setBrush(place.highlighted ? colors::red() : colors::blue());
            painter.drawRoundedRect(place.rect, 5, 5);
            drawCentred(bars_[j].caption, captionFont, place.centreX, place.captionBottom);
        }
        drawCentred(bars_[j].label, labelFont, place.centreX, place.labelBottom);
    }
}

QString characterCaption(int64_t characters) {
    if (characters < 1000) return QString::number(characters);
    const double k = static_cast<double>(characters) / 1000.0;
    if (k >= 10) return QString::number(std::llround(k)) + QStringLiteral("к");
    return QString::number(k, 'f', 1).replace(u'.', u',') + QStringLiteral("к");
}

QString minutesCaption(double seconds) {
    return QString::number(std::llround(seconds / 60.0)) + QStringLiteral("м");
}

StatisticsWindow::StatisticsWindow(std::shared_ptr<Stats> stats, QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                          Qt::WindowMinimizeButtonHint | Qt::CustomizeWindowHint),
      stats_(std::move(stats)) {
    setWindowTitle(QStringLiteral("Статистика"));
    setFixedSize(kWidth, kHeight);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
}

void StatisticsWindow::show() {
    QWidget* fresh = buildContent();
    if (content_ != nullptr) {
        layout()->removeWidget(content_);
        content_->deleteLater();
    }
    content_ = fresh;
    layout()->addWidget(content_);
    setFixedSize(kWidth, kHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    QDialog::show();
    raise();
    activateWindow();
}

QWidget* StatisticsWindow::buildContent() {
    auto* container = new QWidget(this);
    const StatsSummary summary = stats_->summary();
    const int64_t averageCharacters = summary.count > 0 ? summary.characters / summary.count : 0;
    const double averageTranscription =
        summary.count > 0 ? summary.transcriptionSeconds / static_cast<double>(summary.count) : 0;

    auto* stack = new QVBoxLayout(container);
    stack->setContentsMargins(22, 22, 22, 22);
    stack->setSpacing(16);

    stack->addWidget(
        makeLabel(QStringLiteral("Статистика"), systemFont(22, QFont::Bold), QColor(), container),
        0, Qt::AlignLeft);

    cards_ = {
        new CardView(QStringLiteral("Символы"), qs(Format::num(summary.characters)), colors::blue(),
                     container),
        new CardView(QStringLiteral("Диктовки"), qs(Format::num(summary.count)), colors::indigo(),
                     container),
        new CardView(QStringLiteral("Время речи"), qs(Format::hm(summary.seconds)),
                     colors::orange(), container),
        new CardView(QStringLiteral("Транскрипция"),
                     QString::number(averageTranscription, 'f', 2) + QStringLiteral(" с"),
                     colors::green(), container),
    };
    auto* cardsRow = new QWidget(container);
    cardsRow->setFixedWidth(kWidth - 44);
    auto* cardsLayout = new QHBoxLayout(cardsRow);
    cardsLayout->setContentsMargins(0, 0, 0, 0);
    cardsLayout->setSpacing(12);
    for (CardView* card : cards_)
        cardsLayout->addWidget(card, 1);
    stack->addWidget(cardsRow);

    const std::vector<DailyBucket> buckets = stats_->dailyBuckets(7);
    std::vector<BarChartView::Bar> characterBars;
    std::vector<BarChartView::Bar> speechBars;
    for (const DailyBucket& bucket : buckets) {
        characterBars.push_back({qs(bucket.label), static_cast<double>(bucket.characters),
                                 characterCaption(bucket.characters)});
        speechBars.push_back(
            {qs(bucket.label), bucket.speechSeconds, minutesCaption(bucket.speechSeconds)});
    }
    charactersChart_ = new BarChartView(container);
    charactersChart_->setBars(std::move(characterBars));
    speechChart_ = new BarChartView(container);
    speechChart_->setBars(std::move(speechBars));
    stack->addWidget(chartSection(QStringLiteral("Написанный текст"), QStringLiteral("символы"),
                                  charactersChart_, container));
    stack->addWidget(chartSection(QStringLiteral("Время речи"), QStringLiteral("минуты"),
                                  speechChart_, container));

    footer_ = makeLabel(QStringLiteral("В среднем ") + qs(Format::num(averageCharacters)) +
                            QStringLiteral(" символов за диктовку · с ИИ-обработкой: ") +
                            QString::number(summary.aiCount) + QStringLiteral(" из ") +
                            QString::number(summary.count),
                        systemFont(11), colors::secondaryLabel(), container);
    stack->addWidget(footer_, 0, Qt::AlignLeft);
    stack->addStretch(1);
    return container;
}

QWidget* StatisticsWindow::chartSection(const QString& title, const QString& subtitle,
                                        BarChartView* chart, QWidget* parent) {
    auto* section = new QWidget(parent);
    auto* stack = new QVBoxLayout(section);
    stack->setContentsMargins(0, 0, 0, 0);
    stack->setSpacing(6);
    auto* row = new QHBoxLayout();
    row->setSpacing(8);
    row->addWidget(makeLabel(title, systemFont(13, QFont::DemiBold), QColor(), section));
    row->addWidget(makeLabel(subtitle, systemFont(11), colors::secondaryLabel(), section));
    row->addStretch(1);
    stack->addLayout(row);
    chart->setParent(section);
    chart->setFixedSize(676, 150);
    stack->addWidget(chart);
    return section;
}

} // namespace halvex::windows
