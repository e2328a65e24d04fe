#include "UI/Kit/Chart.hpp"

#include "UI/Kit/Palette.hpp"

#include <QAreaSeries>
#include <QChart>
#include <QEvent>
#include <QLineSeries>
#include <QSplineSeries>
#include <QValueAxis>

#include <algorithm>
#include <limits>
#include <memory>

namespace kestrova::ui {

LineChartView::LineChartView(QWidget* parent) : QChartView(parent) {
    setRenderHint(QPainter::Antialiasing);
    setMinimumHeight(160);
    setAccessibleName(tr("Chart"));
    rebuild();
}

void LineChartView::setData(const LineChartData& data) {
    data_ = data;
    rebuild();
}

void LineChartView::changeEvent(QEvent* event) {
    QChartView::changeEvent(event);
    if (event->type() == QEvent::PaletteChange)
        rebuild(); // series colours follow light and dark
}

void LineChartView::rebuild() {
    // A fresh chart each time: QChartView owns it and deletes the previous one.
    auto chart = std::make_unique<QChart>();
    const QPalette& pal = palette();
    chart->legend()->hide();
    chart->setBackgroundBrush(pal.color(QPalette::Base));
    chart->setBackgroundRoundness(0);
    chart->setMargins(QMargins(4, 4, 4, 4));

    double minX = std::numeric_limits<double>::max(), maxX = std::numeric_limits<double>::lowest();
    double minY = minX, maxY = maxX;
    for (const auto& set : data_.dataSets)
        for (const auto& entry : set.entries) {
            minX = std::min(minX, entry.x);
            maxX = std::max(maxX, entry.x);
            minY = std::min(minY, entry.y);
            maxY = std::max(maxY, entry.y);
        }
    const bool empty = minX > maxX;
    if (empty) {
        minX = minY = 0;
        maxX = maxY = 1;
    }
    // Automatic ranges with a little room, and never a zero-width range (one point, a flat line).
    const double padY = std::max((maxY - minY) * 0.08, std::max(std::abs(maxY) * 0.05, 0.5));
    const double bottom = minY >= 0 ? std::max(0.0, minY - padY) : minY - padY;

    auto* axisX = new QValueAxis; // owned by the chart once added
    auto* axisY = new QValueAxis;
    chart->addAxis(axisX, Qt::AlignBottom);
    chart->addAxis(axisY, Qt::AlignLeft);
    axisX->setRange(minX, maxX > minX ? maxX : minX + 1);
    axisY->setRange(bottom, maxY + padY);
    axisX->setLabelFormat("%.0f");
    // The x values are positions in a history: whole steps of 1, 2 or 5 × 10ⁿ, at most 8 of them.
    const double span = std::max(1.0, maxX - minX);
    double step = 1;
    for (double scale = 1; span / step > 8; scale *= 10)
        for (double factor : {1.0, 2.0, 5.0})
            if (span / step > 8)
                step = factor * scale;
    axisX->setTickType(QValueAxis::TicksDynamic);
    axisX->setTickAnchor(0);
    axisX->setTickInterval(step);
    for (auto* axis : {axisX, axisY}) {
        axis->setLabelsColor(pal.color(QPalette::WindowText));
        axis->setGridLineColor(pal.color(QPalette::Mid));
        axis->setLinePenColor(pal.color(QPalette::Mid));
        axis->setVisible(!empty);
    }
    axisY->setTickCount(5);
    if (!empty)
        axisY->applyNiceNumbers(); // 0, 250, 500 … rather than 743.5, 959.3 …
    axisY->setLabelFormat(maxY - bottom >= 10 ? "%.0f" : "%.1f");
    if (empty) {
        // Nothing measured yet: say so rather than draw axes over nothing.
        chart->setTitle(tr("No data yet"));
        chart->setTitleBrush(pal.color(QPalette::PlaceholderText));
    }

    for (const auto& set : data_.dataSets) {
        const QColor lineColor = color(set.color, pal);
        // Points in the order given: x gaps (skipped measurements) stay gaps on the axis.
        QLineSeries* line = set.mode == ChartDrawingMode::cubic ? new QSplineSeries : new QLineSeries;
        line->setName(toQString(set.label));
        for (const auto& entry : set.entries)
            line->append(entry.x, entry.y);
        QPen pen(lineColor, set.lineWidth);
        pen.setCapStyle(Qt::RoundCap);
        line->setPen(pen);
        // Circles of another colour are drawn over the line by a series of their own (none when clear).
        line->setPointsVisible(set.circleRadius > 0 && set.circleColor == set.color);
        line->setMarkerSize(set.circleRadius * 2);
        line->setColor(lineColor);
        line->setPointLabelsVisible(data_.drawValues);
        line->setPointLabelsColor(pal.color(QPalette::WindowText));

        if (set.fill) {
            // The area under the line, down to the axis, behind the line itself.
            auto* under = new QLineSeries;
            for (const auto& entry : set.entries)
                under->append(entry.x, entry.y);
            auto* area = new QAreaSeries(under);
            under->setParent(area);
            QColor fill = color(*set.fill, pal);
            fill.setAlphaF(0.25);
            area->setBrush(fill);
            area->setPen(Qt::NoPen);
            chart->addSeries(area);
            area->attachAxis(axisX);
            area->attachAxis(axisY);
        }
        chart->addSeries(line);
        line->attachAxis(axisX);
        line->attachAxis(axisY);
        // Circles in their own colour over the line.
        if (set.circleColor != set.color && set.circleColor != Color::clear && set.circleRadius > 0) {
            auto* circles = new QLineSeries;
            for (const auto& entry : set.entries)
                circles->append(entry.x, entry.y);
            circles->setPen(Qt::NoPen);
            circles->setPointsVisible(true);
            circles->setMarkerSize(set.circleRadius * 2);
            circles->setColor(color(set.circleColor, pal));
            chart->addSeries(circles);
            circles->attachAxis(axisX);
            circles->attachAxis(axisY);
        }
    }
    // The view owns the new chart but lets go of the old one without deleting it.
    std::unique_ptr<QChart> previous(QChartView::chart());
    setChart(chart.release());
    setBackgroundBrush(pal.color(QPalette::Base));
}

} // namespace kestrova::ui
