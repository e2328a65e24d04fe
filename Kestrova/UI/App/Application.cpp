#include "UI/App/Application.hpp"

#include "UI/App/Commands.hpp"
#include "UI/Desktop/FreedesktopNotifications.hpp"
#include "UI/Desktop/SingleInstance.hpp"
#include "UI/Desktop/TrayStatusIcon.hpp"
#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/MainLoop.hpp"

#include "Model/Application.hpp"

#include "joblark/Foundation/MainThread.hpp"
#include "joblark/Foundation/NotificationCenter.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

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
    notifications_ = StatusNotificationCoordinator::make(context_->controller, options.notifications);

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
    // The delegate holds the window manager, which holds the context: let go of the delegate so
    // both can go (windows still closing keep the context, not the delegate).
    context_->appDelegate.reset();
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

    // Qt has taken its own arguments out; what is left is ours.
    std::vector<std::string> arguments;
    for (const auto& argument : QApplication::arguments().mid(1))
        arguments.push_back(argument.toStdString());
    const auto request = instanceRequest(arguments);
    if (!request) {
        std::fprintf(stderr, "kestrova: %s\n", request.error()->localizedDescription().c_str());
        return 2;
    }
    // Before any window: a start while the client runs only brings that one forward.
    SingleInstance instance;
    if (instance.start(*request) == SingleInstance::Role::handedOver)
        return 0;

    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kestrova.svg")));

    MainLoopIntegration mainLoop;
    // Registered before the shared controller exists: it starts the refresh timer when they say so.
    AppStateController::registerDefaults();
    TrayStatusIcon::registerDefaults();
    auto controller = AppStateController::shared(); // the cached state, shown at once

    const bool benchmark = std::getenv("KESTROVA_EXIT_AFTER_FIRST_PAINT") != nullptr;
    DesktopApplication::Options options;
    options.controller = controller;
    if (!benchmark)
        options.notifications = std::make_shared<FreedesktopNotificationService>();
    DesktopApplication desktop(options);

    auto& delegate = desktop.appDelegate();
    auto select = [&delegate, controller](const InstanceRequest& r) {
        if (!r.selectId || !selectResource(delegate, controller->state.get(), *r.selectId))
            delegate.openOverviewOrMakeKeyAndVisible();
    };
    instance.requested = select;

    TrayStatusIcon tray({
        .openOverview = [&delegate] { delegate.openOverviewOrMakeKeyAndVisible(); },
        .openDashboard = [&delegate] { delegate.openDashboardOrMakeKeyAndVisible(); },
        .refresh = [controller] { controller->sync(); },
        .quit = [&desktop] { desktop.windows().terminate(); },
        .muteUntil =
            [&desktop](std::optional<joblark::Date> until) { desktop.notifications().muteUntil(until); },
    });
    // Every sync's end, the timer's included, says whether the last refresh got through.
    auto syncEnds = joblark::NotificationCenter::defaultCenter().addObserver(
        std::string(AppStateController::syncStatusDidChange), std::nullopt,
        [&tray, controller](const joblark::Notification&) {
            joblark::ensureMainThread([&tray, controller] {
                tray.setLastRefreshSucceeded(!controller->syncStatus().lastSyncFailed);
            });
        });
    tray.follow(controller);

    desktop.launch();
    if (request->selectId)
        select(*request);
    if (benchmark)
        if (auto* first = desktop.windows().window(WindowKind::overview))
            QObject::connect(first, &SceneWindow::firstPaint, &app, [] { std::_Exit(0); });
    const int status = QApplication::exec();
    syncEnds.remove();
    desktop.shutDown();
    // Leave without tearing down the shared queue and session under work still in flight.
    std::_Exit(status);
}

} // namespace kestrova::ui
