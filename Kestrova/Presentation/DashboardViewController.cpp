#include "Presentation/DashboardViewController.hpp"

#include "Model/UIError.hpp"
#include "Presentation/EndpointDetailViewController.hpp"
#include "Presentation/MeasureDetailViewController.hpp"
#include "Presentation/SceneNotifications.hpp"
#include "Presentation/StatusPresentation.hpp"

#include "joblark/Foundation/DateFormatter.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <algorithm>

namespace kestrova {

using joblark::IndexPath;

DashboardHeaderView::Content DashboardHeaderView::content(OverallStatus status) {
    switch (status) {
    case OverallStatus::ok:
        return {okImage, Color::systemGreen, "All Clear", "Nothing to see here"};
    case OverallStatus::degraded:
        return {degradedImage, Color::systemOrange, "Something's Up",
                "One or more of your endpoints or measures have degraded"};
    case OverallStatus::down:
        return {downImage, Color::systemRed, "Uh Oh!", "One or more of your endpoints or measures are down"};
    }
    return content(OverallStatus::ok);
}

void DashboardHeaderView::update(OverallStatus status) {
    const Content c = content(status);
    if (auto image = statusImageView.lock()) {
        image->setSymbol(std::string(c.image));
        image->setTintColor(c.tint);
    }
    if (auto label = statusLabel.lock())
        label->setText(std::string(c.title));
    if (auto label = statusDescriptionLabel.lock())
        label->setText(std::string(c.description));
}

std::optional<std::string> DashboardHeaderView::offlineText(const AppStateController::SyncStatus& sync) {
    if (!sync.lastSyncFailed)
        return std::nullopt;
    std::string reason = sync.serviceUnreachable() ? "Offline" : "Not refreshed";
    if (!sync.serviceUnreachable() && sync.lastError)
        reason += " (" + sync.lastError->localizedDescription() + ")";
    const auto date = sync.dataDate();
    if (!date)
        return reason + ": no data yet";
    const joblark::DateFormatter formatter(joblark::DateStyle::mediumStyle, joblark::DateStyle::shortStyle);
    return reason + ": data from " + formatter.string(*date);
}

void DashboardHeaderView::update(const AppStateController::SyncStatus& sync) {
    auto label = offlineLabel.lock();
    if (!label)
        return;
    const auto text = offlineText(sync);
    label->setText(text);
    label->setHidden(!text);
}

std::optional<std::string> DashboardDataSource::titleForHeaderInSection(std::size_t section) const {
    const auto& sections = snapshot().sectionIdentifiers();
    if (section >= sections.size())
        return std::nullopt;
    if (sections[section].id == DashboardViewController::endpointSectionId)
        return "Endpoints";
    if (sections[section].id == DashboardViewController::measureSectionId)
        return "Measures";
    return std::nullopt;
}

DashboardViewController::DashboardViewController(std::shared_ptr<AppStateController> controller,
                                                 std::shared_ptr<Platform> platform)
    : controller_(std::move(controller)), platform_(std::move(platform)) {}

DashboardDataSource& DashboardViewController::tableViewDataSource() {
    if (!dataSource_) {
        // The data source lives inside this screen, so its cell provider may use it directly.
        dataSource_ = std::make_unique<DashboardDataSource>(
            tableView, [this](joblark::TableView&, const IndexPath& path, const Identifier& item) {
                const auto kind = sectionKind(path.section);
                return kind ? cellFor(item, *kind) : std::make_shared<joblark::TableViewCell>();
            });
        tableView.setDataSource(dataSource_.get());
    }
    return *dataSource_;
}

std::optional<DashboardViewController::SectionKind>
DashboardViewController::sectionKind(std::size_t section) {
    const auto& sections = tableViewDataSource().snapshot().sectionIdentifiers();
    if (section >= sections.size())
        return std::nullopt;
    if (sections[section].id == endpointSectionId)
        return SectionKind::endpoints;
    if (sections[section].id == measureSectionId)
        return SectionKind::measures;
    return std::nullopt;
}

namespace {

template <class Resource>
std::shared_ptr<Resource> at(const std::optional<std::vector<std::shared_ptr<Resource>>>& list,
                             std::size_t row) {
    if (!list || row >= list->size())
        return nullptr;
    return (*list)[row];
}

template <class Resource>
std::shared_ptr<Resource> findById(const std::optional<std::vector<std::shared_ptr<Resource>>>& list,
                                   const std::unordered_map<std::string, std::size_t>& index,
                                   const std::string& id) {
    if (!list)
        return nullptr;
    // The index is from the last reload; the list may have changed since, so it is only a hint.
    if (auto it = index.find(id); it != index.end() && it->second < list->size()) {
        const auto& candidate = (*list)[it->second];
        if (candidate && candidate->id == id)
            return candidate;
    }
    for (const auto& resource : *list)
        if (resource && resource->id == id)
            return resource;
    return nullptr;
}

template <class Resource>
void indexById(const std::optional<std::vector<std::shared_ptr<Resource>>>& list,
               std::unordered_map<std::string, std::size_t>& index) {
    index.clear();
    if (!list)
        return;
    index.reserve(list->size());
    for (std::size_t i = 0; i < list->size(); ++i)
        if ((*list)[i] && (*list)[i]->id)
            index.emplace(*(*list)[i]->id, i); // the first of equal ids wins
}

} // namespace

std::shared_ptr<Endpoint> DashboardViewController::endpointAt(const IndexPath& path) {
    if (sectionKind(path.section) != SectionKind::endpoints || !controller_->state ||
        path.row >= endpointRows_.size())
        return nullptr;
    return at(controller_->state->endpoints, endpointRows_[path.row]);
}

std::shared_ptr<Measure> DashboardViewController::measureAt(const IndexPath& path) {
    if (sectionKind(path.section) != SectionKind::measures || !controller_->state ||
        path.row >= measureRows_.size())
        return nullptr;
    return at(controller_->state->measures, measureRows_[path.row]);
}

void DashboardViewController::setFilter(OverviewFilter filter) {
    if (filter == filter_)
        return;
    filter_ = std::move(filter);
    reload();
}

template <class Resource>
void DashboardViewController::showRecorded(CardCell& cell, const Resource& resource) const {
    if (resource.history || !resource.id || !recordedHistory)
        return;
    if (const auto* recorded = recordedHistory(*resource.id))
        cell.showRecordedHistory(*recorded, resource.updatedAt);
}

joblark::TableViewCellPtr DashboardViewController::cellFor(const Identifier& item, SectionKind kind) {
    const auto& state = controller_->state;
    if (state && kind == SectionKind::endpoints) {
        if (auto endpoint = findById(state->endpoints, endpointIndex_, item.id)) {
            auto cell = std::make_shared<EndpointCardCell>();
            cell->configure(*endpoint);
            showRecorded(*cell, *endpoint);
            return cell;
        }
    } else if (state && kind == SectionKind::measures) {
        if (auto measure = findById(state->measures, measureIndex_, item.id)) {
            auto cell = std::make_shared<MeasureCardCell>();
            cell->configure(*measure);
            showRecorded(*cell, *measure);
            return cell;
        }
    }
    return std::make_shared<joblark::TableViewCell>();
}

void DashboardViewController::viewDidLoad() {
    tableViewDataSource();
    title = "Endpoints & Measures";
}

void DashboardViewController::viewWillAppear() {
    observe();
    reload();
}

void DashboardViewController::viewDidAppear() {
    selectPendingResource();
}

void DashboardViewController::viewDidDisappear() {
    stopObserving();
}

void DashboardViewController::observe() {
    stopObserving(); // each appearance observes each notification once
    auto& center = joblark::NotificationCenter::defaultCenter();
    const auto weak = weakAs<DashboardViewController>();
    auto onMain = [weak](void (DashboardViewController::*action)()) {
        return [weak, action](const joblark::Notification&) {
            joblark::ensureMainThread([weak, action] {
                if (auto self = weak.lock())
                    ((*self).*action)();
            });
        };
    };
    observers_.push_back(center.addObserver(std::string(AppStateController::endpointsDidChange), std::nullopt,
                                            onMain(&DashboardViewController::reload)));
    observers_.push_back(center.addObserver(std::string(AppStateController::measuresDidChange), std::nullopt,
                                            onMain(&DashboardViewController::reload)));
    observers_.push_back(center.addObserver(std::string(SceneNotifications::shouldSelectEndpoint),
                                            std::nullopt,
                                            onMain(&DashboardViewController::selectPendingResource)));
    observers_.push_back(center.addObserver(std::string(SceneNotifications::deleteSelectedResource),
                                            std::nullopt,
                                            onMain(&DashboardViewController::deleteSelectedResource)));
    observers_.push_back(center.addObserver(std::string(sceneDidDisconnectNotification), std::nullopt,
                                            [weak](const joblark::Notification& n) {
                                                joblark::ensureMainThread([weak, object = n.object] {
                                                    auto self = weak.lock();
                                                    if (self && self->isOwnScene(object)) {
                                                        self->stopObserving();
                                                        self->dropTableViewDataSource();
                                                    }
                                                });
                                            }));
}

void DashboardViewController::stopObserving() {
    observers_.clear();
}

void DashboardViewController::reload() {
    auto tableWidget = table.lock();
    if (tableWidget)
        tableWidget->endRefreshing();
    const std::optional<IndexPath> selected =
        tableWidget ? tableWidget->indexPathForSelectedRow() : std::nullopt;

    const joblark::Date now;
    DashboardDataSource::Snapshot snapshot;
    const auto& state = controller_->state;
    endpointRows_.clear();
    measureRows_.clear();
    if (state && state->user) {
        auto appendSection = [&](std::string_view sectionId, const auto& list,
                                 std::vector<std::size_t>& shown) {
            shown.clear();
            if (!list || list->empty())
                return;
            if (filter_.isActive()) {
                shown = filter_.rows(*list);
            } else {
                shown.resize(list->size());
                for (std::size_t i = 0; i < shown.size(); ++i)
                    shown[i] = i;
            }
            // A filter that hides everything still shows the section, so the list is not mistaken for empty.
            const User::Identifier section{std::string(sectionId), now};
            snapshot.appendSections({section});
            std::vector<Identifier> rows;
            rows.reserve(shown.size());
            for (std::size_t i : shown) {
                const auto& resource = (*list)[i];
                rows.push_back(resource ? Identifier::of(resource->id, resource->updatedAt, now)
                                        : Identifier::of(std::nullopt, std::nullopt, now));
            }
            snapshot.appendItems(rows, section);
        };
        appendSection(endpointSectionId, state->endpoints, endpointRows_);
        appendSection(measureSectionId, state->measures, measureRows_);
        indexById(state->endpoints, endpointIndex_);
        indexById(state->measures, measureIndex_);
    }
    auto& dataSource = tableViewDataSource();
    // The selection follows its resource, wherever the reload put it; a resource that is gone
    // takes its detail with it.
    std::optional<std::string> selectedId;
    if (selected)
        if (const auto* item = dataSource.itemIdentifier(*selected))
            selectedId = item->id;
    dataSource.apply(std::move(snapshot), false);

    if (selected && tableWidget && selectedId) {
        std::optional<IndexPath> moved;
        for (const auto& item : dataSource.snapshot().itemIdentifiers())
            if (item.id == *selectedId) {
                moved = dataSource.indexPath(item);
                break;
            }
        if (moved) {
            tableWidget->selectRow(*moved, false, DashboardTableView::ScrollPosition::none);
        } else {
            willDeselectRow(*selected);
            tableWidget->deselectRow(*selected, false);
        }
    }
    headerView.update(overallStatus(state.get()));
    headerView.update(controller_->syncStatus());
}

void DashboardViewController::refresh() {
    const auto weak = weakAs<DashboardViewController>();
    controller_->sync([weak](bool ok, joblark::ErrorPtr error) {
        auto self = weak.lock();
        if (!self)
            return;
        if (!ok)
            self->showError(
                std::make_shared<UIError>(std::string(refreshFailedTitle), std::string(refreshFailedMessage)),
                "An Error Occurred");
        else if (error)
            self->showError(error, "An Error Occurred");
        self->reload();
    });
}

void DashboardViewController::selectPendingResource() {
    auto textOf = [](const UserActivity& activity, std::string_view key) -> std::optional<std::string> {
        const auto it = activity.userInfo.find(std::string(key));
        if (it == activity.userInfo.end() || !it->second.isString())
            return std::nullopt;
        return *it->second.asString();
    };
    // Activities are consumed when taken, whether or not a resource matches.
    std::optional<std::string> id;
    SectionKind kind = SectionKind::endpoints;
    if (auto activity = controller_->takeActivity(SceneNotifications::endpointActivityType))
        id = textOf(*activity, SceneNotifications::endpointKey);
    if (!id) {
        kind = SectionKind::measures;
        if (auto activity = controller_->takeActivity(SceneNotifications::measureActivityType))
            id = textOf(*activity, SceneNotifications::measureKey);
    }
    if (!id)
        return;
    const auto weak = weakAs<DashboardViewController>();
    joblark::ensureMainThread([weak, kind, id = *id] {
        if (auto self = weak.lock())
            self->selectResource(kind, id);
    });
}

void DashboardViewController::selectResource(SectionKind kind, const std::string& id) {
    const auto& state = controller_->state;
    if (!state)
        return;
    std::optional<std::size_t> row;
    auto find = [&](const auto& list) {
        if (!list)
            return;
        for (std::size_t i = 0; i < list->size(); ++i)
            if ((*list)[i] && (*list)[i]->id == id) {
                row = i;
                return;
            }
    };
    if (kind == SectionKind::endpoints)
        find(state->endpoints);
    else
        find(state->measures);
    if (!row)
        return;
    // Where the resource shows; a filter that hides it is cleared, as the request is to see it.
    const auto& shown = kind == SectionKind::endpoints ? endpointRows_ : measureRows_;
    auto place = std::find(shown.begin(), shown.end(), *row);
    if (place == shown.end() && filter_.isActive()) {
        setFilter({});
        place = std::find(shown.begin(), shown.end(), *row);
    }
    if (place == shown.end())
        return;
    row = static_cast<std::size_t>(place - shown.begin());
    // The section's position comes from the snapshot: the measures are first when there are no endpoints.
    const std::size_t sections = tableViewDataSource().snapshot().numberOfSections();
    for (std::size_t s = 0; s < sections; ++s) {
        if (sectionKind(s) != kind)
            continue;
        if (auto tableWidget = table.lock())
            tableWidget->selectRow({s, *row}, false, DashboardTableView::ScrollPosition::middle);
        performSegue(std::string(kind == SectionKind::endpoints ? showEndpointDetail : showMeasureDetail));
        return;
    }
}

std::string DashboardViewController::deleteConfirmationMessage(const std::optional<std::string>& name) {
    return "This will permanently delete " + name.value_or("this resource") +
           ". This action is cannot be undone.";
}

void DashboardViewController::confirmDelete(std::shared_ptr<const NamedThing> resource,
                                            std::function<void(bool)> completion) {
    if (!resource)
        return;
    Alert alert;
    alert.title = "Are you sure?";
    alert.message = deleteConfirmationMessage(resource->resourceName());
    alert.preferredStyle = platform_ && platform_->userInterfaceIdiom() == UserInterfaceIdiom::phone
                               ? Alert::Style::actionSheet
                               : Alert::Style::alert;
    const auto weak = weakAs<DashboardViewController>();
    alert.actions.push_back({"Yes, Delete", AlertAction::Style::destructive,
                             [weak, resource, completion, controller = controller_] {
                                 if (auto self = weak.lock())
                                     self->deselectSelectedRow();
                                 const auto url = resource->resourceUrl();
                                 if (!url) {
                                     if (completion)
                                         completion(true);
                                     return;
                                 }
                                 controller->deleteResource(
                                     *url, [weak, completion](bool, joblark::ErrorPtr error) {
                                         if (completion)
                                             completion(true);
                                         if (auto self = weak.lock(); self && error)
                                             self->showError(error, "Error occurred while deleting resource");
                                     });
                             }});
    alert.actions.push_back({"Cancel", AlertAction::Style::cancel, [completion] {
                                 if (completion)
                                     completion(true);
                             }});
    present(std::move(alert));
}

void DashboardViewController::showError(const joblark::ErrorPtr& error, std::string_view alertTitle) {
    present(errorAlert(error, alertTitle, "Done"));
}

void DashboardViewController::didSelectRow(const IndexPath& path) {
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::didSelect),
                                                      joblark::Value(sharedAs<DashboardViewController>()));
    if (const auto kind = sectionKind(path.section))
        performSegue(std::string(*kind == SectionKind::endpoints ? showEndpointDetail : showMeasureDetail));
}

IndexPath DashboardViewController::willDeselectRow(const IndexPath& path) {
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::didDeselect),
                                                      joblark::Value(sharedAs<DashboardViewController>()));
    return path;
}

void DashboardViewController::deselectSelectedRow() {
    auto tableWidget = table.lock();
    if (!tableWidget)
        return;
    if (const auto selected = tableWidget->indexPathForSelectedRow()) {
        willDeselectRow(*selected);
        tableWidget->deselectRow(*selected, false);
    }
}

void DashboardViewController::prepare(const std::string& segueIdentifier,
                                      const std::shared_ptr<ViewController>& destination) {
    auto tableWidget = table.lock();
    const auto selected = tableWidget ? tableWidget->indexPathForSelectedRow() : std::nullopt;
    if (segueIdentifier == showEndpointDetail) {
        // The row's resource in the order shown: with a filter or sort, the row is not the list index.
        if (auto detail = std::dynamic_pointer_cast<EndpointDetailViewController>(destination);
            detail && selected)
            detail->endpoint = endpointAt(*selected);
    } else if (segueIdentifier == showMeasureDetail) {
        if (auto detail = std::dynamic_pointer_cast<MeasureDetailViewController>(destination);
            detail && selected)
            detail->measure = measureAt(*selected);
    }
}

std::optional<joblark::URL> DashboardViewController::webPageURL(const std::optional<joblark::URL>& apiURL) {
    if (!apiURL)
        return std::nullopt;
    std::string text = apiURL->absoluteString();
    for (std::size_t at = text.find("/api"); at != std::string::npos; at = text.find("/api", at))
        text.erase(at, 4);
    return joblark::URL::parse(text);
}

std::optional<Menu> DashboardViewController::contextMenu(const IndexPath& path) {
    const auto weak = weakAs<DashboardViewController>();
    auto platform = platform_;
    auto openOnService = [platform](std::optional<joblark::URL> apiURL) {
        return MenuAction{"Open on Kestrova", [platform, apiURL] {
                              if (auto page = webPageURL(apiURL); page && platform)
                                  platform->openURL(*page);
                          }};
    };
    auto deleteEntry = [weak](std::string entryTitle, std::shared_ptr<const NamedThing> resource) {
        Menu group{"", true, {}};
        group.children.push_back(MenuAction{std::move(entryTitle), [weak, resource] {
                                                if (auto self = weak.lock())
                                                    self->confirmDelete(resource);
                                            }});
        return group;
    };
    if (auto endpoint = endpointAt(path)) {
        Menu menu;
        const auto monitored = endpoint->endpointUrl;
        menu.children.push_back(MenuAction{"Open in Browser", [platform, monitored] {
                                               if (monitored && platform)
                                                   platform->openURL(*monitored);
                                           }});
        menu.children.push_back(openOnService(endpoint->url));
        Menu copy{"", true, {}};
        copy.children.push_back(MenuAction{"Copy Link", [platform, monitored] {
                                               if (monitored && platform)
                                                   platform->setPasteboardString(monitored->absoluteString());
                                           }});
        menu.children.push_back(std::move(copy));
        menu.children.push_back(deleteEntry("Delete Endpoint", endpoint));
        return menu;
    }
    if (auto measure = measureAt(path)) {
        Menu menu;
        menu.children.push_back(openOnService(measure->url));
        menu.children.push_back(deleteEntry("Delete Measure", measure));
        return menu;
    }
    return std::nullopt;
}

std::shared_ptr<const NamedThing> DashboardViewController::selectedResource() {
    auto tableWidget = table.lock();
    const auto selected = tableWidget ? tableWidget->indexPathForSelectedRow() : std::nullopt;
    if (!selected)
        return nullptr;
    if (auto endpoint = endpointAt(*selected))
        return endpoint;
    return measureAt(*selected);
}

void DashboardViewController::deleteSelectedResource() {
    if (auto resource = selectedResource())
        confirmDelete(resource);
}

bool DashboardViewController::pressesBegan(const std::vector<KeyInput>& keys) {
    auto tableWidget = table.lock();
    const bool hasSelection = tableWidget && tableWidget->indexPathForSelectedRow();
    auto pressed = [&](KeyInput key) { return std::find(keys.begin(), keys.end(), key) != keys.end(); };
    if (hasSelection && pressed(KeyInput::escape)) {
        deselectSelectedRow();
        return true;
    }
    if (hasSelection && pressed(KeyInput::deleteKey)) {
        deleteSelectedResource();
        return true;
    }
    return false;
}

} // namespace kestrova
