#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/KeyedArchive.hpp"
#include "joblark/Foundation/Value.hpp"

#include <concepts>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// Thread safety: Not thread-safe: a StorageController value is used from one thread at a time (the shared
// instance's accessors are thread-safe).

namespace joblark {

namespace detail {

/// What loadStoredValue<T> returns and which archived classes T lets through.
template <class T>
struct StoredValueTraits {
    static_assert(sizeof(T) == 0,
                  "loadStoredValue<T>: T must be a Value kind, Value, or std::shared_ptr to an "
                  "Object subclass");
};

/// The plain kinds: the Value's own typed accessor decides.
template <class T>
struct PlainStoredValue {
    using Result = std::optional<T>;
    static Result from(const Value& value) {
        if constexpr (std::same_as<T, bool>)
            return value.asBool();
        else if constexpr (std::same_as<T, std::int64_t>)
            return value.asInteger();
        else if constexpr (std::same_as<T, double>)
            return value.asDouble();
        else {
            const T* typed = nullptr;
            if constexpr (std::same_as<T, std::string>)
                typed = value.asString();
            else if constexpr (std::same_as<T, Array>)
                typed = value.asArray();
            else if constexpr (std::same_as<T, Dictionary>)
                typed = value.asDictionary();
            else if constexpr (std::same_as<T, Data>)
                typed = value.asData();
            if (!typed)
                return std::nullopt;
            return *typed;
        }
    }
    static std::vector<std::string> impliedClasses() { return {}; }
};

template <>
struct StoredValueTraits<bool> : PlainStoredValue<bool> {};
template <>
struct StoredValueTraits<std::int64_t> : PlainStoredValue<std::int64_t> {};
template <>
struct StoredValueTraits<double> : PlainStoredValue<double> {};
template <>
struct StoredValueTraits<std::string> : PlainStoredValue<std::string> {};
template <>
struct StoredValueTraits<Array> : PlainStoredValue<Array> {};
template <>
struct StoredValueTraits<Dictionary> : PlainStoredValue<Dictionary> {};
template <>
struct StoredValueTraits<Data> : PlainStoredValue<Data> {};

template <>
struct StoredValueTraits<Value> {
    using Result = std::optional<Value>;
    static Result from(const Value& value) { return value; }
    static std::vector<std::string> impliedClasses() { return {}; }
};

template <class C>
requires std::derived_from<C, Object>
struct StoredValueTraits<std::shared_ptr<C>> {
    using Result = std::shared_ptr<C>;
    static Result from(const Value& value) { return value.asObject<C>(); }
    static std::vector<std::string> impliedClasses() {
        if constexpr (NamedCoding<C>)
            return {std::string(C::codingClassName)};
        else
            return {};
    }
};

} // namespace detail

/// The library's small persistent key/value store: one binary property list (key → keyed archive
/// data) in the documents directory. A value type; the file is read on first use and the
/// dictionary read then is what every later write saves. Deliberately without locks: use a value
/// from one thread at a time.
class JOBLARK_EXPORT StorageController {
public:
    static constexpr std::string_view defaultFileName = "DataStore.archive";

    /// The shared store ("DataStore.archive"), created on first use.
    static StorageController& defaultController();
    static void setDefault(StorageController controller);

    /// A store in `fileName` inside FileLocations::documentsDirectory().
    explicit StorageController(std::string fileName = std::string(defaultFileName));
    explicit StorageController(const char* fileName) : StorageController(std::string(fileName)) {}
    /// A store at exactly this path (made absolute).
    explicit StorageController(const std::filesystem::path& location);

    const std::filesystem::path& location() const { return location_; }
    /// "file://" and the percent-encoded absolute path.
    std::string locationURLString() const;
    /// The in-memory dictionary, read from the file on first access (empty when the file is missing
    /// or unreadable).
    const Dictionary& store();

    /// The value stored under `key` if it decodes to a T; nothing otherwise. T is a plain Value kind
    /// (bool, std::int64_t, double, std::string, Array, Dictionary, Data), Value, or
    /// std::shared_ptr<C> for an Object subclass C (whose codingClassName is then allowed).
    /// Data that cannot be decoded is logged, removed and the store rewritten.
    template <class T>
    typename detail::StoredValueTraits<T>::Result loadStoredValue(std::string_view key) {
        return loadStoredValue<T>(key, {});
    }

    /// As above, also allowing the archived classes listed.
    template <class T>
    typename detail::StoredValueTraits<T>::Result
    loadStoredValue(std::string_view key, const std::vector<std::string>& allowedClasses) {
        using Traits = detail::StoredValueTraits<T>;
        auto allowed = Traits::impliedClasses();
        allowed.insert(allowed.end(), allowedClasses.begin(), allowedClasses.end());
        auto value = loadArchivedValue(key, allowed);
        if (!value)
            return {};
        return Traits::from(*value);
    }

    /// The decoded value under `key`, whatever its kind: the untyped core of loadStoredValue.
    std::optional<Value> loadArchivedValue(std::string_view key,
                                           const std::vector<std::string>& allowedClasses);

    /// Archives `object` under `key` and writes the whole store. False when it cannot be archived
    /// (logged; the store is unchanged) or when the file could not be written.
    [[nodiscard("false means the store was not written")]] bool storeValue(const Value& object,
                                                                           std::string_view key);

    /// Empties the store and writes the empty store.
    void purge();

private:
    Dictionary& loadedStore();
    bool writeStore();

    std::filesystem::path location_;
    std::optional<Dictionary> store_;
};

} // namespace joblark
