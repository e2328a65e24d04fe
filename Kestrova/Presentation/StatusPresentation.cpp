#include "Presentation/StatusPresentation.hpp"

#include "joblark/Foundation/DateFormatter.hpp"

#include <algorithm>
#include <cstring>
#include <type_traits>

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

std::string percentText(std::size_t ok, std::size_t count) {
    if (count == 0)
        return "";
    const double percent = static_cast<double>(ok) / static_cast<double>(count) * 100.0;
    return std::to_string(static_cast<long long>(percent)) + "%";
}

template <class Entry>
std::string uptimeOf(const std::optional<std::vector<std::shared_ptr<Entry>>>& history) {
    if (!history)
        return std::string(unknownUptime);
    const auto ok = std::count_if(history->begin(), history->end(), [](const auto& entry) {
        return entry && entry->status && rawValue(*entry->status) == "ok";
    });
    return percentText(static_cast<std::size_t>(ok), history->size());
}

} // namespace

std::string overviewText(std::string uptime, const std::optional<joblark::Date>& updatedAt) {
    if (!updatedAt)
        return uptime;
    // One per thread: building an ICU formatter costs far more than using one.
    thread_local const joblark::DateFormatter formatter(joblark::DateStyle::none,
                                                        joblark::DateStyle::shortStyle);
    return uptime + ", " + formatter.string(*updatedAt);
}

namespace {

// FNV-1a over the fields, with a marker for each absent one so that moving a value between fields
// or dropping it changes the digest.
class Digest {
public:
    void add(std::string_view bytes) {
        for (unsigned char c : bytes)
            mix(c);
        mix(0xFF);
    }
    template <class T>
    void add(const std::optional<T>& value) {
        if (!value) {
            mix(0xFE);
            return;
        }
        if constexpr (std::is_same_v<T, std::string>)
            add(std::string_view(*value));
        else if constexpr (std::is_same_v<T, joblark::Date>)
            addNumber(value->timeIntervalSince1970());
        else
            add(rawValue(*value));
    }
    void addNumber(double value) {
        unsigned char bytes[sizeof value];
        std::memcpy(bytes, &value, sizeof value);
        for (unsigned char c : bytes)
            mix(c);
    }
    std::uint64_t value() const { return hash_; }

private:
    void mix(unsigned char c) {
        hash_ ^= c;
        hash_ *= 0x100000001B3ULL;
    }
    std::uint64_t hash_ = 0xCBF29CE484222325ULL;
};

template <class Resource, class Status>
std::uint64_t signatureOf(const Resource& resource, const std::optional<Status>& lastStatus) {
    Digest digest;
    digest.add(resource.name);
    digest.add(lastStatus);
    digest.add(resource.updatedAt);
    if (!resource.history) {
        digest.add(std::string_view("no history"));
        return digest.value();
    }
    digest.addNumber(static_cast<double>(resource.history->size()));
    for (const auto& entry : *resource.history) {
        if (!entry) {
            digest.add(std::string_view("null"));
            continue;
        }
        digest.add(entry->uuid);
        digest.add(entry->status);
    }
    return digest.value();
}

} // namespace

std::uint64_t contentSignature(const Endpoint& endpoint) {
    return signatureOf(endpoint, endpoint.lastCheckStatus);
}

std::uint64_t contentSignature(const Measure& measure) {
    return signatureOf(measure, measure.lastStatus);
}

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
std::string uptimeText(const std::vector<HistoryPoint>& recorded) {
    const auto ok = std::count_if(recorded.begin(), recorded.end(), [](const HistoryPoint& point) {
        return point.status == HistoryPoint::Status::ok;
    });
    return percentText(static_cast<std::size_t>(ok), recorded.size());
}
std::string overviewText(const Endpoint& endpoint) {
    return overviewText(uptimeText(endpoint), endpoint.updatedAt);
}
std::string overviewText(const Measure& measure) {
    return overviewText(uptimeText(measure), measure.updatedAt);
}

} // namespace kestrova
