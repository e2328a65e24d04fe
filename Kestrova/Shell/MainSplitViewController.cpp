#include "Shell/MainSplitViewController.hpp"

#include "Model/UIError.hpp"
#include "Shell/AppDelegate.hpp"
#include "Shell/ToolbarDelegate.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {

MainSplitViewController::MainSplitViewController(std::weak_ptr<AppStateController> controller)
    : controller_(std::move(controller)) {}

void MainSplitViewController::viewDidLoad() {
    if (auto view = splitView.lock())
        view->apply(configuration());
    observers_.clear();
    auto weak = weakAs<MainSplitViewController>();
    auto& center = joblark::NotificationCenter::defaultCenter();
    auto onMain = [weak](void (MainSplitViewController::*handler)()) {
        return [weak, handler](const joblark::Notification&) {
            joblark::ensureMainThread([weak, handler] {
                if (auto self = weak.lock())
                    (self.get()->*handler)();
            });
        };
    };
    auto observe = [&](std::string_view name, joblark::NotificationCenter::Callback callback) {
        observers_.push_back(center.addObserver(std::string(name), std::nullopt, std::move(callback)));
    };
    observe(AppStateController::didLogin, onMain(&MainSplitViewController::signInDidChange));
    observe(AppStateController::didLogout, onMain(&MainSplitViewController::signInDidChange));
    observe(AppStateController::someonePleaseHandleThisError,
            [weak](const joblark::Notification& notification) {
                auto error = notification.object.asError();
                joblark::ensureMainThread([weak, error] {
                    if (auto self = weak.lock())
                        self->handleError(error);
                });
            });
    observe(AppStateController::didDeselect, onMain(&MainSplitViewController::showBlankDetail));
    observe(ToolbarDelegate::toggleSidebarIdentifier, onMain(&MainSplitViewController::toggleSidebar));
    observe(sceneDidDisconnectNotification, [weak](const joblark::Notification& notification) {
        joblark::ensureMainThread([weak, notification] {
            if (auto self = weak.lock())
                self->sceneDidDisconnect(notification);
        });
    });
    observe(AppDelegate::showAddEndpointNotification, onMain(&MainSplitViewController::showAddEndpoint));
}

void MainSplitViewController::viewDidAppear() {
    showLoginIfNeeded();
}

void MainSplitViewController::showLoginIfNeeded() {
    auto controller = controller_.lock();
    if (!controller || !controller->isSignedIn())
        performSegue(std::string(showLoginSegue));
}

void MainSplitViewController::signInDidChange() {
    showLoginIfNeeded();
    showBlankDetail();
}

void MainSplitViewController::showBlankDetail() {
    if (auto view = splitView.lock())
        view->showBlankDetail();
}

void MainSplitViewController::showAddEndpoint() {
    performSegue(std::string(showAddEndpointSegue));
}

void MainSplitViewController::toggleSidebar() {
    auto view = splitView.lock();
    if (displayState == DisplayState::sidebarShown) {
        if (view)
            view->setDisplayMode(SplitViewDisplayMode::secondaryOnly);
        displayState = DisplayState::sidebarHidden;
    } else {
        if (view)
            view->setDisplayMode(SplitViewDisplayMode::oneBesideSecondary);
        displayState = DisplayState::sidebarShown;
    }
}

void MainSplitViewController::handleError(const joblark::ErrorPtr& error) {
    joblark::Logger::general().notice("Good guy split view handling unhandled error: " +
                                      (error ? error->localizedDescription() : std::string("(null)")));
    Alert alert;
    if (auto ui = std::dynamic_pointer_cast<const UIError>(error)) {
        alert.title = ui->title;
        alert.message = ui->description;
    } else {
        alert.title = "An Error Occurred";
        alert.message = error ? error->localizedDescription() : std::string("Unknown error");
    }
    alert.actions.push_back({"Done", AlertAction::Style::defaultStyle, nullptr});
    present(std::move(alert));
}

void MainSplitViewController::sceneDidDisconnect(const joblark::Notification& notification) {
    if (isOwnScene(notification.object))
        observers_.clear();
}

} // namespace kestrova
