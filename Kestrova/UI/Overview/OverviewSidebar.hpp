#pragma once

// The overview window's sidebar: the status header, the offline notice, find and sort, and the card
// list. The list is the core's headless table rendered by a Qt model: every snapshot the overview
// list applies is reconciled with what is shown, rows matched by resource id and repainted only when
// what their card shows changed (the content signature).

#include "UI/Kit/AppContext.hpp"
#include "UI/Kit/Cards.hpp"
#include "UI/Kit/Controls.hpp"
#include "UI/Kit/SnapshotListModel.hpp"
#include "UI/Kit/Views.hpp"

#include "Presentation/DashboardViewController.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QToolButton>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <vector>

namespace kestrova::ui {

class OverviewSidebar : public QWidget, public joblark::TableViewObserver {
    Q_OBJECT
public:
    OverviewSidebar(std::shared_ptr<AppContext> context, std::shared_ptr<DashboardViewController> list,
                    QWidget* parent = nullptr);
    ~OverviewSidebar() override;

    CardListView* listView() const { return list_; }
    SnapshotListModel& model() { return model_; }
    QLineEdit* findField() const { return find_; }
    QToolButton* problemsButton() const { return problems_; }
    QLabel* offlineNotice() const { return offline_; }
    QLabel* placeholder() const { return placeholder_; }
    QLabel* statusTitle() const { return title_; }

    /// The card's menu at `index`, opened at `globalPosition`; null when the card has none.
    QMenu* showContextMenu(const QModelIndex& index, const QPoint& globalPosition);

    void tableViewDidReloadData(joblark::TableView& tableView) override;
    void tableViewDidApply(joblark::TableView& tableView, const joblark::SnapshotDifference& difference,
                           bool animated) override;

    /// What the core's table binding does with the list's selection.
    std::optional<joblark::IndexPath> selectedPath() const;
    void selectPath(const joblark::IndexPath& path, DashboardTableView::ScrollPosition position);
    void clearSelection();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void showSnapshot();
    void applyFilter();
    void userSelectionChanged();
    void updateOfflineNotice();
    void updatePlaceholder();

    std::shared_ptr<AppContext> context_;
    std::shared_ptr<DashboardViewController> screen_;
    SnapshotListModel model_;
    CardListView* list_;
    SymbolView* symbol_;
    QLabel* title_;
    QLabel* description_;
    QLabel* offline_;
    QLabel* placeholder_;
    QLineEdit* find_;
    QToolButton* problems_;
    QToolButton* sort_;
    OverviewFilter::Sort sortOrder_ = OverviewFilter::Sort::creation;
    std::shared_ptr<DashboardTableView> tableBinding_;
    std::vector<std::shared_ptr<void>> bindings_; // the header's views, held for the screen's weak references
    bool applying_ = false;     // the model follows a snapshot: selection changes are not the user's
    bool programmatic_ = false; // the screen selects: not the user either
    std::uint64_t recordedGeneration_ = 0;
    std::optional<joblark::IndexPath> lastSelected_;
    std::vector<joblark::ObserverToken> observers_;
};

} // namespace kestrova::ui
