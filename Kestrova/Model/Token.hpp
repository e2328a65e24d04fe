#pragma once

#include "joblark/API/JSONConstructable.hpp"
#include "joblark/Foundation/Date.hpp"

#include <optional>
#include <string>

namespace kestrova {

/// An API token as the service hands it out for an account's credentials.
class Token : public joblark::Object, public joblark::JSONConstructable {
public:
    /// The token itself.
    std::optional<std::string> key;
    std::optional<joblark::Date> createdAt;

    std::string className() const override { return "Kestrova.Token"; }
    void populate(const joblark::Dictionary& json) override;
};

} // namespace kestrova
