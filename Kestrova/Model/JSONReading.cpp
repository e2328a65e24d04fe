#include "Model/JSONReading.hpp"

#include "joblark/Foundation/ISO8601.hpp"

#include <cmath>
#include <limits>

namespace kestrova::json {

using joblark::Dictionary;
using joblark::Value;

const Value* member(const Dictionary& json, std::string_view key) {
    auto it = json.find(key);
    return it == json.end() ? nullptr : &it->second;
}

void readText(const Dictionary& json, std::string_view key, std::optional<std::string>& field) {
    const auto* value = member(json, key);
    if (value && value->asString())
        field = *value->asString();
    else
        field.reset();
}

void readInteger(const Dictionary& json, std::string_view key, std::optional<std::int64_t>& field) {
    field.reset();
    const auto* value = member(json, key);
    if (!value)
        return;
    if (auto integer = value->asInteger()) {
        field = *integer;
        return;
    }
    if (!value->isReal())
        return;
    double real = *value->asDouble();
    // 2^63 itself is out of range, and is the first double past the largest int64.
    constexpr double limit = 9223372036854775808.0;
    if (std::isfinite(real) && std::trunc(real) == real && real >= -limit && real < limit)
        field = static_cast<std::int64_t>(real);
}

void readBool(const Dictionary& json, std::string_view key, std::optional<bool>& field) {
    const auto* value = member(json, key);
    field = value ? value->asBool() : std::nullopt;
}

void readURL(const Dictionary& json, std::string_view key, std::optional<joblark::URL>& field) {
    const auto* value = member(json, key);
    if (!value || !value->asString())
        return;
    if (auto url = parseURL(*value->asString()))
        field = std::move(*url);
}

void readDate(const Dictionary& json, std::string_view key, std::optional<joblark::Date>& field) {
    const auto* value = member(json, key);
    if (value && value->asString())
        field = parseDate(*value->asString());
}

std::optional<joblark::URL> parseURL(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    return joblark::URL::parse(text);
}

std::optional<joblark::Date> parseDate(std::string_view text) {
    return joblark::ISO8601::parseInternetDate(text);
}

} // namespace kestrova::json
