#pragma once

// The overview list: the overall status header above the sections of endpoint and measure cards,
// in the overview window's sidebar. Everything it shows is recomputed from the app state at each
// reload; actions go to the state controller.

#include "Model/NamedThing.hpp"
#include "Presentation/Cards.hpp"
#include "Presentation/Identifier.hpp"
#include "Presentation/OverviewFilter.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Lists/ListView.hpp"

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

namespace kestrova {

/// The status header: a symbol tinted by the overall status and two lines of text.
class DashboardHeaderView {
public:
    std::weak_ptr<ImageView> statusImageView;
    std::weak_ptr<Label> statusLabel;
    std::weak_ptr<Label> statusDescriptionLabel;
    /// Shown only when the last sync failed: how old the data is and why.
    std::weak_ptr<Label> offlineLabel;

    static constexpr std::string_view okImage = "checkmark.circle.fill";
    static constexpr std::string_view degradedImage = "exclamationmark.triangle.fill";
    static constexpr std::string_view downImage = "exclamationmark.triangle.fill";
    const Color okColor = Color::systemGreen;
    const Color degradedColor = Color::systemOrange;
    const Color downColor = Color::systemRed;

    struct Content {
        std::string_view image;
        Color tint;
        std::string_view title;
        std::string_view description;
    };
    static Content content(OverallStatus status);

    /// Sets whichever of the three views still exist.
    void update(OverallStatus status);
    /// Shows or hides the offline line.
    void update(const AppStateController::SyncStatus& sync);

    /// "Offline: data from 7 Dec 2026, 10:42" when the service could not be reached, "Not refreshed
    /// (reason): data from …" when it refused; nothing while the last sync went well.
    static std::optional<std::string> offlineText(const AppStateController::SyncStatus& sync);
};

/// The overview's table data: sections keyed like the grid's, rows by resource.
class DashboardDataSource : public joblark::TableViewDiffableDataSource<User::Identifier, Identifier> {
public:
    using TableViewDiffableDataSource::TableViewDiffableDataSource;
    /// "Endpoints" or "Measures", by the section's identity rather than its position.
    std::optional<std::string> titleForHeaderInSection(std::size_t section) const;
};

/// The list's widget: its selection and its refresh indicator.
class DashboardTableView {
public:
    enum class ScrollPosition { none, middle };
    virtual ~DashboardTableView() = default;
    virtual std::optional<joblark::IndexPath> indexPathForSelectedRow() const = 0;
    /// Selects without telling the screen (as a programmatic selection does).
    virtual void selectRow(const joblark::IndexPath& path, bool animated, ScrollPosition position) = 0;
    virtual void deselectRow(const joblark::IndexPath& path, bool animated) = 0;
    virtual void endRefreshing() = 0;
};

/// Keys the list reacts to.
enum class KeyInput { escape, deleteKey, other };

class DashboardViewController : public ViewController {
public:
    static constexpr std::string_view endpointSectionId = "Endpoint-Section";
    static constexpr std::string_view measureSectionId = "Measure-Section";
    static constexpr std::string_view showEndpointDetail = "showEndpointDetail";
    static constexpr std::string_view showMeasureDetail = "showMeasureDetail";
    static constexpr std::string_view refreshFailedTitle = "Unknown Error";
    static constexpr std::string_view refreshFailedMessage =
        "Unable to refresh data. Please check your internet connection and try again.";

    enum class SectionKind { endpoints, measures };

    DashboardViewController(std::shared_ptr<AppStateController> controller,
                            std::shared_ptr<Platform> platform);

    DashboardHeaderView headerView;
    /// The headless table the widget renders; it hears every snapshot the data source applies.
    joblark::TableView tableView;
    std::weak_ptr<DashboardTableView> table;
    /// Bars and uptime for resources the state has no history of (a cached state, offline).
    RecordedHistory recordedHistory;

    /// Created on first use; dropped when the window goes away.
    DashboardDataSource& tableViewDataSource();
    void dropTableViewDataSource() { dataSource_.reset(); }

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidAppear() override;
    void viewDidDisappear() override;
    void prepare(const std::string& segueIdentifier,
                 const std::shared_ptr<ViewController>& destination) override;

    /// Rebuilds rows and header from the app state, keeping the selected position when it still exists.
    void reload();
    /// Syncs; failures end in an alert, and the list is reloaded either way.
    void refresh();
    /// Opens the resource a pending "kestrova.Endpoint" or "kestrova.Measure" activity names.
    void selectPendingResource();
    void confirmDelete(std::shared_ptr<const NamedThing> resource,
                       std::function<void(bool)> completion = nullptr);
    /// The list's error alert, with one "Done" button.
    void showError(const joblark::ErrorPtr& error, std::string_view alertTitle);
    void presentError(const joblark::ErrorPtr& error) { present(errorAlert(error)); }

    /// The user selected a row: tells the window and opens the detail.
    void didSelectRow(const joblark::IndexPath& path);
    /// The user is about to clear the selection.
    joblark::IndexPath willDeselectRow(const joblark::IndexPath& path);
    /// The card's context menu; none when its resource cannot be found.
    std::optional<Menu> contextMenu(const joblark::IndexPath& path);
    /// True when the keys were handled (not passed on).
    bool pressesBegan(const std::vector<KeyInput>& keys);
    /// The command's target: the selected resource, after confirmation.
    void deleteSelectedResource();

    /// What the list shows and in which order; setting it reloads.
    const OverviewFilter& filter() const { return filter_; }
    void setFilter(OverviewFilter filter);

    /// Which list a section shows, by its identity.
    std::optional<SectionKind> sectionKind(std::size_t section);
    /// The resource at a position: its section's list at the row's place (in the order shown).
    std::shared_ptr<Endpoint> endpointAt(const joblark::IndexPath& path);
    std::shared_ptr<Measure> measureAt(const joblark::IndexPath& path);

    /// The service's web page of a resource: its API address without "/api".
    static std::optional<joblark::URL> webPageURL(const std::optional<joblark::URL>& apiURL);
    static std::string deleteConfirmationMessage(const std::optional<std::string>& name);

private:
    template <class Resource>
    void showRecorded(CardCell& cell, const Resource& resource) const;
    joblark::TableViewCellPtr cellFor(const Identifier& item, SectionKind kind);
    void deselectSelectedRow();
    void selectResource(SectionKind kind, const std::string& id);
    void observe();
    void stopObserving();
    std::shared_ptr<const NamedThing> selectedResource();

    std::shared_ptr<AppStateController> controller_;
    std::shared_ptr<Platform> platform_;
    std::unique_ptr<DashboardDataSource> dataSource_;
    std::vector<joblark::ObserverToken> observers_;
    // Where each id sits in the state's lists as of the last reload; checked before use.
    std::unordered_map<std::string, std::size_t> endpointIndex_;
    std::unordered_map<std::string, std::size_t> measureIndex_;
    OverviewFilter filter_;
    // The list position of each row shown, as of the last reload (identity without a filter).
    std::vector<std::size_t> endpointRows_;
    std::vector<std::size_t> measureRows_;
};

} // namespace kestrova
