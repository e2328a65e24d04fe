#pragma once

// Turns one snapshot of a sectioned list into the next as a sequence of single steps, each valid on
// the list as the steps before it left it: what a toolkit's item model announces one change at a
// time (Qt's beginRemoveRows/beginMoveRows/beginInsertRows). Sections are matched by a key the
// caller gives (the overview's section ids carry the reload time, which must not count), rows by a
// key within their section (the resource id); a row whose key stayed but whose identity changed
// (a new updatedAt) is an in-place update, so only that row is drawn again.

#include "joblark/Lists/ListView.hpp"

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace kestrova {

struct ListStep {
    enum class Kind {
        removeRows,     ///< rows [first, first + count) of `section`, at the old section positions
        removeSections, ///< sections [first, first + count)
        moveSection,    ///< section `first` to position `to` (its index once moved)
        insertSections, ///< sections [first, first + count), with all their rows
        moveRow,        ///< row `first` of `section` to position `to` (its index once moved)
        insertRows,     ///< rows [first, first + count) of `section`
        updateRows      ///< rows [first, first + count) of `section` show new content
    };
    Kind kind;
    std::size_t section = 0;
    std::size_t first = 0;
    std::size_t count = 1;
    std::size_t to = 0;
    bool operator==(const ListStep&) const = default;
};

/// A list reduced to its keys. Keys repeated within a section (or repeated section keys) are told
/// apart by their order of appearance.
struct KeyedList {
    std::vector<std::string> sectionKeys;
    std::vector<std::vector<std::string>> rowKeys; ///< per section
};

/// The steps from `from` to `to`: row removals, section removals, section moves, section
/// insertions, row moves, row insertions, then updates (new positions) of the rows kept for which
/// `sameContent(oldPath, newPath)` is false. Applying them to `from` in order gives `to`.
std::vector<ListStep>
reconcile(const KeyedList& from, const KeyedList& to,
          const std::function<bool(joblark::IndexPath, joblark::IndexPath)>& sameContent);

/// The same over two snapshots: `sectionKey` and `rowKey` give the keys, and kept rows are updated
/// when their identities differ.
template <class Section, class Item, class SectionKey, class RowKey>
std::vector<ListStep> reconcile(const joblark::DiffableSnapshot<Section, Item>& from,
                                const joblark::DiffableSnapshot<Section, Item>& to, SectionKey sectionKey,
                                RowKey rowKey) {
    auto keyed = [&](const joblark::DiffableSnapshot<Section, Item>& snapshot) {
        KeyedList list;
        for (const auto& section : snapshot.sectionIdentifiers()) {
            list.sectionKeys.push_back(sectionKey(section));
            auto& rows = list.rowKeys.emplace_back();
            for (const auto& item : snapshot.itemIdentifiers(section))
                rows.push_back(rowKey(item));
        }
        return list;
    };
    return reconcile(keyed(from), keyed(to), [&](joblark::IndexPath a, joblark::IndexPath b) {
        const Item* oldItem = from.item(a);
        const Item* newItem = to.item(b);
        return oldItem && newItem && joblark::ItemIdentity<Item>::equal(*oldItem, *newItem);
    });
}

} // namespace kestrova
