#include "UI/Desktop/TrayStatusIcon.hpp"

#include "UI/Desktop/StatusGlyph.hpp"
#include "UI/Kit/Palette.hpp"

#include "Presentation/StatusChangeNotifier.hpp"

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/UserDefaults.hpp"

#include <QApplication>
#include <QPainter>
#include <QPixmap>

#include <cmath>

namespace kestrova::ui {
namespace {

const joblark::Logger& desktopLog() {
    static const joblark::Logger log("Kestrova", "Desktop");
    return log;
}

StatusGlyph glyphFor(TrayStatus status) {
    switch (status) {
    case TrayStatus::ok:
        return StatusGlyph::check;
    case TrayStatus::degraded:
        return StatusGlyph::exclamation;
    case TrayStatus::down:
        return StatusGlyph::cross;
    case TrayStatus::offline:
        return StatusGlyph::dash;
    }
    return StatusGlyph::none;
}

} // namespace

TrayStatusIcon::TrayStatusIcon(Actions actions, QObject* parent)
    : QObject(parent), actions_(std::move(actions)), menu_(std::make_unique<QMenu>()) {
    menu_->setAccessibleName(tr("Kestrova"));
    // A mute may have run out since the last state change.
    connect(menu_.get(), &QMenu::aboutToShow, this, [this] {
        if (controller_)
            showFollowed();
    });
    if (isAvailable()) {
        tray_ = std::make_unique<QSystemTrayIcon>();
        tray_->setContextMenu(menu_.get());
        connect(tray_.get(), &QSystemTrayIcon::activated, this,
                [this](QSystemTrayIcon::ActivationReason reason) {
                    if (reason == QSystemTrayIcon::Trigger && actions_.openOverview)
                        actions_.openOverview();
                });
    } else {
        desktopLog().notice("[DESKTOP] No system tray: the status icon is off.");
    }
    show(TrayInput{});
    if (tray_)
        tray_->show();
}

TrayStatusIcon::~TrayStatusIcon() = default;

bool TrayStatusIcon::isAvailable() {
    return QSystemTrayIcon::isSystemTrayAvailable();
}

void TrayStatusIcon::registerDefaults() {
    joblark::UserDefaults::standard().registerDefaults({{std::string(kKeepRunningInTray), isAvailable()}});
}

bool TrayStatusIcon::keepsRunningInTray() {
    return isAvailable() && joblark::UserDefaults::standard().boolForKey(kKeepRunningInTray);
}

void TrayStatusIcon::follow(std::shared_ptr<AppStateController> controller) {
    controller_ = std::move(controller);
    observers_.clear();
    auto& center = joblark::NotificationCenter::defaultCenter();
    for (auto name :
         {AppStateController::userDidChange, AppStateController::endpointsDidChange,
          AppStateController::measuresDidChange, AppStateController::didLogin, AppStateController::didLogout})
        observers_.push_back(
            center.addObserver(std::string(name), std::nullopt, [this](const auto&) { showFollowed(); }));
    showFollowed();
}

void TrayStatusIcon::setLastRefreshSucceeded(bool succeeded) {
    lastRefreshSucceeded_ = succeeded;
    if (controller_)
        showFollowed();
}

void TrayStatusIcon::showFollowed() {
    TrayInput input;
    input.state = controller_ ? controller_->state.get() : nullptr;
    input.lastRefreshSucceeded = lastRefreshSucceeded_;
    const double until = joblark::UserDefaults::standard().doubleForKey(
        StatusNotificationCoordinator::kNotificationsMutedUntil);
    if (std::isfinite(until) && until > 0)
        input.mutedUntil = joblark::Date::fromTimeIntervalSince1970(until);
    show(input);
}

void TrayStatusIcon::show(const TrayInput& input) {
    const auto tray = trayPresentation(input);
    status_ = tray.status;
    toolTip_ = QString::fromStdString(tray.toolTip);
    // The entries are the same in every state: built once, then re-titled and enabled, so that an
    // entry's own action may re-show the tray without deleting itself.
    if (entries_.empty()) {
        bool first = true;
        for (const auto& group : tray.menu) {
            if (!first)
                menu_->addSeparator();
            first = false;
            for (const auto& item : group) {
                QAction* action = menu_->addAction(QString()); // owned by the menu
                const TrayAction which = item.action;
                connect(action, &QAction::triggered, this, [this, which] { perform(which); });
                entries_.emplace_back(which, action);
            }
        }
    }
    std::size_t index = 0;
    for (const auto& group : tray.menu)
        for (const auto& item : group)
            if (index < entries_.size()) {
                entries_[index].second->setText(QString::fromStdString(item.title));
                entries_[index++].second->setEnabled(item.isEnabled);
            }
    if (tray_) {
        if (iconStatus_ != status_)
            tray_->setIcon(iconFor(status_));
        tray_->setToolTip(toolTip_);
    }
    iconStatus_ = status_;
    QApplication::setQuitOnLastWindowClosed(!keepsRunningInTray());
}

QAction* TrayStatusIcon::entry(TrayAction action) const {
    for (const auto& [which, entry] : entries_)
        if (which == action)
            return entry;
    return nullptr;
}

void TrayStatusIcon::perform(TrayAction action) {
    auto call = [](const std::function<void()>& f) {
        if (f)
            f();
    };
    switch (action) {
    case TrayAction::openOverview:
        return call(actions_.openOverview);
    case TrayAction::openDashboard:
        return call(actions_.openDashboard);
    case TrayAction::refresh:
        return call(actions_.refresh);
    case TrayAction::quit:
        return call(actions_.quit);
    case TrayAction::muteForOneHour:
    case TrayAction::muteUntilTomorrow:
    case TrayAction::unmute:
        if (auto change = muteChange(action, joblark::Date()); change && actions_.muteUntil)
            actions_.muteUntil(*change);
        if (controller_)
            showFollowed();
        return;
    }
}

QIcon TrayStatusIcon::iconFor(TrayStatus status) {
    QIcon icon;
    const QColor fill = color(trayColor(status), lightPalette());
    const QColor ink = textColorOn(fill);
    for (int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(fill);
        const QRectF disc = QRectF(pixmap.rect()).adjusted(0.5, 0.5, -0.5, -0.5);
        painter.drawEllipse(disc);
        paintStatusGlyph(painter, disc.adjusted(size * 0.2, size * 0.2, -size * 0.2, -size * 0.2),
                         glyphFor(status), ink);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace kestrova::ui
