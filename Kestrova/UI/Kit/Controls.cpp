#include "UI/Kit/Controls.hpp"

#include "UI/Kit/Palette.hpp"
#include "UI/Kit/Symbols.hpp"

#include <QAccessible>
#include <QPainter>
#include <QPainterPath>

namespace kestrova::ui {

ToggleSwitch::ToggleSwitch(QWidget* parent) : QAbstractButton(parent) {
    setCheckable(true);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    animation_.setDuration(120);
    connect(&animation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        knob_ = value.toReal();
        update();
    });
}

QSize ToggleSwitch::sizeHint() const {
    return {40, 22};
}

bool ToggleSwitch::hitButton(const QPoint& position) const {
    return rect().contains(position);
}

void ToggleSwitch::checkStateSet() {
    // Set from code (setChecked): jump, since no one is watching a hand move it.
    animation_.stop();
    knob_ = isChecked() ? 1 : 0;
    update();
}

void ToggleSwitch::nextCheckState() {
    QAbstractButton::nextCheckState();
    animateTo(isChecked());
}

void ToggleSwitch::animateTo(bool on) {
    animation_.stop();
    animation_.setStartValue(knob_);
    animation_.setEndValue(on ? 1.0 : 0.0);
    animation_.start();
}

void ToggleSwitch::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QRectF track = QRectF(rect()).adjusted(1, 1, -1, -1);
    const qreal radius = track.height() / 2;
    const QPalette& pal = palette();
    QColor off = pal.color(QPalette::Mid);
    QColor on = color(Color::systemGreen, pal);
    QColor fill = QColor::fromRgbF(off.redF() + (on.redF() - off.redF()) * knob_,
                                   off.greenF() + (on.greenF() - off.greenF()) * knob_,
                                   off.blueF() + (on.blueF() - off.blueF()) * knob_);
    if (!isEnabled())
        fill.setAlphaF(0.45);
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(track, radius, radius);

    const qreal knobDiameter = track.height() - 4;
    const qreal x = track.left() + 2 + (track.width() - knobDiameter - 4) * knob_;
    painter.setBrush(isEnabled() ? QColor(Qt::white) : QColor(0xE0, 0xE0, 0xE0));
    painter.setPen(QPen(QColor(0, 0, 0, 40), 0.5));
    painter.drawEllipse(QRectF(x, track.top() + 2, knobDiameter, knobDiameter));

    if (hasFocus()) {
        painter.setBrush(Qt::NoBrush);
        painter.setPen(QPen(pal.color(QPalette::Highlight), 1.5));
        painter.drawRoundedRect(QRectF(rect()).adjusted(0.75, 0.75, -0.75, -0.75), radius + 1, radius + 1);
    }
}

Spinner::Spinner(QWidget* parent) : QWidget(parent) {
    timer_.setInterval(80);
    connect(&timer_, &QTimer::timeout, this, [this] {
        step_ = (step_ + 1) % 12;
        update();
    });
    setAccessibleName(tr("Loading"));
}

void Spinner::start() {
    if (timer_.isActive())
        return;
    timer_.start();
    update();
    QAccessibleStateChangeEvent event(this, [] {
        QAccessible::State state;
        state.busy = true;
        return state;
    }());
    QAccessible::updateAccessibility(&event);
}

void Spinner::stop() {
    timer_.stop();
    update();
}

void Spinner::paintEvent(QPaintEvent*) {
    if (!timer_.isActive())
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = qMin(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QColor spoke = palette().color(QPalette::WindowText);
    for (int i = 0; i < 12; ++i) {
        spoke.setAlphaF(0.15 + 0.85 * ((12 + i - step_) % 12) / 11.0);
        painter.setPen(QPen(spoke, side / 10, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(0, side * 0.22), QPointF(0, side * 0.45));
        painter.rotate(30);
    }
}

SymbolView::SymbolView(int logicalSize, QWidget* parent) : QWidget(parent), size_(logicalSize) {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
}

void SymbolView::setSymbol(std::string symbolName) {
    symbol_ = std::move(symbolName);
    update();
}

void SymbolView::setTint(Color tint) {
    tint_ = tint;
    update();
}

void SymbolView::paintEvent(QPaintEvent*) {
    if (symbol_.empty())
        return;
    // Rendered at paint time, so the palette and the pixel ratio are always the current ones.
    const int side = qMin(width(), height());
    const QPixmap pixmap = tintedSymbol(symbol_, color(tint_, palette()), side, devicePixelRatioF());
    QPainter painter(this);
    painter.drawPixmap(QPoint((width() - side) / 2, (height() - side) / 2), pixmap);
}

} // namespace kestrova::ui
