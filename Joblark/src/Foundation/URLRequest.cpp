#include "joblark/Foundation/URLRequest.hpp"

#include <algorithm>
#include <cctype>

namespace joblark {

namespace detail {

bool headerNameEquals(std::string_view a, std::string_view b) {
    return std::ranges::equal(
        a, b, [](unsigned char x, unsigned char y) { return std::tolower(x) == std::tolower(y); });
}

std::optional<std::string> headerValue(const HTTPHeaderFields& fields, std::string_view name) {
    std::optional<std::string> joined;
    for (const auto& [field, value] : fields) {
        if (!headerNameEquals(field, name))
            continue;
        if (joined)
            *joined += ", " + value;
        else
            joined = value;
    }
    return joined;
}

} // namespace detail

void URLRequest::addValue(std::string value, std::string field) {
    headers.emplace_back(std::move(field), std::move(value));
}

void URLRequest::setValue(std::optional<std::string> value, std::string field) {
    std::erase_if(headers, [&](const auto& header) { return detail::headerNameEquals(header.first, field); });
    if (value)
        headers.emplace_back(std::move(field), std::move(*value));
}

std::optional<std::string> URLRequest::value(std::string_view field) const {
    return detail::headerValue(headers, field);
}

std::optional<std::string> HTTPURLResponse::value(std::string_view field) const {
    return detail::headerValue(headerFields, field);
}

} // namespace joblark
