#pragma once

// How every front end shows the state of the account: the overall status, the uptime and overview
// texts of a card, and the tiles of its 30-slot history bar.

#include "History/HistoryStore.hpp"
#include "Model/AppState.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova {

/// Down when anything is down, else degraded when anything is degraded, else ok (also with no
/// state). A resource without a last status counts as neither.
OverallStatus overallStatus(const AppState* state);

/// One slot of a history bar.
enum class HistoryTile {
    placeholder, ///< no entry in this slot
    ok,
    down,
    degraded,
    unknown ///< an entry without status (the background colour)
};

inline constexpr std::size_t historySlots = 30;
using HistoryTiles = std::array<HistoryTile, historySlots>;

/// The bar of a history listed newest first: the newest entry at the right end, the bar filled from
/// the right; only the 30 newest entries of a longer list are shown.
HistoryTiles historyTiles(const Endpoint& endpoint);
HistoryTiles historyTiles(const Measure& measure);

/// What the uptime shows for a resource whose history is not known (the cache keeps none): no
/// measurement was made, so none is claimed.
inline constexpr std::string_view unknownUptime = "\u2013";

/// "96%": the share of ok entries, truncated; `unknownUptime` without a history, "" for an empty one.
std::string uptimeText(const Endpoint& endpoint);
std::string uptimeText(const Measure& measure);
/// The same over entries recorded locally.
std::string uptimeText(const std::vector<HistoryPoint>& recorded);

/// The uptime text and, when the resource was ever updated, that time of day in the user's locale,
/// joined with ", ".
std::string overviewText(const Endpoint& endpoint);
std::string overviewText(const Measure& measure);
std::string overviewText(std::string uptime, const std::optional<joblark::Date>& updatedAt);

/// A digest of what a card shows of a resource: name, last status, update time and each history
/// entry's id and status. Two versions of a resource with equal digests draw the same card. The
/// update time alone does not tell: the cache keeps no histories, so the first sync brings them
/// with an unchanged update time.
std::uint64_t contentSignature(const Endpoint& endpoint);
std::uint64_t contentSignature(const Measure& measure);

} // namespace kestrova
