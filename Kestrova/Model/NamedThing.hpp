#pragma once

#include "joblark/Foundation/URL.hpp"

#include <optional>
#include <string>

namespace kestrova {

/// A resource that can be named and addressed on the service (the delete confirmation reads it).
class NamedThing {
public:
    virtual ~NamedThing() = default;
    /// The resource's own address on the service.
    virtual std::optional<joblark::URL> resourceUrl() const = 0;
    virtual std::optional<std::string> resourceName() const = 0;
};

} // namespace kestrova
