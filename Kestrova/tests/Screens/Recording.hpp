#pragma once

// Recording stand-ins for the views, the window system and the platform: what a screen did to them
// is kept for the tests to read.

#include "Forms/SettingsViewController.hpp"
#include "Forms/WebContentViewController.hpp"
#include "Presentation/ViewKit.hpp"
#include "Shell/MainSplitViewController.hpp"
#include "Shell/PushRegistration.hpp"
#include "Shell/ToolbarDelegate.hpp"
#include "Shell/WindowSystem.hpp"

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::testing {

/// Any element: remembers whether it is hidden.
template <class Element>
struct Recorded : Element {
    bool hidden = true;
    void setHidden(bool h) override { hidden = h; }
    bool isHidden() const override { return hidden; }
};
using RecordingView = Recorded<View>;

struct RecordingLabel : Recorded<Label> {
    std::optional<std::string> value;
    void setText(std::optional<std::string> t) override { value = std::move(t); }
    std::optional<std::string> text() const override { return value; }
    void setTextColor(Color) override {}
    void setBold(bool) override {}
};

struct RecordingSwitch : Recorded<Switch> {
    bool on = false, enabled = true;
    void setOn(bool o) override { on = o; }
    bool isOn() const override { return on; }
    void setEnabled(bool e) override { enabled = e; }
};

struct RecordingSlider : Recorded<Slider> {
    double current = 0;
    bool enabled = true;
    void setValue(double v) override { current = v; }
    double value() const override { return current; }
    void setEnabled(bool e) override { enabled = e; }
};

struct RecordingButton : Recorded<Button> {
    bool enabled = true;
    void setEnabled(bool e) override { enabled = e; }
    bool isEnabled() const override { return enabled; }
};

struct RecordingTextField : Recorded<TextField> {
    std::optional<std::string> value;
    bool focused = false;
    std::optional<std::string> text() const override { return value; }
    void setText(std::string t) override { value = std::move(t); }
    bool isFirstResponder() const override { return focused; }
    void becomeFirstResponder() override { focused = true; }
};

struct RecordingIndicator : Recorded<ActivityIndicator> {
    bool animating = false;
    void startAnimating() override { animating = true; }
    void stopAnimating() override { animating = false; }
    bool isAnimating() const override { return animating; }
};

/// Shows alerts by keeping them; a dismissal completes at once. `events` keeps the order.
struct RecordingHost : ViewControllerHost {
    std::vector<Alert> alerts;
    std::vector<std::string> segues;
    std::vector<std::string> events;
    int dismissals = 0;
    void present(Alert alert) override {
        events.push_back("alert: " + alert.title);
        alerts.push_back(std::move(alert));
    }
    void dismiss(std::function<void()> completion) override {
        ++dismissals;
        events.push_back("dismissed");
        if (completion)
            completion();
    }
    void performSegue(const std::string& identifier) override {
        events.push_back("segue: " + identifier);
        segues.push_back(identifier);
    }
};

struct RecordingPlatform : Platform {
    std::vector<std::string> opened;
    void openURL(const joblark::URL& url) override { opened.push_back(url.absoluteString()); }
    void setPasteboardString(std::string) override {}
};

struct RecordingWebView : Recorded<WebView> {
    std::vector<std::string> loaded;
    bool opaque = true;
    void loadFileURL(const joblark::URL& url, const joblark::URL& readAccess) override {
        loaded.push_back(url.absoluteString() + " in " + readAccess.absoluteString());
    }
    void setOpaque(bool o) override { opaque = o; }
    void setBackgroundColor(Color) override {}
};

struct RecordingTable : Recorded<TableView> {
    int deselections = 0;
    void deselectRow(std::size_t, std::size_t, bool) override { ++deselections; }
};

struct RecordingToolbar : Toolbar {
    std::vector<std::string> selected;
    std::vector<std::string> changes; // "identifier enabled|disabled"
    void setSelectedItemIdentifier(const std::string& id) override { selected.push_back(id); }
    void itemDidChange(const ToolbarItem& item) override {
        changes.push_back(item.itemIdentifier + (item.canBePressed() ? " enabled" : " disabled"));
    }
};

struct RecordingSplitView : SplitView {
    std::optional<SplitViewConfiguration> applied;
    std::vector<SplitViewDisplayMode> modes;
    int blankDetails = 0;
    void apply(const SplitViewConfiguration& c) override { applied = c; }
    void setDisplayMode(SplitViewDisplayMode m) override { modes.push_back(m); }
    void showBlankDetail() override { ++blankDetails; }
};

/// Windows by kind; activation records the request.
struct RecordingWindowSystem : WindowSystem {
    struct Activation {
        std::optional<SceneSessionIdentifier> session;
        std::optional<UserActivity> activity;
    };
    std::map<WindowKind, SceneSessionIdentifier> open;
    std::vector<Activation> activations;
    std::optional<joblark::ErrorPtr> failWith;
    int revalidations = 0, terminations = 0;
    std::optional<SceneSessionIdentifier> findWindow(WindowKind kind) override {
        auto found = open.find(kind);
        return found == open.end() ? std::nullopt : std::optional(found->second);
    }
    void activateSceneSession(std::optional<SceneSessionIdentifier> session,
                              std::optional<UserActivity> activity,
                              std::function<void(joblark::ErrorPtr)> errorHandler) override {
        activations.push_back({session, std::move(activity)});
        if (failWith && errorHandler)
            errorHandler(*failWith);
    }
    void revalidateMainMenu() override { ++revalidations; }
    void terminate() override { ++terminations; }
};

/// A remote-notification service that works, answering permission requests as told.
struct AvailableRemoteNotifications : RemoteNotificationService {
    bool grant = true;
    joblark::ErrorPtr answerError;
    int registrations = 0;
    void registerForRemoteNotifications(PushRegistration&) override { ++registrations; }
    void requestAuthorization(AuthorizationAnswer answer) override { answer(grant, answerError); }
};

} // namespace kestrova::testing
