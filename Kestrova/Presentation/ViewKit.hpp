#pragma once

// The small, toolkit-free view interfaces every screen's logic talks to. A screen's controller holds
// weak references to these; the desktop program implements them with widgets, the tests with
// recording fakes. All of it is used on the main thread only.

#include "Model/AppState.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Object.hpp"
#include "joblark/Foundation/URL.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

namespace kestrova {

/// The system colours the screens use; the toolkit maps them to its palette (light or dark).
enum class Color {
    systemGreen,
    systemOrange,
    systemRed,
    systemBlue,
    systemGray,
    systemBackground, ///< does not stand out from its background
    label,            ///< the text colour
    clear
};

/// Green for ok, orange for degraded, red for down.
Color statusColor(OverallStatus status);

// --- elements -------------------------------------------------------------------------------------

class View {
public:
    virtual ~View() = default;
    virtual void setHidden(bool hidden) = 0;
    virtual bool isHidden() const = 0;
};

class Label : public View {
public:
    /// Absent clears the text.
    virtual void setText(std::optional<std::string> text) = 0;
    virtual std::optional<std::string> text() const = 0;
    virtual void setTextColor(Color color) = 0;
    /// The bold system font at the label's current size.
    virtual void setBold(bool bold) = 0;
};

/// An image from a symbol name ("checkmark.circle.fill"), tinted.
class ImageView : public View {
public:
    virtual void setSymbol(std::string symbolName) = 0;
    virtual void setTintColor(Color color) = 0;
};

class Switch : public View {
public:
    virtual void setOn(bool on) = 0;
    virtual bool isOn() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class Slider : public View {
public:
    virtual void setValue(double value) = 0;
    virtual double value() const = 0;
    virtual void setEnabled(bool enabled) = 0;
};

class Button : public View {
public:
    virtual void setEnabled(bool enabled) = 0;
    virtual bool isEnabled() const = 0;
};

class TextField : public View {
public:
    /// Absent when the field has no text at all.
    virtual std::optional<std::string> text() const = 0;
    virtual void setText(std::string text) = 0;
    virtual bool isFirstResponder() const = 0;
    virtual void becomeFirstResponder() = 0;
    virtual void setEnabled(bool /*enabled*/) {}
};

class ActivityIndicator : public View {
public:
    virtual void startAnimating() = 0;
    virtual void stopAnimating() = 0;
    virtual bool isAnimating() const = 0;
};

// --- charts ---------------------------------------------------------------------------------------

struct ChartDataEntry {
    double x = 0;
    double y = 0;
    bool operator==(const ChartDataEntry&) const = default;
};

enum class ChartDrawingMode { linear, cubic };

/// One line of a chart with its styling.
struct LineChartDataSet {
    std::vector<ChartDataEntry> entries;
    std::string label;
    Color color = Color::systemBlue;
    Color circleColor = Color::systemBlue;
    /// The area under the line is filled with this colour when present.
    std::optional<Color> fill;
    double lineWidth = 1;
    double circleRadius = 4;
    ChartDrawingMode mode = ChartDrawingMode::linear;
    bool operator==(const LineChartDataSet&) const = default;
};

struct LineChartData {
    std::vector<LineChartDataSet> dataSets;
    bool drawValues = true;
    bool operator==(const LineChartData&) const = default;
};

/// A read-only line chart: axes take their ranges from the data.
class ChartView : public View {
public:
    virtual void setData(LineChartData data) = 0;
};

// --- alerts and menus -----------------------------------------------------------------------------

struct AlertAction {
    enum class Style { defaultStyle, cancel, destructive };
    std::string title;
    Style style = Style::defaultStyle;
    /// Runs after the alert has closed.
    std::function<void()> handler;
};

struct Alert {
    enum class Style { alert, actionSheet };
    std::string title;
    std::optional<std::string> message;
    Style preferredStyle = Style::alert;
    std::vector<AlertAction> actions;
};

struct MenuAction {
    std::string title;
    std::function<void()> handler;
};

/// A menu: actions and sub-menus, in order. An inline sub-menu with an empty title shows as a group
/// between separators.
struct Menu {
    std::string title;
    bool displayInline = false;
    std::vector<std::variant<MenuAction, Menu>> children;
};
using MenuElement = std::variant<MenuAction, Menu>;

// --- the platform -----------------------------------------------------------------------------------

enum class UserInterfaceIdiom { phone, tablet, desktop };

/// What the screens ask of the system, beyond their own views.
class Platform {
public:
    virtual ~Platform() = default;
    /// Opens the URL with the system (the default browser for web addresses).
    virtual void openURL(const joblark::URL& url) = 0;
    /// The general pasteboard (clipboard).
    virtual void setPasteboardString(std::string text) = 0;
    virtual UserInterfaceIdiom userInterfaceIdiom() const { return UserInterfaceIdiom::desktop; }
};

/// Brings the overview window forward (or opens one) with a resource selected; the application
/// shell implements it, the dashboard grid calls it.
class OverviewOpener {
public:
    virtual ~OverviewOpener() = default;
    virtual void openOverviewOrMakeKeyAndVisibleAndSelect(const Endpoint& endpoint) = 0;
    virtual void openOverviewOrMakeKeyAndVisibleAndSelect(const Measure& measure) = 0;
};

// --- screens --------------------------------------------------------------------------------------

/// The notification posted when a window closes; its object is the window's scene identifier.
inline constexpr std::string_view sceneDidDisconnectNotification = "UISceneDidDisconnectNotification";

/// What a screen asks of the window that shows it.
class ViewControllerHost {
public:
    virtual ~ViewControllerHost() = default;
    /// Shows the alert over the screen (animated).
    virtual void present(Alert alert) = 0;
    /// Closes the screen when it was presented (a dialog); `completion` runs once it is gone.
    virtual void dismiss(std::function<void()> completion = nullptr) = 0;
    /// Starts the named transition (a detail pane, a dialog); the host calls the screen's prepare()
    /// with the destination before showing it.
    virtual void performSegue(const std::string& /*identifier*/) {}
};

/// The base of every screen's logic: its host, its window's scene and its lifecycle. An Object, so
/// that a screen can be a notification's sender; always owned through std::shared_ptr (use
/// sharedAs<T>() / weakAs<T>() for references to itself).
class ViewController : public joblark::Object {
public:
    template <class T>
    std::weak_ptr<T> weakAs() {
        return sharedAs<T>();
    }

    std::weak_ptr<ViewControllerHost> host;
    /// The window (scene) the screen is in; absent until it is placed in one.
    std::optional<std::int64_t> sceneIdentifier;
    /// The screen's title, as the window shows it.
    std::string title;

    virtual void viewDidLoad() {}
    virtual void viewWillAppear() {}
    virtual void viewDidAppear() {}
    virtual void viewDidDisappear() {}
    /// Called by the host before it shows the destination of a transition this screen started.
    virtual void prepare(const std::string& /*segueIdentifier*/,
                         const std::shared_ptr<ViewController>& /*destination*/) {}

    /// Shows an alert through the host, when there still is one.
    void present(Alert alert);
    void dismiss(std::function<void()> completion = nullptr);
    void performSegue(const std::string& identifier);

    /// True when a scene-disconnect notification names this screen's window (both absent counts as
    /// the same window).
    bool isOwnScene(const joblark::Value& notificationObject) const;
};

/// The shared error alert: a UIError's title and description (its localized description when it has
/// none); any other error's localized description as title and its recovery suggestion (or the
/// description again) as message. One "Cancel" button.
Alert errorAlert(const joblark::ErrorPtr& error);

/// A screen's own error alert: a UIError's title and description (its localized description when it
/// has none); for any other error `fallbackTitle` and the error's localized description. One button.
Alert errorAlert(const joblark::ErrorPtr& error, std::string_view fallbackTitle, std::string buttonTitle);

} // namespace kestrova
