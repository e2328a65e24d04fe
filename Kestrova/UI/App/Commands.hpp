#pragma once

// The menu bar of AppDelegate::mainMenu() in a window: File, View, Window and Help, each command an
// action with its shortcuts (Ctrl where other desktops use Command) that the application delegate
// performs. Titles and enabled states are validated again whenever a menu opens and when the
// delegate asks (the auto-refresh title follows its preference).

#include "Shell/AppDelegate.hpp"

#include <QAction>
#include <QMainWindow>
#include <QPointer>

#include <functional>
#include <memory>
#include <vector>

namespace kestrova::ui {

class CommandActions : public QObject {
    Q_OBJECT
public:
    /// `extra` runs for the program's own entries that are not the delegate's commands
    /// ("Account Settings…").
    CommandActions(QMainWindow& window, std::weak_ptr<AppDelegate> appDelegate, bool withMenuBar,
                   std::function<void()> openSettings);

    /// Titles and enabled states from the delegate's validation.
    void revalidate();
    /// The action of a command, for tests.
    QAction* action(CommandAction command) const;

private:
    struct Entry {
        QPointer<QAction> action;
        Command command;
    };
    std::weak_ptr<AppDelegate> appDelegate_;
    std::vector<Entry> entries_;
};

} // namespace kestrova::ui
