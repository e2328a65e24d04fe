#pragma once

// Widgets Qt lacks: an on/off switch that looks like one, and a spinning activity indicator.

#include "Presentation/ViewKit.hpp"

#include <QAbstractButton>
#include <QLabel>
#include <QTimer>
#include <QVariantAnimation>
#include <QWidget>

namespace kestrova::ui {

/// A checkable button drawn as a sliding toggle; keyboard and accessibility as a check box.
class ToggleSwitch : public QAbstractButton {
    Q_OBJECT
public:
    explicit ToggleSwitch(QWidget* parent = nullptr);
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    bool hitButton(const QPoint& position) const override;
    void checkStateSet() override;
    void nextCheckState() override;

private:
    void animateTo(bool on);
    qreal knob_ = 0; ///< 0 off … 1 on
    QVariantAnimation animation_;
};

/// A ring of fading spokes while animating; nothing when stopped.
class Spinner : public QWidget {
    Q_OBJECT
public:
    explicit Spinner(QWidget* parent = nullptr);
    void start();
    void stop();
    bool isSpinning() const { return timer_.isActive(); }
    QSize sizeHint() const override { return {20, 20}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QTimer timer_;
    int step_ = 0;
};

/// A symbol image in one colour, drawn again when the palette or the screen's pixel ratio changes.
class SymbolView : public QWidget {
    Q_OBJECT
public:
    explicit SymbolView(int logicalSize = 32, QWidget* parent = nullptr);
    void setSymbol(std::string symbolName);
    void setTint(Color tint);
    const std::string& symbol() const { return symbol_; }
    Color tint() const { return tint_; }
    QSize sizeHint() const override { return {size_, size_}; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    int size_;
    std::string symbol_;
    Color tint_ = Color::label;
};

} // namespace kestrova::ui
