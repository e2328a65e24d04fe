#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Lists/ListView.hpp"
#include "joblark/Lists/PaginatedDataSource.hpp"

#include <memory>
#include <optional>
#include <string>

// Thread safety: Main thread only.

namespace joblark {

/// The toolkit-free part of a table screen: owns its table view and loads it once.
class JOBLARK_EXPORT TableViewController {
public:
    explicit TableViewController(TableViewStyle style = TableViewStyle::plain) : tableView_(style) {}
    TableViewController(std::optional<std::string> nibName, std::optional<std::string> bundle)
        : nibName_(std::move(nibName)), bundle_(std::move(bundle)) {}
    explicit TableViewController(KeyedUnarchiver& /*coder*/) {}
    virtual ~TableViewController() = default;
    TableViewController(const TableViewController&) = delete;
    TableViewController& operator=(const TableViewController&) = delete;

    TableView& tableView() { return tableView_; }
    const std::optional<std::string>& nibName() const { return nibName_; }
    const std::optional<std::string>& bundle() const { return bundle_; }
    bool isViewLoaded() const { return viewLoaded_; }
    /// Calls viewDidLoad() the first time.
    void loadViewIfNeeded() {
        if (viewLoaded_)
            return;
        viewLoaded_ = true;
        viewDidLoad();
    }
    virtual void viewDidLoad() {}

private:
    TableView tableView_;
    std::optional<std::string> nibName_;
    std::optional<std::string> bundle_;
    bool viewLoaded_ = false;
};

/// A list screen bound to a paginated data source: one section (0) of the data source's items,
/// fetched up or down on request and redrawn from a fresh snapshot after every fetch. Concrete
/// lists supply cellProvider(). Own it through std::make_shared (fetch completions keep it alive);
/// everything runs on the main thread.
template <class Item, class DataSource = PaginatedDataSource<Item>>
class PaginatedListViewController
    : public TableViewController,
      public std::enable_shared_from_this<PaginatedListViewController<Item, DataSource>> {
public:
    using Snapshot = DiffableSnapshot<int, Item>;
    using DiffableDataSource = TableViewDiffableDataSource<int, Item>;

    using TableViewController::TableViewController;

    std::shared_ptr<DataSource> dataSource() const { return dataSource_; }
    void setDataSource(std::shared_ptr<DataSource> dataSource) { dataSource_ = std::move(dataSource); }

    /// Created on first use, for this controller's table, with cells from cellProvider().
    DiffableDataSource& tableViewDataSource() {
        if (!tableViewDataSource_)
            tableViewDataSource_ = std::make_unique<DiffableDataSource>(
                tableView(), [this](TableView& table, const IndexPath& indexPath, const Item& item) {
                    return cellProvider(table, indexPath, item);
                });
        return *tableViewDataSource_;
    }
    bool hasTableViewDataSource() const { return tableViewDataSource_ != nullptr; }

    void viewDidLoad() override {
        TableViewController::viewDidLoad();
        configureTable();
    }

    virtual void configureTable() {
        TableView& table = tableView();
        table.estimatedRowHeight = 80;
        table.rowHeight = TableView::automaticDimension;
        table.backgroundView = View{};
        table.tableFooterView = View{}; // no separator lines below the last row
        table.setDataSource(&tableViewDataSource());
    }

    /// The cell for `identifier` (the item itself).
    virtual TableViewCellPtr cellProvider(TableView& /*tableView*/, const IndexPath& /*indexPath*/,
                                          const Item& /*identifier*/) {
        fatalError("Subclasses must implement this method.");
    }

    std::size_t numberOfSections(TableView& /*tableView*/) const {
        return dataSource_ ? dataSource_->numberOfSections() : 0;
    }
    std::size_t numberOfRowsInSection(TableView& /*tableView*/, std::size_t section) const {
        return dataSource_ ? dataSource_->numberOfRowsInSection(section) : 0;
    }

    virtual void doFetchUp() { fetchUp(false); }
    virtual void doFetchDown() { fetchDown(false); }

    virtual void fetchUp(bool overwrite) {
        if (auto source = requireDataSource())
            source->fetchUp(overwrite, completion());
    }
    virtual void fetchDown(bool overwrite) {
        if (auto source = requireDataSource())
            source->fetchDown(overwrite, completion());
    }

    /// The snapshot decides what changed; the index paths are not needed.
    virtual void fetchDidComplete(const std::optional<std::vector<IndexPath>>& /*indexPaths*/,
                                  bool overwrite) {
        endRefreshing();
        if (overwrite)
            Logger::general().notice(
                "[WARN] Overwriting table view data is deprectated and no longer needed.");
        updateUI(true);
    }

    /// Subclasses stop their refresh indicators here.
    virtual void endRefreshing() {}

    virtual void updateUI(bool animated) {
        Snapshot snapshot;
        snapshot.appendSections({0});
        if (dataSource_)
            snapshot.appendItems(dataSource_->items(), 0);
        tableViewDataSource().apply(std::move(snapshot), animated);
    }

private:
    std::shared_ptr<DataSource> requireDataSource() {
        if (!dataSource_)
            Logger::general().error("A paginated list was asked to fetch before its data source was set");
        return dataSource_;
    }
    typename DataSource::OnFinish completion() {
        auto self = this->shared_from_this();
        return [self](std::optional<std::vector<IndexPath>> indexPaths, bool overwrite) {
            self->fetchDidComplete(indexPaths, overwrite);
        };
    }

    std::shared_ptr<DataSource> dataSource_;
    std::unique_ptr<DiffableDataSource> tableViewDataSource_;
};

/// The same controller for cursor-paginated data sources.
template <class T, class DataSource = CursorPaginatedDataSource<T>>
class CursorPaginatedListViewController : public PaginatedListViewController<std::shared_ptr<T>, DataSource> {
public:
    using PaginatedListViewController<std::shared_ptr<T>, DataSource>::PaginatedListViewController;
};

} // namespace joblark
