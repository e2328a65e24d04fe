// The desktop client's tests: real widgets on the offscreen platform, Joblark's main thread on the
// Qt loop as in the program. `kestrova_ui_tests CLASS [QtTest options]` runs one test class.

#include "TestClassRunner.hpp"
#include "TestClasses.hpp"

#include "UI/Kit/Dialogs.hpp"
#include "UI/Kit/MainLoop.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <QApplication>
#include <QTest>

#include <cstring>
#include <functional>
#include <map>
#include <memory>

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    kestrova::ui::initResources();
    kestrova::ui::MainLoopIntegration mainLoop;
    joblark::TaskController tasks;

    const kestrova::ui::tests::TestClasses classes{
        {"MainLoopTests", kestrova::ui::tests::makeMainLoopTests},
        {"ReconciliationModelTests", kestrova::ui::tests::makeReconciliationModelTests},
        {"KitTests", kestrova::ui::tests::makeKitTests},
        {"ScreenshotTests", kestrova::ui::tests::makeScreenshotTests},
        {"WindowTests", kestrova::ui::tests::makeWindowTests},
        {"FaultTests", kestrova::ui::tests::makeFaultTests},
    };
    return kestrova::ui::tests::runTestClasses(argc, argv, classes);
}
