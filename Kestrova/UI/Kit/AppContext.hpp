#pragma once

// What every window of the program works with: the state controller, the application delegate, the
// desktop, the local history and the sync status. One per program, shared by its windows.

#include "UI/Kit/Dialogs.hpp"

#include "Forms/ResourceBundle.hpp"
#include "Presentation/HistoryRecorder.hpp"
#include "Shell/AppDelegate.hpp"
#include "State/AppStateController.hpp"

#include <QMainWindow>

#include <functional>
#include <memory>

namespace kestrova::ui {

struct AppContext {
    std::shared_ptr<AppStateController> controller;
    std::shared_ptr<AppDelegate> appDelegate;
    std::shared_ptr<DesktopPlatform> platform;
    /// Absent when no history is kept (its database could not be opened, or tests).
    std::shared_ptr<HistoryRecorder> history;
    ResourceBundle resources{ResourceBundle::main()};
    /// Gives a window the menu bar (or, without one, the commands' shortcuts).
    std::function<void(QMainWindow& window, bool withMenuBar)> installCommands;
};

} // namespace kestrova::ui
