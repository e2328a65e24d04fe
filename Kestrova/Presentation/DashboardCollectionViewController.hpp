#pragma once

// The dashboard window's grid: one card per endpoint and then per measure of the signed-in user, in
// centred rows. Choosing a card brings the overview forward with that resource selected.

#include "Presentation/Cards.hpp"
#include "Presentation/CollectionLayout.hpp"
#include "Presentation/Identifier.hpp"
#include "Presentation/ViewKit.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Lists/ListView.hpp"

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

/// The grid's data: one section (the user's identity), one item per card.
using DashboardCollectionDataSource = joblark::TableViewDiffableDataSource<User::Identifier, Identifier>;

/// The grid's widget: its refresh indicator.
class DashboardCollectionView {
public:
    virtual ~DashboardCollectionView() = default;
    virtual void endRefreshing() = 0;
};

class DashboardCollectionViewController : public ViewController {
public:
    DashboardCollectionViewController(std::shared_ptr<AppStateController> controller,
                                      std::shared_ptr<Platform> platform,
                                      std::weak_ptr<OverviewOpener> opener);

    /// The headless collection the widget renders (one section).
    joblark::TableView collectionView;
    std::weak_ptr<DashboardCollectionView> grid;
    CenterTopAlignedCollectionViewFlowLayout layout;
    /// Bars for resources the state has no history of (a cached state, offline).
    RecordedHistory recordedHistory;

    DashboardCollectionDataSource& dataSource();
    void dropDataSource() { dataSource_.reset(); }

    void viewDidLoad() override;
    void viewWillAppear() override;
    void viewDidDisappear() override;

    void reload();
    void refresh();
    /// A card was chosen: the overview comes forward with its resource selected.
    void didSelectItem(const joblark::IndexPath& path);
    /// Only endpoint cards have a menu.
    std::optional<Menu> contextMenu(const joblark::IndexPath& path);

    /// The card for an item, configured from the app state (unconfigured when its resource is gone).
    EndpointOverviewCell cellFor(const Identifier& item) const;

private:
    template <class Resource>
    void showRecorded(EndpointOverviewCell& cell, const Resource& resource) const;
    void showError(const joblark::ErrorPtr& error, std::string_view alertTitle);

    std::shared_ptr<AppStateController> controller_;
    std::shared_ptr<Platform> platform_;
    std::weak_ptr<OverviewOpener> opener_;
    std::unique_ptr<DashboardCollectionDataSource> dataSource_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova
