#include "UI/App/Application.hpp"

#include "UI/App/InterimWindow.hpp"
#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/MainLoop.hpp"

#include "Model/Application.hpp"
#include "State/AppStateController.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <QApplication>
#include <QIcon>
#include <QTimer>

#include <cstdlib>

namespace kestrova::ui {

int runApplication(int argc, char* argv[]) {
    identifyApplication("error");
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Kestrova"));
    QApplication::setOrganizationName(QStringLiteral("Kestrova"));
    QApplication::setDesktopFileName(QStringLiteral("kestrova"));
    initResources();
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/kestrova.svg")));

    MainLoopIntegration mainLoop;
    joblark::TaskController tasks;
    AppStateController::registerDefaults();
    auto controller = AppStateController::shared();
    controller->load(); // the cached state shows at once; the sync below brings it up to date

    InterimWindow window;
    // For the cold-start benchmark: leave as soon as the list has been painted once.
    if (std::getenv("KESTROVA_EXIT_AFTER_FIRST_PAINT"))
        QObject::connect(&window, &InterimWindow::firstPaint, &app, [] { std::_Exit(0); });
    window.show();
    if (controller->isSignedIn() && !std::getenv("KESTROVA_EXIT_AFTER_FIRST_PAINT")) {
        controller->sync();
        controller->startRefreshTimer();
    }
    const int status = QApplication::exec();
    if (controller->refreshTimer)
        controller->refreshTimer->invalidate();
    controller->persist();
    // Leave without tearing down the shared queue and session under work still in flight.
    std::_Exit(status);
}

} // namespace kestrova::ui
