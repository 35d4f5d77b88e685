#pragma once
// The statistics window: four figure cards over every stored dictation, two
// bar charts of the last seven days (the busiest day in red) and a line of
// averages. The content is built anew from the store on every show(); it
// does not follow new dictations while the window is open. Main thread only.

#include "halvex_zovuruv/core/Stats.h"

#include <QColor>
#include <QDialog>
#include <QFrame>
#include <QRectF>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <vector>

class QLabel;

namespace halvex::windows {

/// One figure: a caption in the accent colour over a large value.
class CardView final : public QFrame {
public:
    CardView(const QString& title, const QString& value, const QColor& accent,
             QWidget* parent = nullptr);

    QLabel* titleLabel() const { return title_; }
    QLabel* valueLabel() const { return value_; }

private:
    QLabel* title_;
    QLabel* value_;
};

/// A bar chart of a few labelled values, each bar with a caption above it.
class BarChartView final : public QWidget {
public:
    struct Bar {
        QString label;    ///< drawn under the bar
        double value = 0; ///< the bar's height in its own unit
        QString caption;  ///< drawn above the bar
    };

    /// Where one bar goes, in widget coordinates (y grows downwards).
    struct BarPlace {
        QRectF rect;          ///< empty height for a value of 0 or less
        bool highlighted;     ///< the first bar with the largest value
        double centreX;       ///< the centre of the bar's slot
        double captionBottom; ///< the bottom of the caption's text box, above the bar
        double labelBottom;   ///< the bottom of the label's text box, under the bar
    };

    /// Lays out `bars` in a chart of `width` by `height`: the tallest value
    /// fills the plot (values are scaled against 1 when none is above 1), a
    /// value above 0 is at least 3 pixels high, and only the first largest
    /// bar is highlighted.
    static std::vector<BarPlace> layout(const std::vector<Bar>& bars, double width, double height);

    explicit BarChartView(QWidget* parent = nullptr);

    const std::vector<Bar>& bars() const { return bars_; }
    void setBars(std::vector<Bar> bars);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::vector<Bar> bars_;
};

/// The caption of a day's characters: "999", "1,5к", "12к".
QString characterCaption(int64_t characters);
/// The caption of a day's speech: whole minutes rounded half away from zero, "1м".
QString minutesCaption(double seconds);

class StatisticsWindow final : public QDialog {
public:
    explicit StatisticsWindow(std::shared_ptr<Stats> stats, QWidget* parent = nullptr);

    /// Rebuilds the content from the store and brings the window to the front.
    void show();

    /// The content of the last show(): cards in order, the two charts, the footer.
    const std::vector<CardView*>& cards() const { return cards_; }
    BarChartView* charactersChart() const { return charactersChart_; }
    BarChartView* speechChart() const { return speechChart_; }
    QLabel* footer() const { return footer_; }

private:
    QWidget* buildContent();
    QWidget* chartSection(const QString& title, const QString& subtitle, BarChartView* chart,
                          QWidget* parent);

    std::shared_ptr<Stats> stats_;
    QWidget* content_ = nullptr;
    std::vector<CardView*> cards_;
    BarChartView* charactersChart_ = nullptr;
    BarChartView* speechChart_ = nullptr;
    QLabel* footer_ = nullptr;
};

} // namespace halvex::windows
