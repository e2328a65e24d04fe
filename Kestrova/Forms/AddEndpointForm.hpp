#pragma once

#include "Model/UIError.hpp"

#include "joblark/Foundation/Expected.hpp"
#include "joblark/Foundation/URL.hpp"

#include <memory>
#include <string>
#include <string_view>

namespace kestrova {

/// The add-endpoint form's inputs after validation: the trimmed name and the parsed URL.
struct EndpointForm {
    std::string name;
    joblark::URL url;
};

/// Checks the two inputs in a fixed order (name, URL grammar, file URL, scheme, localhost); the
/// first failure decides and comes back as a UIError with the form's exact title and description.
joblark::Expected<EndpointForm> validateEndpointForm(std::string_view name, std::string_view urlText);

/// The fallback titles of the form's alerts.
inline constexpr std::string_view kInvalidFormTitle = "The data you entered is invalid";
inline constexpr std::string_view kCreateEndpointErrorTitle = "Error creating Endpoint";

/// An alert's title and message for an error: a UIError's own, otherwise the fallback title and
/// the error's description.
struct AlertText {
    std::string title;
    std::string message;
};
AlertText alertText(const joblark::ErrorPtr& error, std::string_view fallbackTitle);

} // namespace kestrova
