#include "UI/Kit/SnapshotListModel.hpp"

#include "Presentation/Cards.hpp"
#include "UI/Kit/Views.hpp"

#include <algorithm>

namespace kestrova::ui {

using joblark::IndexPath;

SnapshotListModel::SnapshotListModel(QObject* parent) : QAbstractItemModel(parent) {}

SnapshotListModel::~SnapshotListModel() = default;

void SnapshotListModel::setCellProvider(CellProvider provider) {
    provider_ = std::move(provider);
    // Cells made by the previous provider are stale.
    for (auto& section : sections_)
        for (auto& row : section.rows)
            row.cell.reset();
    for (std::size_t s = 0; s < sections_.size(); ++s)
        if (!sections_[s].rows.empty()) {
            const auto parentIndex = sectionIndex(s);
            Q_EMIT dataChanged(index(0, 0, parentIndex),
                               index(static_cast<int>(sections_[s].rows.size()) - 1, 0, parentIndex));
        }
}

SnapshotListModel::Section SnapshotListModel::makeSection(SectionContent& content) {
    Section section{nextSerial_++, content.key, content.title, {}};
    section.rows.reserve(content.rowKeys.size());
    for (std::size_t r = 0; r < content.rowKeys.size(); ++r)
        section.rows.push_back(
            {content.rowKeys[r], r < content.items.size() ? content.items[r] : std::any(), nullptr});
    return section;
}

void SnapshotListModel::apply(std::vector<SectionContent> content, const SameContent& sameContent) {
    KeyedList before, after;
    for (const auto& section : sections_) {
        before.sectionKeys.push_back(section.key);
        auto& keys = before.rowKeys.emplace_back();
        keys.reserve(section.rows.size());
        for (const auto& row : section.rows)
            keys.push_back(row.key);
    }
    for (const auto& section : content) {
        after.sectionKeys.push_back(section.key);
        after.rowKeys.push_back(section.rowKeys);
    }
    const auto steps = reconcile(before, after, [&](IndexPath a, IndexPath b) {
        const auto& items = content[b.section].items;
        return b.row < items.size() && sameContent(sections_[a.section].rows[a.row].item, items[b.row]);
    });
    for (const auto& step : steps)
        applyStep(step, content);

    // Now row for row the same keys; take the new titles and items (same identity, so cells stay).
    bool inStep = sections_.size() == content.size();
    for (std::size_t s = 0; inStep && s < content.size(); ++s) {
        auto& section = sections_[s];
        inStep = section.key == content[s].key && section.rows.size() == content[s].rowKeys.size();
        for (std::size_t r = 0; inStep && r < section.rows.size(); ++r)
            inStep = section.rows[r].key == content[s].rowKeys[r];
    }
    if (!inStep) {
        // Cannot happen when the steps are right; if it ever does, a reset still shows the truth.
        beginResetModel();
        sections_.clear();
        for (auto& section : content)
            sections_.push_back(makeSection(section));
        endResetModel();
        return;
    }
    for (std::size_t s = 0; s < content.size(); ++s) {
        auto& section = sections_[s];
        for (std::size_t r = 0; r < section.rows.size() && r < content[s].items.size(); ++r)
            section.rows[r].item = std::move(content[s].items[r]);
        if (section.title != content[s].title) {
            section.title = content[s].title;
            const auto changed = sectionIndex(s);
            Q_EMIT dataChanged(changed, changed);
        }
    }
}

void SnapshotListModel::applyStep(const ListStep& step, std::vector<SectionContent>& content) {
    const int first = static_cast<int>(step.first);
    const int last = static_cast<int>(step.first + step.count) - 1;
    const auto begin = static_cast<std::ptrdiff_t>(step.first);
    const auto end = static_cast<std::ptrdiff_t>(step.first + step.count);
    switch (step.kind) {
    case ListStep::Kind::removeRows: {
        auto& rows = sections_[step.section].rows;
        beginRemoveRows(sectionIndex(step.section), first, last);
        rows.erase(rows.begin() + begin, rows.begin() + end);
        endRemoveRows();
        break;
    }
    case ListStep::Kind::removeSections:
        beginRemoveRows({}, first, last);
        sections_.erase(sections_.begin() + begin, sections_.begin() + end);
        endRemoveRows();
        break;
    case ListStep::Kind::moveSection: {
        // Qt names the destination as the row before which the item lands, counted before the move.
        const int destination = static_cast<int>(step.to > step.first ? step.to + 1 : step.to);
        beginMoveRows({}, first, first, {}, destination);
        auto moved = std::move(sections_[step.first]);
        sections_.erase(sections_.begin() + begin);
        sections_.insert(sections_.begin() + static_cast<std::ptrdiff_t>(step.to), std::move(moved));
        endMoveRows();
        break;
    }
    case ListStep::Kind::insertSections: {
        beginInsertRows({}, first, last);
        std::vector<Section> added;
        for (auto s = step.first; s < step.first + step.count; ++s)
            added.push_back(makeSection(content[s]));
        sections_.insert(sections_.begin() + begin, std::make_move_iterator(added.begin()),
                         std::make_move_iterator(added.end()));
        endInsertRows();
        break;
    }
    case ListStep::Kind::moveRow: {
        auto& rows = sections_[step.section].rows;
        const auto parentIndex = sectionIndex(step.section);
        const int destination = static_cast<int>(step.to > step.first ? step.to + 1 : step.to);
        beginMoveRows(parentIndex, first, first, parentIndex, destination);
        auto moved = std::move(rows[step.first]);
        rows.erase(rows.begin() + begin);
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(step.to), std::move(moved));
        endMoveRows();
        break;
    }
    case ListStep::Kind::insertRows: {
        auto& rows = sections_[step.section].rows;
        const auto& source = content[step.section];
        beginInsertRows(sectionIndex(step.section), first, last);
        std::vector<Row> added;
        for (auto r = step.first; r < step.first + step.count; ++r)
            added.push_back(
                {source.rowKeys[r], r < source.items.size() ? source.items[r] : std::any(), nullptr});
        rows.insert(rows.begin() + begin, std::make_move_iterator(added.begin()),
                    std::make_move_iterator(added.end()));
        endInsertRows();
        break;
    }
    case ListStep::Kind::updateRows: {
        auto& rows = sections_[step.section].rows;
        const auto& source = content[step.section];
        for (auto r = step.first; r < step.first + step.count; ++r) {
            rows[r].item = r < source.items.size() ? source.items[r] : std::any();
            rows[r].cell.reset(); // configured again on next paint
        }
        const auto parentIndex = sectionIndex(step.section);
        Q_EMIT dataChanged(index(first, 0, parentIndex), index(last, 0, parentIndex));
        break;
    }
    }
}

std::optional<std::size_t> SnapshotListModel::sectionOfSerial(quintptr serial) const {
    for (std::size_t s = 0; s < sections_.size(); ++s)
        if (sections_[s].serial == serial)
            return s;
    return std::nullopt;
}

QModelIndex SnapshotListModel::index(int row, int column, const QModelIndex& parent) const {
    if (row < 0 || column != 0)
        return {};
    if (!parent.isValid())
        return static_cast<std::size_t>(row) < sections_.size() ? createIndex(row, 0, quintptr(0))
                                                                : QModelIndex();
    if (parent.internalId() != 0)
        return {}; // cards have no children
    const auto section = static_cast<std::size_t>(parent.row());
    if (section >= sections_.size() || static_cast<std::size_t>(row) >= sections_[section].rows.size())
        return {};
    return createIndex(row, 0, quintptr(sections_[section].serial));
}

QModelIndex SnapshotListModel::parent(const QModelIndex& child) const {
    if (!child.isValid() || child.internalId() == 0)
        return {};
    auto section = sectionOfSerial(child.internalId());
    return section ? createIndex(static_cast<int>(*section), 0, quintptr(0)) : QModelIndex();
}

int SnapshotListModel::rowCount(const QModelIndex& parent) const {
    if (!parent.isValid())
        return static_cast<int>(sections_.size());
    if (parent.internalId() != 0 || static_cast<std::size_t>(parent.row()) >= sections_.size())
        return 0;
    return static_cast<int>(sections_[static_cast<std::size_t>(parent.row())].rows.size());
}

int SnapshotListModel::columnCount(const QModelIndex&) const {
    return 1;
}

std::size_t SnapshotListModel::rowCount(std::size_t section) const {
    return section < sections_.size() ? sections_[section].rows.size() : 0;
}

bool SnapshotListModel::isSection(const QModelIndex& index) const {
    return index.isValid() && index.internalId() == 0;
}

std::optional<IndexPath> SnapshotListModel::indexPath(const QModelIndex& index) const {
    if (!index.isValid() || index.internalId() == 0 || index.model() != this)
        return std::nullopt;
    auto section = sectionOfSerial(index.internalId());
    if (!section)
        return std::nullopt;
    return IndexPath{*section, static_cast<std::size_t>(index.row())};
}

QModelIndex SnapshotListModel::index(const IndexPath& path) const {
    return index(static_cast<int>(path.row), 0, sectionIndex(path.section));
}

QModelIndex SnapshotListModel::sectionIndex(std::size_t section) const {
    return section < sections_.size() ? createIndex(static_cast<int>(section), 0, quintptr(0))
                                      : QModelIndex();
}

const std::any* SnapshotListModel::item(const IndexPath& path) const {
    if (path.section >= sections_.size() || path.row >= sections_[path.section].rows.size())
        return nullptr;
    return &sections_[path.section].rows[path.row].item;
}

joblark::TableViewCellPtr SnapshotListModel::cell(const QModelIndex& index) const {
    auto path = indexPath(index);
    if (!path || path->row >= sections_[path->section].rows.size())
        return nullptr;
    const Row& row = sections_[path->section].rows[path->row];
    if (!row.cell && provider_) {
        row.cell = provider_(*path, row.item);
        ++cellsMade_;
    }
    return row.cell;
}

QVariant SnapshotListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid())
        return {};
    if (isSection(index)) {
        const auto section = static_cast<std::size_t>(index.row());
        if (section >= sections_.size())
            return {};
        switch (role) {
        case Qt::DisplayRole:
        case Qt::AccessibleTextRole:
            return sections_[section].title;
        case IsSectionRole:
            return true;
        case SectionKeyRole:
            return toQString(sections_[section].key);
        default:
            return {};
        }
    }
    auto path = indexPath(index);
    if (!path)
        return {};
    switch (role) {
    case Qt::DisplayRole:
    case Qt::AccessibleTextRole: {
        auto made = cell(index);
        if (!made)
            return {};
        // Name and overview, as a screen reader should announce the card.
        QString text = toQString(made->text);
        if (!made->detailText.empty())
            text += (text.isEmpty() ? QString() : QStringLiteral(", ")) + toQString(made->detailText);
        return text;
    }
    case Qt::AccessibleDescriptionRole: {
        auto card = std::dynamic_pointer_cast<CardCell>(cell(index));
        return card ? toQString(card->historyBar.accessibleDescription()) : QVariant();
    }
    case IsSectionRole:
        return false;
    case RowKeyRole:
        return toQString(sections_[path->section].rows[path->row].key);
    default:
        return {};
    }
}

Qt::ItemFlags SnapshotListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    if (isSection(index))
        return Qt::ItemIsEnabled; // headers are not selectable
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace kestrova::ui
