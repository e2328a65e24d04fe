#include "Presentation/StatusPresentation.hpp"

#include "joblark/Foundation/DateFormatter.hpp"

#include <algorithm>

namespace kestrova {
namespace {

template <class Status>
HistoryTile tileFor(const std::optional<Status>& status) {
    if (!status)
        return HistoryTile::unknown;
    const std::string_view text = rawValue(*status);
    if (text == "ok")
        return HistoryTile::ok;
    if (text == "down")
        return HistoryTile::down;
    if (text == "degraded")
        return HistoryTile::degraded;
    return HistoryTile::unknown;
}

template <class Entry>
HistoryTiles tilesOf(const std::optional<std::vector<std::shared_ptr<Entry>>>& history) {
    HistoryTiles tiles;
    tiles.fill(HistoryTile::placeholder);
    if (!history)
        return tiles;
    const std::size_t shown = std::min(history->size(), historySlots);
    // Entry k of the list (0 = newest) goes k slots in from the right end.
    for (std::size_t k = 0; k < shown; ++k) {
        const auto& entry = (*history)[k];
        tiles[historySlots - 1 - k] = entry ? tileFor(entry->status) : HistoryTile::unknown;
    }
    return tiles;
}

template <class Entry>
std::string uptimeOf(const std::optional<std::vector<std::shared_ptr<Entry>>>& history) {
    if (!history)
        return std::string(unknownUptime);
    if (history->empty())
        return "";
    const auto ok = std::count_if(history->begin(), history->end(), [](const auto& entry) {
        return entry && entry->status && rawValue(*entry->status) == "ok";
    });
    const double percent = static_cast<double>(ok) / static_cast<double>(history->size()) * 100.0;
    return std::to_string(static_cast<long long>(percent)) + "%";
}

std::string withTimeOfDay(std::string uptime, const std::optional<joblark::Date>& updatedAt) {
    if (!updatedAt)
        return uptime;
    // One per thread: building an ICU formatter costs far more than using one.
    thread_local const joblark::DateFormatter formatter(joblark::DateStyle::none,
                                                        joblark::DateStyle::shortStyle);
    return uptime + ", " + formatter.string(*updatedAt);
}

} // namespace

OverallStatus overallStatus(const AppState* state) {
    if (!state || state->allHaveStatus(OverallStatus::ok))
        return OverallStatus::ok;
    if (state->anyHasStatus(OverallStatus::down))
        return OverallStatus::down;
    if (state->anyHasStatus(OverallStatus::degraded))
        return OverallStatus::degraded;
    return OverallStatus::ok;
}

HistoryTiles historyTiles(const Endpoint& endpoint) {
    return tilesOf(endpoint.history);
}
HistoryTiles historyTiles(const Measure& measure) {
    return tilesOf(measure.history);
}
std::string uptimeText(const Endpoint& endpoint) {
    return uptimeOf(endpoint.history);
}
std::string uptimeText(const Measure& measure) {
    return uptimeOf(measure.history);
}
std::string overviewText(const Endpoint& endpoint) {
    return withTimeOfDay(uptimeText(endpoint), endpoint.updatedAt);
}
std::string overviewText(const Measure& measure) {
    return withTimeOfDay(uptimeText(measure), measure.updatedAt);
}

} // namespace kestrova
