#include "UI/App/Application.hpp"

#include "UI/App/Commands.hpp"
#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/MainLoop.hpp"

#include "Model/Application.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <QApplication>
#include <QIcon>

#include <cstdlib>

namespace kestrova::ui {

DesktopApplication::DesktopApplication(Options options) : context_(std::make_shared<AppContext>()) {
    context_->controller = options.controller ? options.controller : AppStateController::shared();
    context_->platform = std::make_shared<DesktopPlatform>();
    windows_ = std::make_shared<WindowManager>(context_);

    AppDelegate::Options delegateOptions;
    delegateOptions.controller = [controller = context_->controller] { return controller; };
    if (options.pluginFolders)
        delegateOptions.pluginFolders = *options.pluginFolders;
    context_->appDelegate =
        std::make_shared<AppDelegate>(windows_, context_->platform, std::move(delegateOptions));

    if (options.historyFile)
        context_->history = HistoryRecorder::make(context_->controller, *options.historyFile);
    StatusNotificationCoordinator::registerDefaults();
    // The desktop's notification service comes with the desktop integration; until then the
    // coordinator only learns the statuses.
    notifications_ = StatusNotificationCoordinator::make(context_->controller, nullptr);

    const std::weak_ptr<WindowManager> weakWindows = windows_;
    context_->installCommands = [weakApp = std::weak_ptr<AppDelegate>(context_->appDelegate),
                                 weakWindows](QMainWindow& window, bool withMenuBar) {
        new CommandActions(window, weakApp, withMenuBar, [weakWindows] { // owned by the window
            if (auto windows = weakWindows.lock())
                windows->openSettings();
        });
    };
}

DesktopApplication::~DesktopApplication() {
    shutDown();
}

void DesktopApplication::launch() {
    context_->appDelegate->applicationDidFinishLaunching();
    windows_->observe();
    if (context_->history)
        context_->history->loadRecentEntries();
    // The first window, as a session with no activity gets it: the overview.
    windows_->activateSceneSession(std::nullopt, std::nullopt, nullptr);
}

void DesktopApplication::shutDown() {
    if (shutDown_)
        return;
    shutDown_ = true;
    windows_->closeAll();
    auto& controller = *context_->controller;
    if (controller.refreshTimer)
        controller.refreshTimer->invalidate();
    if (context_->history)
        context_->history->flush();
    controller.persist();
}

int runApplication(int argc, char* argv[]) {
    identifyApplication("error");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrova"));
    QApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QApplication::setDesktopFileName(QStringLiteral("kestrova"));
    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kestrova.svg")));

    MainLoopIntegration mainLoop;
    // Registered before the shared controller exists: it starts the refresh timer when they say so.
    AppStateController::registerDefaults();
    auto controller = AppStateController::shared(); // the cached state, shown at once

    const bool benchmark = std::getenv("KESTROVA_EXIT_AFTER_FIRST_PAINT") != nullptr;
    DesktopApplication::Options options;
    options.controller = controller;
    DesktopApplication desktop(options);
    desktop.launch();
    if (benchmark)
        if (auto* first = desktop.windows().window(WindowKind::overview))
            QObject::connect(first, &SceneWindow::firstPaint, &app, [] { std::_Exit(0); });
    const int status = QApplication::exec();
    desktop.shutDown();
    // Leave without tearing down the shared queue and session under work still in flight.
    std::_Exit(status);
}

} // namespace kestrova::ui
