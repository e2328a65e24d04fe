#include "joblark/Foundation/Object.hpp"

#include <cstdio>
#include <functional>

namespace joblark {

std::size_t Object::hash() const { return std::hash<const void*>{}(this); }

std::string Object::description() const {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return "<" + className() + ": " + address + ">";
}

} // namespace joblark
