#pragma once

// The desktop program as the window tests drive it: a quillnest-local of the test program's own, the
// application on a controller with a cache in a temporary folder, and small helpers to find rows,
// alerts and windows.

#include "LocalService.hpp"
#include "TemporaryEnvironment.hpp"

#include "UI/App/Application.hpp"
#include "UI/Overview/OverviewWindow.hpp"

#include "joblark/Foundation/Value.hpp"

#include <QAbstractButton>
#include <QMessageBox>

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::ui::tests {

inline constexpr int serviceDeadlineMs = 30'000;

/// quillnest-local --demo on a free loopback port, with a database in `directory`.
class DemoService {
public:
    DemoService(const std::filesystem::path& directory, const std::vector<std::string>& extraArguments);
    bool isRunning() const { return !url.empty() && !token.empty(); }
    /// GET of an API path with the demo token; absent when the request failed.
    std::optional<joblark::Value> get(const std::string& path, int* status = nullptr) const;

    std::string url;
    std::string token;

private:
    std::unique_ptr<kestrova::testing::ChildProcess> process_;
};

/// The application as the program runs it, on a controller of its own.
class AppHarness {
public:
    explicit AppHarness(const std::filesystem::path& folder);
    ~AppHarness();

    DesktopApplication& app() { return *app_; }
    AppStateController& controller() { return *controller_; }
    const std::shared_ptr<AppStateController>& sharedController() const { return controller_; }
    template <class Window>
    Window* window(WindowKind kind) {
        return qobject_cast<Window*>(app_->windows().window(kind));
    }
    OverviewWindow* overview() { return window<OverviewWindow>(WindowKind::overview); }

private:
    std::shared_ptr<AppStateController> controller_;
    std::unique_ptr<DesktopApplication> app_;
};

/// The model index of the card named `name`, invalid when there is none.
QModelIndex rowNamed(OverviewSidebar& sidebar, const std::string& name);
/// Every card's name, section by section.
std::vector<std::string> rowNames(OverviewSidebar& sidebar);
/// The first visible alert over `window` (or any window when null).
QMessageBox* openAlert(QWidget* window = nullptr);
QAbstractButton* buttonNamed(QMessageBox& box, const QString& text);
/// The demo data as the screenshots and the cold start use it: five endpoints and three measures
/// with full histories, as the demo looks once it has run for a while.
std::shared_ptr<AppState> demoState();

} // namespace kestrova::ui::tests
