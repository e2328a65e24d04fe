#pragma once

// A Qt item model fed by the core's snapshots: sections are top-level rows, their cards the
// children. A new snapshot is reconciled with the shown one and announced step by step (rows
// removed, moved, inserted, changed in place), so views keep their selection and scroll position
// and repaint only what changed. Cells come from a provider on first use and stay until their row
// changes, as a table's cells would.

#include "Presentation/ListReconciliation.hpp"

#include "joblark/Lists/ListView.hpp"

#include <QAbstractItemModel>
#include <QString>

#include <any>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kestrova::ui {

class SnapshotListModel : public QAbstractItemModel {
    Q_OBJECT
public:
    enum Role { IsSectionRole = Qt::UserRole + 1, SectionKeyRole, RowKeyRole };

    /// Makes the cell for a row: its position and the item the snapshot holds there.
    using CellProvider =
        std::function<joblark::TableViewCellPtr(const joblark::IndexPath&, const std::any& item)>;

    /// One section of the content to show.
    struct SectionContent {
        std::string key;                  ///< matches sections across reloads
        QString title;                    ///< the header shown
        std::vector<std::string> rowKeys; ///< match rows across reloads within the section
        std::vector<std::any> items;      ///< what the cell provider gets, one per row
    };
    /// Whether two items (of rows with the same key) show the same thing.
    using SameContent = std::function<bool(const std::any&, const std::any&)>;

    explicit SnapshotListModel(QObject* parent = nullptr);
    ~SnapshotListModel() override;

    void setCellProvider(CellProvider provider);

    /// Shows `content`, announcing the differences from what is shown.
    void apply(std::vector<SectionContent> content, const SameContent& sameContent);

    /// Shows a snapshot: sections keyed by `sectionKey`, titled by `title`, rows keyed by `rowKey`,
    /// rows with a changed identity updated in place.
    template <class Section, class Item, class SectionKey, class Title, class RowKey>
    void apply(const joblark::DiffableSnapshot<Section, Item>& snapshot, SectionKey sectionKey, Title title,
               RowKey rowKey) {
        std::vector<SectionContent> content;
        content.reserve(snapshot.numberOfSections());
        for (const auto& section : snapshot.sectionIdentifiers()) {
            auto& added = content.emplace_back();
            added.key = sectionKey(section);
            added.title = title(section);
            for (auto& item : snapshot.itemIdentifiers(section)) {
                added.rowKeys.push_back(rowKey(item));
                added.items.emplace_back(std::move(item));
            }
        }
        apply(std::move(content), [](const std::any& a, const std::any& b) {
            const Item* x = std::any_cast<Item>(&a);
            const Item* y = std::any_cast<Item>(&b);
            return x && y && joblark::ItemIdentity<Item>::equal(*x, *y);
        });
    }

    /// The cell of a card row, made on first use; null for a section row or an invalid index.
    joblark::TableViewCellPtr cell(const QModelIndex& index) const;
    bool isSection(const QModelIndex& index) const;
    std::optional<joblark::IndexPath> indexPath(const QModelIndex& index) const;
    QModelIndex index(const joblark::IndexPath& path) const;
    QModelIndex sectionIndex(std::size_t section) const;
    const std::any* item(const joblark::IndexPath& path) const;
    std::size_t sectionCount() const { return sections_.size(); }
    std::size_t rowCount(std::size_t section) const;

    /// How many cells the provider has made (the benchmark shows a reload configures only what it must).
    std::size_t cellsMade() const { return cellsMade_; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    struct Row {
        std::string key;
        std::any item;
        mutable joblark::TableViewCellPtr cell;
    };
    struct Section {
        std::uint32_t serial; ///< stable while the section lives; children's indexes carry it
        std::string key;
        QString title;
        std::vector<Row> rows;
    };
    Section makeSection(SectionContent& content);
    std::optional<std::size_t> sectionOfSerial(quintptr serial) const;
    void applyStep(const ListStep& step, std::vector<SectionContent>& content);

    std::vector<Section> sections_;
    CellProvider provider_;
    std::uint32_t nextSerial_ = 1; // 0 marks a section's own index
    mutable std::size_t cellsMade_ = 0;
};

} // namespace kestrova::ui
