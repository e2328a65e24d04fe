#include "UI/Desktop/StatusGlyph.hpp"

#include <QPainterPath>

#include <algorithm>

namespace kestrova::ui {

StatusGlyph glyphForStatusColor(Color color) {
    switch (color) {
    case Color::systemGreen:
        return StatusGlyph::check;
    case Color::systemOrange:
        return StatusGlyph::exclamation;
    case Color::systemRed:
        return StatusGlyph::cross;
    default:
        return StatusGlyph::none;
    }
}

void paintStatusGlyph(QPainter& painter, const QRectF& rect, StatusGlyph glyph, const QColor& ink) {
    if (glyph == StatusGlyph::none)
        return;
    const double side = std::min(rect.width(), rect.height());
    const QRectF box(rect.center().x() - side / 2, rect.center().y() - side / 2, side, side);
    auto at = [&](double x, double y) { return QPointF(box.left() + x * side, box.top() + y * side); };
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    QPen pen(ink, std::max(1.5, side * 0.16), Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    QPainterPath path;
    switch (glyph) {
    case StatusGlyph::check:
        path.moveTo(at(0.18, 0.52));
        path.lineTo(at(0.42, 0.76));
        path.lineTo(at(0.82, 0.26));
        painter.drawPath(path);
        break;
    case StatusGlyph::exclamation:
        painter.drawLine(at(0.5, 0.16), at(0.5, 0.58));
        painter.setBrush(ink);
        painter.setPen(Qt::NoPen);
        painter.drawEllipse(at(0.5, 0.82), pen.widthF() * 0.65, pen.widthF() * 0.65);
        break;
    case StatusGlyph::cross:
        painter.drawLine(at(0.24, 0.24), at(0.76, 0.76));
        painter.drawLine(at(0.76, 0.24), at(0.24, 0.76));
        break;
    case StatusGlyph::dash:
        painter.drawLine(at(0.22, 0.5), at(0.78, 0.5));
        break;
    case StatusGlyph::none:
        break;
    }
    painter.restore();
}

void paintStatusTile(QPainter& painter, const QRectF& slot, Color tileColor, const QColor& fill,
                     const QColor& outline) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    if (glyphForStatusColor(tileColor) == StatusGlyph::none) {
        // No status: an outline, so the slot reads as "checked, result unknown", not as empty.
        const double radius = std::min({4.0, slot.width() / 2, slot.height() / 2});
        painter.setPen(QPen(outline, 1));
        painter.setBrush(Qt::NoBrush);
        painter.drawRoundedRect(slot.adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
        painter.restore();
        return;
    }
    const double share = tileColor == Color::systemRed      ? 1.0 / 3
                         : tileColor == Color::systemOrange ? 2.0 / 3
                                                            : 1.0;
    const double height = slot.height() * share;
    const double radius = std::min({4.0, slot.width() / 2, height / 2});
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(QRectF(slot.left(), slot.bottom() - height, slot.width(), height), radius,
                            radius);
    painter.restore();
}

} // namespace kestrova::ui
