#pragma once

#include "joblark/Foundation/Value.hpp"

#include <chrono>
#include <optional>

/// How often the automatic refresh runs, from the "kRefreshInterval" preference (seconds). The one
/// rule for every reader: the refresh timer, the terminal front end and the preferences screen.
namespace kestrova::RefreshInterval {

inline constexpr std::chrono::seconds minimum{5};
inline constexpr std::chrono::seconds maximum{24 * 60 * 60};
inline constexpr std::chrono::seconds standard{30};

/// The whole seconds of a stored value, held to minimum…maximum; a value outside is clamped. NaN, a
/// negative number and anything that is not a number give the standard interval. Either change is
/// logged, naming the value.
std::chrono::seconds fromPreference(const std::optional<joblark::Value>& stored);

/// The preference as it stands now in the user's defaults.
std::chrono::seconds current();

} // namespace kestrova::RefreshInterval
