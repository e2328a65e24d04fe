#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/API/ConstructableAPITask.hpp"

#include <cstdint>
#include <optional>
#include <string>
#include <type_traits>

// Thread safety: Like every Task: accessors may be called from any thread; the page and its links are read
// once the task has finished.

namespace joblark {

/// A page task that can make the task for the page after it.
class JOBLARK_EXPORT NextableTask {
public:
    virtual ~NextableTask() = default;
    virtual TaskPtr next() const = 0;
};

/// A page task that can make the task for the page before it.
class JOBLARK_EXPORT PreviousableTask {
public:
    virtual ~PreviousableTask() = default;
    virtual TaskPtr previous() const = 0;
};

class PagableTask : public NextableTask, public PreviousableTask {};

/// One page of a cursor-paged collection: requests the collection URL with "reverse", "count" and
/// "since", builds the page's models, and keeps the total count and the neighbouring page links so
/// that next()/previous() can make the neighbouring page tasks — of the same concrete class, which is
/// `Self` when given (a subclass names itself there), else this class.
template <JSONConstructableModel T, class Self = void>
class CursorPagedConstructableAPITask : public ConstructableAPITask<T>, public PagableTask {
public:
    /// A page whose full URL is known.
    explicit CursorPagedConstructableAPITask(URL url) : currentUrl_(std::move(url)) {}
    /// The first page from `since` (or the start) of a collection, `count` items long.
    CursorPagedConstructableAPITask(const URL& baseUrl, std::optional<std::string> since, bool reverse,
                                    std::int64_t count)
        : currentUrl_(pageURL(baseUrl, since, reverse, count)), since_(std::move(since)), baseUrl_(baseUrl),
          reverse_(reverse) {}

    std::string className() const override { return "Joblark.CursorPagedConstructableAPITask"; }

    virtual std::optional<URL> nextUrl() const { return this->readField(nextUrl_); }
    virtual void setNextUrl(std::optional<URL> url) { this->writeField(nextUrl_, std::move(url)); }
    virtual std::optional<URL> previousUrl() const { return this->readField(previousUrl_); }
    virtual void setPreviousUrl(std::optional<URL> url) { this->writeField(previousUrl_, std::move(url)); }
    /// The collection's total, from the last response.
    virtual std::optional<std::int64_t> count() const { return this->readField(count_); }
    virtual void setCount(std::optional<std::int64_t> count) { this->writeField(count_, count); }
    virtual bool nextMeansPrevious() const { return false; }
    virtual std::string nextKey() const { return nextMeansPrevious() ? "previous" : "next"; }
    virtual std::string previousKey() const { return nextMeansPrevious() ? "next" : "previous"; }
    virtual URL currentUrl() const { return this->readField(currentUrl_); }
    virtual void setCurrentUrl(URL url) { this->writeField(currentUrl_, std::move(url)); }
    virtual std::optional<std::string> since() const { return this->readField(since_); }
    virtual void setSince(std::optional<std::string> since) { this->writeField(since_, std::move(since)); }
    virtual std::optional<URL> baseUrl() const { return this->readField(baseUrl_); }
    virtual void setBaseUrl(std::optional<URL> url) { this->writeField(baseUrl_, std::move(url)); }
    virtual std::optional<bool> reverse() const { return this->readField(reverse_); }
    virtual void setReverse(std::optional<bool> reverse) { this->writeField(reverse_, reverse); }

    URL url() const override { return currentUrl(); }

    TaskPtr next() const override {
        auto link = nextUrl();
        return link ? makePage(*link) : nullptr;
    }
    TaskPtr previous() const override {
        auto link = previousUrl();
        return link ? makePage(*link) : nullptr;
    }

    void process(const std::optional<Dictionary>& results) override {
        ConstructableAPITask<T>::process(results);
        std::optional<std::int64_t> total;
        if (results)
            if (auto it = results->find("count"); it != results->end())
                total = it->second.asInteger();
        setCount(total);
        if (!results)
            return;
        if (auto link = linkUnder(*results, previousKey()))
            setPreviousUrl(std::move(link));
        if (auto link = linkUnder(*results, nextKey()))
            setNextUrl(std::move(link));
    }

    /// The collection URL with its query replaced by reverse, count (and since).
    static URL pageURL(const URL& baseUrl, const std::optional<std::string>& since, bool reverse,
                       std::int64_t count) {
        std::vector<URLQueryItem> items{{"reverse", reverse ? "1" : "0"}, {"count", std::to_string(count)}};
        if (since)
            items.push_back({"since", *since});
        return baseUrl.withQueryItems(items);
    }

protected:
    /// A neighbouring page of the same concrete class.
    virtual TaskPtr makePage(const URL& url) const {
        using Concrete = std::conditional_t<std::is_void_v<Self>, CursorPagedConstructableAPITask, Self>;
        return std::make_shared<Concrete>(url);
    }

private:
    static std::optional<URL> linkUnder(const Dictionary& results, const std::string& key) {
        auto it = results.find(key);
        if (it == results.end() || !it->second.asString())
            return std::nullopt;
        return URL::parse(*it->second.asString());
    }

    std::optional<URL> nextUrl_;
    std::optional<URL> previousUrl_;
    std::optional<std::int64_t> count_;
    URL currentUrl_;
    std::optional<std::string> since_;
    std::optional<URL> baseUrl_;
    std::optional<bool> reverse_;
};

/// A cursor page task whose credential comes from a fresh `Provider` on every read.
template <JSONConstructableModel T, class Provider, class Self = void>
requires std::derived_from<Provider, APITaskAuthenticationProvider> && std::default_initializable<Provider>
class JOBLARK_EXPORT AuthenticatedCursorPagedConstructableAPITask
    : public CursorPagedConstructableAPITask<
          T, std::conditional_t<std::is_void_v<Self>,
                                AuthenticatedCursorPagedConstructableAPITask<T, Provider, Self>, Self>> {
    using Base = CursorPagedConstructableAPITask<
        T, std::conditional_t<std::is_void_v<Self>, AuthenticatedCursorPagedConstructableAPITask, Self>>;

public:
    using Base::Base;
    std::string className() const override { return "Joblark.AuthenticatedCursorPagedConstructableAPITask"; }
    std::shared_ptr<APITaskAuthenticationProvider> authenticationProvider() const override {
        return std::make_shared<Provider>();
    }
};

} // namespace joblark
