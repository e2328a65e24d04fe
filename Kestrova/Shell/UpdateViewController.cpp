#include "Shell/UpdateViewController.hpp"

#include "Shell/AppDelegate.hpp"
#include "Shell/SparkleBridge.hpp"

#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {
namespace {

std::string stringFor(const joblark::Dictionary& info, std::string_view key) {
    auto found = info.find(key);
    if (found == info.end() || !found->second.isString())
        return {};
    return *found->second.asString();
}

/// Only web addresses become buttons: the feed is outside input.
std::optional<joblark::URL> webURL(const joblark::Dictionary& info, std::string_view key) {
    auto url = joblark::URL::parse(stringFor(info, key));
    if (!url || (url->scheme() != "https" && url->scheme() != "http") || !url->host())
        return std::nullopt;
    return url;
}

} // namespace

UpdateContent UpdateContent::from(const UserActivity& activity) {
    const auto& info = activity.userInfo;
    const auto status = stringFor(info, UpdateActivity::statusKey);
    UpdateContent content;
    if (status == UpdateActivity::checking) {
        content.title = "Checking for Updates…";
        content.message = "Looking for a newer version of Kestrova.";
        content.checking = true;
    } else if (status == UpdateActivity::upToDate) {
        content.title = "You're up to date!";
        content.message = "Kestrova " + stringFor(info, UpdateActivity::currentVersionKey) +
                          " is currently the newest version available.";
    } else if (status == UpdateActivity::available) {
        content.title = "A new version of Kestrova is available!";
        content.message = "Kestrova " + stringFor(info, UpdateActivity::versionKey) +
                          " is now available—you have " + stringFor(info, UpdateActivity::currentVersionKey) +
                          ".";
        content.releaseNotesURL = webURL(info, UpdateActivity::releaseNotesURLKey);
        content.downloadURL = webURL(info, UpdateActivity::downloadURLKey);
    } else {
        content.title = "Update Error!";
        auto description = stringFor(info, UpdateActivity::errorKey);
        content.message = description.empty() ? "An error occurred while checking for updates." : description;
    }
    return content;
}

UpdateViewController::UpdateViewController(std::weak_ptr<AppStateController> controller,
                                           std::weak_ptr<Platform> platform)
    : controller_(std::move(controller)), platform_(std::move(platform)) {
    title = "Software Update";
}

void UpdateViewController::viewWillAppear() {
    observers_.clear();
    auto weak = weakAs<UpdateViewController>();
    observers_.push_back(joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(AppDelegate::shouldDisplayAlertNotification), std::nullopt,
        [weak](const joblark::Notification&) {
            joblark::ensureMainThread([weak] {
                if (auto self = weak.lock())
                    self->takePendingActivity();
            });
        }));
    takePendingActivity();
}

void UpdateViewController::viewDidDisappear() {
    observers_.clear();
}

void UpdateViewController::takePendingActivity() {
    auto controller = controller_.lock();
    if (!controller)
        return;
    // The plug-in may have queued "checking" and its result before the window came up: the last wins.
    std::optional<UserActivity> latest;
    while (auto activity = controller->takeActivity(AppDelegate::rawValue(AppDelegate::Identifier::update)))
        latest = std::move(activity);
    if (latest)
        show(UpdateContent::from(*latest));
}

void UpdateViewController::show(const UpdateContent& content) {
    content_ = content;
    if (auto label = titleLabel.lock())
        label->setText(content.title);
    if (auto label = messageLabel.lock())
        label->setText(content.message);
    if (auto indicator = activityIndicator.lock()) {
        if (content.checking)
            indicator->startAnimating();
        else
            indicator->stopAnimating();
    }
    if (auto button = releaseNotesButton.lock()) {
        button->setHidden(!content.releaseNotesURL);
        button->setEnabled(content.releaseNotesURL.has_value());
    }
    if (auto button = downloadButton.lock()) {
        button->setHidden(!content.downloadURL);
        button->setEnabled(content.downloadURL.has_value());
    }
}

void UpdateViewController::releaseNotesButtonWasPressed() {
    auto platform = platform_.lock();
    if (platform && content_ && content_->releaseNotesURL)
        platform->openURL(*content_->releaseNotesURL);
}

void UpdateViewController::downloadButtonWasPressed() {
    auto platform = platform_.lock();
    if (platform && content_ && content_->downloadURL)
        platform->openURL(*content_->downloadURL);
}

} // namespace kestrova
