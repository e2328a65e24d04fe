#pragma once

#include "Model/Identified.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/URL.hpp"

#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// A machine registered with the service for push notifications. Its archive is empty.
class Device : public Identified<Device>,
               public joblark::JSONConstructable,
               public joblark::CursorPagable,
               public joblark::Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.Device";

    /// The device record's address on the service (used to delete it).
    std::optional<joblark::URL> url;
    std::optional<std::string> id;
    std::optional<std::string> name;
    std::optional<std::string> deviceId;
    std::optional<bool> isActive;
    std::optional<joblark::Date> createdAt;
    std::optional<joblark::Date> updatedAt;

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver&) const override {}
    static std::shared_ptr<Device> decode(joblark::KeyedUnarchiver&) { return std::make_shared<Device>(); }

    std::optional<std::string> cursorId() const override { return cursorId_; }
    void setCursorId(std::optional<std::string> value) { cursorId_ = std::move(value); }

private:
    std::optional<std::string> cursorId_;
};

} // namespace kestrova
