#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/URL.hpp"
#include "joblark/Foundation/Value.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// Thread safety: A plain value: no synchronisation of its own; build it on one thread, then hand it over.

namespace joblark {

using HTTPHeaderFields = std::vector<std::pair<std::string, std::string>>;

/// One HTTP request. Header fields keep their order and repetitions; names match case-insensitively.
struct JOBLARK_EXPORT URLRequest {
    URL url;
    std::string httpMethod = "GET";
    HTTPHeaderFields headers{};
    std::optional<Data> httpBody{};
    /// Seconds the whole request (redirects included) may take; the session's limit applies if smaller.
    double timeoutInterval = 60.0;

    /// Sends another `field` line, keeping those already there.
    void addValue(std::string value, std::string field);
    /// Replaces every `field` line with this one, or removes them all when `value` is absent.
    void setValue(std::optional<std::string> value, std::string field);
    /// Every value of `field` joined with ", ", or absent.
    std::optional<std::string> value(std::string_view field) const;
};

/// The final response of a request (after any redirects).
struct JOBLARK_EXPORT HTTPURLResponse {
    URL url;
    int statusCode = 0;
    HTTPHeaderFields headerFields{};

    /// Every value of `field` joined with ", ", or absent (names match case-insensitively).
    std::optional<std::string> value(std::string_view field) const;
    /// 2xx
    bool ok() const { return statusCode >= 200 && statusCode <= 299; }
};

namespace detail {
JOBLARK_EXPORT bool headerNameEquals(std::string_view a, std::string_view b);
JOBLARK_EXPORT std::optional<std::string> headerValue(const HTTPHeaderFields& fields, std::string_view name);
} // namespace detail

} // namespace joblark
