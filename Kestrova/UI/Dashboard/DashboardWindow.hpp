#pragma once

// "Dashboard": the grid of every endpoint's and measure's card (DashboardCollectionViewController),
// laid out in centred rows with top-aligned cards. A card click brings the overview forward with its
// resource selected; endpoint cards have a context menu.

#include "UI/Kit/Cards.hpp"
#include "UI/Kit/SceneWindow.hpp"

#include "Presentation/DashboardCollectionViewController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QMenu>
#include <QScrollArea>

#include <memory>
#include <vector>

namespace kestrova::ui {

class DashboardWindow : public SceneWindow, public joblark::TableViewObserver {
    Q_OBJECT
public:
    DashboardWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                    std::int64_t sceneIdentifier);
    ~DashboardWindow() override;

    const std::shared_ptr<DashboardCollectionViewController>& grid() const { return grid_; }
    /// The cards shown, in the grid's order.
    std::vector<OverviewCardWidget*> cards() const;
    QMenu* showContextMenu(std::size_t item, const QPoint& globalPosition);

    void tableViewDidReloadData(joblark::TableView& tableView) override;
    void tableViewDidApply(joblark::TableView& tableView, const joblark::SnapshotDifference& difference,
                           bool animated) override;

protected:
    void windowWillClose() override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showItems();

    std::shared_ptr<DashboardCollectionViewController> grid_;
    std::shared_ptr<WidgetHost> host_;
    std::shared_ptr<DashboardCollectionView> gridBinding_;
    QScrollArea* scroll_;
    QWidget* canvas_;
    CenteredFlowLayout* flow_;
    std::vector<OverviewCardWidget*> cards_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova::ui
