#pragma once

// Status told by shape as well as colour: the glyph a badge or the tray icon carries, and the
// shape of a history tile, so that ok, degraded, down and unknown stay apart in greyscale and for
// readers who do not tell red from green.

#include "Presentation/ViewKit.hpp"

#include <QColor>
#include <QPainter>
#include <QRectF>

namespace kestrova::ui {

enum class StatusGlyph {
    none,
    check,       ///< ok
    exclamation, ///< degraded
    cross,       ///< down
    dash         ///< no status to tell (offline, unknown)
};

/// The glyph of a status colour (green, orange, red); `none` for any other colour.
StatusGlyph glyphForStatusColor(Color color);

/// Strokes `glyph` centred in `rect` (kept square) in `ink`.
void paintStatusGlyph(QPainter& painter, const QRectF& rect, StatusGlyph glyph, const QColor& ink);

/// A history tile's shape within its slot: ok fills the slot, degraded two thirds of it and down
/// one third, from the bottom (the bar dips where things went wrong); an entry without a status is
/// an outline. Paints the tile in `fill`, the outline in `outline`.
void paintStatusTile(QPainter& painter, const QRectF& slot, Color tileColor, const QColor& fill,
                     const QColor& outline);

} // namespace kestrova::ui
