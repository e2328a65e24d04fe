#pragma once

// The overview's detail pane for one measure, driven by MeasureDetailViewController: its criteria,
// the chart of numeric measurements (hidden without any), its texts, the uptime line and two switches.

#include "UI/Details/DetailPane.hpp"

#include "Presentation/MeasureDetailViewController.hpp"

namespace kestrova::ui {

class MeasureDetailPane : public DetailPane {
    Q_OBJECT
public:
    MeasureDetailPane(std::shared_ptr<AppContext> context, std::int64_t sceneIdentifier,
                      QWidget* parent = nullptr);
    ~MeasureDetailPane() override;

    const std::shared_ptr<MeasureDetailViewController>& screen() const { return screen_; }
    void load();

    ToggleSwitch* statusSwitch() const { return status_; }
    ToggleSwitch* publicSwitch() const { return public_; }
    QWidget* chartContainer() const { return chartContainer_; }

private:
    std::shared_ptr<MeasureDetailViewController> screen_;
    ToggleSwitch* status_ = nullptr;
    ToggleSwitch* public_ = nullptr;
};

} // namespace kestrova::ui
