#pragma once

#include "joblark/Foundation/Object.hpp"

#include <functional>
#include <optional>
#include <string>
#include <typeinfo>

namespace kestrova {

/// Equality and hash by the service's identifier (`id`), for the resources that have one: two objects
/// of the same class with equal ids are equal, and two without an id are equal too.
template <class Derived>
class Identified : public joblark::Object {
public:
    bool isEqual(const joblark::Object& other) const override {
        if (typeid(other) != typeid(*this))
            return false;
        return static_cast<const Derived&>(other).id == static_cast<const Derived&>(*this).id;
    }
    std::size_t hash() const override {
        const auto& id = static_cast<const Derived&>(*this).id;
        return id ? std::hash<std::string>{}(*id) : 0;
    }
};

} // namespace kestrova
