#pragma once

// The core's line charts on Qt Charts.

#include "UI/Kit/Views.hpp"

#include <QChartView>

namespace kestrova::ui {

/// A read-only chart view: no legend, no value labels, axes ranged to the data.
class LineChartView : public QChartView {
    Q_OBJECT
public:
    explicit LineChartView(QWidget* parent = nullptr);
    /// Replaces the chart's series and axes with `data`, in the current palette.
    void setData(const LineChartData& data);
    const LineChartData& data() const { return data_; }

protected:
    void changeEvent(QEvent* event) override;

private:
    void rebuild();
    LineChartData data_;
};

class ChartBinding : public WidgetBinding<ChartView, LineChartView> {
public:
    using WidgetBinding::WidgetBinding;
    void setData(LineChartData data) override {
        if (widget_)
            widget_->setData(data);
    }
};

} // namespace kestrova::ui
