#include "Presentation/HistoryBar.hpp"

#include <algorithm>
#include <utility>

namespace kestrova {
namespace {

template <class Status>
Color colorOf(const std::optional<Status>& status) {
    if (!status)
        return Color::systemBackground;
    switch (*status) {
    case Status::ok:
        return Color::systemGreen;
    case Status::down:
        return Color::systemRed;
    case Status::degraded:
        return Color::systemOrange;
    }
    return Color::systemGreen;
}

} // namespace

Color tileColor(const Check& check) {
    return colorOf(check.status);
}
Color tileColor(const Assessment& assessment) {
    return colorOf(assessment.status);
}
Color tileColor(const HistoryPoint& point) {
    return colorOf(point.status);
}

std::string HistoryBar::accessibleDescription() const {
    // Counted from the tile colours: what a sighted user reads from the bar, nothing more.
    const std::pair<Color, const char*> kinds[] = {{Color::systemGreen, "ok"},
                                                   {Color::systemOrange, "degraded"},
                                                   {Color::systemRed, "down"},
                                                   {Color::systemBackground, "not checked"}};
    std::string text;
    for (const auto& [color, word] : kinds) {
        const auto count = std::count_if(slots_.begin(), slots_.end(), [color = color](const Slot& slot) {
            return slot.entry && !slot.hidden && slot.entry->tileColor == color;
        });
        if (count)
            text += (text.empty() ? "History: " : ", ") + std::to_string(count) + " " + word;
    }
    return text.empty() ? "No history" : text;
}

namespace {

template <class Item>
Color tileOf(const std::shared_ptr<Item>& item) {
    return item ? tileColor(*item) : Color::systemGreen;
}
Color tileOf(const HistoryPoint& point) {
    return tileColor(point);
}

} // namespace

template <class Items>
void HistoryBar::rebuild(const Items& items) {
    const std::size_t shown = std::min(items.size(), slotCount);
    slots_.assign(slotCount, Slot{});
    // The first item of the list is the newest: it takes the rightmost slot.
    for (std::size_t k = 0; k < shown; ++k) {
        slots_[slotCount - 1 - k].entry = HistoryEntry{tileOf(items[k])};
    }
}

void HistoryBar::showHistory(const std::vector<std::shared_ptr<Check>>& checks) {
    rebuild(checks);
}
void HistoryBar::showHistory(const std::vector<std::shared_ptr<Assessment>>& assessments) {
    rebuild(assessments);
}
void HistoryBar::showHistory(const std::vector<HistoryPoint>& recorded) {
    rebuild(recorded);
}

void HistoryBar::showRecentHalf() {
    const std::size_t half = slots_.size() / 2;
    for (std::size_t i = 0; i < half; ++i)
        slots_[i].hidden = true;
}

void HistoryBar::showAll() {
    for (auto& slot : slots_)
        slot.hidden = false;
}

} // namespace kestrova
