#pragma once

#include <algorithm>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

namespace joblark {

/// A map from string keys to values kept as one sorted vector: a parsed object costs one
/// allocation for its entries instead of one node per key, lookups are binary searches, and
/// iteration is in key order (byte-wise), which the JSON writer relies on. The interface is the
/// part of std::map's that the library and its users need; heterogeneous lookup takes any string
/// view. Inserting a new key into a large dictionary moves the entries after it, so build big
/// ones with fromEntries() or in key order.
///
/// Thread safety: none of its own; like a std::map, const members may be called concurrently.
template <class V>
class BasicDictionary {
public:
    using key_type = std::string;
    using mapped_type = V;
    using value_type = std::pair<std::string, V>;
    using size_type = std::size_t;
    using Storage = std::vector<value_type>;
    using iterator = typename Storage::iterator;
    using const_iterator = typename Storage::const_iterator;
    using reverse_iterator = typename Storage::reverse_iterator;
    using const_reverse_iterator = typename Storage::const_reverse_iterator;

    BasicDictionary() = default;
    BasicDictionary(std::initializer_list<value_type> entries) : entries_(entries) { normalize(); }
    template <class It>
    BasicDictionary(It first, It last) : entries_(first, last) {
        normalize();
    }

    /// Takes entries in any order; of equal keys the last one wins (as in a JSON object).
    static BasicDictionary fromEntries(Storage entries) {
        BasicDictionary d;
        d.entries_ = std::move(entries);
        d.normalize();
        return d;
    }

    iterator begin() { return entries_.begin(); }
    iterator end() { return entries_.end(); }
    const_iterator begin() const { return entries_.begin(); }
    const_iterator end() const { return entries_.end(); }
    const_iterator cbegin() const { return entries_.cbegin(); }
    const_iterator cend() const { return entries_.cend(); }
    reverse_iterator rbegin() { return entries_.rbegin(); }
    reverse_iterator rend() { return entries_.rend(); }
    const_reverse_iterator rbegin() const { return entries_.rbegin(); }
    const_reverse_iterator rend() const { return entries_.rend(); }

    size_type size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    void clear() { entries_.clear(); }
    void reserve(size_type n) { entries_.reserve(n); }

    iterator lower_bound(std::string_view key) {
        return std::lower_bound(entries_.begin(), entries_.end(), key, Less{});
    }
    const_iterator lower_bound(std::string_view key) const {
        return std::lower_bound(entries_.begin(), entries_.end(), key, Less{});
    }
    iterator upper_bound(std::string_view key) {
        auto it = lower_bound(key);
        return it != end() && it->first == key ? it + 1 : it;
    }
    const_iterator upper_bound(std::string_view key) const {
        auto it = lower_bound(key);
        return it != end() && it->first == key ? it + 1 : it;
    }
    iterator find(std::string_view key) {
        auto it = lower_bound(key);
        return it != end() && it->first == key ? it : end();
    }
    const_iterator find(std::string_view key) const {
        auto it = lower_bound(key);
        return it != end() && it->first == key ? it : end();
    }
    size_type count(std::string_view key) const { return find(key) != end() ? 1 : 0; }
    bool contains(std::string_view key) const { return find(key) != end(); }

    V& at(std::string_view key) {
        auto it = find(key);
        if (it == end())
            throw std::out_of_range("Dictionary::at: no such key");
        return it->second;
    }
    const V& at(std::string_view key) const {
        auto it = find(key);
        if (it == end())
            throw std::out_of_range("Dictionary::at: no such key");
        return it->second;
    }
    V& operator[](std::string_view key) { return try_emplace(key).first->second; }

    template <class... Args>
    std::pair<iterator, bool> try_emplace(std::string_view key, Args&&... args) {
        auto it = lower_bound(key);
        if (it != end() && it->first == key)
            return {it, false};
        it = entries_.emplace(it, std::piecewise_construct, std::forward_as_tuple(key),
                              std::forward_as_tuple(std::forward<Args>(args)...));
        return {it, true};
    }
    template <class K, class... Args>
    std::pair<iterator, bool> emplace(K&& key, Args&&... args) {
        std::string_view view(key);
        auto it = lower_bound(view);
        if (it != end() && it->first == view)
            return {it, false};
        it = entries_.emplace(it, std::piecewise_construct, std::forward_as_tuple(std::forward<K>(key)),
                              std::forward_as_tuple(std::forward<Args>(args)...));
        return {it, true};
    }
    std::pair<iterator, bool> insert(value_type entry) {
        auto it = lower_bound(entry.first);
        if (it != end() && it->first == entry.first)
            return {it, false};
        return {entries_.insert(it, std::move(entry)), true};
    }
    template <class It>
    void insert(It first, It last) {
        for (; first != last; ++first)
            insert(value_type(*first));
    }
    void insert(std::initializer_list<value_type> entries) { insert(entries.begin(), entries.end()); }
    template <class K, class M>
    std::pair<iterator, bool> insert_or_assign(K&& key, M&& value) {
        std::string_view view(key);
        auto it = lower_bound(view);
        if (it != end() && it->first == view) {
            it->second = std::forward<M>(value);
            return {it, false};
        }
        it = entries_.emplace(it, std::string(std::forward<K>(key)), std::forward<M>(value));
        return {it, true};
    }
    /// The hint is taken when the key belongs right before it (appending keys in order is O(1)).
    template <class K, class M>
    iterator insert_or_assign(const_iterator hint, K&& key, M&& value) {
        std::string_view view(key);
        auto at = entries_.begin() + (hint - entries_.cbegin());
        if ((at == entries_.end() || view < std::string_view(at->first)) &&
            (at == entries_.begin() || std::string_view((at - 1)->first) < view))
            return entries_.emplace(at, std::string(std::forward<K>(key)), std::forward<M>(value));
        return insert_or_assign(std::forward<K>(key), std::forward<M>(value)).first;
    }

    iterator erase(const_iterator position) { return entries_.erase(position); }
    iterator erase(const_iterator first, const_iterator last) { return entries_.erase(first, last); }
    size_type erase(std::string_view key) {
        auto it = find(key);
        if (it == end())
            return 0;
        entries_.erase(it);
        return 1;
    }
    void swap(BasicDictionary& other) noexcept { entries_.swap(other.entries_); }

    friend bool operator==(const BasicDictionary& a, const BasicDictionary& b) {
        return a.entries_ == b.entries_;
    }
    template <class Predicate>
    friend size_type erase_if(BasicDictionary& d, Predicate predicate) {
        return std::erase_if(d.entries_, predicate);
    }

private:
    struct Less {
        bool operator()(const value_type& entry, std::string_view key) const {
            return std::string_view(entry.first) < key;
        }
    };

    // Sorts by key; of equal keys the last given wins.
    void normalize() {
        if (std::is_sorted(entries_.begin(), entries_.end(),
                           [](const value_type& a, const value_type& b) {
                               return std::string_view(a.first) < std::string_view(b.first);
                           }) &&
            std::adjacent_find(entries_.begin(), entries_.end(),
                               [](const value_type& a, const value_type& b) { return a.first == b.first; }) ==
                entries_.end())
            return;
        std::stable_sort(entries_.begin(), entries_.end(), [](const value_type& a, const value_type& b) {
            return std::string_view(a.first) < std::string_view(b.first);
        });
        // Keep the last of each run of equal keys.
        auto out = entries_.begin();
        for (auto it = entries_.begin(); it != entries_.end();) {
            auto next = it + 1;
            while (next != entries_.end() && next->first == it->first)
                ++it, ++next;
            if (out != it)
                *out = std::move(*it);
            ++out;
            it = next;
        }
        entries_.erase(out, entries_.end());
    }

    Storage entries_;
};

} // namespace joblark
