#pragma once

#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <vector>

namespace kestrova {

enum class SplitViewDisplayMode { oneBesideSecondary, secondaryOnly };

/// How the overview window's split view is set up, as values.
struct SplitViewConfiguration {
    SplitViewDisplayMode preferredDisplayMode = SplitViewDisplayMode::oneBesideSecondary;
    bool presentsWithGesture = false;
    double preferredPrimaryColumnWidthFraction = 0.2;
    bool sidebarBackground = true;
    bool primaryEdgeLeading = true;
    bool operator==(const SplitViewConfiguration&) const = default;
};

/// The overview window's two panes.
class SplitView {
public:
    virtual ~SplitView() = default;
    virtual void apply(const SplitViewConfiguration& configuration) = 0;
    virtual void setDisplayMode(SplitViewDisplayMode mode) = 0;
    /// Shows the blank detail ("BlankEndpointView").
    virtual void showBlankDetail() = 0;
};

/// The overview window's root: the sidebar list beside the detail. It asks for sign-in whenever there
/// are no credentials, opens the add-endpoint form, toggles the sidebar and shows the errors the
/// application hands it ("Done"). Main thread.
class MainSplitViewController : public ViewController {
public:
    enum class DisplayState { sidebarShown, sidebarHidden };
    static constexpr std::string_view showLoginSegue = "showLogin";
    static constexpr std::string_view showAddEndpointSegue = "showAddEndpoint";

    explicit MainSplitViewController(std::weak_ptr<AppStateController> controller);
    std::string className() const override { return "Kestrova.MainSplitViewController"; }

    std::weak_ptr<SplitView> splitView;
    DisplayState displayState = DisplayState::sidebarShown;

    static SplitViewConfiguration configuration() { return {}; }

    /// Applies the configuration and starts observing.
    void viewDidLoad() override;
    /// Asks for sign-in when there are no credentials.
    void viewDidAppear() override;

    void signInDidChange();
    void showBlankDetail();
    void showAddEndpoint();
    void toggleSidebar();
    void handleError(const joblark::ErrorPtr& error);
    void sceneDidDisconnect(const joblark::Notification& notification);
    bool isObserving() const { return !observers_.empty(); }

private:
    void showLoginIfNeeded();

    std::weak_ptr<AppStateController> controller_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
