#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Dictionary.hpp"
#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Object.hpp"

#include <concepts>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

// Thread safety: A value type: no synchronisation of its own; const members may be called concurrently, a
// value that one thread changes must not be read by another meanwhile. Objects, errors and task results
// inside are shared immutably.

namespace joblark {

struct TaskResult; // defined by the task engine; a Value can carry one

class Value;
using Array = std::vector<Value>;
using Dictionary = BasicDictionary<Value>;
using Data = std::vector<std::uint8_t>;

/// The one dynamically typed value: task result values, parsed JSON, stored payloads.
/// Integers and doubles stay distinct; booleans are never numbers.
class JOBLARK_EXPORT Value {
public:
    enum class Kind {
        null,
        boolean,
        integer,
        real,
        string,
        array,
        dictionary,
        data,
        error,
        object,
        taskResult
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : v_(b) {}
    template <std::integral I>
    requires(!std::same_as<I, bool>) Value(I i) : v_(static_cast<std::int64_t>(i)) {}
    Value(double d) : v_(d) {}
    Value(const char* s) : v_(std::string(s)) {}
    Value(std::string s) : v_(std::move(s)) {}
    Value(std::string_view s) : v_(std::string(s)) {}
    Value(Array a) : v_(std::move(a)) {}
    Value(Dictionary d) : v_(std::move(d)) {}
    Value(Data d) : v_(std::move(d)) {}
    Value(ErrorPtr e) : v_(std::move(e)) {}
    template <class T>
    requires std::derived_from<T, Object> Value(std::shared_ptr<T> o) : v_(ObjectPtr(std::move(o))) {}
    Value(const TaskResult& r);
    Value(TaskResult&& r);

    Kind kind() const { return static_cast<Kind>(v_.index()); }
    bool isNull() const { return kind() == Kind::null; }
    bool isBool() const { return kind() == Kind::boolean; }
    bool isInteger() const { return kind() == Kind::integer; }
    bool isReal() const { return kind() == Kind::real; }
    bool isNumber() const { return isInteger() || isReal(); }
    bool isString() const { return kind() == Kind::string; }
    bool isArray() const { return kind() == Kind::array; }
    bool isDictionary() const { return kind() == Kind::dictionary; }
    bool isData() const { return kind() == Kind::data; }
    bool isError() const { return kind() == Kind::error; }
    bool isObject() const { return kind() == Kind::object; }
    bool isTaskResult() const { return kind() == Kind::taskResult; }

    // Typed access: absent (or nullptr) when the value is of another kind.
    std::optional<bool> asBool() const;
    std::optional<std::int64_t> asInteger() const;
    /// Integers widen to double; booleans do not.
    std::optional<double> asDouble() const;
    const std::string* asString() const { return std::get_if<std::string>(&v_); }
    const Array* asArray() const { return std::get_if<Array>(&v_); }
    Array* asArray() { return std::get_if<Array>(&v_); }
    const Dictionary* asDictionary() const { return std::get_if<Dictionary>(&v_); }
    Dictionary* asDictionary() { return std::get_if<Dictionary>(&v_); }
    const Data* asData() const { return std::get_if<Data>(&v_); }
    ErrorPtr asError() const;
    ObjectPtr asObject() const;
    template <class T>
    std::shared_ptr<T> asObject() const {
        return std::dynamic_pointer_cast<T>(asObject());
    }
    const TaskResult* asTaskResult() const;

    /// Dictionary member or nullptr (also when this is not a dictionary).
    const Value* find(std::string_view key) const;
    /// Array element or nullptr when out of range or not an array.
    const Value* at(std::size_t index) const;

    /// Deep equality; numbers compare by value across integer and double; objects by isEqual;
    /// errors by identity.
    bool operator==(const Value& other) const;

    /// A readable rendering for logs and test messages (not JSON).
    std::string description() const;

private:
    std::variant<std::monostate, bool, std::int64_t, double, std::string, Array, Dictionary, Data, ErrorPtr,
                 ObjectPtr, std::shared_ptr<const TaskResult>>
        v_;
};

} // namespace joblark

namespace joblark::detail {
// Provided by the task engine, which owns TaskResult.
JOBLARK_EXPORT bool taskResultEquals(const TaskResult& a, const TaskResult& b);
JOBLARK_EXPORT std::string taskResultDescription(const TaskResult& r);
} // namespace joblark::detail
