#pragma once

// Internal: reads binary property lists ("bplist00") in place, without building a tree first.

#include "joblark/Foundation/Expected.hpp"
#include "joblark/Foundation/Value.hpp"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace joblark::PropertyList::detail {

/// A read-only view of a binary property list: objects are addressed by their index in the object
/// table and decoded only when asked for. open() first walks the whole graph within the limits of
/// PropertyList (depth, expanded size, no cycles, everything in bounds), so readers may then
/// recurse; every accessor still checks its own reads. The bytes must outlive the view.
class BinaryPropertyListReader {
public:
    using Ref = std::uint64_t;
    enum class Kind { null, boolean, integer, real, date, data, string, uid, array, dictionary, other };

    static Expected<BinaryPropertyListReader> open(std::span<const std::uint8_t> bytes);

    Ref root() const { return root_; }
    std::uint64_t objectCount() const { return objectCount_; }
    Kind kind(Ref ref) const;
    std::optional<std::string> string(Ref ref) const;
    std::optional<std::uint64_t> uid(Ref ref) const;
    /// Bytes of string or data content (UTF-16 units count two), else 0.
    std::uint64_t contentLength(Ref ref) const;
    /// Elements of an array (or set); empty for anything else.
    std::vector<Ref> elements(Ref ref) const;
    /// The value of `key` in a dictionary.
    std::optional<Ref> find(Ref dictionary, std::string_view key) const;
    /// The object as a Value; UIDs become {"CF$UID": n}, dates seconds since 1970.
    Expected<Value> value(Ref ref) const;

private:
    struct Header {
        unsigned type = 0;
        unsigned info = 0;
        std::uint64_t count = 0;   // elements, bytes or UTF-16 units
        std::uint64_t payload = 0; // position after the marker (and the extended count)
    };
    explicit BinaryPropertyListReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}
    std::optional<Header> header(Ref ref) const;
    std::optional<std::uint64_t> reference(const Header& h, std::uint64_t index) const;
    bool fits(std::uint64_t position, std::uint64_t length) const {
        return position <= tableOffset_ && length <= tableOffset_ - position;
    }
    Expected<Value> value(Ref ref, std::size_t depth) const;

    std::span<const std::uint8_t> bytes_;
    unsigned offsetSize_ = 0;
    unsigned referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t root_ = 0;
    std::uint64_t tableOffset_ = 0;
};

} // namespace joblark::PropertyList::detail
