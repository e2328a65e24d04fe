#pragma once

// Writes binary property lists byte by byte, including ones no sane writer would produce
// (cycles, dangling references, absurd sharing, strings that are not UTF-8), to feed the readers
// hostile input.

#include "joblark/Foundation/Value.hpp"

#include <cstdint>
#include <stdexcept>
#include <string_view>
#include <vector>

namespace joblark::testing {

class BinaryPlistWriter {
public:
    using Bytes = std::vector<std::uint8_t>;
    using Refs = std::vector<std::uint64_t>;

    // Each call appends one object and returns its index; references are not checked.
    std::uint64_t string(std::string_view bytes) {
        return add(header(0x5, bytes.size()), Bytes(bytes.begin(), bytes.end()));
    }
    std::uint64_t uid(std::uint64_t value) { return add({0x83}, big(value, 4)); }
    std::uint64_t utf16(const std::vector<std::uint16_t>& units) {
        Bytes body;
        for (auto unit : units)
            append(body, big(unit, 2));
        return add(header(0x6, units.size()), body);
    }
    std::uint64_t dictionary(const Refs& keys, const Refs& values) {
        Bytes body = references(keys);
        append(body, references(values));
        return add(header(0xD, keys.size()), body);
    }
    std::uint64_t array(const Refs& elements) {
        return add(header(0xA, elements.size()), references(elements));
    }
    /// Strings, integers, data, arrays and dictionaries, nothing shared; {"CF$UID": n}
    /// becomes the UID n.
    std::uint64_t value(const Value& v) {
        if (const auto* text = v.asString())
            return string(*text);
        if (const auto* bytes = v.asData())
            return add(header(0x4, bytes->size()), *bytes);
        if (auto integer = v.asInteger())
            return add({0x13}, big(static_cast<std::uint64_t>(*integer), 8));
        if (const auto* reference = v.find("CF$UID"); reference && v.asDictionary()->size() == 1)
            return uid(static_cast<std::uint64_t>(reference->asInteger().value()));
        Refs keys, values;
        if (const auto* elements = v.asArray()) {
            for (const auto& element : *elements)
                values.push_back(value(element));
            return array(values);
        }
        if (!v.isDictionary())
            throw std::invalid_argument("BinaryPlistWriter cannot write " + v.description());
        for (const auto& [key, element] : *v.asDictionary()) {
            keys.push_back(string(key));
            values.push_back(value(element));
        }
        return dictionary(keys, values);
    }

    /// Header, objects, offset table (4-byte offsets) and trailer.
    Bytes finish(std::uint64_t root) const {
        Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        Bytes table;
        for (const auto& object : objects_) {
            append(table, big(out.size(), 4));
            append(out, object);
        }
        const std::uint64_t tableOffset = out.size();
        append(out, table);
        append(out, Bytes{0, 0, 0, 0, 0, 0, 4, referenceSize});
        for (std::uint64_t field : {std::uint64_t{objects_.size()}, root, tableOffset})
            append(out, big(field, 8));
        return out;
    }
    static Bytes of(const Value& root) {
        BinaryPlistWriter writer;
        return writer.finish(writer.value(root));
    }

private:
    static constexpr std::uint8_t referenceSize = 2; // up to 65536 objects

    static Bytes big(std::uint64_t value, unsigned width) {
        Bytes b;
        for (unsigned i = width; i-- > 0;)
            b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
        return b;
    }
    static void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }
    static Bytes header(std::uint8_t type, std::size_t count) {
        Bytes b{static_cast<std::uint8_t>(type << 4 | (count < 15 ? count : 0x0F))};
        if (count >= 15) {
            b.push_back(0x13);
            append(b, big(count, 8));
        }
        return b;
    }
    static Bytes references(const Refs& refs) {
        Bytes b;
        for (auto r : refs)
            append(b, big(r, referenceSize));
        return b;
    }
    std::uint64_t add(Bytes object, const Bytes& body) {
        append(object, body);
        objects_.push_back(std::move(object));
        return objects_.size() - 1;
    }

    std::vector<Bytes> objects_;
};

} // namespace joblark::testing
