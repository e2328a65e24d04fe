#pragma once

#include "Model/Identified.hpp"

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"
#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/URL.hpp"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova {

/// The signed-in service account.
class User : public Identified<User>,
             public joblark::JSONConstructable,
             public joblark::CursorPagable,
             public joblark::Coding {
public:
    /// The identity of a user's section in the dashboard: a changed `updatedAt` makes it a new one.
    struct Identifier {
        std::string id;
        joblark::Date updatedAt;

        bool operator==(const Identifier&) const = default;
        std::size_t hash() const;
    };

    static constexpr std::string_view codingClassName = "Kestrova.User";

    std::optional<joblark::URL> url;
    std::optional<std::string> id;
    std::optional<std::string> email;
    std::optional<std::int64_t> endpointsRemaining;
    std::optional<std::int64_t> contactsRemaining;
    std::optional<bool> isStatusPageEnabled;
    std::optional<joblark::Date> createdAt;
    std::optional<joblark::Date> updatedAt;

    /// `id` (a fresh random UUID when absent) and `updatedAt` (now when absent).
    Identifier identifier() const;

    std::string className() const override { return std::string(codingClassName); }
    void populate(const joblark::Dictionary& json) override;
    void encode(joblark::KeyedArchiver& archiver) const override;
    static std::shared_ptr<User> decode(joblark::KeyedUnarchiver& unarchiver);

    std::optional<std::string> cursorId() const override { return cursorId_; }
    void setCursorId(std::optional<std::string> value) { cursorId_ = std::move(value); }

private:
    std::optional<std::string> cursorId_;
};

} // namespace kestrova

template <>
struct std::hash<kestrova::User::Identifier> {
    std::size_t operator()(const kestrova::User::Identifier& identifier) const noexcept {
        return identifier.hash();
    }
};
