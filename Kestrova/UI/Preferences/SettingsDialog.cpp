#include "UI/Preferences/SettingsDialog.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/Views.hpp"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

namespace kestrova::ui {
namespace {

// The screen's table: its rows are buttons, and a selected button needs no deselecting.
class RowsBinding : public WidgetBinding<kestrova::TableView, QWidget> {
public:
    using WidgetBinding::WidgetBinding;
    void deselectRow(std::size_t, std::size_t, bool) override {}
};

} // namespace

SettingsDialog::SettingsDialog(std::shared_ptr<AppContext> context, QWidget* parent)
    : QDialog(parent), screen_(std::make_shared<SettingsViewController>(
                           context->controller, context->appDelegate->pushRegistration())),
      context_(std::move(context)) {
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(tr("Account Settings"));
    setObjectName(QStringLiteral("settingsDialog"));
    resize(640, 560);

    auto* layout = new QVBoxLayout(this); // owned by the dialog
    layout->setContentsMargins(20, 16, 20, 16);
    const auto& sections = SettingsViewController::sections();
    for (std::size_t s = 0; s < sections.size(); ++s) {
        auto* group = new QGroupBox(toQString(sections[s].title), this);
        auto* rows = new QVBoxLayout(group);
        auto* buttons = new QHBoxLayout;
        for (std::size_t r = 0; r < sections[s].rows.size(); ++r) {
            const auto& row = sections[s].rows[r];
            if (row.reuseIdentifier == "pushNotifications") {
                auto* line = new QHBoxLayout;
                auto* caption = new QLabel(toQString(row.title), group);
                push_ = new ToggleSwitch(group);
                push_->setAccessibleName(toQString(row.title));
                caption->setBuddy(push_);
                line->addWidget(caption, 1);
                line->addWidget(push_);
                rows->addLayout(line);
                pushReason_ = new QLabel(group);
                pushReason_->setWordWrap(true);
                pushReason_->setForegroundRole(QPalette::PlaceholderText);
                rows->addWidget(pushReason_);
                continue;
            }
            auto* button = new QPushButton(toQString(row.title), group);
            button->setObjectName(toQString(row.reuseIdentifier));
            button->setAccessibleName(toQString(row.title));
            button->setAutoDefault(false);
            const std::weak_ptr<SettingsViewController> weak = screen_;
            connect(button, &QPushButton::clicked, this, [weak, s, r] {
                if (auto screen = weak.lock())
                    screen->didSelectRow(s, r);
            });
            buttons->addWidget(button);
        }
        buttons->addStretch(1);
        rows->addLayout(buttons);
        layout->addWidget(group);
    }
    browser_ = new WebContentBrowser(this);
    browser_->setMinimumHeight(200);
    browser_->hide(); // until a page is chosen
    layout->addWidget(browser_, 1);

    auto rows = std::make_shared<RowsBinding>(this);
    auto host = std::make_shared<WidgetHost>(this);
    host->onDismiss = [this] { QDialog::done(QDialog::Accepted); };
    host->onSegue = [this](const std::string& identifier) {
        auto page = std::make_shared<WebContentViewController>(context_->platform, context_->resources);
        screen_->prepare(identifier, page);
        browser_->show();
        browser_->showPage(page);
    };
    bindings_ = {rows, host};
    screen_->tableView = rows;
    screen_->host = host;
    if (push_) {
        auto push = std::make_shared<SwitchBinding>(push_);
        auto reason = std::make_shared<LabelBinding>(pushReason_);
        bindings_.insert(bindings_.end(), {push, reason});
        screen_->setPushNotificationsSwitch(push);
        screen_->setPushNotificationsUnavailableLabel(reason);
        const std::weak_ptr<SettingsViewController> weak = screen_;
        connect(push_, &ToggleSwitch::clicked, this, [weak] {
            if (auto screen = weak.lock())
                screen->togglePushNotifications();
        });
    }
    screen_->viewDidLoad();
    screen_->viewWillAppear();
}

SettingsDialog::~SettingsDialog() {
    screen_->viewDidDisappear();
}

QPushButton* SettingsDialog::row(const QString& reuseIdentifier) const {
    return findChild<QPushButton*>(reuseIdentifier);
}

} // namespace kestrova::ui
