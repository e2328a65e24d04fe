#pragma once

#include "joblark/Foundation/Export.hpp"

// What a model type needs to be built by the API tasks and paged by cursor, without the tasks
// themselves: model headers include only this. Free functions; thread-safe as far as the model's
// populate() is.

#include "joblark/Foundation/Value.hpp"

#include <concepts>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace joblark {

/// A model type that can be built from a JSON dictionary: it has an empty state and fills itself
/// in populate(). A type may also declare `static std::shared_ptr<T> construct(const Dictionary&)`
/// to take over construction.
class JOBLARK_EXPORT JSONConstructable {
public:
    virtual ~JSONConstructable() = default;
    virtual void populate(const Dictionary& json) = 0;
};

template <class T>
concept JSONConstructableModel = std::derived_from<T, JSONConstructable> && std::default_initializable<T>;

template <JSONConstructableModel T>
std::shared_ptr<T> construct(const Dictionary& json) {
    if constexpr (requires {
                      { T::construct(json) } -> std::convertible_to<std::shared_ptr<T>>;
                  }) {
        return T::construct(json);
    } else {
        auto model = std::make_shared<T>();
        model->populate(json);
        return model;
    }
}

template <JSONConstructableModel T>
std::vector<std::shared_ptr<T>> constructMultiple(const std::vector<Dictionary>& list) {
    std::vector<std::shared_ptr<T>> models;
    models.reserve(list.size());
    for (const auto& json : list)
        models.push_back(construct<T>(json));
    return models;
}

/// The same over dictionaries held elsewhere (a parsed body), without copying them.
template <JSONConstructableModel T>
std::vector<std::shared_ptr<T>> constructMultiple(const std::vector<const Dictionary*>& list) {
    std::vector<std::shared_ptr<T>> models;
    models.reserve(list.size());
    for (const Dictionary* json : list)
        models.push_back(construct<T>(*json));
    return models;
}

/// An item of a cursor-paged collection.
class JOBLARK_EXPORT CursorPagable {
public:
    virtual ~CursorPagable() = default;
    virtual std::optional<std::string> cursorId() const = 0;
};

} // namespace joblark
