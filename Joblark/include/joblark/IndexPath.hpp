#pragma once

#include <compare>
#include <cstddef>
#include <ostream>

namespace joblark {

/// A row in a sectioned list.
struct IndexPath {
    std::size_t section = 0;
    std::size_t row = 0;

    auto operator<=>(const IndexPath&) const = default;
};

inline std::ostream& operator<<(std::ostream& out, const IndexPath& path) {
    return out << '[' << path.section << ", " << path.row << ']';
}

} // namespace joblark
