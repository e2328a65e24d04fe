#pragma once

// Internal to Joblark's Foundation: writes binary property lists without building a libplist tree,
// which for keyed archives cost most of the time (a node and several allocations per object).

#include "joblark/Foundation/PropertyList.hpp"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

namespace joblark::PropertyList::detail {

/// Empty when `text` can be stored as a property-list string (valid UTF-8, no NUL); otherwise the
/// unsupportedValue failure naming `what` ("strings", "keys").
std::optional<Unexpected> checkString(std::string_view text, const char* what);

/// Builds a "bplist00" file bottom-up: every object is added before the containers that refer to it,
/// and the reference returned stands for it. Scalars are encoded as they are added; containers wait
/// until finish(), when the width of object references is known. Equal strings, numbers and UIDs are
/// stored once.
class BinaryWriter {
public:
    using Ref = std::uint32_t;

    BinaryWriter();

    Ref addBool(bool value);
    /// Negative values take eight bytes, as readers sign-extend only those.
    Ref addInteger(std::int64_t value);
    Ref addReal(double value);
    /// Seconds since 2001-01-01T00:00:00Z.
    Ref addDate(double seconds);
    Ref addData(std::span<const std::uint8_t> bytes);
    /// `text` must satisfy checkString (the caller checks, once per distinct text).
    Ref addString(std::string_view text);
    /// A string added before, if any.
    std::optional<Ref> findString(std::string_view text) const;
    Ref addUID(std::uint64_t uid);
    Ref addArray(std::span<const Ref> elements);
    /// Keys must be string objects.
    Ref addDictionary(std::span<const std::pair<Ref, Ref>> entries);

    /// The finished file with `root` as its top object. The writer is spent afterwards.
    Data finish(Ref root);

private:
    struct Container {
        Ref object;
        std::uint32_t first; // into references_
        std::uint32_t count; // entries (pairs for dictionaries)
        bool dictionary;
    };
    struct TextHash {
        using is_transparent = void;
        std::size_t operator()(std::string_view text) const { return std::hash<std::string_view>{}(text); }
    };

    /// An integer or the bit pattern of a real.
    struct Number {
        std::uint64_t bits;
        bool real;
        bool operator==(const Number&) const = default;
    };
    struct NumberHash {
        std::size_t operator()(const Number& number) const {
            return std::hash<std::uint64_t>{}(number.bits) ^ (number.real ? 0x9E3779B97F4A7C15u : 0);
        }
    };

    Ref beginObject();
    void putMarker(std::uint8_t type, std::uint64_t count);
    void putBigEndian(std::uint64_t value, unsigned width);

    Data out_;
    std::vector<std::uint64_t> offsets_; // per object; containers' are filled in by finish()
    std::vector<Container> containers_;
    std::vector<Ref> references_;
    std::unordered_map<std::string, Ref, TextHash, std::equal_to<>> strings_;
    std::unordered_map<Number, Ref, NumberHash> numbers_;
    std::vector<Ref> uids_; // UID object per small UID value, or noRef
    Ref booleans_[2];
    static constexpr Ref noRef = ~Ref{0};
};

} // namespace joblark::PropertyList::detail
