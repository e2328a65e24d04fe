#pragma once

// Runs the Qt Test classes named on the command line (all of them when none is named); the other
// arguments go to Qt Test. One CTest case per class calls the program with that class's name.

#include <QObject>
#include <QTest>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kestrova::ui::tests {

using TestClasses = std::map<std::string, std::function<std::unique_ptr<QObject>()>>;

inline int runTestClasses(int argc, char** argv, const TestClasses& classes) {
    std::vector<char*> arguments{argv[0]};
    std::vector<std::string> selected;
    for (int i = 1; i < argc; ++i) {
        if (classes.count(argv[i]))
            selected.emplace_back(argv[i]);
        else
            arguments.push_back(argv[i]);
    }
    if (selected.empty())
        for (const auto& entry : classes)
            selected.push_back(entry.first);
    int failures = 0;
    for (const auto& name : selected) {
        auto object = classes.at(name)();
        failures += QTest::qExec(object.get(), static_cast<int>(arguments.size()), arguments.data());
    }
    return failures == 0 ? 0 : 1;
}

} // namespace kestrova::ui::tests
