#pragma once

#include "Model/RawValue.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// One rule the service applies to a measure's reported values. Kept only in memory: its archive is
/// empty.
class Criteria : public joblark::Object, public joblark::JSONConstructable, public joblark::Coding {
public:
    enum class Comparison { lessThanOrEqual, lessThan, greaterThanOrEqual, greaterThan, equal, contains };

    static constexpr std::string_view codingClassName = "Kestrova.Criteria";

    std::optional<std::string> uuid;
    std::optional<joblark::Date> createdAt;
    std::optional<joblark::Date> updatedAt;
    /// The value compared against, as text.
    std::optional<std::string> expectedValue;
    std::optional<Comparison> comparison;
    /// Where in the reported body the value sits; absent means the whole body.
    std::optional<std::string> valuePath;

    /// "less than or equal to", ..., or "..." for an absent comparison.
    static std::string_view displayText(const std::optional<Comparison>& comparison);
    /// One sentence describing the rule, e.g. "Entire Request Body is greater than 100".
    std::string summaryText() const;

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver&) const override {}
    static std::shared_ptr<Criteria> decode(joblark::KeyedUnarchiver&) {
        return std::make_shared<Criteria>();
    }
};

template <>
struct RawValues<Criteria::Comparison> {
    static constexpr std::array<std::pair<Criteria::Comparison, std::string_view>, 6> cases{
        {{Criteria::Comparison::lessThanOrEqual, "less_than_equal"},
         {Criteria::Comparison::lessThan, "less_than"},
         {Criteria::Comparison::greaterThanOrEqual, "greater_than_equal"},
         {Criteria::Comparison::greaterThan, "greater_than"},
         {Criteria::Comparison::equal, "equal"},
         {Criteria::Comparison::contains, "contains"}}};
};

} // namespace kestrova
