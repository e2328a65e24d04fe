#pragma once

#include "joblark/Foundation/Export.hpp"

#include <memory>
#include <optional>
#include <string>

// Thread safety: Errors are immutable once made and held as shared_ptr<const Error>: safe to share between
// threads.

namespace joblark {

class Error;
using ErrorPtr = std::shared_ptr<const Error>;

/// Base of every error in the system. Held as ErrorPtr; concrete kinds are recognised with
/// std::dynamic_pointer_cast.
class JOBLARK_EXPORT Error {
public:
    virtual ~Error() = default;

    virtual std::string localizedDescription() const = 0;
    virtual std::optional<std::string> recoverySuggestion() const { return std::nullopt; }
    /// Type name for logs, e.g. "Joblark.GenericError".
    virtual std::string typeName() const { return "Joblark.Error"; }
    /// A heap copy; lets an error thrown by value keep its concrete type once caught.
    virtual ErrorPtr clone() const = 0;

protected:
    Error() = default;
    Error(const Error&) = default;
    Error& operator=(const Error&) = default;
};

/// Implements clone() for a concrete error type.
template <class Derived, class Base = Error>
class ErrorBase : public Base {
public:
    using Base::Base;
    ErrorPtr clone() const override { return std::make_shared<Derived>(static_cast<const Derived&>(*this)); }
};

/// An error that is only a message (and optionally a recovery suggestion).
class JOBLARK_EXPORT GenericError : public ErrorBase<GenericError> {
public:
    explicit GenericError(std::string message, std::optional<std::string> suggestion = std::nullopt)
        : message_(std::move(message)), suggestion_(std::move(suggestion)) {}

    std::string localizedDescription() const override { return message_; }
    std::optional<std::string> recoverySuggestion() const override { return suggestion_; }
    std::string typeName() const override { return "Joblark.GenericError"; }

private:
    std::string message_;
    std::optional<std::string> suggestion_;
};

inline ErrorPtr makeError(std::string message) {
    return std::make_shared<GenericError>(std::move(message));
}

/// Turns whatever a piece of work threw into an error value. Call only inside a catch block.
JOBLARK_EXPORT ErrorPtr currentExceptionAsError();

} // namespace joblark

namespace joblark {
/// Stops the program on a programming error (an abstract operation called, a missing argument).
[[noreturn]] JOBLARK_EXPORT void fatalError(const char* message);
} // namespace joblark
