#include "Forms/PreferencesViewController.hpp"

#include "Shell/ToolbarDelegate.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {

void PreferencesViewController::viewDidLoad() {
    show(true);
}

void PreferencesViewController::show(bool general) {
    if (auto view = generalContainerView.lock())
        view->setHidden(!general);
    if (auto view = aboutContainerView.lock())
        view->setHidden(general);
}

void PreferencesViewController::viewWillAppear() {
    observers_.clear();
    auto weak = weakAs<PreferencesViewController>();
    auto& center = joblark::NotificationCenter::defaultCenter();
    auto onMain = [weak](void (PreferencesViewController::*handler)()) {
        return [weak, handler](const joblark::Notification&) {
            joblark::ensureMainThread([weak, handler] {
                if (auto self = weak.lock())
                    (self.get()->*handler)();
            });
        };
    };
    observers_.push_back(center.addObserver(std::string(ToolbarDelegate::preferencesGeneralIdentifier),
                                            std::nullopt,
                                            onMain(&PreferencesViewController::willOpenGeneralPreferences)));
    observers_.push_back(center.addObserver(std::string(ToolbarDelegate::preferencesAboutIdentifier),
                                            std::nullopt,
                                            onMain(&PreferencesViewController::willOpenAboutPreferences)));
    observers_.push_back(center.addObserver(std::string(sceneDidDisconnectNotification), std::nullopt,
                                            [weak](const joblark::Notification& notification) {
                                                joblark::ensureMainThread([weak, notification] {
                                                    if (auto self = weak.lock())
                                                        self->sceneDidDisconnect(notification);
                                                });
                                            }));
}

void PreferencesViewController::willOpenGeneralPreferences() {
    joblark::Logger::general().notice("Opening general prefs");
    show(true);
}

void PreferencesViewController::willOpenAboutPreferences() {
    joblark::Logger::general().notice("Opening about prefs");
    show(false);
}

void PreferencesViewController::sceneDidDisconnect(const joblark::Notification& notification) {
    if (isOwnScene(notification.object))
        observers_.clear();
}

} // namespace kestrova
