#pragma once

// The screens name images by symbol ("checkmark.circle.fill"); here they become freedesktop theme
// icons, or the SVGs bundled with the program when the theme has none.

#include <QColor>
#include <QIcon>
#include <QPixmap>

#include <string>

namespace kestrova::ui {

/// The theme icon names tried for a symbol, best first; empty for an unknown symbol.
QStringList themeNamesForSymbol(const std::string& symbolName);
/// The icon for a symbol: the theme's, else the bundled one; a null icon for an unknown symbol.
QIcon symbolIcon(const std::string& symbolName);
/// The symbol drawn in one colour, `logicalSize` pixels square at the device pixel ratio `dpr`.
QPixmap tintedSymbol(const std::string& symbolName, const QColor& tint, int logicalSize, qreal dpr);

} // namespace kestrova::ui
