#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/API/APITask.hpp"
#include "joblark/API/CursorPagedConstructableAPITask.hpp"
#include "joblark/Foundation/Log.hpp"
#include "joblark/Lists/IndexPath.hpp"
#include "joblark/Tasks/BlockTask.hpp"
#include "joblark/Tasks/StorageController.hpp"
#include "joblark/Tasks/TaskController.hpp"

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

// Thread safety: Main thread only: items, tasks and fetches belong to the main thread (page tasks run on the
// shared queue and report back there).

namespace joblark {

/// Which end of a paged list a fetch grows: `next` extends the front (following the front page's
/// next link), `previous` the back (following the back page's previous link).
class JOBLARK_EXPORT PageDirection {
public:
    enum Case : std::uint8_t { next, previous };

    constexpr PageDirection(Case c) : case_(c) {}
    constexpr operator Case() const { return case_; }

    /// "next:" and "previous:", the names of the page-task operations they follow.
    constexpr std::string_view rawValue() const { return case_ == next ? "next:" : "previous:"; }
    static std::optional<PageDirection> fromRawValue(std::string_view raw) {
        if (raw == "next:")
            return next;
        if (raw == "previous:")
            return previous;
        return std::nullopt;
    }
    /// The page-task operation this direction follows.
    using Selector = TaskPtr (PagableTask::*)() const;
    constexpr Selector selector() const {
        return case_ == next ? static_cast<Selector>(&NextableTask::next)
                             : static_cast<Selector>(&PreviousableTask::previous);
    }
    /// The element of `list` at this direction's end: the first for next, the last for previous.
    template <class T>
    std::optional<T> correspondsTo(const std::optional<std::vector<T>>& list) const {
        if (!list || list->empty())
            return std::nullopt;
        return case_ == next ? list->front() : list->back();
    }

private:
    Case case_;
};

/// An ordered list of items fetched page by page, growing at either end. Each fetch runs the page
/// task on the shared queue, then merges and finishes on the main thread; a fetch asked for while one
/// runs is refused. Items, tasks and fetches belong to the main thread. Own it through
/// std::make_shared: fetches hold it weakly and name it as their page task's delegate.
template <class Item>
class PaginatedDataSource : public APITaskDelegate,
                            public std::enable_shared_from_this<PaginatedDataSource<Item>> {
public:
    using Direction = PageDirection;
    /// The rows a fetch inserted (nothing when it merged nothing) and the fetch's overwrite flag.
    using OnFinish = std::function<void(std::optional<std::vector<IndexPath>>, bool)>;

    static constexpr std::size_t paginatedListSection = 0;
    /// The page size for subclasses that build page tasks.
    static constexpr std::int64_t count = 25;

    PaginatedDataSource() = default;
    ~PaginatedDataSource() override = default;

    /// The page tasks behind the items, front page first.
    const std::vector<TaskPtr>& tasks() const { return tasks_; }
    std::vector<TaskPtr>& tasks() { return tasks_; }
    void setTasks(std::vector<TaskPtr> tasks) { tasks_ = std::move(tasks); }
    const std::vector<Item>& items() const { return items_; }
    std::vector<Item>& items() { return items_; }
    void setItems(std::vector<Item> items) { items_ = std::move(items); }
    bool isRefreshing() const { return isRefreshing_; }
    /// Whether more items may lie beyond the back of the list; absent until a page was merged.
    std::optional<bool> hasPrevious() const { return hasPrevious_; }
    void setHasPrevious(std::optional<bool> value) { hasPrevious_ = value; }

    virtual std::optional<Item> get(std::ptrdiff_t index) const {
        if (index < 0 || static_cast<std::size_t>(index) >= items_.size())
            return std::nullopt;
        return items_[static_cast<std::size_t>(index)];
    }
    virtual std::optional<Item> get(const IndexPath& indexPath) const {
        return get(static_cast<std::ptrdiff_t>(indexPath.row), indexPath.section);
    }
    virtual std::optional<Item> get(std::ptrdiff_t row, std::size_t section) const {
        if (section != paginatedListSection)
            return std::nullopt;
        return get(row);
    }

    virtual std::size_t numberOfSections() const { return 1; }
    virtual std::size_t numberOfRowsInSection(std::size_t /*section*/) const { return items_.size(); }

    /// The page task for a cursor; none here.
    virtual TaskPtr task(std::optional<std::string> /*since*/, std::optional<Direction> /*direction*/) {
        return nullptr;
    }
    /// The first page task, asked for when no page is held yet; none here.
    virtual TaskPtr initialTask(Direction /*direction*/, bool /*overwrite*/) { return nullptr; }
    /// The items a finished page task produced.
    virtual std::vector<Item> getResults(const TaskPtr& /*task*/) {
        fatalError("Subclasses must implement this method.");
    }
    /// Called after every fetch ends.
    virtual void fetchDidComplete() {}

    virtual void clear() {
        items_.clear();
        tasks_.clear();
    }

    virtual void fetchUp(bool overwrite = false, OnFinish onfinish = nullptr) {
        TaskPtr chosen = tasks_.empty() ? initialTask(Direction::next, overwrite)
                                        : neighbour(tasks_.front(), Direction::next);
        fetch(std::move(chosen), Direction::next, overwrite, std::move(onfinish));
    }
    virtual void fetchDown(bool overwrite = false, OnFinish onfinish = nullptr) {
        TaskPtr chosen = tasks_.empty() ? initialTask(Direction::previous, overwrite)
                                        : neighbour(tasks_.back(), Direction::previous);
        fetch(std::move(chosen), Direction::previous, overwrite, std::move(onfinish));
    }

    /// Runs `task` and merges what it produced at the `direction` end. Refused (logged, `onfinish`
    /// never called) while another fetch runs.
    virtual void fetch(TaskPtr task, std::optional<Direction> direction, bool overwrite, OnFinish onfinish) {
        if (isRefreshing_) {
            Logger::general().notice("Refusing to fetch while fetch is already in progress.");
            return;
        }
        isRefreshing_ = true;
        if (!task) {
            finishFetch(std::nullopt, overwrite, onfinish);
            return;
        }
        auto inserted = std::make_shared<std::optional<std::vector<IndexPath>>>();
        std::weak_ptr<PaginatedDataSource> weakSelf = this->weak_from_this();
        auto merge = std::make_shared<UITask>(false, [weakSelf, task, direction, overwrite, inserted] {
            if (auto self = weakSelf.lock())
                *inserted = self->mergePage(task, direction, overwrite);
        });
        auto finish = std::make_shared<UITask>(true, [weakSelf, overwrite, inserted, onfinish] {
            if (auto self = weakSelf.lock())
                self->finishFetch(*inserted, overwrite, onfinish);
            else if (onfinish)
                onfinish(*inserted, overwrite);
        });
        TaskController::performInSeries(TaskController::Operations{task, merge, finish}, weakSelf.lock(),
                                        false);
    }

    /// Puts `newItems` at the `direction` end of the list and returns the rows they took.
    virtual std::vector<IndexPath> merge(std::optional<Direction> direction,
                                         const std::vector<Item>& newItems) {
        std::vector<IndexPath> paths;
        paths.reserve(newItems.size());
        if (direction && *direction == Direction::next) {
            // Inserted one by one at the front, last first, so the page keeps its order.
            items_.insert(items_.begin(), newItems.begin(), newItems.end());
            for (std::size_t k = 0; k < newItems.size(); ++k)
                paths.push_back({paginatedListSection, k});
        } else {
            for (const Item& item : newItems) {
                items_.push_back(item);
                paths.push_back({paginatedListSection, items_.size() - 1});
            }
        }
        return paths;
    }

protected:
    static TaskPtr neighbour(const TaskPtr& page, Direction direction) {
        auto pagable = std::dynamic_pointer_cast<PagableTask>(page);
        if (!pagable)
            return nullptr;
        TaskPtr link = ((*pagable).*direction.selector())();
        return std::dynamic_pointer_cast<PagableTask>(link) ? link : nullptr;
    }

private:
    std::optional<std::vector<IndexPath>> mergePage(const TaskPtr& task, std::optional<Direction> direction,
                                                    bool overwrite) {
        const bool noPreviousLink = !neighbour(task, Direction::previous);
        hasPrevious_ = !(direction && *direction == Direction::previous && noPreviousLink);
        if (overwrite) {
            tasks_.clear();
            items_.clear();
        }
        std::vector<Item> results = getResults(task);
        if (results.empty())
            return std::nullopt;
        if (direction && *direction == Direction::previous)
            tasks_.push_back(task);
        else
            tasks_.insert(tasks_.begin(), task);
        return merge(direction, results);
    }

    void finishFetch(std::optional<std::vector<IndexPath>> inserted, bool overwrite,
                     const OnFinish& onfinish) {
        isRefreshing_ = false;
        fetchDidComplete();
        if (onfinish)
            onfinish(std::move(inserted), overwrite);
    }

    std::vector<TaskPtr> tasks_;
    std::vector<Item> items_;
    bool isRefreshing_ = false;
    std::optional<bool> hasPrevious_;
};

/// A paginated data source of cursor-paged models (`Item` is std::shared_ptr<T>): fetches follow the
/// end pages' links, or start from the cursor of the end item through task(since:direction:); the
/// first page of items can be kept in the storage file for a quick start.
template <class T>
requires JSONConstructableModel<T> && std::derived_from<T, CursorPagable> && NamedCoding<T>
class JOBLARK_EXPORT CursorPaginatedDataSource : public PaginatedDataSource<std::shared_ptr<T>> {
    using Base = PaginatedDataSource<std::shared_ptr<T>>;

public:
    using Item = std::shared_ptr<T>;
    using typename Base::Direction;
    using typename Base::OnFinish;

    /// How many items storeData keeps.
    static constexpr std::size_t storedItemLimit = 25;

    void fetchUp(bool overwrite = false, OnFinish onfinish = nullptr) override {
        fetch(cursorOf(this->items().empty() ? nullptr : this->items().front()), Direction::next, overwrite,
              std::move(onfinish));
    }
    void fetchDown(bool overwrite = false, OnFinish onfinish = nullptr) override {
        fetch(cursorOf(this->items().empty() ? nullptr : this->items().back()), Direction::previous,
              overwrite, std::move(onfinish));
    }
    using Base::fetch;

    /// Follows the end page's link in `direction` when there is one; otherwise asks task(since:…)
    /// for a page from the cursor (with neither, the initial page). A cursor needs a direction.
    virtual void fetch(std::optional<std::string> since, std::optional<Direction> direction, bool overwrite,
                       OnFinish onfinish) {
        if (since && !direction)
            fatalError("CursorPaginatedDataSource: a cursor needs a direction");
        if (direction) {
            std::optional<std::vector<TaskPtr>> tasks(this->tasks());
            if (auto end = direction->correspondsTo(tasks)) {
                if (TaskPtr link = Base::neighbour(*end, *direction)) {
                    Base::fetch(std::move(link), direction, overwrite, std::move(onfinish));
                    return;
                }
            }
        }
        Base::fetch(this->task(since, direction), direction, overwrite, std::move(onfinish));
    }

    std::vector<Item> getResults(const TaskPtr& task) override {
        if (auto page = std::dynamic_pointer_cast<ConstructableAPITask<T>>(task))
            if (auto models = page->models())
                return *models;
        return {};
    }

    /// Replaces the items with the list stored under `keyName`, when there is one.
    virtual void preloadData(std::string_view keyName) {
        auto stored = StorageController::defaultController().loadStoredValue<Array>(
            keyName, {std::string(T::codingClassName)});
        if (!stored)
            return;
        std::vector<Item> loaded;
        loaded.reserve(stored->size());
        for (const Value& element : *stored)
            if (auto item = element.template asObject<T>())
                loaded.push_back(std::move(item));
        this->setItems(std::move(loaded));
    }

    /// Stores the first 25 items (fewer when there are fewer) under `keyName`.
    virtual void storeData(std::string_view keyName) {
        Array list;
        const auto& items = this->items();
        const std::size_t n = std::min(items.size(), storedItemLimit);
        list.reserve(n);
        for (std::size_t i = 0; i < n; ++i)
            list.emplace_back(items[i]);
        // A quick-start cache: when it cannot be written, the next start simply fetches.
        (void)StorageController::defaultController().storeValue(Value(std::move(list)), keyName);
    }

private:
    static std::optional<std::string> cursorOf(const Item& item) {
        return item ? item->cursorId() : std::nullopt;
    }
};

} // namespace joblark
