#include "Shell/ToolbarDelegate.hpp"

#include "Shell/AppDelegate.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

namespace kestrova {
namespace {

void post(std::string_view name, joblark::Value object = {}) {
    joblark::NotificationCenter::defaultCenter().post(std::string(name), std::move(object));
}

struct ItemSpec {
    std::string_view identifier;
    std::optional<std::string_view> image, label, toolTip;
    bool bordered;
    bool navigational;
    std::optional<ToolbarAction> action;
};

const std::vector<ItemSpec>& itemTable() {
    using T = ToolbarDelegate;
    static const std::vector<ItemSpec> table = {
        {T::toggleSidebarIdentifier,
         "sidebar.left",
         {},
         "Toggle Sidebar",
         true,
         false,
         ToolbarAction::toggleSidebar},
        {T::showDashboardIdentifier,
         "rectangle.grid.2x2",
         {},
         "Show the Dashboard",
         false,
         true,
         ToolbarAction::showDashboard},
        {T::refreshIdentifier,
         "arrow.clockwise",
         {},
         "Refresh Everything",
         true,
         false,
         ToolbarAction::refresh},
        {T::createIdentifier, "plus", {}, "Add a new Endpoint", true, false, ToolbarAction::showAddEndpoint},
        {T::deleteIdentifier, "trash", {}, "Delete", true, false, std::nullopt},
        {T::overviewTitleIdentifier, {}, {}, {}, false, false, std::nullopt},
        {T::dashboardTitleIdentifier, {}, {}, {}, false, false, std::nullopt},
        {T::preferencesGeneralIdentifier, "gear", "General", "General Preferences", false, false,
         ToolbarAction::showGeneralPreferences},
        {T::preferencesAboutIdentifier, "info.circle", "About", "About Kestrova", false, false,
         ToolbarAction::showAboutPreferences},
    };
    return table;
}

std::optional<std::string> text(std::optional<std::string_view> value) {
    return value ? std::optional<std::string>(*value) : std::nullopt;
}

} // namespace

ToolbarDelegate::ToolbarDelegate(InitialState initialState, std::weak_ptr<AppDelegate> appDelegate,
                                 std::weak_ptr<AppStateController> controller)
    : state(initialState), appDelegate_(std::move(appDelegate)), controller_(std::move(controller)) {}

std::vector<std::string> ToolbarDelegate::defaultItemIdentifiers() const {
    auto ids = [](std::initializer_list<std::string_view> list) {
        return std::vector<std::string>(list.begin(), list.end());
    };
    switch (state) {
    case InitialState::overview:
        return ids({toggleSidebarIdentifier, showDashboardIdentifier, refreshIdentifier, createIdentifier,
                    primarySidebarTrackingSeparatorIdentifier, deleteIdentifier});
    case InitialState::dashboard:
        return ids(
            {refreshIdentifier, flexibleSpaceIdentifier, dashboardTitleIdentifier, flexibleSpaceIdentifier});
    case InitialState::preferences:
        return ids({flexibleSpaceIdentifier, preferencesGeneralIdentifier, preferencesAboutIdentifier});
    }
    return {};
}

std::shared_ptr<ToolbarItem> ToolbarDelegate::item(std::string_view identifier) {
    if (auto found = items_.find(identifier); found != items_.end())
        return found->second;
    for (const auto& row : itemTable()) {
        if (row.identifier != identifier)
            continue;
        auto made = std::make_shared<ToolbarItem>(std::string(identifier));
        made->image = text(row.image);
        made->label = text(row.label);
        made->toolTip = text(row.toolTip);
        made->isBordered = row.bordered;
        made->isNavigational = row.navigational;
        made->action = row.action;
        made->targetsDelegate = identifier != deleteIdentifier;
        items_.emplace(std::string(identifier), made);
        return made;
    }
    return nullptr;
}

void ToolbarDelegate::changed(const ToolbarItem& changedItem) {
    if (auto view = toolbar.lock())
        view->itemDidChange(changedItem);
}

void ToolbarDelegate::setDeleteEnabled(bool enabled) {
    auto deleteItem = item(deleteIdentifier);
    deleteItem->action = enabled ? std::optional(ToolbarAction::deleteEndpoint) : std::nullopt;
    changed(*deleteItem);
}

void ToolbarDelegate::perform(const std::shared_ptr<ToolbarItem>& sender) {
    if (!sender || !sender->canBePressed())
        return;
    switch (*sender->action) {
    case ToolbarAction::toggleSidebar:
        return toggleSidebar();
    case ToolbarAction::showDashboard:
        return showDashboard();
    case ToolbarAction::refresh:
        return refresh(sender);
    case ToolbarAction::showAddEndpoint:
        return showAddEndpoint();
    case ToolbarAction::deleteEndpoint:
        return deleteEndpoint();
    case ToolbarAction::showGeneralPreferences:
        return showGeneralPreferences(sender);
    case ToolbarAction::showAboutPreferences:
        return showAboutPreferences(sender);
    }
}

void ToolbarDelegate::toggleSidebar() {
    post(toggleSidebarIdentifier);
}

void ToolbarDelegate::showDashboard() {
    if (auto app = appDelegate_.lock())
        app->openDashboardOrMakeKeyAndVisible();
}

void ToolbarDelegate::refresh(const std::shared_ptr<ToolbarItem>& sender) {
    auto controller = controller_.lock();
    if (!controller)
        return;
    if (sender) {
        sender->isEnabled = false;
        changed(*sender);
    }
    std::weak_ptr<ToolbarDelegate> weak = weak_from_this();
    std::weak_ptr<ToolbarItem> weakItem = sender;
    auto report = AppDelegate::refreshCompletion();
    controller->sync([weak, weakItem, report](bool ok, joblark::ErrorPtr error) {
        if (auto self = weak.lock(); self) {
            if (auto refreshed = weakItem.lock()) {
                refreshed->isEnabled = true;
                self->changed(*refreshed);
            }
        }
        report(ok, std::move(error));
    });
}

void ToolbarDelegate::showAddEndpoint() {
    post(AppDelegate::showAddEndpointNotification);
}

void ToolbarDelegate::deleteEndpoint() {
    post(AppDelegate::deleteSelectedResourceNotification);
}

void ToolbarDelegate::showGeneralPreferences(const std::shared_ptr<ToolbarItem>& sender) {
    if (auto view = toolbar.lock())
        view->setSelectedItemIdentifier(std::string(preferencesGeneralIdentifier));
    post(preferencesGeneralIdentifier,
         sender ? joblark::Value(joblark::ObjectPtr(sender)) : joblark::Value());
}

void ToolbarDelegate::showAboutPreferences(const std::shared_ptr<ToolbarItem>& sender) {
    if (auto view = toolbar.lock())
        view->setSelectedItemIdentifier(std::string(preferencesAboutIdentifier));
    post(preferencesAboutIdentifier, sender ? joblark::Value(joblark::ObjectPtr(sender)) : joblark::Value());
}

} // namespace kestrova
