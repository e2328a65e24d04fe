#include "UI/Details/MeasureDetailPane.hpp"

#include "UI/Kit/Dialogs.hpp"

namespace kestrova::ui {

MeasureDetailPane::MeasureDetailPane(std::shared_ptr<AppContext> context, std::int64_t sceneIdentifier,
                                     QWidget* parent)
    : DetailPane(std::move(context), parent),
      screen_(std::make_shared<MeasureDetailViewController>(context_->controller)) {
    setObjectName(QStringLiteral("measureDetail"));
    screen_->sceneIdentifier = sceneIdentifier;
    layout_->addWidget(uptime_);
    layout_->addWidget(chartContainer_);
    auto* recent = addText(tr("Recent Behaviour"), tr("Recent behaviour"));
    auto* criteria = addText(tr("Criteria"), tr("Criteria"));
    auto* timestamps = addText(QString(), tr("Timestamps"));
    timestamps->setForegroundRole(QPalette::PlaceholderText);
    layout_->addSpacing(6);
    addSwitch(tr("Assess this measure"), status_);
    auto* publicRow = addSwitch(tr("Show on the public status page"), public_);
    layout_->addStretch(1);

    screen_->recentBehaviorLabel = keep(std::make_shared<LabelBinding>(recent));
    screen_->configurationDescriptionLabel = keep(std::make_shared<LabelBinding>(criteria));
    screen_->timestampsLabel = keep(std::make_shared<LabelBinding>(timestamps));
    screen_->chartContainerView = keep(std::make_shared<ViewBinding>(chartContainer_));
    screen_->chartView = makeChartBinding();
    screen_->statusSwitch = keep(std::make_shared<SwitchBinding>(status_));
    screen_->publicSwitch = keep(std::make_shared<SwitchBinding>(public_));
    screen_->publicContainerView = keep(std::make_shared<ViewBinding>(publicRow));
    screen_->host = keep(std::make_shared<WidgetHost>(this));

    const std::weak_ptr<MeasureDetailViewController> weak = screen_;
    connect(status_, &ToggleSwitch::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->statusSwitchWasChanged();
    });
    connect(public_, &ToggleSwitch::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->publicSwitchWasChanged();
    });
}

MeasureDetailPane::~MeasureDetailPane() {
    screen_->viewDidDisappear();
}

void MeasureDetailPane::load() {
    screen_->viewDidLoad();
    setTitle(screen_->title);
    screen_->viewWillAppear();
    if (screen_->measure && screen_->measure->id)
        followUptime(*screen_->measure->id, AppStateController::measuresDidChange);
    screen_->viewDidAppear();
}

} // namespace kestrova::ui
