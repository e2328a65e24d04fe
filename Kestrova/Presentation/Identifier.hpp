#pragma once

#include "Model/User.hpp"

#include "joblark/Foundation/Date.hpp"

#include <optional>
#include <string>

namespace kestrova {

/// The identity of one row of the overview list or one card of the grid: a changed `updatedAt`
/// makes it a different row, which is rendered again.
struct Identifier {
    std::string id;
    joblark::Date updatedAt;

    bool operator==(const Identifier&) const = default;
    std::size_t hash() const;

    /// The resource's id (a new random upper-case UUID when it has none) and its `updatedAt` (the
    /// reload's time when it has none).
    static Identifier of(const std::optional<std::string>& id, const std::optional<joblark::Date>& updatedAt,
                         const joblark::Date& reloadTime);
};

/// A section's identity by the same rule.
User::Identifier sectionIdentifier(const std::optional<std::string>& id,
                                   const std::optional<joblark::Date>& updatedAt,
                                   const joblark::Date& reloadTime);

} // namespace kestrova

template <>
struct std::hash<kestrova::Identifier> {
    std::size_t operator()(const kestrova::Identifier& identifier) const noexcept {
        return identifier.hash();
    }
};
