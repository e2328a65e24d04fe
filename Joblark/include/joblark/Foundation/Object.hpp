#pragma once

#include "joblark/Foundation/Export.hpp"

#include <cstddef>
#include <memory>
#include <string>

// Thread safety: Object has no mutable state of its own; subclasses say what of theirs is thread-safe.

namespace joblark {

/// Base of tasks and model objects. Always owned through std::shared_ptr (make_shared), so that
/// an object can hand out strong references to itself.
class JOBLARK_EXPORT Object : public std::enable_shared_from_this<Object> {
public:
    virtual ~Object() = default;
    Object(const Object&) = delete;
    Object& operator=(const Object&) = delete;

    /// Module-qualified class name, e.g. "Joblark.SimpleTask" or "MyApp.Document".
    virtual std::string className() const { return "Joblark.Object"; }
    /// Identity by default; model objects compare by their identifier.
    virtual bool isEqual(const Object& other) const { return this == &other; }
    virtual std::size_t hash() const;
    /// The default object description: "<ClassName: 0x7f…>".
    virtual std::string description() const;
    virtual std::string debugDescription() const { return description(); }

    template <class T>
    std::shared_ptr<T> sharedAs() {
        return std::static_pointer_cast<T>(shared_from_this());
    }
    template <class T>
    std::shared_ptr<const T> sharedAs() const {
        return std::static_pointer_cast<const T>(shared_from_this());
    }

protected:
    Object() = default;
};

using ObjectPtr = std::shared_ptr<Object>;

} // namespace joblark
