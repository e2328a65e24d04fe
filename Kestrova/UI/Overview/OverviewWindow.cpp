#include "UI/Overview/OverviewWindow.hpp"

#include "UI/Details/EndpointDetailPane.hpp"
#include "UI/Details/MeasureDetailPane.hpp"
#include "UI/Forms/AddEndpointDialog.hpp"
#include "UI/Forms/LoginDialog.hpp"

#include <QAction>
#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cmath>

namespace kestrova::ui {
namespace {

// The sidebar gets the configured share of the window, but never so little that its cards turn
// narrow (under 250 px) nor so much that the detail is squeezed.
constexpr int minimumSidebar = 290;
constexpr int maximumSidebar = 440;

class SplitBinding : public SplitView {
public:
    explicit SplitBinding(OverviewWindow* window) : window_(window) {}
    void apply(const SplitViewConfiguration& configuration) override { configuration_ = configuration; }
    void setDisplayMode(SplitViewDisplayMode mode) override {
        if (window_)
            window_->setSidebarShown(mode == SplitViewDisplayMode::oneBesideSecondary);
    }
    void showBlankDetail() override {
        if (window_)
            window_->showBlankDetail();
    }
    SplitViewConfiguration configuration_;

private:
    QPointer<OverviewWindow> window_;
};

} // namespace

OverviewWindow::OverviewWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                               std::int64_t sceneIdentifier)
    : SceneWindow(std::move(context), std::move(delegate), sceneIdentifier),
      list_(std::make_shared<DashboardViewController>(context_->controller, context_->platform)),
      split_(std::make_shared<MainSplitViewController>(context_->controller)), splitter_(new QSplitter(this)),
      sidebar_(new OverviewSidebar(context_, list_, splitter_)), details_(new QStackedWidget(splitter_)),
      blank_(new QLabel(tr("Select an endpoint or a measure to see its details."), details_)) {
    setObjectName(QStringLiteral("overviewWindow"));
    resize(1100, 720);
    static_cast<QLabel*>(blank_)->setAlignment(Qt::AlignCenter);
    blank_->setForegroundRole(QPalette::PlaceholderText);
    blank_->setObjectName(QStringLiteral("BlankEndpointView"));
    details_->addWidget(blank_);
    splitter_->addWidget(sidebar_);
    splitter_->addWidget(details_);
    splitter_->setChildrenCollapsible(false);
    splitter_->setStretchFactor(0, 0);
    splitter_->setStretchFactor(1, 1);
    sidebar_->setMinimumWidth(260);
    setCentralWidget(splitter_);

    // The list: its detail transitions open panes beside it.
    listHost_ = std::make_shared<WidgetHost>(sidebar_);
    listHost_->onSegue = [this](const std::string& identifier) { performListSegue(identifier); };
    list_->host = listHost_;
    list_->sceneIdentifier = sceneIdentifier;
    list_->viewDidLoad();

    // The split view: sign-in, add-endpoint, errors and the sidebar.
    auto binding = std::make_shared<SplitBinding>(this);
    splitBinding_ = binding;
    splitHost_ = std::make_shared<WidgetHost>(this);
    splitHost_->onSegue = [this](const std::string& identifier) { performSplitSegue(identifier); };
    split_->host = splitHost_;
    split_->splitView = splitBinding_;
    split_->sceneIdentifier = sceneIdentifier;
    split_->viewDidLoad();
    sidebarFraction_ = binding->configuration_.preferredPrimaryColumnWidthFraction;

    connectScene(true);
    auto* find = new QAction(tr("Find"), this); // owned by the window
    find->setShortcut(QKeySequence::Find);
    connect(find, &QAction::triggered, this, [this] {
        setSidebarShown(true);
        sidebar_->findField()->setFocus(Qt::ShortcutFocusReason);
        sidebar_->findField()->selectAll();
    });
    addAction(find);

    list_->viewWillAppear();
}

OverviewWindow::~OverviewWindow() {
    // Panes and dialogs go with the window; their screens first, while the list still exists.
    delete detail_.data();
}

void OverviewWindow::activate(const std::optional<UserActivity>& activity) {
    const bool first = !isVisible() && !appeared_;
    if (first) {
        const int width = this->width();
        const int sidebar = std::clamp(static_cast<int>(std::lround(width * sidebarFraction_)),
                                       minimumSidebar, maximumSidebar);
        splitter_->setSizes({sidebar, width - sidebar});
    }
    SceneWindow::activate(activity);
    if (first) {
        appeared_ = true;
        // Once on screen: a pending selection, and the sign-in dialog over a visible window.
        QPointer<OverviewWindow> self(this);
        QTimer::singleShot(0, this, [self] {
            if (!self)
                return;
            self->list_->viewDidAppear();
            self->split_->viewDidAppear();
        });
    }
}

void OverviewWindow::windowWillClose() {
    list_->viewDidDisappear();
    delete detail_.data();
}

void OverviewWindow::setSidebarShown(bool shown) {
    sidebar_->setVisible(shown);
}

void OverviewWindow::showBlankDetail() {
    details_->setCurrentWidget(blank_);
    if (detail_)
        detail_->deleteLater();
    detail_ = nullptr;
}

void OverviewWindow::showDetail(QWidget* pane) {
    if (detail_)
        detail_->deleteLater(); // its screen stops observing as it goes
    detail_ = pane;
    details_->addWidget(pane);
    details_->setCurrentWidget(pane);
}

void OverviewWindow::performListSegue(const std::string& identifier) {
    if (identifier == DashboardViewController::showEndpointDetail) {
        auto* pane = new EndpointDetailPane(context_, sceneIdentifier(), details_);
        list_->prepare(identifier, pane->screen());
        pane->load();
        showDetail(pane);
    } else if (identifier == DashboardViewController::showMeasureDetail) {
        auto* pane = new MeasureDetailPane(context_, sceneIdentifier(), details_);
        list_->prepare(identifier, pane->screen());
        pane->load();
        showDetail(pane);
    }
}

namespace {

// Every overview window hears the requests for a dialog; the one in front (else the oldest) answers.
bool answersForTheApplication(const OverviewWindow* window) {
    if (auto* active = qobject_cast<OverviewWindow*>(QApplication::activeWindow()))
        return active == window;
    for (auto* widget : QApplication::topLevelWidgets())
        if (auto* overview = qobject_cast<OverviewWindow*>(widget); overview && overview->isVisible())
            return overview == window;
    return true;
}

} // namespace

void OverviewWindow::performSplitSegue(const std::string& identifier) {
    if (!answersForTheApplication(this))
        return;
    if (identifier == MainSplitViewController::showLoginSegue) {
        if (login_) {
            login_->raise();
            login_->activateWindow();
            return;
        }
        login_ = new LoginDialog(context_, this); // deleted when it closes
        login_->open();
    } else if (identifier == MainSplitViewController::showAddEndpointSegue) {
        if (add_) {
            add_->raise();
            add_->activateWindow();
            return;
        }
        add_ = new AddEndpointDialog(context_, this);
        add_->open();
    }
}

} // namespace kestrova::ui
