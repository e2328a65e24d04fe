#pragma once

// The overview's detail pane for one endpoint, driven by EndpointDetailViewController: badges, the
// response-time chart, its texts, the local uptime line and the three switches.

#include "UI/Details/DetailPane.hpp"

#include "Presentation/EndpointDetailViewController.hpp"

#include <QHBoxLayout>

namespace kestrova::ui {

class EndpointDetailPane : public DetailPane {
    Q_OBJECT
public:
    EndpointDetailPane(std::shared_ptr<AppContext> context, std::int64_t sceneIdentifier,
                       QWidget* parent = nullptr);
    ~EndpointDetailPane() override;

    const std::shared_ptr<EndpointDetailViewController>& screen() const { return screen_; }
    /// Once the screen has its endpoint: loads and shows it.
    void load();

    ToggleSwitch* statusSwitch() const { return status_; }
    ToggleSwitch* publicSwitch() const { return public_; }
    ToggleSwitch* certSwitch() const { return cert_; }
    QWidget* badges() const { return badges_; }

private:
    std::shared_ptr<EndpointDetailViewController> screen_;
    QWidget* badges_;
    ToggleSwitch* status_ = nullptr;
    ToggleSwitch* public_ = nullptr;
    ToggleSwitch* cert_ = nullptr;
};

} // namespace kestrova::ui
