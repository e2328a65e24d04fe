#pragma once

// The core's view interfaces over Qt widgets. A binding holds its widget weakly (QPointer): the
// window owns the widget, the screen's logic holds the binding weakly, and a binding whose widget
// has closed quietly does nothing. Main thread only, like the widgets.

#include "Presentation/ViewKit.hpp"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QString>

#include <optional>
#include <string>

namespace kestrova::ui {

class ToggleSwitch;
class Spinner;
class SymbolView;

QString toQString(const std::string& text);
std::string toStdString(const QString& text);

/// Visibility for every binding: the widget's when it exists, else what was asked last.
template <class Interface, class Widget>
class WidgetBinding : public Interface {
public:
    explicit WidgetBinding(Widget* widget) : widget_(widget) {}
    void setHidden(bool hidden) override {
        hidden_ = hidden;
        if (widget_)
            widget_->setHidden(hidden);
    }
    bool isHidden() const override { return widget_ ? widget_->isHidden() : hidden_; }
    Widget* widget() const { return widget_.data(); }

protected:
    QPointer<Widget> widget_;

private:
    bool hidden_ = false;
};

class LabelBinding : public WidgetBinding<Label, QLabel> {
public:
    using WidgetBinding::WidgetBinding;
    void setText(std::optional<std::string> text) override;
    std::optional<std::string> text() const override;
    void setTextColor(Color color) override;
    void setBold(bool bold) override;
};

class ImageBinding : public WidgetBinding<ImageView, SymbolView> {
public:
    using WidgetBinding::WidgetBinding;
    void setSymbol(std::string symbolName) override;
    void setTintColor(Color color) override;
};

class SwitchBinding : public WidgetBinding<Switch, ToggleSwitch> {
public:
    using WidgetBinding::WidgetBinding;
    /// Sets the state without emitting toggled/clicked: the screen re-renders, the user did nothing.
    void setOn(bool on) override;
    bool isOn() const override;
    void setEnabled(bool enabled) override;
};

/// QSlider is integral: its value is the slider's value divided by `scale`.
class SliderBinding : public WidgetBinding<Slider, QSlider> {
public:
    SliderBinding(QSlider* slider, double scale = 1) : WidgetBinding(slider), scale_(scale) {}
    void setValue(double value) override;
    double value() const override;
    void setEnabled(bool enabled) override;

private:
    double scale_;
};

template <class Widget>
class ButtonBinding : public WidgetBinding<Button, Widget> {
public:
    using WidgetBinding<Button, Widget>::WidgetBinding;
    void setEnabled(bool enabled) override {
        if (this->widget_)
            this->widget_->setEnabled(enabled);
    }
    bool isEnabled() const override { return this->widget_ && this->widget_->isEnabled(); }
};
using PushButtonBinding = ButtonBinding<QAbstractButton>;

/// A toolbar or menu command as a button (QAction has no setHidden of its own).
class ActionBinding : public Button {
public:
    explicit ActionBinding(QAction* action) : action_(action) {}
    void setHidden(bool hidden) override {
        if (action_)
            action_->setVisible(!hidden);
    }
    bool isHidden() const override { return !action_ || !action_->isVisible(); }
    void setEnabled(bool enabled) override {
        if (action_)
            action_->setEnabled(enabled);
    }
    bool isEnabled() const override { return action_ && action_->isEnabled(); }

private:
    QPointer<QAction> action_;
};

class TextFieldBinding : public WidgetBinding<TextField, QLineEdit> {
public:
    using WidgetBinding::WidgetBinding;
    std::optional<std::string> text() const override;
    void setText(std::string text) override;
    bool isFirstResponder() const override;
    void becomeFirstResponder() override;
    void setEnabled(bool enabled) override;
};

class ActivityIndicatorBinding : public WidgetBinding<ActivityIndicator, Spinner> {
public:
    using WidgetBinding::WidgetBinding;
    void startAnimating() override;
    void stopAnimating() override;
    bool isAnimating() const override;
};

} // namespace kestrova::ui
