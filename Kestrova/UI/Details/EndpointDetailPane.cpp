#include "UI/Details/EndpointDetailPane.hpp"

#include "UI/Kit/Cards.hpp"
#include "UI/Kit/Dialogs.hpp"

namespace kestrova::ui {
namespace {

// The badges in a row, each drawn by a BadgeWidget its Badge re-titles and re-colours.
class BadgeRow : public BadgeStackView {
public:
    explicit BadgeRow(QWidget* row) : row_(row) {}
    void setArrangedBadges(const std::vector<std::shared_ptr<Badge>>& badges) override {
        if (!row_)
            return;
        for (auto* old : row_->findChildren<BadgeWidget*>(QString(), Qt::FindDirectChildrenOnly))
            delete old; // owned by the row; removed from its layout as it goes
        bindings_.clear();
        auto* layout = static_cast<QHBoxLayout*>(row_->layout());
        int at = 0;
        for (const auto& badge : badges) {
            auto* widget = new BadgeWidget(row_);
            widget->setBadge(toQString(badge->title()), badge->backgroundColor());
            auto binding = std::make_shared<BadgeBinding>(widget);
            badge->view = binding;
            bindings_.push_back(binding);
            layout->insertWidget(at++, widget);
        }
    }

private:
    QPointer<QWidget> row_;
    std::vector<std::shared_ptr<BadgeBinding>> bindings_;
};

} // namespace

EndpointDetailPane::EndpointDetailPane(std::shared_ptr<AppContext> context, std::int64_t sceneIdentifier,
                                       QWidget* parent)
    : DetailPane(std::move(context), parent),
      screen_(std::make_shared<EndpointDetailViewController>(context_->controller)),
      badges_(new QWidget(page_)) {
    setObjectName(QStringLiteral("endpointDetail"));
    screen_->sceneIdentifier = sceneIdentifier;
    auto* badgeLayout = new QHBoxLayout(badges_);
    badgeLayout->setContentsMargins(0, 0, 0, 0);
    badgeLayout->setSpacing(6);
    badgeLayout->addStretch(1); // the spacer after the badges
    badges_->setAccessibleName(tr("Status"));
    layout_->addWidget(badges_);
    layout_->addWidget(uptime_);
    layout_->addWidget(chartContainer_);
    auto* recent = addText(tr("Recent Behaviour"), tr("Recent behaviour"));
    auto* configuration = addText(tr("Configuration"), tr("Configuration"));
    auto* timestamps = addText(QString(), tr("Timestamps"));
    timestamps->setForegroundRole(QPalette::PlaceholderText);
    layout_->addSpacing(6);
    addSwitch(tr("Check this endpoint"), status_);
    auto* publicRow = addSwitch(tr("Show on the public status page"), public_);
    addSwitch(tr("Require a valid certificate"), cert_);
    layout_->addStretch(1);

    screen_->recentBehaviorLabel = keep(std::make_shared<LabelBinding>(recent));
    screen_->configurationDescriptionLabel = keep(std::make_shared<LabelBinding>(configuration));
    screen_->timestampsLabel = keep(std::make_shared<LabelBinding>(timestamps));
    screen_->badgeStackView = keep(std::make_shared<BadgeRow>(badges_));
    screen_->chartView = makeChartBinding();
    screen_->statusSwitch = keep(std::make_shared<SwitchBinding>(status_));
    screen_->publicSwitch = keep(std::make_shared<SwitchBinding>(public_));
    screen_->certSwitch = keep(std::make_shared<SwitchBinding>(cert_));
    screen_->publicContainerView = keep(std::make_shared<ViewBinding>(publicRow));
    auto host = keep(std::make_shared<WidgetHost>(this));
    screen_->host = host;

    // clicked, not toggled: only what the user does is sent; re-renders set the switches quietly.
    const std::weak_ptr<EndpointDetailViewController> weak = screen_;
    auto forward = [weak](void (EndpointDetailViewController::*action)()) {
        return [weak, action] {
            if (auto s = weak.lock())
                ((*s).*action)();
        };
    };
    connect(status_, &ToggleSwitch::clicked, this,
            forward(&EndpointDetailViewController::statusSwitchWasChanged));
    connect(public_, &ToggleSwitch::clicked, this,
            forward(&EndpointDetailViewController::publicSwitchWasChanged));
    connect(cert_, &ToggleSwitch::clicked, this,
            forward(&EndpointDetailViewController::certSwitchWasChanged));
}

EndpointDetailPane::~EndpointDetailPane() {
    screen_->viewDidDisappear();
}

void EndpointDetailPane::load() {
    screen_->viewDidLoad();
    setTitle(screen_->title);
    screen_->viewWillAppear();
    if (screen_->endpoint && screen_->endpoint->id)
        followUptime(*screen_->endpoint->id, AppStateController::endpointsDidChange);
    screen_->viewDidAppear();
}

} // namespace kestrova::ui
