// The desktop client's tests: real widgets on the offscreen platform, Joblark's main thread on the
// Qt loop as in the program. `kestrova_ui_tests CLASS [QtTest options]` runs one test class.

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

    const std::map<std::string, std::function<std::unique_ptr<QObject>()>> classes{
        {"MainLoopTests", kestrova::ui::tests::makeMainLoopTests},
        {"ReconciliationModelTests", kestrova::ui::tests::makeReconciliationModelTests},
        {"KitTests", kestrova::ui::tests::makeKitTests},
        {"ScreenshotTests", kestrova::ui::tests::makeScreenshotTests},
        {"WindowTests", kestrova::ui::tests::makeWindowTests},
        {"FaultTests", kestrova::ui::tests::makeFaultTests},
    };
    std::vector<char*> arguments{argv[0]};
    std::vector<std::string> selected;
    for (int i = 1; i < argc; ++i) {
        if (classes.count(argv[i]))
            selected.emplace_back(argv[i]);
        else
            arguments.push_back(argv[i]);
    }
    if (selected.empty())
        for (const auto& [name, make] : classes)
            selected.push_back(name);
    int failures = 0;
    for (const auto& name : selected) {
        auto object = classes.at(name)();
        failures += QTest::qExec(object.get(), static_cast<int>(arguments.size()), arguments.data());
    }
    return failures == 0 ? 0 : 1;
}
