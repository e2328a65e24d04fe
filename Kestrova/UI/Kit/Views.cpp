#include "UI/Kit/Views.hpp"

#include "UI/Kit/Controls.hpp"
#include "UI/Kit/Palette.hpp"

#include <QEvent>
#include <QSignalBlocker>

#include <cmath>

namespace kestrova::ui {

QString toQString(const std::string& text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string toStdString(const QString& text) {
    return text.toStdString();
}

// --- label ------------------------------------------------------------------------------------------

void LabelBinding::setText(std::optional<std::string> text) {
    if (!widget_)
        return;
    widget_->setText(text ? toQString(*text) : QString());
    // A label with no name of its own is announced by its text.
    if (widget_->accessibleName().isEmpty() || widget_->property("kestrovaNamedByText").toBool()) {
        widget_->setAccessibleName(widget_->text());
        widget_->setProperty("kestrovaNamedByText", true);
    }
}

std::optional<std::string> LabelBinding::text() const {
    if (!widget_)
        return std::nullopt;
    // The text shown: an empty label counts as cleared.
    auto text = widget_->text();
    if (text.isEmpty())
        return std::nullopt;
    return toStdString(text);
}

namespace {

// Keeps a label's text in its core colour when the palette turns light or dark. Owned by the label.
class TextColorFollower : public QObject {
public:
    explicit TextColorFollower(QLabel* label) : QObject(label), label_(label) {
        label->installEventFilter(this);
    }
    void follow(Color color) {
        color_ = color;
        apply();
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange)
            apply();
        return false;
    }

private:
    void apply() {
        const QColor wanted = ui::color(color_, label_->palette());
        const auto role = label_->foregroundRole(); // Text, not WindowText, on a Base background
        if (label_->palette().color(role) == wanted)
            return; // also ends the PaletteChange our own setPalette causes
        QPalette palette = label_->palette();
        palette.setColor(QPalette::WindowText, wanted);
        palette.setColor(QPalette::Text, wanted);
        label_->setPalette(palette);
    }
    QLabel* label_;
    Color color_ = Color::label;
};

} // namespace

void LabelBinding::setTextColor(Color color) {
    if (!widget_)
        return;
    auto* follower = widget_->findChild<TextColorFollower*>(QString(), Qt::FindDirectChildrenOnly);
    if (!follower)
        follower = new TextColorFollower(widget_); // owned by the label
    follower->follow(color);
}

void LabelBinding::setBold(bool bold) {
    if (!widget_)
        return;
    QFont font = widget_->font();
    font.setBold(bold);
    widget_->setFont(font);
}

// --- image ------------------------------------------------------------------------------------------

void ImageBinding::setSymbol(std::string symbolName) {
    if (widget_)
        widget_->setSymbol(std::move(symbolName));
}

void ImageBinding::setTintColor(Color color) {
    if (widget_)
        widget_->setTint(color);
}

// --- switch, slider -----------------------------------------------------------------------------------

void SwitchBinding::setOn(bool on) {
    if (!widget_)
        return;
    const QSignalBlocker quiet(widget_.data());
    widget_->setChecked(on);
}

bool SwitchBinding::isOn() const {
    return widget_ && widget_->isChecked();
}

void SwitchBinding::setEnabled(bool enabled) {
    if (widget_)
        widget_->setEnabled(enabled);
}

void SliderBinding::setValue(double value) {
    if (!widget_)
        return;
    const QSignalBlocker quiet(widget_.data());
    widget_->setValue(static_cast<int>(std::lround(value * scale_)));
}

double SliderBinding::value() const {
    return widget_ ? widget_->value() / scale_ : 0;
}

void SliderBinding::setEnabled(bool enabled) {
    if (widget_)
        widget_->setEnabled(enabled);
}

// --- text field, activity -------------------------------------------------------------------------

std::optional<std::string> TextFieldBinding::text() const {
    if (!widget_ || widget_->text().isEmpty())
        return std::nullopt;
    return toStdString(widget_->text());
}

void TextFieldBinding::setText(std::string text) {
    if (widget_)
        widget_->setText(toQString(text));
}

bool TextFieldBinding::isFirstResponder() const {
    return widget_ && widget_->hasFocus();
}

void TextFieldBinding::becomeFirstResponder() {
    if (widget_)
        widget_->setFocus(Qt::OtherFocusReason);
}

void TextFieldBinding::setEnabled(bool enabled) {
    if (widget_)
        widget_->setEnabled(enabled);
}

void ActivityIndicatorBinding::startAnimating() {
    if (widget_)
        widget_->start();
}

void ActivityIndicatorBinding::stopAnimating() {
    if (widget_)
        widget_->stop();
}

bool ActivityIndicatorBinding::isAnimating() const {
    return widget_ && widget_->isSpinning();
}

} // namespace kestrova::ui
