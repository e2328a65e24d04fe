#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"

#include <concepts>
#include <optional>
#include <type_traits>
#include <utility>

// Thread safety: A value type like std::optional: no synchronisation of its own; const members may be called
// concurrently.

namespace joblark {

/// The failure side of an Expected.
struct JOBLARK_EXPORT Unexpected {
    ErrorPtr error;
};

/// A value or the error that prevented it (std::expected with our error type).
/// Build a failure with `Unexpected{error}`; an ErrorPtr alone is refused so that an Expected<Value>
/// cannot silently turn an error into a successful Value holding that error.
template <class T>
class [[nodiscard("an Expected may hold an error")]] Expected {
public:
    template <class U = T>
    requires std::constructible_from<T, U&&> &&(!std::same_as<std::remove_cvref_t<U>, ErrorPtr>)&&(
        !std::same_as<std::remove_cvref_t<U>, Unexpected>)&&(!std::same_as<std::remove_cvref_t<U>, Expected>)
        Expected(U && value)
        : value_(std::in_place, std::forward<U>(value)) {}
    Expected(Unexpected failure)
        : error_(failure.error ? std::move(failure.error) : makeError("Unknown error")) {}

    bool hasValue() const {
        return value_.has_value();
    }
    explicit operator bool() const {
        return hasValue();
    }

    /// Throws std::bad_optional_access when this holds an error.
    T& value()& {
        return value_.value();
    }
    const T& value() const& {
        return value_.value();
    }
    T&& value()&& {
        return std::move(value_).value();
    }
    T& operator*()& {
        return value();
    }
    const T& operator*() const& {
        return value();
    }
    T* operator->() {
        return &value();
    }
    const T* operator->() const {
        return &value();
    }

    /// nullptr on success.
    const ErrorPtr& error() const {
        return error_;
    }

private:
    std::optional<T> value_;
    ErrorPtr error_;
};

} // namespace joblark
