#include "Presentation/ViewKit.hpp"

#include "Model/UIError.hpp"

namespace kestrova {

Color statusColor(OverallStatus status) {
    switch (status) {
    case OverallStatus::ok:
        return Color::systemGreen;
    case OverallStatus::degraded:
        return Color::systemOrange;
    case OverallStatus::down:
        return Color::systemRed;
    }
    return Color::systemGreen;
}

void ViewController::present(Alert alert) {
    if (auto h = host.lock())
        h->present(std::move(alert));
}

void ViewController::dismiss(std::function<void()> completion) {
    if (auto h = host.lock())
        h->dismiss(std::move(completion));
}

void ViewController::performSegue(const std::string& identifier) {
    if (auto h = host.lock())
        h->performSegue(identifier);
}

bool ViewController::isOwnScene(const joblark::Value& notificationObject) const {
    const auto scene = notificationObject.asInteger();
    if (!scene)
        return !sceneIdentifier.has_value();
    return sceneIdentifier == *scene;
}

Alert errorAlert(const joblark::ErrorPtr& error) {
    Alert alert;
    if (auto uiError = std::dynamic_pointer_cast<const UIError>(error)) {
        alert.title = uiError->title;
        alert.message = uiError->description.value_or(uiError->localizedDescription());
    } else if (error) {
        alert.title = error->localizedDescription();
        alert.message = error->recoverySuggestion().value_or(error->localizedDescription());
    }
    alert.actions.push_back({"Cancel", AlertAction::Style::cancel, nullptr});
    return alert;
}

Alert errorAlert(const joblark::ErrorPtr& error, std::string_view fallbackTitle, std::string buttonTitle) {
    Alert alert;
    if (auto uiError = std::dynamic_pointer_cast<const UIError>(error)) {
        alert.title = uiError->title;
        alert.message = uiError->description.value_or(uiError->localizedDescription());
    } else {
        alert.title = std::string(fallbackTitle);
        if (error)
            alert.message = error->localizedDescription();
    }
    alert.actions.push_back({std::move(buttonTitle), AlertAction::Style::defaultStyle, nullptr});
    return alert;
}

} // namespace kestrova
