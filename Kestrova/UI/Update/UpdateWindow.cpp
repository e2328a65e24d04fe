#include "UI/Update/UpdateWindow.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Views.hpp"

#include "Forms/AboutPreferencesViewController.hpp"

#include <QHBoxLayout>
#include <QIcon>
#include <QVBoxLayout>

namespace kestrova::ui {

UpdateWindow::UpdateWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                           std::int64_t sceneIdentifier)
    : SceneWindow(std::move(context), std::move(delegate), sceneIdentifier),
      screen_(std::make_shared<UpdateViewController>(context_->controller, context_->platform)),
      title_(new QLabel), message_(new QLabel), spinner_(new Spinner),
      notes_(new QPushButton(tr("Release Notes…"))), download_(new QPushButton(tr("Download…"))),
      check_(new QPushButton(tr("Check for Updates"))) {
    setObjectName(QStringLiteral("updateWindow"));
    auto* central = new QWidget(this);
    auto* layout = new QHBoxLayout(central);
    layout->setContentsMargins(40, 40, 40, 32);
    layout->setSpacing(24);
    auto* icon = new QLabel(central);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/kestrova.svg")).pixmap(96, 96));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* column = new QVBoxLayout;
    column->setSpacing(12);
    QFont big = title_->font();
    big.setBold(true);
    big.setPointSizeF(big.pointSizeF() * 1.5);
    title_->setFont(big);
    title_->setWordWrap(true);
    title_->setAccessibleName(tr("Update status"));
    message_->setWordWrap(true);
    message_->setAccessibleName(tr("Update details"));
    // Before the plug-in has said anything: this build's version.
    title_->setText(tr("Software Update"));
    message_->setText(tr("This is Kestrova %1.")
                          .arg(toQString(AboutPreferencesViewController::defaultApplicationVersion())));
    auto* heading = new QHBoxLayout;
    heading->addWidget(title_, 1);
    heading->addWidget(spinner_, 0, Qt::AlignTop);
    column->addLayout(heading);
    column->addWidget(message_);
    column->addStretch(1);
    auto* buttons = new QHBoxLayout;
    notes_->hide();
    download_->hide();
    for (auto* button : {notes_, download_})
        button->setAccessibleName(button->text());
    check_->setAccessibleName(check_->text());
    check_->setObjectName(QStringLiteral("checkForUpdates"));
    buttons->addWidget(notes_);
    buttons->addWidget(download_);
    buttons->addStretch(1);
    buttons->addWidget(check_);
    column->addLayout(buttons);
    layout->addLayout(column, 1);
    setCentralWidget(central);

    auto title = std::make_shared<LabelBinding>(title_);
    auto message = std::make_shared<LabelBinding>(message_);
    auto spinner = std::make_shared<ActivityIndicatorBinding>(spinner_);
    auto notes = std::make_shared<PushButtonBinding>(notes_);
    auto download = std::make_shared<PushButtonBinding>(download_);
    auto host = std::make_shared<WidgetHost>(this);
    bindings_ = {title, message, spinner, notes, download, host};
    screen_->titleLabel = title;
    screen_->messageLabel = message;
    screen_->activityIndicator = spinner;
    screen_->releaseNotesButton = notes;
    screen_->downloadButton = download;
    screen_->host = host;
    screen_->sceneIdentifier = sceneIdentifier;

    const std::weak_ptr<UpdateViewController> weak = screen_;
    connect(notes_, &QPushButton::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->releaseNotesButtonWasPressed();
    });
    connect(download_, &QPushButton::clicked, this, [weak] {
        if (auto s = weak.lock())
            s->downloadButtonWasPressed();
    });
    const std::weak_ptr<AppDelegate> app = context_->appDelegate;
    connect(check_, &QPushButton::clicked, this, [app] {
        if (auto a = app.lock())
            a->checkForUpdates();
    });
    connectScene(false);
    screen_->viewDidLoad();
    screen_->viewWillAppear();
}

UpdateWindow::~UpdateWindow() = default;

void UpdateWindow::activate(const std::optional<UserActivity>& activity) {
    // As the menu command: enabled only with a plug-in that can look.
    check_->setEnabled(context_->appDelegate->sparklePlugin != nullptr);
    if (!check_->isEnabled())
        check_->setToolTip(tr("No update plug-in is installed."));
    SceneWindow::activate(activity);
    screen_->takePendingActivity();
}

void UpdateWindow::windowWillClose() {
    screen_->viewDidDisappear();
}

} // namespace kestrova::ui
