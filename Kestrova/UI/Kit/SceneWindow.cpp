#include "UI/Kit/SceneWindow.hpp"

#include "UI/Kit/Views.hpp"

#include "joblark/Foundation/NotificationCenter.hpp"

#include <QCloseEvent>
#include <QTimer>

#include <cmath>

namespace kestrova::ui {

SceneWindow::SceneWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                         std::int64_t sceneIdentifier, QWidget* parent)
    : QMainWindow(parent), context_(std::move(context)), delegate_(std::move(delegate)),
      scene_(sceneIdentifier) {
    setAttribute(Qt::WA_DeleteOnClose);
}

SceneWindow::~SceneWindow() {
    disconnectScene();
}

void SceneWindow::connectScene(bool withMenuBar) {
    const auto wanted = delegate_->configuration();
    if (wanted.toolbarIdentifier && delegate_->toolbarDelegate)
        toolbar_ = std::make_shared<ToolbarView>(*this, delegate_->toolbarDelegate, wanted);
    const auto applied = delegate_->sceneWillConnect(scene_, toolbar_);
    setWindowTitle(toQString(applied.title));
    setObjectName(toQString(applied.title));
    if (context_->installCommands)
        context_->installCommands(*this, withMenuBar);
    auto size = [](const WindowSize& s) {
        return QSize(static_cast<int>(std::lround(s.width)), static_cast<int>(std::lround(s.height)));
    };
    if (applied.maximumSize && *applied.maximumSize == applied.minimumSize) {
        setFixedSize(size(applied.minimumSize));
    } else {
        setMinimumSize(size(applied.minimumSize));
        if (applied.maximumSize)
            setMaximumSize(size(*applied.maximumSize));
    }
}

void SceneWindow::activate(const std::optional<UserActivity>&) {
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

void SceneWindow::closeEvent(QCloseEvent* event) {
    QMainWindow::closeEvent(event);
    if (!event->isAccepted())
        return;
    if (!disconnected_)
        windowWillClose();
    disconnectScene();
}

void SceneWindow::disconnectScene() {
    if (disconnected_)
        return;
    disconnected_ = true;
    delegate_->sceneDidDisconnect();
    joblark::NotificationCenter::defaultCenter().post(std::string(sceneDidDisconnectNotification),
                                                      joblark::Value(scene_));
}

void SceneWindow::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    if (event->type() == QEvent::PaletteChange) {
        if (toolbar_)
            toolbar_->applyPalette(palette(), devicePixelRatioF());
        appearanceDidChange();
    }
}

bool SceneWindow::event(QEvent* event) {
    const bool handled = QMainWindow::event(event);
    if (event->type() == QEvent::UpdateRequest && !painted_) {
        // The backing store was flushed: the window's content is on screen.
        painted_ = true;
        QTimer::singleShot(0, this, &SceneWindow::firstPaint);
    }
    return handled;
}

} // namespace kestrova::ui
