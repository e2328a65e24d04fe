#include "quillnest/Assessor.hpp"

#include "joblark/Foundation/JSON.hpp"

#include <array>
#include <charconv>
#include <cmath>

namespace quillnest {

using joblark::Value;

namespace {

constexpr std::array<std::string_view, 6> comparisons = {"less_than_equal", "less_than", "greater_than_equal",
                                                         "greater_than",    "equal",     "contains"};

std::string_view phrase(std::string_view comparison) {
    if (comparison == "less_than_equal")
        return "less than or equal to";
    if (comparison == "less_than")
        return "less than";
    if (comparison == "greater_than_equal")
        return "greater than or equal to";
    if (comparison == "greater_than")
        return "greater than";
    if (comparison == "equal")
        return "equal to";
    return "containing";
}

std::optional<double> numberFromText(std::string_view text) {
    if (text.empty())
        return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value))
        return std::nullopt;
    return value;
}

std::optional<double> number(const Value& value) {
    if (value.isNumber())
        return value.asDouble();
    if (auto* s = value.asString())
        return numberFromText(*s);
    return std::nullopt;
}

/// Bodies may be up to a mebibyte and thirty are kept per measure and listed a hundred at a time:
/// what is stored of a value is cut at a character boundary.
std::string shortened(std::string text) {
    if (text.size() <= maximumMeasurementBytes)
        return text;
    std::size_t cut = maximumMeasurementBytes - 3;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    text.resize(cut);
    return text + "\u2026";
}

} // namespace

bool isComparison(std::string_view name) {
    for (auto c : comparisons)
        if (c == name)
            return true;
    return false;
}

const Value* valueAtPath(const Value& body, const std::optional<std::string>& path) {
    if (!path || path->empty())
        return &body;
    const Value* current = &body;
    std::string_view rest = *path;
    while (current) {
        auto dot = rest.find('.');
        auto part = rest.substr(0, dot);
        if (current->isDictionary()) {
            current = current->find(part);
        } else if (current->isArray()) {
            std::size_t index = 0;
            auto [end, ec] = std::from_chars(part.data(), part.data() + part.size(), index);
            current = (ec == std::errc() && end == part.data() + part.size() && !part.empty())
                          ? current->at(index)
                          : nullptr;
        } else {
            current = nullptr;
        }
        if (dot == std::string_view::npos)
            break;
        rest.remove_prefix(dot + 1);
    }
    return current;
}

std::string measurementText(const Value& value) {
    if (auto* s = value.asString())
        return *s;
    auto json = joblark::JSON::write(value);
    return json ? *json : std::string();
}

bool satisfies(const Value& measured, std::string_view comparison, const std::string& expected) {
    auto left = number(measured);
    auto right = numberFromText(expected);
    if (left && right && !measured.isBool()) {
        if (comparison == "less_than_equal")
            return *left <= *right;
        if (comparison == "less_than")
            return *left < *right;
        if (comparison == "greater_than_equal")
            return *left >= *right;
        if (comparison == "greater_than")
            return *left > *right;
        if (comparison == "equal")
            return *left == *right;
    }
    if (comparison == "equal")
        return measurementText(measured) == expected;
    if (comparison == "contains") {
        if (auto* array = measured.asArray()) {
            for (const auto& element : *array)
                if (measurementText(element) == expected)
                    return true;
            return false;
        }
        if (auto* dictionary = measured.asDictionary())
            return dictionary->contains(expected);
        return measurementText(measured).find(expected) != std::string::npos;
    }
    return false; // an ordering between values that are not both numbers
}

AssessmentRecord assess(const Value& body, const std::vector<CriteriaRecord>& criteria) {
    AssessmentRecord result;
    result.createdAt = nowMillis();
    const Value* first = criteria.empty() ? &body : valueAtPath(body, criteria.front().valuePath);
    result.measurement = first ? shortened(measurementText(*first)) : std::string();
    if (criteria.empty()) {
        result.ok = true;
        result.status = "ok";
        result.message = "No criteria to assess";
        return result;
    }
    std::size_t met = 0;
    std::string failures;
    for (const auto& c : criteria) {
        const std::string where = c.valuePath && !c.valuePath->empty() ? *c.valuePath : "Entire Request Body";
        const Value* value = valueAtPath(body, c.valuePath);
        std::string failure;
        if (!value)
            failure = "No value at " + where;
        else if (satisfies(*value, c.comparison, c.expectedValue))
            ++met;
        else
            failure = where + " is " + shortened(measurementText(*value)) + ", not " +
                      std::string(phrase(c.comparison)) + " " + c.expectedValue;
        if (!failure.empty())
            failures += (failures.empty() ? "" : "; ") + failure;
    }
    if (met == criteria.size()) {
        result.ok = true;
        result.status = "ok";
        result.message = criteria.size() == 1 ? "Criterion met" : "All criteria met";
    } else {
        result.ok = false;
        result.status = met == 0 ? "down" : "degraded";
        result.message = failures;
    }
    return result;
}

} // namespace quillnest
