#include "Presentation/ListReconciliation.hpp"

#include <algorithm>
#include <optional>
#include <unordered_map>
#include <unordered_set>

namespace kestrova {
namespace {

using joblark::IndexPath;
using KeySnapshot = joblark::DiffableSnapshot<std::string, std::string>;

// Snapshots ignore repeated items; numbering the repeats keeps every row (and section) in.
std::vector<std::string> numberRepeats(const std::vector<std::string>& keys) {
    std::unordered_map<std::string, std::size_t> seen;
    std::vector<std::string> unique;
    unique.reserve(keys.size());
    for (const auto& key : keys) {
        auto n = seen[key]++;
        unique.push_back(n == 0 ? key : key + '\x1e' + std::to_string(n));
    }
    return unique;
}

// Rows are keyed within their section: two sections may hold rows with the same id.
KeySnapshot keySnapshot(const KeyedList& list, std::vector<std::string>& sectionKeys) {
    sectionKeys = numberRepeats(list.sectionKeys);
    KeySnapshot snapshot;
    snapshot.appendSections(sectionKeys);
    for (std::size_t s = 0; s < sectionKeys.size(); ++s) {
        std::vector<std::string> rows;
        if (s < list.rowKeys.size())
            for (auto& key : numberRepeats(list.rowKeys[s]))
                rows.push_back(sectionKeys[s] + '\x1f' + key);
        snapshot.appendItems(rows, sectionKeys[s]);
    }
    return snapshot;
}

// Runs of consecutive indices, as (first, count), in the order given (ascending or descending).
template <class Emit>
void forEachRun(const std::vector<std::size_t>& indices, Emit emit) {
    for (std::size_t i = 0; i < indices.size();) {
        std::size_t j = i + 1;
        const bool descending =
            indices.size() > 1 && i + 1 < indices.size() && indices[i + 1] + 1 == indices[i];
        while (j < indices.size() &&
               (descending ? indices[j] + 1 == indices[j - 1] : indices[j] == indices[j - 1] + 1))
            ++j;
        const std::size_t first = descending ? indices[j - 1] : indices[i];
        emit(first, j - i);
        i = j;
    }
}

// Moves that sort `ranks` (a permutation of 0..n-1, current order) one item at a time: the items
// of a longest increasing run stay, each other item goes right after its predecessor in the target
// order. Visiting the others in target order keeps everything placed so far in order, so the result
// is sorted with the fewest moves. Each move is (from, index once moved).
std::vector<std::pair<std::size_t, std::size_t>> sortingMoves(const std::vector<std::size_t>& ranks) {
    std::vector<std::pair<std::size_t, std::size_t>> moves;
    std::vector<bool> stays(ranks.size(), false);
    for (auto position : joblark::detail::longestIncreasingSubsequence(ranks))
        stays[ranks[position]] = true;
    std::vector<std::size_t> current = ranks;
    auto indexOf = [&](std::size_t rank) {
        return static_cast<std::size_t>(std::find(current.begin(), current.end(), rank) - current.begin());
    };
    for (std::size_t rank = 0; rank < ranks.size(); ++rank) {
        if (stays[rank])
            continue;
        const std::size_t from = indexOf(rank);
        std::size_t to = rank == 0 ? 0 : indexOf(rank - 1) + 1;
        if (from < to)
            --to; // the item leaves a hole before its destination
        if (from == to)
            continue;
        current.erase(current.begin() + static_cast<std::ptrdiff_t>(from));
        current.insert(current.begin() + static_cast<std::ptrdiff_t>(to), rank);
        moves.emplace_back(from, to);
    }
    return moves;
}

} // namespace

std::vector<ListStep> reconcile(const KeyedList& from, const KeyedList& to,
                                const std::function<bool(IndexPath, IndexPath)>& sameContent) {
    std::vector<std::string> oldSections, newSections;
    const KeySnapshot before = keySnapshot(from, oldSections);
    const KeySnapshot after = keySnapshot(to, newSections);
    const joblark::SnapshotDifference difference = joblark::difference(before, after);
    std::vector<ListStep> steps;

    // Where each old section went, and which new sections came from an old one.
    std::unordered_map<std::string, std::size_t> newSectionIndex;
    for (std::size_t s = 0; s < newSections.size(); ++s)
        newSectionIndex.emplace(newSections[s], s);
    std::vector<std::optional<std::size_t>> sectionTarget(oldSections.size());
    std::vector<bool> newSectionKept(newSections.size(), false);
    for (std::size_t s = 0; s < oldSections.size(); ++s)
        if (auto it = newSectionIndex.find(oldSections[s]); it != newSectionIndex.end()) {
            sectionTarget[s] = it->second;
            newSectionKept[it->second] = true;
        }

    // 1. Rows that went, from kept sections (a removed section takes its rows along), bottom up.
    std::vector<std::vector<std::size_t>> removed(oldSections.size());
    for (const auto& path : difference.deletedItems)
        if (sectionTarget[path.section])
            removed[path.section].push_back(path.row);
    for (std::size_t s = oldSections.size(); s-- > 0;) {
        auto& rows = removed[s];
        std::sort(rows.rbegin(), rows.rend());
        forEachRun(rows, [&](std::size_t first, std::size_t count) {
            steps.push_back({ListStep::Kind::removeRows, s, first, count, 0});
        });
    }

    // 2. Sections that went, bottom up.
    std::vector<std::size_t> removedSections(difference.deletedSections.rbegin(),
                                             difference.deletedSections.rend());
    forEachRun(removedSections, [&](std::size_t first, std::size_t count) {
        steps.push_back({ListStep::Kind::removeSections, 0, first, count, 0});
    });

    // 3. Kept sections into their new order.
    std::vector<std::size_t> keptTargets;
    for (const auto& target : sectionTarget)
        if (target)
            keptTargets.push_back(*target);
    std::vector<std::size_t> sortedTargets = keptTargets;
    std::sort(sortedTargets.begin(), sortedTargets.end());
    std::vector<std::size_t> sectionRanks;
    for (auto target : keptTargets)
        sectionRanks.push_back(static_cast<std::size_t>(
            std::lower_bound(sortedTargets.begin(), sortedTargets.end(), target) - sortedTargets.begin()));
    for (auto [a, b] : sortingMoves(sectionRanks))
        steps.push_back({ListStep::Kind::moveSection, 0, a, 1, b});

    // 4. New sections, top down, each with its rows.
    forEachRun(difference.insertedSections, [&](std::size_t first, std::size_t count) {
        steps.push_back({ListStep::Kind::insertSections, 0, first, count, 0});
    });

    // Each kept new row's old position.
    std::unordered_map<std::string_view, IndexPath> oldPaths;
    oldPaths.reserve(before.numberOfItems());
    {
        const auto& items = before.itemIdentifiers();
        const auto paths = before.flatIndexPaths();
        for (std::size_t i = 0; i < items.size(); ++i)
            oldPaths.emplace(items[i], paths[i]);
    }
    const auto& newItems = after.itemIdentifiers();
    const auto newFlatPaths = after.flatIndexPaths();
    std::vector<std::vector<std::optional<IndexPath>>> origin(newSections.size());
    for (std::size_t s = 0; s < newSections.size(); ++s)
        origin[s].resize(after.numberOfItems(newSections[s]));
    for (std::size_t i = 0; i < newItems.size(); ++i)
        if (auto it = oldPaths.find(newItems[i]); it != oldPaths.end())
            origin[newFlatPaths[i].section][newFlatPaths[i].row] = it->second;

    // 5. Kept rows into their new order, section by section.
    for (std::size_t s = 0; s < newSections.size(); ++s) {
        if (!newSectionKept[s])
            continue;
        // The kept rows' old positions in their new order; ranked in old order that is the permutation.
        std::vector<std::size_t> oldRows;
        for (const auto& path : origin[s])
            if (path)
                oldRows.push_back(path->row);
        std::vector<std::size_t> byOld(oldRows.size());
        for (std::size_t k = 0; k < byOld.size(); ++k)
            byOld[k] = k;
        std::sort(byOld.begin(), byOld.end(), [&](auto a, auto b) { return oldRows[a] < oldRows[b]; });
        for (auto [a, b] : sortingMoves(byOld))
            steps.push_back({ListStep::Kind::moveRow, s, a, 1, b});
    }

    // 6. New rows of kept sections, top down.
    for (std::size_t s = 0; s < newSections.size(); ++s) {
        if (!newSectionKept[s])
            continue;
        std::vector<std::size_t> rows;
        for (std::size_t r = 0; r < origin[s].size(); ++r)
            if (!origin[s][r])
                rows.push_back(r);
        forEachRun(rows, [&](std::size_t first, std::size_t count) {
            steps.push_back({ListStep::Kind::insertRows, s, first, count, 0});
        });
    }

    // 7. Kept rows whose content changed, at their new positions.
    for (std::size_t s = 0; s < newSections.size(); ++s) {
        std::vector<std::size_t> rows;
        for (std::size_t r = 0; r < origin[s].size(); ++r)
            if (origin[s][r] && !sameContent(*origin[s][r], IndexPath{s, r}))
                rows.push_back(r);
        forEachRun(rows, [&](std::size_t first, std::size_t count) {
            steps.push_back({ListStep::Kind::updateRows, s, first, count, 0});
        });
    }
    return steps;
}

} // namespace kestrova
