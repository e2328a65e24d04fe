#pragma once

// The core's system colours in the application's palette, light or dark.

#include "Presentation/ViewKit.hpp"

#include <QColor>
#include <QPalette>

namespace kestrova::ui {

/// True when the palette's window colour is dark.
bool isDark(const QPalette& palette);
/// The colour for `color` under `palette`. Status colours have a light and a dark variant, each
/// chosen to read as text on that palette's window and to carry white or black text as a fill.
QColor color(Color color, const QPalette& palette);
/// Black or white, whichever reads better on `background`.
QColor textColorOn(const QColor& background);

/// The Fusion palettes the screenshots and tests render with, independent of the desktop's.
QPalette lightPalette();
QPalette darkPalette();

} // namespace kestrova::ui
