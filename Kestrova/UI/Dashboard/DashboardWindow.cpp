#include "UI/Dashboard/DashboardWindow.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Views.hpp"

#include <QContextMenuEvent>
#include <QKeyEvent>

#include <algorithm>

namespace kestrova::ui {
namespace {

class GridBinding : public DashboardCollectionView {
public:
    void endRefreshing() override {} // the toolbar's refresh item shows progress
};

} // namespace

DashboardWindow::DashboardWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                                 std::int64_t sceneIdentifier)
    : SceneWindow(std::move(context), std::move(delegate), sceneIdentifier),
      grid_(std::make_shared<DashboardCollectionViewController>(context_->controller, context_->platform,
                                                                context_->appDelegate)),
      scroll_(new QScrollArea(this)), canvas_(new QWidget), flow_(new CenteredFlowLayout(canvas_, 12)) {
    setObjectName(QStringLiteral("dashboardWindow"));
    resize(900, 640);
    scroll_->setWidgetResizable(true);
    scroll_->setFrameShape(QFrame::NoFrame);
    scroll_->setWidget(canvas_); // owns the canvas
    canvas_->setObjectName(QStringLiteral("grid"));
    canvas_->setAccessibleName(tr("Dashboard"));
    setCentralWidget(scroll_);

    host_ = std::make_shared<WidgetHost>(this);
    gridBinding_ = std::make_shared<GridBinding>();
    grid_->host = host_;
    grid_->grid = gridBinding_;
    grid_->sceneIdentifier = sceneIdentifier;
    const std::weak_ptr<HistoryRecorder> history = context_->history;
    grid_->recordedHistory = [history](const std::string& id) -> const std::vector<HistoryPoint>* {
        auto recorder = history.lock();
        return recorder ? recorder->recentEntries(id) : nullptr;
    };
    grid_->collectionView.addObserver(this);
    grid_->viewDidLoad();
    connectScene(true);
    grid_->viewWillAppear();

    QPointer<DashboardWindow> self(this);
    observers_.push_back(joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(HistoryRecorder::recentEntriesDidLoad), std::nullopt,
        [self](const joblark::Notification&) {
            joblark::ensureMainThread([self] {
                if (self)
                    self->showItems();
            });
        }));
}

DashboardWindow::~DashboardWindow() {
    observers_.clear();
    grid_->collectionView.removeObserver(this);
}

void DashboardWindow::windowWillClose() {
    grid_->viewDidDisappear();
}

void DashboardWindow::tableViewDidReloadData(joblark::TableView&) {
    showItems();
}

void DashboardWindow::tableViewDidApply(joblark::TableView&, const joblark::SnapshotDifference&, bool) {
    showItems();
}

std::vector<OverviewCardWidget*> DashboardWindow::cards() const {
    return cards_;
}

void DashboardWindow::showItems() {
    const auto& snapshot = grid_->dataSource().snapshot();
    const auto& items = snapshot.itemIdentifiers();
    // Cards are kept and configured again, as a collection view reuses its cells.
    while (cards_.size() > items.size()) {
        delete cards_.back(); // owned by the canvas; leaves the layout as it goes
        cards_.pop_back();
    }
    while (cards_.size() < items.size()) {
        auto* card = new OverviewCardWidget(canvas_);
        card->installEventFilter(this);
        card->setContextMenuPolicy(Qt::DefaultContextMenu);
        const std::size_t position = cards_.size();
        connect(card, &OverviewCardWidget::clicked, this, [this, position] {
            grid_->didSelectItem({0, position});
        });
        flow_->addWidget(card);
        cards_.push_back(card);
    }
    for (std::size_t i = 0; i < items.size(); ++i) {
        cards_[i]->showCell(grid_->cellFor(items[i]));
        cards_[i]->setObjectName(toQString(items[i].id));
    }
    canvas_->updateGeometry();
    flow_->invalidate();
}

QMenu* DashboardWindow::showContextMenu(std::size_t item, const QPoint& globalPosition) {
    const auto content = grid_->contextMenu({0, item});
    if (!content)
        return nullptr;
    auto* menu = new QMenu(this); // deleted when closed
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(*menu, *content);
    menu->popup(globalPosition);
    return menu;
}

bool DashboardWindow::eventFilter(QObject* watched, QEvent* event) {
    auto* card = qobject_cast<OverviewCardWidget*>(watched);
    const auto at = card ? std::find(cards_.begin(), cards_.end(), card) : cards_.end();
    if (at == cards_.end())
        return SceneWindow::eventFilter(watched, event);
    const auto position = static_cast<std::size_t>(at - cards_.begin());
    if (event->type() == QEvent::ContextMenu) {
        showContextMenu(position, static_cast<QContextMenuEvent*>(event)->globalPos());
        return true;
    }
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space) {
            grid_->didSelectItem({0, position});
            return true;
        }
    }
    return SceneWindow::eventFilter(watched, event);
}

} // namespace kestrova::ui
