#pragma once

// Recording stand-ins for the view interfaces, so the screens' logic is tested without a toolkit.

#include "Presentation/ViewKit.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::testing {

/// The hidden flag every element has.
template <class Interface>
struct Recorded : Interface {
    bool hidden = false;
    void setHidden(bool value) override { hidden = value; }
    bool isHidden() const override { return hidden; }
};

using RecordingView = Recorded<View>;

struct RecordingLabel : Recorded<Label> {
    std::optional<std::string> value;
    Color color = Color::label;
    bool bold = false;
    void setText(std::optional<std::string> text) override { value = std::move(text); }
    std::optional<std::string> text() const override { return value; }
    void setTextColor(Color c) override { color = c; }
    void setBold(bool b) override { bold = b; }
};

struct RecordingImage : Recorded<ImageView> {
    std::string symbol;
    Color tint = Color::label;
    void setSymbol(std::string name) override { symbol = std::move(name); }
    void setTintColor(Color c) override { tint = c; }
};

struct RecordingSwitch : Recorded<Switch> {
    bool on = false;
    bool enabled = true;
    void setOn(bool value) override { on = value; }
    bool isOn() const override { return on; }
    void setEnabled(bool value) override { enabled = value; }
};

struct RecordingChart : Recorded<ChartView> {
    std::optional<LineChartData> data;
    void setData(LineChartData value) override { data = std::move(value); }
};

struct RecordingPlatform : Platform {
    std::vector<std::string> opened;
    std::vector<std::string> copied;
    void openURL(const joblark::URL& url) override { opened.push_back(url.absoluteString()); }
    void setPasteboardString(std::string text) override { copied.push_back(std::move(text)); }
};

/// Records what a screen asked of its window. Pressing an alert button runs its handler.
struct RecordingHost : ViewControllerHost {
    std::vector<Alert> alerts;
    std::vector<std::string> segues;
    int dismissals = 0;
    void present(Alert alert) override { alerts.push_back(std::move(alert)); }
    void dismiss(std::function<void()> completion) override {
        ++dismissals;
        if (completion)
            completion();
    }
    void performSegue(const std::string& identifier) override { segues.push_back(identifier); }

    /// Presses the button titled `title` on the newest alert; false when there is none.
    bool press(const std::string& title) {
        if (alerts.empty())
            return false;
        for (const auto& action : alerts.back().actions)
            if (action.title == title) {
                if (action.handler)
                    action.handler();
                return true;
            }
        return false;
    }
};

/// The titles of a menu, depth first, with "|" for each inline group boundary.
inline std::vector<std::string> titles(const Menu& menu) {
    std::vector<std::string> out;
    for (const auto& child : menu.children) {
        if (const auto* action = std::get_if<MenuAction>(&child)) {
            out.push_back(action->title);
        } else {
            out.push_back("|");
            for (auto& title : titles(std::get<Menu>(child)))
                out.push_back(title);
        }
    }
    return out;
}

/// Runs the menu entry titled `title`; false when there is none.
inline bool choose(const Menu& menu, const std::string& title) {
    for (const auto& child : menu.children) {
        if (const auto* action = std::get_if<MenuAction>(&child)) {
            if (action->title == title) {
                action->handler();
                return true;
            }
        } else if (choose(std::get<Menu>(child), title)) {
            return true;
        }
    }
    return false;
}

} // namespace kestrova::testing
