#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Expected.hpp"
#include "joblark/Foundation/Value.hpp"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <type_traits>
#include <utility>

// Thread safety: Free functions without shared state: safe to call from any thread. A Node is owned by one
// thread at a time.

namespace joblark {

/// Why a property list could not be written or read.
class JOBLARK_EXPORT PropertyListError : public ErrorBase<PropertyListError> {
public:
    enum class Code {
        /// The value holds something a property list has no type for (null, error, object, ...).
        unsupportedValue,
        /// The bytes are not a property list, or a damaged one.
        malformed,
        /// Nesting or size beyond the limits below.
        tooComplex,
    };

    PropertyListError(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    Code code() const { return code_; }
    std::string localizedDescription() const override { return message_; }
    std::string typeName() const override { return "Joblark.PropertyListError"; }

private:
    Code code_;
    std::string message_;
};

/// Property lists (binary and XML) on libplist, converted to and from `Value`.
namespace PropertyList {

enum class Format { binary, xml };

/// Limits applied to everything read or written. libplist parses and frees recursively and expands
/// shared binary objects into copies, so untrusted input is measured before libplist sees it.
/// Every 64 bytes of string or data content count as one more node.
inline constexpr std::size_t maximumDepth = 512;
inline constexpr std::size_t maximumNodeCount = std::size_t{1} << 22;

/// Dictionaries, arrays, strings (valid UTF-8, no NUL), integers, reals, booleans and data. Anything
/// else fails with PropertyListError::Code::unsupportedValue.
JOBLARK_EXPORT Expected<Data> serialize(const Value& value, Format format = Format::binary);

/// Reads a binary or XML property list (detected from the bytes). Dates become real seconds since
/// 1970; keyed-archive UIDs become {"CF$UID": n}. Never crashes on hostile or truncated bytes.
JOBLARK_EXPORT Expected<Value> deserialize(std::span<const std::uint8_t> bytes);

/// Owns one libplist node (a plist_t) and frees it with its subtree. Non-copyable, movable.
class JOBLARK_EXPORT Node {
public:
    /// libplist's plist_t, kept opaque here so that users of this header need not see libplist.
    using Handle = void*;

    Node() = default;
    explicit Node(Handle node) : node_(node) {}
    ~Node() { reset(); }
    Node(const Node&) = delete;
    Node& operator=(const Node&) = delete;
    Node(Node&& other) noexcept : node_(std::exchange(other.node_, nullptr)) {}
    Node& operator=(Node&& other) noexcept {
        if (this != &other)
            reset(std::exchange(other.node_, nullptr));
        return *this;
    }

    Handle get() const { return node_; }
    /// Hands ownership to the caller (e.g. when inserting into a libplist container).
    [[nodiscard]] Handle release() { return std::exchange(node_, nullptr); }
    void reset(Handle node = nullptr);
    explicit operator bool() const { return node_ != nullptr; }

private:
    Handle node_ = nullptr;
};

// The layer below serialize/deserialize, for code that needs node types a Value has no room for
// (the UIDs of keyed archives).

/// Parses bytes into a node tree, within the limits above.
JOBLARK_EXPORT Expected<Node> parse(std::span<const std::uint8_t> bytes);
/// Writes a node tree (not taking ownership).
JOBLARK_EXPORT Expected<Data> write(Node::Handle node, Format format);
JOBLARK_EXPORT Expected<Node> makeNode(const Value& value);
/// Converts a node tree (not taking ownership) into a Value.
JOBLARK_EXPORT Expected<Value> makeValue(Node::Handle node);

} // namespace PropertyList
} // namespace joblark
