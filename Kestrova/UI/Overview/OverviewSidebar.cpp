#include "UI/Overview/OverviewSidebar.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Palette.hpp"

#include "Presentation/StatusPresentation.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <QActionGroup>
#include <QHBoxLayout>
#include <QItemSelectionModel>
#include <QKeyEvent>
#include <QVBoxLayout>

namespace kestrova::ui {
namespace {

// The core's list widget: the sidebar's selection.
class TableBinding : public DashboardTableView {
public:
    explicit TableBinding(OverviewSidebar* sidebar) : sidebar_(sidebar) {}
    std::optional<joblark::IndexPath> indexPathForSelectedRow() const override {
        return sidebar_ ? sidebar_->selectedPath() : std::nullopt;
    }
    void selectRow(const joblark::IndexPath& path, bool, ScrollPosition position) override {
        if (sidebar_)
            sidebar_->selectPath(path, position);
    }
    void deselectRow(const joblark::IndexPath&, bool) override {
        if (sidebar_)
            sidebar_->clearSelection();
    }
    void endRefreshing() override {} // the toolbar's refresh item shows progress, not the list

private:
    QPointer<OverviewSidebar> sidebar_;
};

template <class Resource>
std::uint64_t rowSignature(const Resource& resource, std::uint64_t recordedGeneration) {
    std::uint64_t signature = contentSignature(resource);
    // A card without a history draws the recorded one, which changes when it is loaded.
    if (!resource.history)
        signature ^= recordedGeneration * 0x9E3779B97F4A7C15ULL;
    return signature;
}

} // namespace

OverviewSidebar::OverviewSidebar(std::shared_ptr<AppContext> context,
                                 std::shared_ptr<DashboardViewController> list, QWidget* parent)
    : QWidget(parent), context_(std::move(context)), screen_(std::move(list)), list_(new CardListView(this)),
      symbol_(new SymbolView(30, this)), title_(new QLabel(this)), description_(new QLabel(this)),
      offline_(new QLabel(this)), placeholder_(new QLabel(this)), find_(new QLineEdit(this)),
      problems_(new QToolButton(this)), sort_(new QToolButton(this)) {
    setObjectName(QStringLiteral("sidebar"));
    auto* layout = new QVBoxLayout(this); // owned by the sidebar
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(6);

    auto* header = new QHBoxLayout;
    header->setContentsMargins(12, 12, 12, 2);
    header->setSpacing(10);
    header->addWidget(symbol_, 0, Qt::AlignTop);
    auto* texts = new QVBoxLayout;
    texts->setSpacing(2);
    QFont big = title_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.35);
    title_->setFont(big);
    title_->setAccessibleName(tr("Overall status"));
    description_->setWordWrap(true);
    description_->setAccessibleName(tr("Overall status description"));
    texts->addWidget(title_);
    texts->addWidget(description_);
    header->addLayout(texts, 1);
    layout->addLayout(header);

    offline_->setObjectName(QStringLiteral("offlineNotice"));
    offline_->setWordWrap(true);
    offline_->setMargin(6);
    offline_->setAutoFillBackground(true);
    offline_->setAccessibleName(tr("Connection"));
    offline_->setToolTip(tr("The service could not be reached. Kestrova keeps trying; Ctrl+R tries now."));
    offline_->hide();
    auto* notice = new QHBoxLayout;
    notice->setContentsMargins(10, 0, 10, 0);
    notice->addWidget(offline_);
    layout->addLayout(notice);

    auto* findRow = new QHBoxLayout;
    findRow->setContentsMargins(8, 0, 8, 0);
    findRow->setSpacing(4);
    find_->setPlaceholderText(tr("Find"));
    find_->setClearButtonEnabled(true);
    find_->setAccessibleName(tr("Find endpoints and measures"));
    find_->setObjectName(QStringLiteral("find"));
    problems_->setText(tr("Problems"));
    problems_->setCheckable(true);
    problems_->setToolTip(tr("Show only what is down or degraded"));
    problems_->setAccessibleName(tr("Show only problems"));
    sort_->setText(tr("Sort"));
    sort_->setToolTip(tr("Order of the cards"));
    sort_->setAccessibleName(tr("Sort order"));
    sort_->setPopupMode(QToolButton::InstantPopup);
    auto* sortMenu = new QMenu(sort_); // owned by the button
    auto* order = new QActionGroup(sortMenu);
    for (auto [text, value] : {std::pair{tr("Oldest First"), OverviewFilter::Sort::creation},
                               std::pair{tr("By Name"), OverviewFilter::Sort::name},
                               std::pair{tr("Worst First"), OverviewFilter::Sort::worstFirst}}) {
        QAction* choice = sortMenu->addAction(text);
        choice->setCheckable(true);
        choice->setChecked(value == sortOrder_);
        order->addAction(choice);
        connect(choice, &QAction::triggered, this, [this, value = value] {
            sortOrder_ = value;
            applyFilter();
        });
    }
    sort_->setMenu(sortMenu);
    findRow->addWidget(find_, 1);
    findRow->addWidget(problems_);
    findRow->addWidget(sort_);
    layout->addLayout(findRow);
    connect(find_, &QLineEdit::textChanged, this, &OverviewSidebar::applyFilter);
    connect(problems_, &QToolButton::toggled, this, &OverviewSidebar::applyFilter);

    placeholder_->setObjectName(QStringLiteral("placeholder"));
    placeholder_->setAlignment(Qt::AlignCenter);
    placeholder_->setWordWrap(true);
    placeholder_->setMargin(16);
    placeholder_->hide();
    layout->addWidget(placeholder_);
    layout->addWidget(list_, 1);

    // The screen's header and list views.
    auto image = std::make_shared<ImageBinding>(symbol_);
    auto title = std::make_shared<LabelBinding>(title_);
    auto description = std::make_shared<LabelBinding>(description_);
    screen_->headerView.statusImageView = image;
    screen_->headerView.statusLabel = title;
    screen_->headerView.statusDescriptionLabel = description;
    bindings_ = {image, title, description};
    tableBinding_ = std::make_shared<TableBinding>(this);
    screen_->table = tableBinding_;
    const std::weak_ptr<HistoryRecorder> history = context_->history;
    screen_->recordedHistory = [history](const std::string& id) -> const std::vector<HistoryPoint>* {
        auto recorder = history.lock();
        return recorder ? recorder->recentEntries(id) : nullptr;
    };

    const std::weak_ptr<DashboardViewController> weakScreen = screen_;
    model_.setCellProvider([weakScreen](const joblark::IndexPath& path, const std::any&) {
        auto screen = weakScreen.lock();
        return screen ? screen->tableView.cellForRow(path) : nullptr;
    });
    list_->setModel(&model_);
    list_->setObjectName(QStringLiteral("cards"));
    list_->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(list_, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        showContextMenu(list_->indexAt(position), list_->viewport()->mapToGlobal(position));
    });
    list_->installEventFilter(this);
    connect(list_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            &OverviewSidebar::userSelectionChanged);
    screen_->tableView.addObserver(this);

    QPointer<OverviewSidebar> self(this);
    auto& center = joblark::NotificationCenter::defaultCenter();
    observers_.push_back(center.addObserver(std::string(AppStateController::syncStatusDidChange),
                                            std::nullopt, [self](const joblark::Notification&) {
                                                joblark::ensureMainThread([self] {
                                                    if (self)
                                                        self->updateOfflineNotice();
                                                });
                                            }));
    observers_.push_back(center.addObserver(std::string(HistoryRecorder::recentEntriesDidLoad), std::nullopt,
                                            [self](const joblark::Notification&) {
                                                joblark::ensureMainThread([self] {
                                                    if (!self)
                                                        return;
                                                    ++self->recordedGeneration_;
                                                    self->screen_->reload();
                                                });
                                            }));
    updateOfflineNotice();
}

OverviewSidebar::~OverviewSidebar() {
    observers_.clear();
    screen_->tableView.removeObserver(this);
}

// --- the list ---------------------------------------------------------------------------------------

void OverviewSidebar::tableViewDidReloadData(joblark::TableView&) {
    showSnapshot();
}

void OverviewSidebar::tableViewDidApply(joblark::TableView&, const joblark::SnapshotDifference&, bool) {
    showSnapshot();
}

void OverviewSidebar::showSnapshot() {
    auto& dataSource = screen_->tableViewDataSource();
    const auto& snapshot = dataSource.snapshot();
    const auto& sections = snapshot.sectionIdentifiers();
    std::vector<SnapshotListModel::SectionContent> content;
    content.reserve(sections.size());
    for (std::size_t s = 0; s < sections.size(); ++s) {
        auto& section = content.emplace_back();
        section.key = sections[s].id;
        section.title = toQString(dataSource.titleForHeaderInSection(s).value_or(""));
        const auto kind = screen_->sectionKind(s);
        const auto rows = snapshot.itemIdentifiers(sections[s]);
        section.rowKeys.reserve(rows.size());
        section.items.reserve(rows.size());
        for (std::size_t r = 0; r < rows.size(); ++r) {
            section.rowKeys.push_back(rows[r].id);
            std::uint64_t signature = 0;
            if (kind == DashboardViewController::SectionKind::endpoints) {
                if (auto endpoint = screen_->endpointAt({s, r}))
                    signature = rowSignature(*endpoint, recordedGeneration_);
            } else if (auto measure = screen_->measureAt({s, r})) {
                signature = rowSignature(*measure, recordedGeneration_);
            }
            section.items.emplace_back(signature);
        }
    }
    applying_ = true;
    model_.apply(std::move(content), [](const std::any& a, const std::any& b) {
        return std::any_cast<std::uint64_t>(a) == std::any_cast<std::uint64_t>(b);
    });
    applying_ = false;
    updatePlaceholder();
}

std::optional<joblark::IndexPath> OverviewSidebar::selectedPath() const {
    const auto selected = list_->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    return model_.indexPath(selected.first());
}

void OverviewSidebar::selectPath(const joblark::IndexPath& path,
                                 DashboardTableView::ScrollPosition position) {
    const QModelIndex index = model_.index(path);
    if (!index.isValid())
        return;
    if (position == DashboardTableView::ScrollPosition::middle)
        list_->scrollTo(index, QAbstractItemView::PositionAtCenter);
    if (selectedPath() == path)
        return;
    programmatic_ = true;
    list_->selectionModel()->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
    programmatic_ = false;
    // The window's delete command follows the selection, whoever made it.
    joblark::NotificationCenter::defaultCenter().post(std::string(AppStateController::didSelect),
                                                      joblark::Value(joblark::ObjectPtr(screen_)));
}

void OverviewSidebar::clearSelection() {
    programmatic_ = true;
    list_->selectionModel()->clearSelection();
    programmatic_ = false;
}

void OverviewSidebar::userSelectionChanged() {
    if (applying_ || programmatic_)
        return;
    if (auto path = selectedPath()) {
        lastSelected_ = path;
        screen_->didSelectRow(*path);
    } else if (lastSelected_) {
        const auto previous = *lastSelected_;
        lastSelected_.reset();
        screen_->willDeselectRow(previous);
    }
}

QMenu* OverviewSidebar::showContextMenu(const QModelIndex& index, const QPoint& globalPosition) {
    const auto path = model_.indexPath(index);
    if (!path)
        return nullptr;
    const auto content = screen_->contextMenu(*path);
    if (!content)
        return nullptr;
    auto* menu = new QMenu(this); // deleted when closed
    menu->setAttribute(Qt::WA_DeleteOnClose);
    fillMenu(*menu, *content);
    menu->popup(globalPosition);
    return menu;
}

bool OverviewSidebar::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        std::vector<KeyInput> keys;
        if (key->key() == Qt::Key_Escape)
            keys.push_back(KeyInput::escape);
        else if (key->key() == Qt::Key_Delete || key->key() == Qt::Key_Backspace)
            keys.push_back(KeyInput::deleteKey);
        if (!keys.empty() && screen_->pressesBegan(keys)) {
            if (keys.front() == KeyInput::escape)
                lastSelected_.reset();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

// --- find, notices ----------------------------------------------------------------------------------

void OverviewSidebar::applyFilter() {
    screen_->setFilter({toStdString(find_->text().trimmed()), problems_->isChecked(), sortOrder_});
}

void OverviewSidebar::updateOfflineNotice() {
    const auto notice = DashboardHeaderView::offlineText(context_->controller->syncStatus());
    offline_->setText(notice ? toQString(*notice) : QString());
    QPalette colours = offline_->palette();
    QColor fill = color(Color::systemOrange, palette());
    fill.setAlphaF(0.2);
    colours.setColor(QPalette::Window, fill);
    offline_->setPalette(colours);
    offline_->setVisible(notice && context_->controller->isSignedIn());
    updatePlaceholder();
}

void OverviewSidebar::updatePlaceholder() {
    std::size_t rows = 0;
    for (std::size_t s = 0; s < model_.sectionCount(); ++s)
        rows += model_.rowCount(s);
    const auto& sync = context_->controller->syncStatus();
    QString text;
    if (rows == 0 && context_->controller->isSignedIn()) {
        if (screen_->filter().isActive())
            text = tr("Nothing matches.");
        else if (const auto& state = context_->controller->state;
                 state && state->endpoints && state->measures && state->endpoints->empty() &&
                 state->measures->empty())
            text = tr("No endpoints or measures yet.\nAdd an endpoint with File ▸ New Endpoint (Ctrl+N).");
        else if (!sync.lastSuccess && !sync.lastSyncFailed)
            text = tr("Loading…");
        else if (sync.lastSyncFailed)
            text = tr("Nothing is cached yet: the list fills in once the service can be reached.");
        else
            text = tr("No endpoints or measures yet.\nAdd an endpoint with File ▸ New Endpoint (Ctrl+N).");
    }
    placeholder_->setText(text);
    placeholder_->setVisible(!text.isEmpty());
}

} // namespace kestrova::ui
