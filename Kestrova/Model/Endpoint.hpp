#pragma once

#include "Model/Check.hpp"
#include "Model/Identified.hpp"
#include "Model/NamedThing.hpp"
#include "Model/RawValue.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/URL.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// A web address the service checks at intervals, with its recent checks.
class Endpoint : public Identified<Endpoint>,
                 public joblark::JSONConstructable,
                 public joblark::CursorPagable,
                 public joblark::Coding,
                 public NamedThing {
public:
    enum class Status { active, inactive };
    enum class CheckType { head, get };

    static constexpr std::string_view codingClassName = "Kestrova.Endpoint";

    /// The resource's own address on the service; used to patch and delete it.
    std::optional<joblark::URL> url;
    std::optional<std::string> id;
    std::optional<std::string> name;
    /// The monitored address.
    std::optional<joblark::URL> endpointUrl;
    std::optional<CheckType> checkType;
    /// Milliseconds above which a check counts as degraded.
    std::optional<std::int64_t> degredationThreshold;
    std::optional<bool> ensureValidCert;
    std::optional<std::int64_t> certCheckExpiryThreshold;
    std::optional<bool> isPublic;
    std::optional<joblark::Date> createdAt;
    std::optional<joblark::Date> updatedAt;
    std::optional<Status> status;
    std::optional<Check::Status> lastCheckStatus;
    std::optional<std::string> lastCheckMessage;
    /// In the order and number the service sends them.
    std::optional<std::vector<std::shared_ptr<Check>>> history;

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver& archiver) const override;
    static std::shared_ptr<Endpoint> decode(joblark::KeyedUnarchiver& unarchiver);

    std::optional<std::string> cursorId() const override { return cursorId_; }
    void setCursorId(std::optional<std::string> value) { cursorId_ = std::move(value); }

    std::optional<joblark::URL> resourceUrl() const override { return url; }
    std::optional<std::string> resourceName() const override { return name; }

private:
    std::optional<std::string> cursorId_;
};

template <>
struct RawValues<Endpoint::Status> {
    static constexpr std::array<std::pair<Endpoint::Status, std::string_view>, 2> cases{
        {{Endpoint::Status::active, "active"}, {Endpoint::Status::inactive, "inactive"}}};
};

template <>
struct RawValues<Endpoint::CheckType> {
    static constexpr std::array<std::pair<Endpoint::CheckType, std::string_view>, 2> cases{
        {{Endpoint::CheckType::head, "HEAD"}, {Endpoint::CheckType::get, "GET"}}};
};

} // namespace kestrova
