#include "UI/Preferences/PreferencesWindow.hpp"

#include "UI/Desktop/TrayStatusIcon.hpp"
#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Views.hpp"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kestrova::ui {

PreferencesWindow::PreferencesWindow(std::shared_ptr<AppContext> context,
                                     std::shared_ptr<SceneDelegate> delegate, std::int64_t sceneIdentifier)
    : SceneWindow(std::move(context), std::move(delegate), sceneIdentifier),
      screen_(std::make_shared<PreferencesViewController>()),
      generalScreen_(std::make_shared<GeneralPreferencesViewController>(
          context_->controller, context_->platform, context_->appDelegate->pushRegistration())),
      aboutScreen_(std::make_shared<AboutPreferencesViewController>()), general_(new QWidget),
      about_(new QWidget) {
    setObjectName(QStringLiteral("preferencesWindow"));
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(general_);
    layout->addWidget(about_);
    setCentralWidget(central);
    buildGeneral();
    buildAbout();

    auto generalView = std::make_shared<WidgetBinding<View, QWidget>>(general_);
    auto aboutView = std::make_shared<WidgetBinding<View, QWidget>>(about_);
    auto host = std::make_shared<WidgetHost>(this);
    bindings_.insert(bindings_.end(), {generalView, aboutView, host});
    screen_->generalContainerView = generalView;
    screen_->aboutContainerView = aboutView;
    screen_->host = host;
    generalScreen_->host = host;
    for (ViewController* each :
         {static_cast<ViewController*>(screen_.get()), static_cast<ViewController*>(generalScreen_.get()),
          static_cast<ViewController*>(aboutScreen_.get())})
        each->sceneIdentifier = sceneIdentifier;
    screen_->viewDidLoad();
    connectScene(false);
    screen_->viewWillAppear();
    generalScreen_->viewWillAppear();
}

PreferencesWindow::~PreferencesWindow() = default;

void PreferencesWindow::windowWillClose() {
    generalScreen_->viewDidDisappear();
}

void PreferencesWindow::buildGeneral() {
    general_->setObjectName(QStringLiteral("general"));
    auto* outer = new QVBoxLayout(general_);
    outer->setContentsMargins(48, 28, 48, 24);
    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(18);
    form->setVerticalSpacing(14);

    autoRefresh_ = new ToggleSwitch(general_);
    autoRefresh_->setAccessibleName(tr("Refresh automatically"));
    form->addRow(tr("Refresh automatically:"), autoRefresh_);

    auto* intervalRow = new QHBoxLayout;
    slider_ = new QSlider(Qt::Horizontal, general_);
    slider_->setRange(static_cast<int>(GeneralPreferencesViewController::minimumRefreshInterval),
                      static_cast<int>(GeneralPreferencesViewController::maximumRefreshInterval));
    slider_->setSingleStep(5);
    slider_->setPageStep(30);
    slider_->setAccessibleName(tr("Refresh interval"));
    slider_->setObjectName(QStringLiteral("interval"));
    interval_ = new QLabel(general_);
    interval_->setMinimumWidth(interval_->fontMetrics().horizontalAdvance(QStringLiteral("600 seconds")) + 8);
    interval_->setAccessibleName(tr("Refresh interval in seconds"));
    intervalRow->addWidget(slider_, 1);
    intervalRow->addWidget(interval_);
    form->addRow(tr("Refresh every:"), intervalRow);

    auto* pushColumn = new QVBoxLayout;
    push_ = new ToggleSwitch(general_);
    push_->setAccessibleName(tr("Push notifications"));
    pushReason_ = new QLabel(general_);
    pushReason_->setWordWrap(true);
    pushReason_->setForegroundRole(QPalette::PlaceholderText);
    pushReason_->setAccessibleName(tr("Why push notifications are off"));
    pushColumn->addWidget(push_, 0, Qt::AlignLeft);
    pushColumn->addWidget(pushReason_);
    form->addRow(tr("Push notifications:"), pushColumn);

    notify_ = new ToggleSwitch(general_);
    notify_->setAccessibleName(tr("Notify me when a status changes"));
    form->addRow(tr("Notify me when a status changes:"), notify_);
    // Without a tray, closing the window quits whatever the preference says: no row to mislead.
    if (TrayStatusIcon::isAvailable()) {
        TrayStatusIcon::registerDefaults();
        keepInTray_ = new ToggleSwitch(general_);
        keepInTray_->setAccessibleName(tr("Keep running in the tray when the window is closed"));
        form->addRow(tr("Keep running in the tray when the window is closed:"), keepInTray_);
    }

    auto* account = new QPushButton(tr("Open Account Page…"), general_);
    account->setAccessibleName(tr("Open the account page in the browser"));
    auto* accountRow = new QHBoxLayout;
    accountRow->addWidget(account);
    accountRow->addStretch(1);
    form->addRow(tr("Account:"), accountRow);
    outer->addLayout(form);
    outer->addStretch(1);

    auto toggle = std::make_shared<SwitchBinding>(autoRefresh_);
    auto slider = std::make_shared<SliderBinding>(slider_);
    auto label = std::make_shared<LabelBinding>(interval_);
    auto push = std::make_shared<SwitchBinding>(push_);
    auto reason = std::make_shared<LabelBinding>(pushReason_);
    auto notify = std::make_shared<SwitchBinding>(notify_);
    bindings_.insert(bindings_.end(), {toggle, slider, label, push, reason, notify});
    generalScreen_->setNotifyOnStatusChangeSwitch(notify);
    if (keepInTray_) {
        auto keep = std::make_shared<SwitchBinding>(keepInTray_);
        bindings_.push_back(keep);
        generalScreen_->setKeepRunningInTraySwitch(keep);
    }
    generalScreen_->setAutoRefreshToggle(toggle);
    generalScreen_->setRefreshIntervalSlider(slider);
    generalScreen_->setCurrentRefreshIntervalLabel(label);
    generalScreen_->setPushNotificationsEnabledSwitch(push);
    generalScreen_->setPushNotificationsUnavailableLabel(reason);

    const std::weak_ptr<GeneralPreferencesViewController> weak = generalScreen_;
    auto forward = [weak](void (GeneralPreferencesViewController::*action)()) {
        return [weak, action] {
            if (auto s = weak.lock())
                ((*s).*action)();
        };
    };
    connect(autoRefresh_, &ToggleSwitch::clicked, this,
            forward(&GeneralPreferencesViewController::toggleAutoRefresh));
    // Every value the user moves to is stored, with the keyboard too; the screen sets it quietly.
    connect(slider_, &QSlider::valueChanged, this,
            forward(&GeneralPreferencesViewController::updateRefreshInterval));
    connect(push_, &ToggleSwitch::clicked, this,
            forward(&GeneralPreferencesViewController::pushNotificationsSwitchDidChange));
    connect(notify_, &ToggleSwitch::clicked, this,
            forward(&GeneralPreferencesViewController::notifyOnStatusChangeSwitchDidChange));
    if (keepInTray_)
        connect(keepInTray_, &ToggleSwitch::clicked, this,
                forward(&GeneralPreferencesViewController::keepRunningInTraySwitchDidChange));
    connect(account, &QPushButton::clicked, this,
            forward(&GeneralPreferencesViewController::accountSettingsButtonWasPressed));
}

void PreferencesWindow::buildAbout() {
    about_->setObjectName(QStringLiteral("about"));
    auto* layout = new QVBoxLayout(about_);
    layout->setContentsMargins(24, 16, 24, 16);
    auto* header = new QHBoxLayout;
    auto* icon = new QLabel(about_);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/kestrova.svg")).pixmap(48, 48));
    header->addWidget(icon);
    auto* names = new QVBoxLayout;
    auto* name = new QLabel(QStringLiteral("Kestrova"), about_);
    QFont big = name->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.4);
    name->setFont(big);
    auto* version = new QLabel(about_);
    version->setAccessibleName(tr("Version"));
    version->setObjectName(QStringLiteral("version"));
    names->addWidget(name);
    names->addWidget(version);
    header->addLayout(names, 1);
    layout->addLayout(header);

    auto* pages = new QHBoxLayout;
    for (const auto& page : resourcePages()) {
        auto* button = new QPushButton(toQString(page.title), about_);
        button->setAccessibleName(toQString(page.title));
        button->setObjectName(toQString(page.name));
        const std::weak_ptr<AboutPreferencesViewController> weak = aboutScreen_;
        connect(button, &QPushButton::clicked, this, [weak, name = page.name] {
            if (auto s = weak.lock())
                s->showPage(name);
        });
        pages->addWidget(button);
    }
    pages->addStretch(1);
    layout->addLayout(pages);
    browser_ = new WebContentBrowser(about_);
    layout->addWidget(browser_, 1);

    auto versionLabel = std::make_shared<LabelBinding>(version);
    bindings_.push_back(versionLabel);
    aboutScreen_->versionLabel = versionLabel;
    // The pane's transitions show their page in the browser below the buttons.
    auto host = std::make_shared<WidgetHost>(about_);
    bindings_.push_back(host);
    host->onSegue = [this](const std::string& identifier) {
        auto page = std::make_shared<WebContentViewController>(context_->platform, context_->resources);
        aboutScreen_->prepare(identifier, page);
        browser_->showPage(page);
    };
    aboutScreen_->host = host;
    aboutScreen_->viewDidLoad();
    aboutScreen_->showPage("about");
}

} // namespace kestrova::ui
