#pragma once

// What the two detail panes share: a scrolling page with a title, the local history's uptime line,
// a captioned chart, labelled texts and captioned switches, bound to a detail screen's views.

#include "Presentation/HistoryRecorder.hpp"
#include "UI/Kit/AppContext.hpp"
#include "UI/Kit/Chart.hpp"
#include "UI/Kit/Controls.hpp"
#include "UI/Kit/Views.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QComboBox>
#include <QLabel>
#include <QPointer>
#include <QScrollArea>
#include <QVBoxLayout>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::ui {

/// Any widget as a plain view (shown or hidden).
using ViewBinding = WidgetBinding<View, QWidget>;

/// The chart, and a caption naming its series. What the screen sets goes through `route` when there
/// is one (the pane's longer ranges); `show` draws.
class CaptionedChartBinding : public ChartBinding {
public:
    CaptionedChartBinding(LineChartView* chart, QLabel* caption) : ChartBinding(chart), caption_(caption) {}
    void setData(LineChartData data) override;
    void show(LineChartData data);
    std::function<void(LineChartData)> route;

private:
    QPointer<QLabel> caption_;
};

class DetailPane : public QScrollArea {
    Q_OBJECT
public:
    DetailPane(std::shared_ptr<AppContext> context, QWidget* parent = nullptr);
    ~DetailPane() override;

    QLabel* titleLabel() const { return title_; }
    QLabel* uptimeLabel() const { return uptime_; }
    LineChartView* chart() const { return chart_; }
    QComboBox* chartRange() const { return range_; }

protected:
    /// A multi-line text under a small caption; absent caption: none.
    QLabel* addText(const QString& caption, const QString& accessibleName);
    /// A switch with its caption, in a row (the row is returned, to be shown or hidden).
    QWidget* addSwitch(const QString& caption, ToggleSwitch*& made);
    /// Keeps `binding` alive as long as the pane (the screen holds its views weakly).
    template <class Binding>
    std::shared_ptr<Binding> keep(std::shared_ptr<Binding> binding) {
        bindings_.push_back(binding);
        return binding;
    }
    /// Asks the local history for the resource's uptime now and after every change of `notification`.
    void followUptime(std::string resourceId, std::string_view notification);
    void setTitle(const std::string& title);
    /// The screen's chart binding: its data is drawn over the range chosen above the chart.
    std::shared_ptr<CaptionedChartBinding> makeChartBinding();

    std::shared_ptr<AppContext> context_;
    QWidget* page_;
    QVBoxLayout* layout_;
    QLabel* title_;
    QLabel* uptime_;
    QWidget* chartContainer_;
    QLabel* chartCaption_;
    LineChartView* chart_;

private:
    void requestUptime();
    /// Draws the screen's last chart data over the chosen range (from the local history past the
    /// service's own list).
    void showChartRange();
    QComboBox* range_;
    std::weak_ptr<CaptionedChartBinding> chartBinding_;
    LineChartData screenChart_;
    std::string resourceId_;
    std::vector<std::shared_ptr<void>> bindings_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova::ui
