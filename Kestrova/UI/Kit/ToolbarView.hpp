#pragma once

// A window's toolbar from the core's ToolbarDelegate: one action per item, the toolkit's spaces as
// stretching spacers, enabled states and the selected pane item kept in step with the delegate.

#include "Shell/SceneDelegate.hpp"
#include "Shell/ToolbarDelegate.hpp"

#include <QAction>
#include <QActionGroup>
#include <QMainWindow>
#include <QPointer>
#include <QToolBar>

#include <map>
#include <memory>
#include <string>

namespace kestrova::ui {

class ToolbarView : public Toolbar {
public:
    /// Adds the toolbar to `window`, which owns it.
    ToolbarView(QMainWindow& window, std::shared_ptr<ToolbarDelegate> delegate,
                const WindowConfiguration& configuration);

    void setSelectedItemIdentifier(const std::string& identifier) override;
    void itemDidChange(const ToolbarItem& item) override;

    QToolBar* toolBar() const { return toolBar_; }
    /// The item's action; null for an identifier without one (spaces, titles).
    QAction* action(std::string_view identifier) const;
    /// Draws the items' symbols in the palette's button text colour (light or dark).
    void applyPalette(const QPalette& palette, qreal devicePixelRatio);

private:
    QPointer<QToolBar> toolBar_;
    std::weak_ptr<ToolbarDelegate> delegate_;
    std::map<std::string, QPointer<QAction>, std::less<>> actions_;
    std::map<std::string, std::string, std::less<>> symbols_; // by identifier
    QPointer<QActionGroup> selectable_;
};

} // namespace kestrova::ui
