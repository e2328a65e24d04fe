#pragma once

#include "Model/RawValue.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// One probe of an endpoint by the service, with its outcome. Kept only in memory: its archive is
/// empty.
class Check : public joblark::Object, public joblark::JSONConstructable, public joblark::Coding {
public:
    enum class Status { ok, down, degraded };

    static constexpr std::string_view codingClassName = "Kestrova.Check";

    std::optional<std::string> uuid;
    std::optional<joblark::Date> createdAt;
    std::optional<bool> isOk;
    /// Milliseconds.
    std::optional<std::int64_t> responseTime;
    std::optional<Status> status;
    std::optional<std::string> message;

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver&) const override {}
    static std::shared_ptr<Check> decode(joblark::KeyedUnarchiver&) { return std::make_shared<Check>(); }
};

template <>
struct RawValues<Check::Status> {
    static constexpr std::array<std::pair<Check::Status, std::string_view>, 3> cases{
        {{Check::Status::ok, "ok"}, {Check::Status::down, "down"}, {Check::Status::degraded, "degraded"}}};
};

} // namespace kestrova
