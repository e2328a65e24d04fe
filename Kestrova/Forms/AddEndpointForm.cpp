#include "Forms/AddEndpointForm.hpp"

namespace kestrova {
namespace {

std::string_view trimmed(std::string_view text) {
    constexpr std::string_view space = " \t\n\r\v\f";
    const auto first = text.find_first_not_of(space);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(space) - first + 1);
}

joblark::Unexpected invalid(std::string title, std::string description) {
    return joblark::Unexpected{std::make_shared<UIError>(std::move(title), std::move(description))};
}

constexpr const char* kNotAllowed = "The URL you entered is not allowed. Please use a valid http/https URL.";

} // namespace

joblark::Expected<EndpointForm> validateEndpointForm(std::string_view name, std::string_view urlText) {
    const std::string_view cleanName = trimmed(name);
    if (cleanName.empty())
        return invalid("Invalid name", "The name you entered is too short.");
    auto url = joblark::URL::parse(trimmed(urlText));
    if (!url)
        return invalid("Invalid URL", "The URL you entered is not valid.");
    if (url->isFileURL())
        return invalid("Invalid", kNotAllowed);
    // The scheme as typed: the parsed URL lower-cases it, and "HTTPS" is not accepted.
    const std::string_view typed = trimmed(urlText);
    const std::optional<std::string_view> scheme =
        url->scheme() ? std::optional(typed.substr(0, typed.find(':'))) : std::nullopt;
    if (!scheme || (*scheme != "http" && *scheme != "https"))
        return invalid("Invalid", kNotAllowed);
    if (url->host() == "localhost")
        return invalid("Invalid", kNotAllowed);
    return EndpointForm{std::string(cleanName), *url};
}

AlertText alertText(const joblark::ErrorPtr& error, std::string_view fallbackTitle) {
    if (auto ui = std::dynamic_pointer_cast<const UIError>(error))
        return {ui->title, ui->description.value_or(ui->localizedDescription())};
    return {std::string(fallbackTitle), error ? error->localizedDescription() : "Unknown error"};
}

} // namespace kestrova
