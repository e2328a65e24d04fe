#pragma once

#include <array>
#include <optional>
#include <string_view>
#include <utility>

namespace kestrova {

/// The texts an enumeration is read from and written as (JSON and archive). Specialised next to each
/// enumeration with `static constexpr std::array<std::pair<E, std::string_view>, N> cases`.
template <class E>
struct RawValues;

template <class E>
constexpr std::string_view rawValue(E value) {
    for (const auto& [c, text] : RawValues<E>::cases)
        if (c == value)
            return text;
    return {};
}

/// Exact, case-sensitive match.
template <class E>
constexpr std::optional<E> fromRawValue(std::string_view text) {
    for (const auto& [c, raw] : RawValues<E>::cases)
        if (raw == text)
            return c;
    return std::nullopt;
}

} // namespace kestrova
