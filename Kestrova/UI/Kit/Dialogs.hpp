#pragma once

// The core's alerts and menus as Qt dialogs and menus, and what it asks of the desktop.

#include "Presentation/ViewKit.hpp"

#include <QMenu>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

#include <functional>
#include <memory>

namespace kestrova::ui {

/// Opens `alert` over `parent` without blocking (window-modal). The destructive action is marked
/// as such, the cancel action answers Escape and closing the window; the chosen action's handler
/// runs after the box has closed. Returns the box (deleted when it closes). Alerts do not stack: one
/// with the title and message of an alert already open over `parent` is not opened again, and one
/// that only informs updates the message of an informing alert with its title.
QPointer<QMessageBox> presentAlert(QWidget* parent, Alert alert);

/// Fills `menu` with `content`: actions in order, inline sub-menus as groups between separators,
/// other sub-menus as sub-menus. A handler runs after the menu has closed.
void fillMenu(QMenu& menu, const Menu& content);

/// Opens URLs with the desktop (QDesktopServices) and copies to the clipboard.
class DesktopPlatform : public Platform {
public:
    void openURL(const joblark::URL& url) override;
    void setPasteboardString(std::string text) override;
};

/// A screen's host in a widget: alerts over its window; dismiss closes the dialog or window it is in
/// (or runs `onDismiss` instead, for a dialog that refuses to be closed by the user).
class WidgetHost : public ViewControllerHost {
public:
    explicit WidgetHost(QWidget* widget) : widget_(widget) {}
    void present(Alert alert) override;
    void dismiss(std::function<void()> completion = nullptr) override;
    std::function<void()> onDismiss;
    /// Called with the identifier by performSegue; the window decides what it opens.
    std::function<void(const std::string&)> onSegue;
    void performSegue(const std::string& identifier) override {
        if (onSegue)
            onSegue(identifier);
    }

private:
    QPointer<QWidget> widget_;
};

/// Loads the bundled resources (icons, pages) of the static UI library.
void initResources();

} // namespace kestrova::ui
