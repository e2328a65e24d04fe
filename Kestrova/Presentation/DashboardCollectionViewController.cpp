#include "Presentation/DashboardCollectionViewController.hpp"

#include "Model/UIError.hpp"
#include "Presentation/DashboardViewController.hpp"

#include "joblark/Tasks/TaskController.hpp"

namespace kestrova {

DashboardCollectionViewController::DashboardCollectionViewController(
    std::shared_ptr<AppStateController> controller, std::shared_ptr<Platform> platform,
    std::weak_ptr<OverviewOpener> opener)
    : controller_(std::move(controller)), platform_(std::move(platform)), opener_(std::move(opener)) {}

DashboardCollectionDataSource& DashboardCollectionViewController::dataSource() {
    if (!dataSource_) {
        // Cards are drawn by the widget from cellFor(); the headless table only carries the items.
        dataSource_ = std::make_unique<DashboardCollectionDataSource>(
            collectionView, [](joblark::TableView&, const joblark::IndexPath&, const Identifier& item) {
                auto cell = std::make_shared<joblark::TableViewCell>();
                cell->reuseIdentifier = std::string(EndpointOverviewCell::reuseIdentifier);
                cell->text = item.id;
                return cell;
            });
        collectionView.setDataSource(dataSource_.get());
    }
    return *dataSource_;
}

void DashboardCollectionViewController::viewDidLoad() {
    title = "Dashboard";
    dataSource();
}

void DashboardCollectionViewController::viewWillAppear() {
    observers_.clear();
    auto& center = joblark::NotificationCenter::defaultCenter();
    const auto weak = weakAs<DashboardCollectionViewController>();
    auto reloadOnMain = [weak](const joblark::Notification&) {
        joblark::ensureMainThread([weak] {
            if (auto self = weak.lock())
                self->reload();
        });
    };
    observers_.push_back(
        center.addObserver(std::string(AppStateController::endpointsDidChange), std::nullopt, reloadOnMain));
    observers_.push_back(
        center.addObserver(std::string(AppStateController::measuresDidChange), std::nullopt, reloadOnMain));
    observers_.push_back(center.addObserver(std::string(sceneDidDisconnectNotification), std::nullopt,
                                            [weak](const joblark::Notification& n) {
                                                joblark::ensureMainThread([weak, object = n.object] {
                                                    auto self = weak.lock();
                                                    if (self && self->isOwnScene(object)) {
                                                        self->observers_.clear();
                                                        self->dropDataSource();
                                                    }
                                                });
                                            }));
    reload();
}

void DashboardCollectionViewController::viewDidDisappear() {
    observers_.clear();
    dropDataSource();
}

void DashboardCollectionViewController::reload() {
    if (auto widget = grid.lock())
        widget->endRefreshing();
    DashboardCollectionDataSource::Snapshot snapshot;
    const auto& state = controller_->state;
    if (state && state->user) {
        const joblark::Date now;
        const auto section = sectionIdentifier(state->user->id, state->user->updatedAt, now);
        snapshot.appendSections({section});
        std::vector<Identifier> items;
        auto add = [&](const auto& list) {
            if (!list)
                return;
            for (const auto& resource : *list)
                items.push_back(resource ? Identifier::of(resource->id, resource->updatedAt, now)
                                         : Identifier::of(std::nullopt, std::nullopt, now));
        };
        add(state->endpoints);
        add(state->measures);
        snapshot.appendItems(items, section);
    }
    dataSource().apply(std::move(snapshot), false);
}

template <class Resource>
void DashboardCollectionViewController::showRecorded(EndpointOverviewCell& cell,
                                                     const Resource& resource) const {
    if (resource.history || !resource.id || !recordedHistory)
        return;
    if (const auto* recorded = recordedHistory(*resource.id))
        cell.showRecordedHistory(*recorded);
}

EndpointOverviewCell DashboardCollectionViewController::cellFor(const Identifier& item) const {
    EndpointOverviewCell cell;
    const auto& state = controller_->state;
    if (!state)
        return cell;
    if (state->endpoints)
        for (const auto& endpoint : *state->endpoints)
            if (endpoint && endpoint->id == item.id) {
                cell.configure(*endpoint);
                showRecorded(cell, *endpoint);
                return cell;
            }
    if (state->measures)
        for (const auto& measure : *state->measures)
            if (measure && measure->id == item.id) {
                cell.configure(*measure);
                showRecorded(cell, *measure);
                return cell;
            }
    return cell;
}

void DashboardCollectionViewController::didSelectItem(const joblark::IndexPath& path) {
    const Identifier* item = dataSource().itemIdentifier(path);
    auto opener = opener_.lock();
    const auto& state = controller_->state;
    if (!item || !opener || !state)
        return;
    if (state->endpoints)
        for (const auto& endpoint : *state->endpoints)
            if (endpoint && endpoint->id == item->id) {
                opener->openOverviewOrMakeKeyAndVisibleAndSelect(*endpoint);
                return;
            }
    if (state->measures)
        for (const auto& measure : *state->measures)
            if (measure && measure->id == item->id) {
                opener->openOverviewOrMakeKeyAndVisibleAndSelect(*measure);
                return;
            }
}

std::optional<Menu> DashboardCollectionViewController::contextMenu(const joblark::IndexPath& path) {
    const auto& state = controller_->state;
    // Endpoints come first in the grid's one section; positions past them are measures.
    if (!state || !state->endpoints || path.section != 0 || path.row >= state->endpoints->size())
        return std::nullopt;
    const auto endpoint = (*state->endpoints)[path.row];
    if (!endpoint)
        return std::nullopt;
    auto platform = platform_;
    const auto monitored = endpoint->endpointUrl;
    const auto page = DashboardViewController::webPageURL(endpoint->url);
    Menu menu;
    menu.children.push_back(MenuAction{"Open in Browser", [platform, monitored] {
                                           if (monitored && platform)
                                               platform->openURL(*monitored);
                                       }});
    menu.children.push_back(MenuAction{"Open on Kestrova", [platform, page] {
                                           if (page && platform)
                                               platform->openURL(*page);
                                       }});
    Menu copy{"", true, {}};
    copy.children.push_back(MenuAction{"Copy Link", [platform, monitored] {
                                           if (monitored && platform)
                                               platform->setPasteboardString(monitored->absoluteString());
                                       }});
    menu.children.push_back(std::move(copy));
    return menu;
}

void DashboardCollectionViewController::refresh() {
    const auto weak = weakAs<DashboardCollectionViewController>();
    controller_->sync([weak](bool ok, joblark::ErrorPtr error) {
        auto self = weak.lock();
        if (!self)
            return;
        if (!ok)
            self->showError(
                std::make_shared<UIError>(std::string(DashboardViewController::refreshFailedTitle),
                                          std::string(DashboardViewController::refreshFailedMessage)),
                "An Error Occurred");
        else if (error)
            self->showError(error, "An Error Occurred");
        self->reload();
    });
}

void DashboardCollectionViewController::showError(const joblark::ErrorPtr& error,
                                                  std::string_view alertTitle) {
    present(errorAlert(error, alertTitle, "Done"));
}

} // namespace kestrova
