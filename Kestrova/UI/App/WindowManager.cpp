#include "UI/App/WindowManager.hpp"

#include "UI/App/Commands.hpp"
#include "UI/Dashboard/DashboardWindow.hpp"
#include "UI/Overview/OverviewWindow.hpp"
#include "UI/Preferences/PreferencesWindow.hpp"
#include "UI/Preferences/SettingsDialog.hpp"
#include "UI/Update/UpdateWindow.hpp"

#include "Model/UIError.hpp"

#include "joblark/Tasks/TaskController.hpp"

#include <QApplication>

#include <algorithm>

namespace kestrova::ui {

WindowManager::WindowManager(std::shared_ptr<AppContext> context) : context_(std::move(context)) {}

WindowManager::~WindowManager() {
    observers_.clear();
}

void WindowManager::observe() {
    auto& center = joblark::NotificationCenter::defaultCenter();
    // The overview window shows the application's errors. With none open (the dashboard's refresh),
    // the active window shows them the same way rather than nobody at all.
    observers_.push_back(center.addObserver(
        std::string(AppStateController::someonePleaseHandleThisError), std::nullopt,
        [weak = weak_from_this()](const joblark::Notification& notification) {
            joblark::ensureMainThread([weak, error = notification.object.asError()] {
                auto self = weak.lock();
                if (!self || self->window(WindowKind::overview))
                    return;
                QWidget* over = QApplication::activeWindow();
                if (!over && !self->windows().empty())
                    over = self->windows().back();
                if (!over)
                    return;
                Alert alert;
                if (auto ui = std::dynamic_pointer_cast<const UIError>(error)) {
                    alert.title = ui->title;
                    alert.message = ui->description;
                } else {
                    alert.title = "An Error Occurred";
                    alert.message = error ? error->localizedDescription() : std::string("Unknown error");
                }
                alert.actions.push_back({"Done", AlertAction::Style::defaultStyle, nullptr});
                presentAlert(over, std::move(alert));
            });
        }));
    // Signing out from the dashboard or the preferences must still end at the sign-in dialog, which
    // the overview window shows.
    observers_.push_back(center.addObserver(
        std::string(AppStateController::didLogout), std::nullopt,
        [weak = weak_from_this()](const joblark::Notification&) {
            joblark::ensureMainThread([weak] {
                auto self = weak.lock();
                if (self && !self->window(WindowKind::overview) && self->context_->appDelegate)
                    self->context_->appDelegate->openOverviewOrMakeKeyAndVisible();
            });
        }));
}

std::vector<SceneWindow*> WindowManager::windows() const {
    std::vector<SceneWindow*> open;
    for (const auto& w : windows_)
        if (w && w->isVisible()) // a closed window is hidden until it is deleted
            open.push_back(w);
    return open;
}

SceneWindow* WindowManager::window(SceneSessionIdentifier session) const {
    for (auto* w : windows())
        if (w->sceneIdentifier() == session)
            return w;
    return nullptr;
}

SceneWindow* WindowManager::window(WindowKind kind) const {
    for (auto* w : windows())
        if (w->kind() == kind)
            return w;
    return nullptr;
}

std::optional<WindowSystem::SceneSessionIdentifier> WindowManager::findWindow(WindowKind kind) {
    if (auto* found = window(kind))
        return found->sceneIdentifier();
    return std::nullopt;
}

void WindowManager::activateSceneSession(std::optional<SceneSessionIdentifier> session,
                                         std::optional<UserActivity> activity,
                                         std::function<void(joblark::ErrorPtr)> errorHandler) {
    if (session) {
        if (auto* found = window(*session)) {
            found->activate(activity);
            return;
        }
        if (errorHandler)
            errorHandler(joblark::makeError("No window has the session " + std::to_string(*session)));
        return;
    }
    const auto configuration = AppDelegate::configurationForConnecting(activity);
    if (!open(configuration.delegateClass, activity) && errorHandler)
        errorHandler(joblark::makeError("The window \"" + configuration.name + "\" could not be made"));
}

SceneWindow* WindowManager::open(WindowKind kind, const std::optional<UserActivity>& activity) {
    auto app = context_->appDelegate;
    if (!app)
        return nullptr;
    auto delegate = app->makeSceneDelegate(kind);
    if (!delegate)
        return nullptr;
    const auto scene = nextScene_++;
    SceneWindow* made = nullptr;
    switch (kind) {
    case WindowKind::overview:
        made = new OverviewWindow(context_, delegate, scene);
        break;
    case WindowKind::dashboard:
        made = new DashboardWindow(context_, delegate, scene);
        break;
    case WindowKind::preferences:
        made = new PreferencesWindow(context_, delegate, scene);
        break;
    case WindowKind::update:
        made = new UpdateWindow(context_, delegate, scene);
        break;
    }
    // Top-level and deleted when closed (WA_DeleteOnClose); the list holds it weakly.
    windows_.erase(std::remove_if(windows_.begin(), windows_.end(), [](const auto& w) { return w.isNull(); }),
                   windows_.end());
    windows_.emplace_back(made);
    // A new window of a kind opens a little below and right of the previous one of that kind.
    int sameKind = 0;
    for (auto* w : windows())
        sameKind += w->kind() == kind ? 1 : 0;
    if (sameKind > 0)
        made->move(made->pos() + QPoint(28, 28) * sameKind);
    made->activate(activity);
    return made;
}

void WindowManager::revalidateMainMenu() {
    for (auto* w : windows())
        if (auto* commands = w->findChild<CommandActions*>(QString(), Qt::FindDirectChildrenOnly))
            commands->revalidate();
}

void WindowManager::openSettings() {
    QWidget* over = QApplication::activeWindow();
    if (!over && !windows().empty())
        over = windows().back();
    if (auto* open = over ? over->findChild<SettingsDialog*>() : nullptr) {
        open->raise();
        open->activateWindow();
        return;
    }
    auto* dialog = new SettingsDialog(context_, over); // deleted when closed
    dialog->open();
}

void WindowManager::terminate() {
    closeAll();
    QApplication::quit();
}

void WindowManager::closeAll() {
    observers_.clear();
    for (auto* w : windows())
        w->close();
}

} // namespace kestrova::ui
