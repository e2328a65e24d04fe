#pragma once

#include "quillnest/Records.hpp"

#include "joblark/Foundation/Value.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillnest {

/// The longest measurement text kept, in bytes.
inline constexpr std::size_t maximumMeasurementBytes = 1024;

/// The comparisons a criterion may ask for, by their API names.
bool isComparison(std::string_view name);

/// The value at a dotted path ("queue.depth", "items.0.name": dictionary keys and array indices);
/// the whole body when the path is absent or empty. Null when nothing is there.
const joblark::Value* valueAtPath(const joblark::Value& body, const std::optional<std::string>& path);

/// A measured value as the API shows it: strings as they are, everything else as compact JSON.
std::string measurementText(const joblark::Value& value);

/// Whether `measured` satisfies `comparison` against `expected`. Numeric when both sides are numbers
/// (a JSON number, or a string that is wholly a finite decimal number); otherwise ordering fails and
/// "equal"/"contains" work on the text (and on array elements and dictionary keys for "contains").
bool satisfies(const joblark::Value& measured, std::string_view comparison, const std::string& expected);

/// Judges a reported body against every criterion: all met is "ok", none met "down", some "degraded".
AssessmentRecord assess(const joblark::Value& body, const std::vector<CriteriaRecord>& criteria);

} // namespace quillnest
