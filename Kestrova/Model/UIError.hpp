#pragma once

#include "joblark/Foundation/Error.hpp"

#include <functional>
#include <optional>
#include <string>

namespace kestrova {

/// An error meant to be shown to the user as it stands: an alert title and an optional message.
class UIError : public joblark::ErrorBase<UIError> {
public:
    explicit UIError(std::string titleText, std::optional<std::string> message = std::nullopt,
                     std::function<void()> action = {})
        : title(std::move(titleText)), description(std::move(message)), callback(std::move(action)) {}

    std::string title;
    std::optional<std::string> description;
    /// Carried for the presenter; nothing here runs it.
    std::function<void()> callback;

    /// The title, so that a presenter that knows nothing of UIError still shows something meaningful.
    std::string localizedDescription() const override { return title; }
    std::string typeName() const override { return "Kestrova.UIError"; }
};

} // namespace kestrova
