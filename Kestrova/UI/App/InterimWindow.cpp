#include "UI/App/InterimWindow.hpp"

#include "UI/Kit/Palette.hpp"
#include "UI/Kit/Views.hpp"

#include "Presentation/Cards.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <QEvent>
#include <QPointer>
#include <QVBoxLayout>

namespace kestrova::ui {
namespace {

// A row: which list it is in, and the resource's id (its position when it has none).
struct RowItem {
    bool measure = false;
    std::size_t position = 0;
    std::shared_ptr<const void> resource; ///< the model object shown; held, so its address stays its own
};

template <class Resource>
std::string keyOf(const Resource& resource, std::size_t position) {
    return resource.id.value_or("#" + std::to_string(position));
}

} // namespace

InterimWindow::InterimWindow(QWidget* parent)
    : QMainWindow(parent), list_(new CardListView), status_(new QLabel) {
    setWindowTitle(tr("Endpoints & Measures"));
    setMinimumSize(400, 400);
    resize(460, 640);
    auto* central = new QWidget; // owned by the window once set
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 8, 0, 0);
    status_->setContentsMargins(12, 4, 12, 4);
    QFont font = status_->font();
    font.setBold(true);
    font.setPointSizeF(font.pointSizeF() * 1.2);
    status_->setFont(font);
    status_->setAccessibleName(tr("Overall status"));
    layout->addWidget(status_);
    layout->addWidget(list_, 1);
    setCentralWidget(central);
    list_->setModel(&model_);
    list_->viewport()->installEventFilter(this);

    model_.setCellProvider([](const joblark::IndexPath&, const std::any& item) -> joblark::TableViewCellPtr {
        const auto* row = std::any_cast<RowItem>(&item);
        auto state = AppStateController::shared()->state;
        if (!row || !state)
            return nullptr;
        if (!row->measure && state->endpoints && row->position < state->endpoints->size()) {
            auto cell = std::make_shared<EndpointCardCell>();
            cell->configure(*(*state->endpoints)[row->position]);
            return cell;
        }
        if (row->measure && state->measures && row->position < state->measures->size()) {
            auto cell = std::make_shared<MeasureCardCell>();
            cell->configure(*(*state->measures)[row->position]);
            return cell;
        }
        return nullptr;
    });

    // Notifications come on the posting thread; the window hears them on its own, while it exists.
    QPointer<InterimWindow> self(this);
    auto reloadLater = [self](const joblark::Notification&) {
        joblark::ensureMainThread([self] {
            if (self)
                self->reload();
        });
    };
    auto& center = joblark::NotificationCenter::defaultCenter();
    for (auto name : {AppStateController::endpointsDidChange, AppStateController::measuresDidChange,
                      AppStateController::userDidChange})
        observers_.push_back(center.addObserver(std::string(name), std::nullopt, reloadLater));
    reload();
}

void InterimWindow::reload() {
    auto state = AppStateController::shared()->state;
    std::vector<SnapshotListModel::SectionContent> content;
    // Rows are keyed by id and repainted when their model object was replaced. Not by update time
    // alone: the cache keeps no histories, so the first sync brings them with the same update time.
    auto sameContent = [](const std::any& a, const std::any& b) {
        const auto* x = std::any_cast<RowItem>(&a);
        const auto* y = std::any_cast<RowItem>(&b);
        return x && y && x->resource == y->resource;
    };
    if (state && state->user) {
        if (state->endpoints && !state->endpoints->empty()) {
            auto& section = content.emplace_back();
            section.key = "Endpoint-Section";
            section.title = tr("Endpoints");
            for (std::size_t i = 0; i < state->endpoints->size(); ++i) {
                const auto& endpoint = *(*state->endpoints)[i];
                section.rowKeys.push_back(keyOf(endpoint, i));
                section.items.emplace_back(RowItem{false, i, (*state->endpoints)[i]});
            }
        }
        if (state->measures && !state->measures->empty()) {
            auto& section = content.emplace_back();
            section.key = "Measure-Section";
            section.title = tr("Measures");
            for (std::size_t i = 0; i < state->measures->size(); ++i) {
                const auto& measure = *(*state->measures)[i];
                section.rowKeys.push_back(keyOf(measure, i));
                section.items.emplace_back(RowItem{true, i, (*state->measures)[i]});
            }
        }
    }
    model_.apply(std::move(content), sameContent);

    OverallStatus overall = OverallStatus::ok;
    if (state && !state->allHaveStatus(OverallStatus::ok)) {
        if (state->anyHasStatus(OverallStatus::down))
            overall = OverallStatus::down;
        else if (state->anyHasStatus(OverallStatus::degraded))
            overall = OverallStatus::degraded;
    }
    const bool signedIn = AppStateController::shared()->isSignedIn();
    status_->setText(!signedIn                            ? tr("Not signed in: run kestrova-cli login")
                     : overall == OverallStatus::ok       ? tr("All Clear")
                     : overall == OverallStatus::degraded ? tr("Something's Up")
                                                          : tr("Uh Oh!"));
    QPalette palette = status_->palette();
    palette.setColor(QPalette::WindowText, color(statusColor(overall), this->palette()));
    status_->setPalette(palette);
}

bool InterimWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == list_->viewport() && event->type() == QEvent::Paint && !painted_) {
        painted_ = true;
        QMetaObject::invokeMethod(this, &InterimWindow::firstPaint, Qt::QueuedConnection);
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace kestrova::ui
