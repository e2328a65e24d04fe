#include "UI/Kit/Symbols.hpp"

#include <QFile>
#include <QPainter>

#include <map>

namespace kestrova::ui {
namespace {

const std::map<std::string, QStringList>& symbolThemeNames() {
    static const std::map<std::string, QStringList> names{
        {"checkmark.circle.fill", {"emblem-ok-symbolic", "emblem-default-symbolic", "emblem-ok"}},
        {"exclamationmark.triangle.fill", {"dialog-warning-symbolic", "dialog-warning"}},
        {"sidebar.left", {"sidebar-show-symbolic", "view-dual-symbolic"}},
        {"rectangle.grid.2x2", {"view-grid-symbolic", "view-app-grid-symbolic"}},
        {"arrow.clockwise", {"view-refresh-symbolic", "view-refresh"}},
        {"plus", {"list-add-symbolic", "list-add"}},
        {"trash", {"user-trash-symbolic", "edit-delete-symbolic", "edit-delete"}},
        {"gear", {"preferences-system-symbolic", "emblem-system-symbolic", "preferences-system"}},
        {"info.circle", {"help-about-symbolic", "dialog-information-symbolic", "help-about"}},
    };
    return names;
}

QString bundledPath(const std::string& symbolName) {
    return QStringLiteral(":/icons/%1.svg").arg(QString::fromStdString(symbolName));
}

} // namespace

QStringList themeNamesForSymbol(const std::string& symbolName) {
    auto it = symbolThemeNames().find(symbolName);
    return it == symbolThemeNames().end() ? QStringList() : it->second;
}

QIcon symbolIcon(const std::string& symbolName) {
    for (const auto& name : themeNamesForSymbol(symbolName))
        if (QIcon::hasThemeIcon(name))
            return QIcon::fromTheme(name);
    const auto path = bundledPath(symbolName);
    return QFile::exists(path) ? QIcon(path) : QIcon();
}

QPixmap tintedSymbol(const std::string& symbolName, const QColor& tint, int logicalSize, qreal dpr) {
    const QIcon icon = symbolIcon(symbolName);
    if (icon.isNull())
        return {};
    const int device = qRound(logicalSize * dpr);
    QPixmap pixmap(device, device);
    pixmap.fill(Qt::transparent);
    {
        // Paint the shape, then keep its alpha and replace its colour: symbolic icons are one colour.
        QPainter painter(&pixmap);
        icon.paint(&painter, QRect(0, 0, device, device));
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), tint);
    }
    pixmap.setDevicePixelRatio(dpr);
    return pixmap;
}

} // namespace kestrova::ui
