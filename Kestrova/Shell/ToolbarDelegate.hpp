#pragma once

#include "joblark/Foundation/Object.hpp"

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

class AppDelegate;
class AppStateController;

/// What a toolbar item does when pressed.
enum class ToolbarAction {
    toggleSidebar,
    showDashboard,
    refresh,
    showAddEndpoint,
    deleteEndpoint,
    showGeneralPreferences,
    showAboutPreferences
};

/// One toolbar item, as values; the window's toolbar shows it. An item without an action is disabled.
class ToolbarItem : public joblark::Object {
public:
    explicit ToolbarItem(std::string identifier) : itemIdentifier(std::move(identifier)) {}
    std::string className() const override { return "Kestrova.ToolbarItem"; }

    std::string itemIdentifier;
    std::optional<std::string> image; ///< a symbol name ("arrow.clockwise")
    std::optional<std::string> label;
    std::optional<std::string> toolTip;
    bool isBordered = false;
    bool isNavigational = false;
    std::optional<ToolbarAction> action;
    /// False for an item whose action goes to the focused window's content instead of the delegate.
    bool targetsDelegate = true;
    bool isEnabled = true;

    bool canBePressed() const { return isEnabled && action.has_value(); }
};

/// The toolbar view of a window.
class Toolbar {
public:
    virtual ~Toolbar() = default;
    /// Marks the item selected (the preferences window's pane items).
    virtual void setSelectedItemIdentifier(const std::string& identifier) = 0;
    /// The item's action or enabled state changed.
    virtual void itemDidChange(const ToolbarItem& item) = 0;
};

/// The items of one window's toolbar, by the window's kind, and what they do. Main thread.
class ToolbarDelegate : public std::enable_shared_from_this<ToolbarDelegate> {
public:
    enum class InitialState { overview, dashboard, preferences };

    static constexpr std::string_view toggleSidebarIdentifier = "toolbar.toggleSidebar";
    static constexpr std::string_view showDashboardIdentifier = "toolbar.showDashboard";
    static constexpr std::string_view refreshIdentifier = "toolbar.refresh";
    static constexpr std::string_view createIdentifier = "toolbar.create";
    static constexpr std::string_view deleteIdentifier = "toolbar.delete";
    static constexpr std::string_view overviewTitleIdentifier = "toolbar.overviewTitle";
    static constexpr std::string_view dashboardTitleIdentifier = "toolbar.dashboardTitle";
    static constexpr std::string_view preferencesGeneralIdentifier = "toolbar.preferences.general";
    static constexpr std::string_view preferencesAboutIdentifier = "toolbar.preferences.about";
    /// The toolkit's own items: a stretching space, and the separator that follows the sidebar's edge.
    static constexpr std::string_view flexibleSpaceIdentifier = "toolbar.flexibleSpace";
    static constexpr std::string_view primarySidebarTrackingSeparatorIdentifier =
        "toolbar.primarySidebarTrackingSeparator";

    ToolbarDelegate(InitialState state, std::weak_ptr<AppDelegate> appDelegate,
                    std::weak_ptr<AppStateController> controller);

    std::weak_ptr<Toolbar> toolbar;
    const InitialState state;

    std::vector<std::string> defaultItemIdentifiers() const;
    std::vector<std::string> allowedItemIdentifiers() const { return defaultItemIdentifiers(); }
    /// The item for an identifier of the table, made on first use; nothing for any other identifier
    /// (the toolkit makes its own spaces and separators).
    std::shared_ptr<ToolbarItem> item(std::string_view identifier);

    /// Runs the item's action.
    void perform(const std::shared_ptr<ToolbarItem>& sender);
    /// Gives the delete item its action (a selection exists) or takes it away.
    void setDeleteEnabled(bool enabled);

    void toggleSidebar();
    void showDashboard();
    /// Disables the item while the sync runs; a failure goes to the error notification.
    void refresh(const std::shared_ptr<ToolbarItem>& sender);
    void showAddEndpoint();
    void deleteEndpoint();
    void showGeneralPreferences(const std::shared_ptr<ToolbarItem>& sender);
    void showAboutPreferences(const std::shared_ptr<ToolbarItem>& sender);

private:
    void changed(const ToolbarItem& item);

    std::weak_ptr<AppDelegate> appDelegate_;
    std::weak_ptr<AppStateController> controller_;
    std::map<std::string, std::shared_ptr<ToolbarItem>, std::less<>> items_;
};

} // namespace kestrova
