#pragma once

#include "Model/RawValue.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/URL.hpp"
#include "joblark/Foundation/Value.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

/// The reading rules every model class applies to the service's JSON. Each reads one key into one
/// field; some overwrite the field whatever the input, others leave it alone unless the input fits.
namespace kestrova::json {

/// The member under `key`, or nullptr when the key is missing.
const joblark::Value* member(const joblark::Dictionary& json, std::string_view key);

/// Text: the string when there is one, else absent.
void readText(const joblark::Dictionary& json, std::string_view key, std::optional<std::string>& field);
/// Integer: a number with a whole value within range (250 and 250.0 alike), else absent.
void readInteger(const joblark::Dictionary& json, std::string_view key, std::optional<std::int64_t>& field);
/// Boolean: a JSON boolean, else absent.
void readBool(const joblark::Dictionary& json, std::string_view key, std::optional<bool>& field);
/// URL: set only from a string that parses; otherwise unchanged.
void readURL(const joblark::Dictionary& json, std::string_view key, std::optional<joblark::URL>& field);
/// Date: only from a string, which gives the parsed date or absent; otherwise unchanged.
void readDate(const joblark::Dictionary& json, std::string_view key, std::optional<joblark::Date>& field);

/// A URL from the service's text; the empty text names nothing.
std::optional<joblark::URL> parseURL(std::string_view text);

/// The service's date-times: without fractional seconds first, then with them.
std::optional<joblark::Date> parseDate(std::string_view text);

/// Enumeration: only from a string that is exactly one of the raw values; otherwise unchanged.
template <class E>
void readEnum(const joblark::Dictionary& json, std::string_view key, std::optional<E>& field) {
    const auto* value = member(json, key);
    if (!value || !value->asString())
        return;
    if (auto parsed = fromRawValue<E>(*value->asString()))
        field = *parsed;
}

/// Nested list: only from an array whose every element is an object; otherwise unchanged.
template <joblark::JSONConstructableModel T>
void readList(const joblark::Dictionary& json, std::string_view key,
              std::optional<std::vector<std::shared_ptr<T>>>& field) {
    const auto* value = member(json, key);
    const auto* array = value ? value->asArray() : nullptr;
    if (!array)
        return;
    std::vector<const joblark::Dictionary*> objects;
    objects.reserve(array->size());
    for (const auto& element : *array) {
        const auto* object = element.asDictionary();
        if (!object)
            return;
        objects.push_back(object);
    }
    field = joblark::constructMultiple<T>(objects);
}

} // namespace kestrova::json
