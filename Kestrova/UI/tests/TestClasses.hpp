#pragma once

#include <QObject>

#include <memory>

namespace kestrova::ui::tests {

std::unique_ptr<QObject> makeMainLoopTests();
std::unique_ptr<QObject> makeReconciliationModelTests();
std::unique_ptr<QObject> makeKitTests();
std::unique_ptr<QObject> makeScreenshotTests();
std::unique_ptr<QObject> makeWindowTests();
std::unique_ptr<QObject> makeFaultTests();

} // namespace kestrova::ui::tests
