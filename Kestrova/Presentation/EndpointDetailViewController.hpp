#pragma once

// The detail pane of one endpoint: title, two badges, a chart of recent response times against the
// degradation threshold, its recent behaviour, configuration and timestamps, and three switches that
// change it on the service.

#include "Presentation/Cards.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

/// The row of badges: the badges in order, then a spacer.
class BadgeStackView {
public:
    virtual ~BadgeStackView() = default;
    virtual void setArrangedBadges(const std::vector<std::shared_ptr<Badge>>& badges) = 0;
};

class EndpointDetailViewController : public ViewController {
public:
    explicit EndpointDetailViewController(std::shared_ptr<AppStateController> controller);

    std::shared_ptr<Endpoint> endpoint;

    std::weak_ptr<Label> recentBehaviorLabel;
    std::weak_ptr<Label> configurationDescriptionLabel;
    std::weak_ptr<Label> timestampsLabel;
    std::weak_ptr<BadgeStackView> badgeStackView;
    std::weak_ptr<ChartView> chartView;
    std::weak_ptr<Switch> statusSwitch;
    std::weak_ptr<Switch> publicSwitch;
    std::weak_ptr<Switch> certSwitch;
    std::weak_ptr<View> publicContainerView;

    /// Created on first use from the endpoint as it is then, and kept.
    const std::shared_ptr<Badge>& statusBadge();
    const std::shared_ptr<Badge>& checkStatusBadge();

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;

    void updateView();
    /// Takes the app state's endpoint with the same id (none when it is gone), then renders.
    void refreshFromState();

    void statusSwitchWasChanged();
    void publicSwitchWasChanged();
    void certSwitchWasChanged();

    // What the labels and the chart show, for an endpoint or none.
    static std::string configurationText(const Endpoint* endpoint);
    static std::string recentBehaviorText(const Endpoint* endpoint);
    static std::string timestampsText(const std::optional<joblark::Date>& updatedAt,
                                      const std::optional<joblark::Date>& createdAt);
    static LineChartData chartData(const Endpoint* endpoint);

private:
    void update(std::optional<bool> isPublic, std::optional<bool> ensureValidCert,
                std::optional<Endpoint::Status> status);
    void refreshFromState(const std::string& id, bool keepWhenMissing);

    std::shared_ptr<AppStateController> controller_;
    std::shared_ptr<Badge> statusBadge_;
    std::shared_ptr<Badge> checkStatusBadge_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
