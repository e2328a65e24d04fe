#pragma once

#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

/// What the software-update window shows, from the update plug-in's activity.
struct UpdateContent {
    std::string title;
    std::string message;
    bool checking = false;
    std::optional<joblark::URL> releaseNotesURL;
    std::optional<joblark::URL> downloadURL;
    bool operator==(const UpdateContent&) const = default;

    /// Checking, up to date, a newer version (with its links) or a feed error.
    static UpdateContent from(const UserActivity& activity);
};

/// The software-update window's content: takes the plug-in's latest activity ("kestrova.Update")
/// from the inbox when it appears and whenever the plug-in asks ("SceneNotifications.shouldDisplayAlert").
/// Main thread.
class UpdateViewController : public ViewController {
public:
    UpdateViewController(std::weak_ptr<AppStateController> controller, std::weak_ptr<Platform> platform);
    std::string className() const override { return "Kestrova.UpdateViewController"; }

    std::weak_ptr<Label> titleLabel;
    std::weak_ptr<Label> messageLabel;
    std::weak_ptr<ActivityIndicator> activityIndicator;
    std::weak_ptr<Button> releaseNotesButton;
    std::weak_ptr<Button> downloadButton;

    void viewWillAppear() override;
    void viewDidDisappear() override;

    /// Shows the newest waiting activity, when there is one.
    void takePendingActivity();
    void show(const UpdateContent& content);
    void releaseNotesButtonWasPressed();
    void downloadButtonWasPressed();

    const std::optional<UpdateContent>& content() const { return content_; }

private:
    std::weak_ptr<AppStateController> controller_;
    std::weak_ptr<Platform> platform_;
    std::optional<UpdateContent> content_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
