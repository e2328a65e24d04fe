#include "UI/App/Commands.hpp"

#include "UI/Kit/Views.hpp"

#include <QCoreApplication>
#include <QKeySequence>
#include <QMenuBar>
#include <QTimer>

namespace kestrova::ui {
namespace {

QAction::MenuRole roleOf(CommandAction action) {
    switch (action) {
    case CommandAction::openPreferences:
        return QAction::PreferencesRole;
    case CommandAction::quit:
        return QAction::QuitRole;
    default:
        return QAction::NoRole;
    }
}

QString menuTitle(const std::string& title) {
    // Mnemonics as a Linux menu bar has them: Alt+F opens File.
    return QStringLiteral("&") + toQString(title);
}

} // namespace

CommandActions::CommandActions(QMainWindow& window, std::weak_ptr<AppDelegate> appDelegate, bool withMenuBar,
                               std::function<void()> openSettings)
    : QObject(&window), appDelegate_(std::move(appDelegate)) {
    auto delegate = appDelegate_.lock();
    if (!delegate)
        return;
    for (const auto& menu : delegate->mainMenu()) {
        QMenu* shown = withMenuBar ? window.menuBar()->addMenu(menuTitle(menu.title)) : nullptr;
        if (shown)
            connect(shown, &QMenu::aboutToShow, this, &CommandActions::revalidate);
        bool first = true;
        for (const auto& group : menu.groups) {
            if (shown && !first)
                shown->addSeparator();
            first = false;
            for (const auto& command : group) {
                auto* action = new QAction(toQString(command.title), &window); // owned by the window
                QList<QKeySequence> keys;
                for (const auto& shortcut : command.shortcuts)
                    keys << QKeySequence::fromString(toQString(shortcut), QKeySequence::PortableText);
                action->setShortcuts(keys);
                action->setMenuRole(roleOf(command.action));
                action->setEnabled(command.isEnabled);
                const auto performed = command.action;
                const auto weak = appDelegate_;
                // Queued: a command that opens or closes windows must not do so inside the menu's
                // own event handling.
                connect(action, &QAction::triggered, this, [weak, performed] {
                    QTimer::singleShot(0, qApp, [weak, performed] {
                        if (auto app = weak.lock())
                            app->perform(performed);
                    });
                });
                if (shown)
                    shown->addAction(action);
                // The shortcuts work in every window, with a menu bar or without.
                window.addAction(action);
                entries_.push_back({action, command});
            }
            if (shown && menu.title == "File" && group.size() == 2 &&
                group.front().action == CommandAction::manageAccount && openSettings) {
                auto* settings = shown->addAction(tr("Account Settings…"));
                settings->setObjectName(QStringLiteral("accountSettings"));
                connect(settings, &QAction::triggered, this,
                        [openSettings] { QTimer::singleShot(0, qApp, openSettings); });
            }
        }
    }
}

void CommandActions::revalidate() {
    auto delegate = appDelegate_.lock();
    if (!delegate)
        return;
    for (auto& entry : entries_) {
        if (!entry.action)
            continue;
        delegate->validate(entry.command);
        entry.action->setText(toQString(entry.command.title));
        entry.action->setEnabled(entry.command.isEnabled);
    }
}

QAction* CommandActions::action(CommandAction command) const {
    for (const auto& entry : entries_)
        if (entry.command.action == command)
            return entry.action;
    return nullptr;
}

} // namespace kestrova::ui
