#pragma once

#include "Presentation/ViewKit.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <vector>

namespace kestrova {

/// The preferences window's root: shows the General or the About pane as the window's toolbar asks
/// ("toolbar.preferences.general", "toolbar.preferences.about"). Main thread.
class PreferencesViewController : public ViewController {
public:
    std::string className() const override { return "Kestrova.PreferencesViewController"; }

    std::weak_ptr<View> generalContainerView;
    std::weak_ptr<View> aboutContainerView;

    /// General shown, About hidden.
    void viewDidLoad() override;
    void viewWillAppear() override;

    void willOpenGeneralPreferences();
    void willOpenAboutPreferences();
    /// Stops observing when the closed window is this screen's own.
    void sceneDidDisconnect(const joblark::Notification& notification);

    bool isObserving() const { return !observers_.empty(); }

private:
    void show(bool general);
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
