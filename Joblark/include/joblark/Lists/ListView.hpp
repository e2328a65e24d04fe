#pragma once

#include "joblark/Foundation/Export.hpp"

// A toolkit-free list view: snapshots of sectioned items, the differences between two snapshots,
// and a table model that a toolkit binding renders row by row.

#include "joblark/Foundation/Log.hpp"
#include "joblark/Foundation/Object.hpp"
#include "joblark/Lists/IndexPath.hpp"

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

// Thread safety: Main thread only, like the views it drives.

namespace joblark {

/// How list items are told apart: model objects by their own isEqual/hash, everything else by
/// std::hash and ==.
template <class T>
struct ItemIdentity {
    static std::size_t hash(const T& item) { return std::hash<T>{}(item); }
    static bool equal(const T& a, const T& b) { return a == b; }
};

template <class T>
requires std::derived_from<T, Object>
struct ItemIdentity<std::shared_ptr<T>> {
    static std::size_t hash(const std::shared_ptr<T>& item) { return item ? item->hash() : 0; }
    static bool equal(const std::shared_ptr<T>& a, const std::shared_ptr<T>& b) {
        if (!a || !b)
            return a == b;
        return a == b || a->isEqual(*b);
    }
};

namespace detail {

/// Index of items by identity: open addressing over one flat table (a node-based map made the
/// 10,000-row difference about twice as slow). Positions refer into the vector it was built from.
template <class T>
class IdentityIndex {
    struct Slot {
        std::size_t hash = 0;
        const T* item = nullptr; // null: empty
        std::size_t position = 0;
    };

public:
    explicit IdentityIndex(std::size_t expected) {
        std::size_t capacity = 16;
        while (capacity < expected * 2)
            capacity *= 2;
        slots_.resize(capacity);
        mask_ = capacity - 1;
    }
    /// False when an equal item is already there. Items must outlive the index.
    bool insert(const T& item, std::size_t position) {
        if ((count_ + 1) * 2 > slots_.size())
            grow();
        const std::size_t hash = ItemIdentity<T>::hash(item);
        for (std::size_t i = mix(hash) & mask_;; i = (i + 1) & mask_) {
            Slot& slot = slots_[i];
            if (!slot.item) {
                slot = {hash, &item, position};
                ++count_;
                return true;
            }
            if (slot.hash == hash && ItemIdentity<T>::equal(*slot.item, item))
                return false;
        }
    }
    std::optional<std::size_t> find(const T& item) const {
        const std::size_t hash = ItemIdentity<T>::hash(item);
        for (std::size_t i = mix(hash) & mask_;; i = (i + 1) & mask_) {
            const Slot& slot = slots_[i];
            if (!slot.item)
                return std::nullopt;
            if (slot.hash == hash && ItemIdentity<T>::equal(*slot.item, item))
                return slot.position;
        }
    }

private:
    // std::hash of an integer is the identity; spread the bits before masking.
    static std::size_t mix(std::size_t h) {
        h ^= h >> 33;
        h *= 0xff51afd7ed558ccdULL;
        h ^= h >> 33;
        return h;
    }
    void grow() {
        std::vector<Slot> old(slots_.size() * 2);
        old.swap(slots_);
        mask_ = slots_.size() - 1;
        for (const Slot& slot : old) {
            if (!slot.item)
                continue;
            std::size_t i = mix(slot.hash) & mask_;
            while (slots_[i].item)
                i = (i + 1) & mask_;
            slots_[i] = slot;
        }
    }

    std::vector<Slot> slots_;
    std::size_t mask_ = 0;
    std::size_t count_ = 0;
};

} // namespace detail

/// The content of a list at one moment: ordered sections, each with ordered items. An item (and a
/// section) appears at most once; appending one that is already there is ignored and logged.
template <class Section, class Item>
class DiffableSnapshot {
public:
    std::size_t numberOfSections() const { return sections_.size(); }
    std::size_t numberOfItems() const { return items_.size(); }
    const std::vector<Section>& sectionIdentifiers() const { return sections_; }
    const std::vector<Item>& itemIdentifiers() const { return items_; }

    std::size_t numberOfItems(const Section& section) const {
        auto index = indexOfSection(section);
        return index ? counts_[*index] : 0;
    }
    std::vector<Item> itemIdentifiers(const Section& section) const {
        auto index = indexOfSection(section);
        if (!index)
            return {};
        auto first = items_.begin() + static_cast<std::ptrdiff_t>(firstItemOf(*index));
        return {first, first + static_cast<std::ptrdiff_t>(counts_[*index])};
    }
    std::optional<std::size_t> indexOfSection(const Section& section) const {
        for (std::size_t i = 0; i < sections_.size(); ++i)
            if (sections_[i] == section)
                return i;
        return std::nullopt;
    }

    void appendSections(const std::vector<Section>& sections) {
        for (const auto& section : sections) {
            if (indexOfSection(section)) {
                Logger::general().error("Ignoring a section that is already in the snapshot");
                continue;
            }
            sections_.push_back(section);
            counts_.push_back(0);
        }
    }

    /// Appends to the last section; nothing happens without one.
    void appendItems(const std::vector<Item>& items) {
        if (sections_.empty()) {
            Logger::general().error("Ignoring items appended to a snapshot without sections");
            return;
        }
        appendItems(items, sections_.back());
    }

    void appendItems(const std::vector<Item>& items, const Section& section) {
        auto index = indexOfSection(section);
        if (!index) {
            Logger::general().error("Ignoring items appended to a section the snapshot does not have");
            return;
        }
        // Items of later sections shift back; appending to the last one (the usual case) moves none.
        const std::size_t end = firstItemOf(*index) + counts_[*index];
        std::vector<Item> accepted;
        accepted.reserve(items.size());
        ensureIndex();
        for (const auto& item : items) {
            if (!index_->insert(item, 0)) {
                Logger::general().error("Ignoring an item that is already in the snapshot");
                continue;
            }
            accepted.push_back(item);
        }
        items_.insert(items_.begin() + static_cast<std::ptrdiff_t>(end), accepted.begin(), accepted.end());
        counts_[*index] += accepted.size();
        index_.reset(); // positions changed (and the index points into the vector, which moved)
    }

    /// Where `item` is, if it is in the snapshot.
    std::optional<IndexPath> indexPath(const Item& item) const {
        for (std::size_t i = 0, section = 0, seen = 0; i < items_.size(); ++i) {
            while (section < counts_.size() && i >= seen + counts_[section])
                seen += counts_[section++];
            if (ItemIdentity<Item>::equal(items_[i], item))
                return IndexPath{section, i - seen};
        }
        return std::nullopt;
    }
    const Item* item(const IndexPath& path) const {
        if (path.section >= sections_.size() || path.row >= counts_[path.section])
            return nullptr;
        return &items_[firstItemOf(path.section) + path.row];
    }

    /// The index path of every item, in order (for the differ).
    std::vector<IndexPath> flatIndexPaths() const {
        std::vector<IndexPath> paths;
        paths.reserve(items_.size());
        for (std::size_t s = 0; s < counts_.size(); ++s)
            for (std::size_t r = 0; r < counts_[s]; ++r)
                paths.push_back({s, r});
        return paths;
    }

private:
    std::size_t firstItemOf(std::size_t sectionIndex) const {
        std::size_t first = 0;
        for (std::size_t s = 0; s < sectionIndex; ++s)
            first += counts_[s];
        return first;
    }
    void ensureIndex() {
        if (index_)
            return;
        index_.emplace(items_.size());
        for (const auto& existing : items_)
            index_->insert(existing, 0);
    }

    std::vector<Section> sections_;
    std::vector<std::size_t> counts_;
    std::vector<Item> items_;
    std::optional<detail::IdentityIndex<Item>> index_;
};

/// What changed between two snapshots, in the terms a list view animates: sections and rows
/// deleted (old positions), inserted (new positions), and items that stayed but moved (old → new).
/// Items that stayed in their relative order are not listed.
struct JOBLARK_EXPORT SnapshotDifference {
    struct Move {
        IndexPath from;
        IndexPath to;
        bool operator==(const Move&) const = default;
    };
    std::vector<std::size_t> deletedSections;
    std::vector<std::size_t> insertedSections;
    std::vector<IndexPath> deletedItems;
    std::vector<IndexPath> insertedItems;
    std::vector<Move> movedItems;

    bool empty() const {
        return deletedSections.empty() && insertedSections.empty() && deletedItems.empty() &&
               insertedItems.empty() && movedItems.empty();
    }
};

namespace detail {

/// Positions (into `sequence`) of one longest strictly increasing subsequence; O(n log n).
JOBLARK_EXPORT std::vector<std::size_t>
longestIncreasingSubsequence(const std::vector<std::size_t>& sequence);

} // namespace detail

/// The differences that turn `from` into `to`. Items are matched by identity (hash and equality);
/// the fewest moves are reported (those outside a longest run of items kept in order).
template <class Section, class Item>
SnapshotDifference difference(const DiffableSnapshot<Section, Item>& from,
                              const DiffableSnapshot<Section, Item>& to) {
    SnapshotDifference result;
    for (std::size_t s = 0; s < from.numberOfSections(); ++s)
        if (!to.indexOfSection(from.sectionIdentifiers()[s]))
            result.deletedSections.push_back(s);
    for (std::size_t s = 0; s < to.numberOfSections(); ++s)
        if (!from.indexOfSection(to.sectionIdentifiers()[s]))
            result.insertedSections.push_back(s);

    const auto& oldItems = from.itemIdentifiers();
    const auto& newItems = to.itemIdentifiers();
    const auto oldPaths = from.flatIndexPaths();
    const auto newPaths = to.flatIndexPaths();

    detail::IdentityIndex<Item> oldIndex(oldItems.size());
    for (std::size_t i = 0; i < oldItems.size(); ++i)
        oldIndex.insert(oldItems[i], i);

    std::vector<bool> kept(oldItems.size(), false);
    std::vector<std::size_t> oldPositions; // of the items kept, in their new order
    std::vector<std::size_t> newPositions; // the same items' new positions
    oldPositions.reserve(newItems.size());
    newPositions.reserve(newItems.size());
    for (std::size_t j = 0; j < newItems.size(); ++j) {
        if (auto i = oldIndex.find(newItems[j])) {
            kept[*i] = true;
            oldPositions.push_back(*i);
            newPositions.push_back(j);
        } else {
            result.insertedItems.push_back(newPaths[j]);
        }
    }
    for (std::size_t i = 0; i < oldItems.size(); ++i)
        if (!kept[i])
            result.deletedItems.push_back(oldPaths[i]);

    // Items in a section that came or went are inserted or deleted with it, not moved.
    auto sectionOf = [](const DiffableSnapshot<Section, Item>& snapshot, std::size_t index) {
        return snapshot.sectionIdentifiers()[index];
    };
    std::vector<bool> inOrder(oldPositions.size(), false);
    for (std::size_t k : detail::longestIncreasingSubsequence(oldPositions))
        inOrder[k] = true;
    for (std::size_t k = 0; k < oldPositions.size(); ++k) {
        const IndexPath fromPath = oldPaths[oldPositions[k]];
        const IndexPath toPath = newPaths[newPositions[k]];
        const bool sameSection = sectionOf(from, fromPath.section) == sectionOf(to, toPath.section);
        if (!inOrder[k] || !sameSection)
            result.movedItems.push_back({fromPath, toPath});
    }
    return result;
}

/// How a table lays out its rows.
enum class TableViewStyle { plain, grouped, insetGrouped };

/// A row's view, as a binding fills it in. A toolkit binding may subclass it.
class JOBLARK_EXPORT TableViewCell {
public:
    virtual ~TableViewCell() = default;
    std::string reuseIdentifier;
    std::string text;
    std::string detailText;
};
using TableViewCellPtr = std::shared_ptr<TableViewCell>;

/// A plain view placeholder (background and footer views).
struct JOBLARK_EXPORT View {
    std::string name;
};

class TableView;

/// Where a table gets its rows.
class JOBLARK_EXPORT TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual std::size_t numberOfSections(TableView& tableView) = 0;
    virtual std::size_t numberOfRows(TableView& tableView, std::size_t section) = 0;
    virtual TableViewCellPtr cellForRow(TableView& tableView, const IndexPath& indexPath) = 0;
};

/// What a toolkit binding hears: a full reload, or the differences to animate row by row.
class JOBLARK_EXPORT TableViewObserver {
public:
    virtual ~TableViewObserver() = default;
    virtual void tableViewDidReloadData(TableView& tableView) = 0;
    virtual void tableViewDidApply(TableView& tableView, const SnapshotDifference& difference,
                                   bool animated) = 0;
};

/// A headless table: layout settings, a data source, and the observers that render it. Owned by
/// its controller; used on the main thread only.
class JOBLARK_EXPORT TableView {
public:
    static constexpr double automaticDimension = -1;

    explicit TableView(TableViewStyle style = TableViewStyle::plain) : style_(style) {}

    TableViewStyle style() const { return style_; }
    double estimatedRowHeight = 0;
    double rowHeight = automaticDimension;
    std::optional<View> backgroundView;
    std::optional<View> tableFooterView;

    TableViewDataSource* dataSource() const { return dataSource_; }
    void setDataSource(TableViewDataSource* dataSource) { dataSource_ = dataSource; }

    void addObserver(TableViewObserver* observer) { observers_.push_back(observer); }
    void removeObserver(TableViewObserver* observer) { std::erase(observers_, observer); }

    std::size_t numberOfSections() { return dataSource_ ? dataSource_->numberOfSections(*this) : 0; }
    std::size_t numberOfRows(std::size_t section) {
        return dataSource_ ? dataSource_->numberOfRows(*this, section) : 0;
    }
    TableViewCellPtr cellForRow(const IndexPath& indexPath) {
        return dataSource_ ? dataSource_->cellForRow(*this, indexPath) : nullptr;
    }

    void reloadData() {
        for (auto* observer : std::vector(observers_))
            observer->tableViewDidReloadData(*this);
    }
    void performUpdates(const SnapshotDifference& difference, bool animated) {
        for (auto* observer : std::vector(observers_))
            observer->tableViewDidApply(*this, difference, animated);
    }

private:
    TableViewStyle style_;
    TableViewDataSource* dataSource_ = nullptr;
    std::vector<TableViewObserver*> observers_;
};

/// Feeds a table from snapshots: applying one computes what changed since the last and has the
/// table show it; cells come from the cell provider, which gets the item itself.
template <class Section, class Item>
class TableViewDiffableDataSource : public TableViewDataSource {
public:
    using Snapshot = DiffableSnapshot<Section, Item>;
    using CellProvider =
        std::function<TableViewCellPtr(TableView& tableView, const IndexPath& indexPath, const Item& item)>;

    TableViewDiffableDataSource(TableView& tableView, CellProvider cellProvider)
        : tableView_(tableView), cellProvider_(std::move(cellProvider)) {}

    const Snapshot& snapshot() const { return snapshot_; }

    /// Makes `snapshot` current. The table hears the differences (animated or not); the first
    /// snapshot, with nothing shown before, reloads it instead.
    SnapshotDifference apply(Snapshot snapshot, bool animatingDifferences = true) {
        SnapshotDifference changes = difference(snapshot_, snapshot);
        const bool first = !applied_;
        snapshot_ = std::move(snapshot);
        applied_ = true;
        if (first)
            tableView_.reloadData();
        else
            tableView_.performUpdates(changes, animatingDifferences);
        return changes;
    }

    const Item* itemIdentifier(const IndexPath& indexPath) const { return snapshot_.item(indexPath); }
    std::optional<IndexPath> indexPath(const Item& item) const { return snapshot_.indexPath(item); }

    std::size_t numberOfSections(TableView&) override { return snapshot_.numberOfSections(); }
    std::size_t numberOfRows(TableView&, std::size_t section) override {
        if (section >= snapshot_.numberOfSections())
            return 0;
        return snapshot_.numberOfItems(snapshot_.sectionIdentifiers()[section]);
    }
    TableViewCellPtr cellForRow(TableView& tableView, const IndexPath& indexPath) override {
        const Item* item = snapshot_.item(indexPath);
        if (!item || !cellProvider_)
            return nullptr;
        return cellProvider_(tableView, indexPath, *item);
    }

private:
    TableView& tableView_;
    CellProvider cellProvider_;
    Snapshot snapshot_;
    bool applied_ = false;
};

} // namespace joblark
