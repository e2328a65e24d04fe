#pragma once

#include "joblark/Foundation/Export.hpp"

#include <compare>
#include <cstddef>
#include <ostream>

// Thread safety: A plain value: no synchronisation of its own.

namespace joblark {

/// A row in a sectioned list.
struct JOBLARK_EXPORT IndexPath {
    std::size_t section = 0;
    std::size_t row = 0;

    auto operator<=>(const IndexPath&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const IndexPath& path) {
    return out << '[' << path.section << ", " << path.row << ']';
}

} // namespace joblark
