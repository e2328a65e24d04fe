#pragma once

#include "Model/Assessment.hpp"
#include "Model/Criteria.hpp"
#include "Model/Identified.hpp"
#include "Model/NamedThing.hpp"
#include "Model/RawValue.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/URL.hpp"

#include <array>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// A value the user's systems report to the service, judged against its criteria.
class Measure : public Identified<Measure>,
                public joblark::JSONConstructable,
                public joblark::CursorPagable,
                public joblark::Coding,
                public NamedThing {
public:
    enum class Status { active, inactive };

    static constexpr std::string_view codingClassName = "Kestrova.Measure";

    std::optional<joblark::URL> url;
    std::optional<std::string> id;
    std::optional<std::string> name;
    std::optional<bool> isPublic;
    std::optional<joblark::Date> createdAt;
    std::optional<joblark::Date> updatedAt;
    std::optional<Status> status;
    std::optional<Assessment::Status> lastStatus;
    std::optional<std::string> lastAssessmentMessage;
    std::optional<std::vector<std::shared_ptr<Criteria>>> criteria;
    /// In the order and number the service sends them.
    std::optional<std::vector<std::shared_ptr<Assessment>>> history;

    /// Whether some assessment's measurement is a number, so that the values can be charted.
    bool hasNumericMeasurements() const;
    /// The whole text reads as a number the way strtod does in the C locale, with no leading space.
    static bool isNumericMeasurement(const std::string& text);

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver& archiver) const override;
    static std::shared_ptr<Measure> decode(joblark::KeyedUnarchiver& unarchiver);

    std::optional<std::string> cursorId() const override { return cursorId_; }
    void setCursorId(std::optional<std::string> value) { cursorId_ = std::move(value); }

    std::optional<joblark::URL> resourceUrl() const override { return url; }
    std::optional<std::string> resourceName() const override { return name; }

private:
    std::optional<std::string> cursorId_;
};

template <>
struct RawValues<Measure::Status> {
    static constexpr std::array<std::pair<Measure::Status, std::string_view>, 2> cases{
        {{Measure::Status::active, "active"}, {Measure::Status::inactive, "inactive"}}};
};

} // namespace kestrova
