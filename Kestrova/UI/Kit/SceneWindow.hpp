#pragma once

// The base of the program's four windows: a window of one kind, driven by its scene delegate. It
// applies the delegate's configuration (title, size limits, toolbar) when it connects and, when it
// closes, tells the delegate and posts the scene-disconnect notification with its scene identifier,
// so every screen in it stops observing.

#include "UI/Kit/AppContext.hpp"
#include "UI/Kit/ToolbarView.hpp"

#include "Shell/SceneDelegate.hpp"

#include <QMainWindow>

#include <cstdint>
#include <memory>
#include <optional>

namespace kestrova::ui {

class SceneWindow : public QMainWindow {
    Q_OBJECT
public:
    SceneWindow(std::shared_ptr<AppContext> context, std::shared_ptr<SceneDelegate> delegate,
                std::int64_t sceneIdentifier, QWidget* parent = nullptr);
    ~SceneWindow() override;

    std::int64_t sceneIdentifier() const { return scene_; }
    WindowKind kind() const { return delegate_->kind(); }
    SceneDelegate& sceneDelegate() const { return *delegate_; }
    ToolbarView* toolbarView() const { return toolbar_.get(); }

    /// Brought forward (or opened) for `activity`; the overview takes its selection from the inbox.
    virtual void activate(const std::optional<UserActivity>& activity);

Q_SIGNALS:
    /// The window's content has been painted once (the cold-start benchmark stops there).
    void firstPaint();

protected:
    /// Makes the toolbar, connects the delegate and applies its configuration. Call once the window's
    /// content exists.
    void connectScene(bool withMenuBar);
    /// The window is closing: screens are told they disappear. The notification follows.
    virtual void windowWillClose() {}
    /// The palette changed (light or dark).
    virtual void appearanceDidChange() {}

    void closeEvent(QCloseEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

    std::shared_ptr<AppContext> context_;
    std::shared_ptr<SceneDelegate> delegate_;
    std::shared_ptr<ToolbarView> toolbar_;

private:
    void disconnectScene();
    std::int64_t scene_;
    bool disconnected_ = false;
    bool painted_ = false;
};

} // namespace kestrova::ui
