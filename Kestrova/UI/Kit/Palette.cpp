#include "UI/Kit/Palette.hpp"

namespace kestrova::ui {

bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}

QColor color(Color color, const QPalette& palette) {
    const bool dark = isDark(palette);
    switch (color) {
    case Color::systemGreen:
        return dark ? QColor(0x30, 0xD1, 0x58) : QColor(0x1E, 0x8E, 0x3E);
    case Color::systemOrange:
        return dark ? QColor(0xFF, 0x9F, 0x0A) : QColor(0xC7, 0x5C, 0x00);
    case Color::systemRed:
        return dark ? QColor(0xFF, 0x45, 0x3A) : QColor(0xD0, 0x2B, 0x20);
    case Color::systemBlue:
        return dark ? QColor(0x40, 0x9C, 0xFF) : QColor(0x00, 0x6B, 0xD6);
    case Color::systemGray:
        return dark ? QColor(0x98, 0x98, 0x9D) : QColor(0x6E, 0x6E, 0x73);
    case Color::systemBackground:
        return palette.color(QPalette::Base);
    case Color::label:
        return palette.color(QPalette::WindowText);
    case Color::clear:
        return Qt::transparent;
    }
    return palette.color(QPalette::WindowText);
}

QColor textColorOn(const QColor& background) {
    // Relative luminance with the sRGB weights; 0.5 splits where black and white contrast equally.
    const double luminance =
        0.2126 * background.redF() + 0.7152 * background.greenF() + 0.0722 * background.blueF();
    return luminance > 0.5 ? QColor(Qt::black) : QColor(Qt::white);
}

QPalette lightPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0xF5, 0xF5, 0xF7));
    p.setColor(QPalette::WindowText, QColor(0x1D, 0x1D, 0x1F));
    p.setColor(QPalette::Base, Qt::white);
    p.setColor(QPalette::AlternateBase, QColor(0xEE, 0xEE, 0xF0));
    p.setColor(QPalette::Text, QColor(0x1D, 0x1D, 0x1F));
    p.setColor(QPalette::Button, QColor(0xE8, 0xE8, 0xED));
    p.setColor(QPalette::ButtonText, QColor(0x1D, 0x1D, 0x1F));
    p.setColor(QPalette::Highlight, QColor(0x00, 0x6B, 0xD6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x6E, 0x6E, 0x73));
    p.setColor(QPalette::Link, QColor(0x00, 0x6B, 0xD6));
    p.setColor(QPalette::ToolTipBase, Qt::white);
    p.setColor(QPalette::ToolTipText, QColor(0x1D, 0x1D, 0x1F));
    p.setColor(QPalette::Mid, QColor(0xC7, 0xC7, 0xCC));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x8E, 0x8E, 0x93));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x8E, 0x8E, 0x93));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x8E, 0x8E, 0x93));
    return p;
}

QPalette darkPalette() {
    QPalette p;
    p.setColor(QPalette::Window, QColor(0x1E, 0x1E, 0x1E));
    p.setColor(QPalette::WindowText, QColor(0xF2, 0xF2, 0xF7));
    p.setColor(QPalette::Base, QColor(0x2C, 0x2C, 0x2E));
    p.setColor(QPalette::AlternateBase, QColor(0x3A, 0x3A, 0x3C));
    p.setColor(QPalette::Text, QColor(0xF2, 0xF2, 0xF7));
    p.setColor(QPalette::Button, QColor(0x3A, 0x3A, 0x3C));
    p.setColor(QPalette::ButtonText, QColor(0xF2, 0xF2, 0xF7));
    p.setColor(QPalette::Highlight, QColor(0x0A, 0x60, 0xC8));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::PlaceholderText, QColor(0x98, 0x98, 0x9D));
    p.setColor(QPalette::Link, QColor(0x40, 0x9C, 0xFF));
    p.setColor(QPalette::LinkVisited, QColor(0xBF, 0x8C, 0xFF));
    p.setColor(QPalette::ToolTipBase, QColor(0x2C, 0x2C, 0x2E));
    p.setColor(QPalette::ToolTipText, QColor(0xF2, 0xF2, 0xF7));
    p.setColor(QPalette::Mid, QColor(0x48, 0x48, 0x4A));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(0x6E, 0x6E, 0x73));
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(0x6E, 0x6E, 0x73));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(0x6E, 0x6E, 0x73));
    return p;
}

} // namespace kestrova::ui
