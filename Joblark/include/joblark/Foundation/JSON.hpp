#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Expected.hpp"
#include "joblark/Foundation/Value.hpp"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// Thread safety: Free functions without shared state: safe to call from any thread (each call parses or
// writes its own value).

namespace joblark {

/// Why JSON could not be read or written.
class JOBLARK_EXPORT JSONError : public ErrorBase<JSONError> {
public:
    enum class Code {
        /// Not JSON: a syntax error, invalid UTF-8, a number out of range, trailing bytes.
        malformed,
        /// Nesting deeper than the limit.
        tooDeep,
        /// A top-level scalar where an object or array is required.
        fragmentNotAllowed,
        /// A Value that JSON cannot hold (data, error, object, non-finite double, invalid UTF-8).
        unsupportedValue,
    };

    JSONError(Code code, std::string message, std::optional<std::size_t> offset = std::nullopt)
        : code_(code), message_(std::move(message)), offset_(offset) {}

    Code code() const { return code_; }
    /// Byte offset into the input where parsing stopped.
    std::optional<std::size_t> offset() const { return offset_; }
    std::string localizedDescription() const override { return message_; }
    std::string typeName() const override { return "Joblark.JSONError"; }

private:
    Code code_;
    std::string message_;
    std::optional<std::size_t> offset_;
};

/// JSON straight to and from Value, on RapidJSON.
namespace JSON {

inline constexpr std::size_t defaultMaxDepth = 512;

struct JOBLARK_EXPORT ParseOptions {
    /// Accept a scalar ("3", "\"x\"", "null") as the whole document.
    bool allowFragments = true;
    /// Deeper nesting fails early, so hostile input cannot build (or overflow the stack tearing down)
    /// an arbitrarily deep Value.
    std::size_t maxDepth = defaultMaxDepth;
};

struct JOBLARK_EXPORT WriteOptions {
    /// Dictionaries are ordered maps, so keys always come out sorted; kept for readers of call sites.
    bool sortedKeys = true;
    bool prettyPrinted = false;
};

/// Parses UTF-8 JSON. Integers that fit int64 become integers; larger ones and every number with a
/// fraction or exponent become doubles. Duplicate keys: the last one wins.
JOBLARK_EXPORT Expected<Value> parse(std::string_view bytes, const ParseOptions& options = {});

/// Writes compact (or pretty) JSON with sorted keys. Doubles come out in shortest round-trip form
/// and always with a fraction or exponent, so they read back as doubles.
JOBLARK_EXPORT Expected<std::string> write(const Value& value, const WriteOptions& options = {});

} // namespace JSON
} // namespace joblark
