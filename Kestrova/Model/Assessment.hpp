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

/// The service's judgement of one reported value of a measure. Kept only in memory: its archive is
/// empty.
class Assessment : public joblark::Object, public joblark::JSONConstructable, public joblark::Coding {
public:
    enum class Status { ok, down, degraded };

    static constexpr std::string_view codingClassName = "Kestrova.Assessment";

    std::optional<std::string> uuid;
    std::optional<joblark::Date> createdAt;
    std::optional<bool> isOk;
    std::optional<Status> status;
    /// The reported value, as text.
    std::optional<std::string> measurement;
    std::optional<std::string> message;

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver&) const override {}
    static std::shared_ptr<Assessment> decode(joblark::KeyedUnarchiver&) {
        return std::make_shared<Assessment>();
    }
};

template <>
struct RawValues<Assessment::Status> {
    static constexpr std::array<std::pair<Assessment::Status, std::string_view>, 3> cases{
        {{Assessment::Status::ok, "ok"},
         {Assessment::Status::down, "down"},
         {Assessment::Status::degraded, "degraded"}}};
};

} // namespace kestrova
