#pragma once

#include "History/HistoryStore.hpp"
#include "Model/Assessment.hpp"
#include "Model/Check.hpp"
#include "Presentation/ViewKit.hpp"

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrova {

/// One tile of a history bar: a rounded rectangle in the colour of one check or assessment.
struct HistoryEntry {
    static constexpr double cornerRadius = 4.0;
    Color tileColor = Color::systemGreen;
    bool operator==(const HistoryEntry&) const = default;
};

/// The tile colour of one history item: green, red or orange by status; the background colour for
/// an item without status.
Color tileColor(const Check& check);
Color tileColor(const Assessment& assessment);
Color tileColor(const HistoryPoint& point);

/// A row of 30 equal slots, 4 points apart, each a tile or an empty placeholder. The newest item
/// (first in the service's list) sits at the right end and the bar fills from the right.
class HistoryBar {
public:
    static constexpr std::size_t slotCount = 30;
    static constexpr double spacing = 4.0;

    struct Slot {
        std::optional<HistoryEntry> entry; ///< absent: a placeholder
        bool hidden = false;
        bool operator==(const Slot&) const = default;
    };

    /// Rebuilds every slot; of a list longer than 30, the 30 newest are shown.
    void showHistory(const std::vector<std::shared_ptr<Check>>& checks);
    void showHistory(const std::vector<std::shared_ptr<Assessment>>& assessments);
    /// The same from entries recorded locally, newest first (a cached state keeps no histories).
    void showHistory(const std::vector<HistoryPoint>& recorded);
    /// Hides the leftmost half of the slots (the older entries) for narrow cards.
    void showRecentHalf();
    void showAll();

    const std::vector<Slot>& slots() const { return slots_; }
    /// The bar in words, for screen readers: "History: 27 ok, 2 degraded, 1 down", with "not
    /// checked" for tiles without a status; "No history" for an empty bar.
    std::string accessibleDescription() const;

private:
    template <class Items>
    void rebuild(const Items& items);

    std::vector<Slot> slots_ = std::vector<Slot>(slotCount);
};

} // namespace kestrova
