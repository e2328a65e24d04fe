#include "UI/Kit/ToolbarView.hpp"

#include "UI/Kit/Symbols.hpp"
#include "UI/Kit/Views.hpp"

#include <QLabel>

namespace kestrova::ui {
namespace {

QWidget* spacer(QWidget* parent) {
    auto* space = new QWidget(parent); // owned by the toolbar once added
    space->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Preferred);
    return space;
}

Qt::ToolButtonStyle buttonStyle(ToolbarDisplayMode mode) {
    switch (mode) {
    case ToolbarDisplayMode::iconAndLabel:
        return Qt::ToolButtonTextUnderIcon;
    case ToolbarDisplayMode::iconOnly:
    case ToolbarDisplayMode::automatic:
        break;
    }
    // Icons alone, with the tool tips: the look of a desktop toolbar.
    return Qt::ToolButtonIconOnly;
}

} // namespace

ToolbarView::ToolbarView(QMainWindow& window, std::shared_ptr<ToolbarDelegate> delegate,
                         const WindowConfiguration& configuration)
    : toolBar_(new QToolBar(&window)), delegate_(delegate) {
    toolBar_->setObjectName(toQString(configuration.toolbarIdentifier.value_or("toolbar")));
    toolBar_->setWindowTitle(QObject::tr("Toolbar"));
    toolBar_->setMovable(false);
    toolBar_->setFloatable(false);
    toolBar_->toggleViewAction()->setEnabled(false); // no menu entry hides it
    toolBar_->setContextMenuPolicy(Qt::PreventContextMenu);
    toolBar_->setToolButtonStyle(buttonStyle(configuration.toolbarDisplayMode));
    toolBar_->setIconSize(QSize(20, 20));
    window.addToolBar(Qt::TopToolBarArea, toolBar_);

    const std::weak_ptr<ToolbarDelegate> weak = delegate;
    for (const auto& identifier : delegate->defaultItemIdentifiers()) {
        if (identifier == ToolbarDelegate::flexibleSpaceIdentifier ||
            identifier == ToolbarDelegate::primarySidebarTrackingSeparatorIdentifier) {
            // The tracking separator puts what follows over the detail pane: at the far end here.
            toolBar_->addWidget(spacer(toolBar_));
            continue;
        }
        if (identifier == ToolbarDelegate::dashboardTitleIdentifier ||
            identifier == ToolbarDelegate::overviewTitleIdentifier) {
            auto* title = new QLabel(toQString(configuration.title), toolBar_);
            QFont font = title->font();
            font.setBold(true);
            title->setFont(font);
            toolBar_->addWidget(title);
            continue;
        }
        auto item = delegate->item(identifier);
        if (!item)
            continue;
        const QString tip = toQString(item->toolTip.value_or(item->label.value_or(identifier)));
        auto* action = new QAction(toQString(item->label.value_or("")), toolBar_);
        if (item->image)
            symbols_.emplace(std::string(identifier), *item->image);
        if (!item->label || item->label->empty())
            action->setText(tip);
        action->setToolTip(tip);
        action->setObjectName(toQString(identifier));
        action->setEnabled(item->canBePressed());
        if (item->label && !item->isBordered && item->action &&
            (*item->action == ToolbarAction::showGeneralPreferences ||
             *item->action == ToolbarAction::showAboutPreferences)) {
            // The preferences' pane items: one of them is the selected one.
            if (!selectable_) {
                selectable_ = new QActionGroup(toolBar_);
                selectable_->setExclusive(true);
            }
            action->setCheckable(true);
            selectable_->addAction(action);
        }
        QObject::connect(action, &QAction::triggered, toolBar_, [weak, identifier = std::string(identifier)] {
            if (auto self = weak.lock())
                self->perform(self->item(identifier));
        });
        toolBar_->addAction(action);
        if (auto* button = toolBar_->widgetForAction(action)) {
            button->setAccessibleName(tip);
            button->setObjectName(toQString(identifier));
        }
        actions_.emplace(std::string(identifier), action);
    }
    // A preferences toolbar centres its pane items.
    if (configuration.toolbarStyle == ToolbarStyle::preference)
        toolBar_->addWidget(spacer(toolBar_));
    if (configuration.selectedToolbarItemIdentifier)
        setSelectedItemIdentifier(*configuration.selectedToolbarItemIdentifier);
    applyPalette(window.palette(), window.devicePixelRatioF());
}

void ToolbarView::applyPalette(const QPalette& palette, qreal devicePixelRatio) {
    const int side = toolBar_ ? toolBar_->iconSize().height() : 20;
    for (const auto& [identifier, symbol] : symbols_) {
        auto* item = action(identifier);
        if (!item)
            continue;
        QIcon icon;
        icon.addPixmap(tintedSymbol(symbol, palette.color(QPalette::ButtonText), side, devicePixelRatio),
                       QIcon::Normal);
        icon.addPixmap(tintedSymbol(symbol, palette.color(QPalette::Disabled, QPalette::ButtonText), side,
                                    devicePixelRatio),
                       QIcon::Disabled);
        item->setIcon(icon);
    }
}

void ToolbarView::setSelectedItemIdentifier(const std::string& identifier) {
    if (auto* selected = action(identifier); selected && selected->isCheckable())
        selected->setChecked(true);
}

void ToolbarView::itemDidChange(const ToolbarItem& item) {
    if (auto* changed = action(item.itemIdentifier))
        changed->setEnabled(item.canBePressed());
}

QAction* ToolbarView::action(std::string_view identifier) const {
    auto found = actions_.find(identifier);
    return found == actions_.end() ? nullptr : found->second.data();
}

} // namespace kestrova::ui
