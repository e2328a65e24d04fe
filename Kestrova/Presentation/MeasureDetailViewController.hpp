#pragma once

// The detail pane of one measure: its criteria, a chart of its numeric measurements (hidden when
// there are none), its recent behaviour and timestamps, and two switches that change it.

#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

class MeasureDetailViewController : public ViewController {
public:
    explicit MeasureDetailViewController(std::shared_ptr<AppStateController> controller);

    std::shared_ptr<Measure> measure;

    std::weak_ptr<Label> recentBehaviorLabel;
    std::weak_ptr<Label> configurationDescriptionLabel;
    std::weak_ptr<Label> timestampsLabel;
    std::weak_ptr<View> chartContainerView;
    std::weak_ptr<ChartView> chartView;
    std::weak_ptr<Switch> statusSwitch;
    std::weak_ptr<Switch> publicSwitch;
    std::weak_ptr<View> publicContainerView;

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;

    void updateView();
    void refreshFromState();

    void statusSwitchWasChanged();
    void publicSwitchWasChanged();

    /// Each criterion's sentence, the later ones on lines starting with "AND "; empty without criteria.
    static std::string configurationText(const Measure* measure);
    static std::string recentBehaviorText(const Measure* measure);
    /// The numeric measurements, oldest first at their positions in the history; none when there are
    /// no numbers (the chart is then hidden).
    static std::optional<LineChartData> chartData(const Measure* measure);

private:
    void update(std::optional<bool> isPublic, std::optional<Measure::Status> status);
    void refreshFromState(const std::string& id, bool keepWhenMissing);

    std::shared_ptr<AppStateController> controller_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
