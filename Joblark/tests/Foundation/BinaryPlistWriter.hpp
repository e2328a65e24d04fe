#pragma once

// Writes binary property lists byte by byte, including ones no sane writer would produce
// (cycles, dangling references, absurd sharing), to feed the readers hostile input.

#include <bit>
#include <cstdint>
#include <string_view>
#include <vector>

namespace joblark::testing {

class BinaryPlistWriter {
public:
    using Bytes = std::vector<std::uint8_t>;

    /// `referenceSize` bytes per object reference (2 allows 65536 objects).
    explicit BinaryPlistWriter(unsigned referenceSize = 2) : referenceSize_(referenceSize) {}

    /// Appends an object and returns its index; objects may refer to indices added later.
    std::uint64_t add(Bytes object) {
        objects_.push_back(std::move(object));
        return objects_.size() - 1;
    }

    std::uint64_t string(std::string_view ascii) {
        Bytes b = header(0x5, ascii.size());
        b.insert(b.end(), ascii.begin(), ascii.end());
        return add(std::move(b));
    }
    std::uint64_t data(const Bytes& bytes) {
        Bytes b = header(0x4, bytes.size());
        b.insert(b.end(), bytes.begin(), bytes.end());
        return add(std::move(b));
    }
    std::uint64_t integer(std::int64_t value) {
        Bytes b{0x13};
        append(b, static_cast<std::uint64_t>(value), 8);
        return add(std::move(b));
    }
    std::uint64_t real(double value) {
        Bytes b{0x23};
        append(b, std::bit_cast<std::uint64_t>(value), 8);
        return add(std::move(b));
    }
    std::uint64_t boolean(bool value) { return add(Bytes{static_cast<std::uint8_t>(value ? 0x09 : 0x08)}); }
    std::uint64_t uid(std::uint32_t value) {
        Bytes b{0x83};
        append(b, value, 4);
        return add(std::move(b));
    }
    std::uint64_t array(const std::vector<std::uint64_t>& references) {
        Bytes b = header(0xA, references.size());
        for (auto r : references)
            append(b, r, referenceSize_);
        return add(std::move(b));
    }
    std::uint64_t dictionary(const std::vector<std::uint64_t>& keys,
                             const std::vector<std::uint64_t>& values) {
        Bytes b = header(0xD, keys.size());
        for (auto k : keys)
            append(b, k, referenceSize_);
        for (auto v : values)
            append(b, v, referenceSize_);
        return add(std::move(b));
    }
    /// Reserves an index to be filled later with `replace`, for objects that refer to themselves.
    void replace(std::uint64_t index, Bytes object) { objects_[index] = std::move(object); }
    Bytes arrayBytes(const std::vector<std::uint64_t>& references) const {
        Bytes b = header(0xA, references.size());
        for (auto r : references)
            append(b, r, referenceSize_);
        return b;
    }

    Bytes finish(std::uint64_t root) const {
        Bytes out{'b', 'p', 'l', 'i', 's', 't', '0', '0'};
        std::vector<std::uint64_t> offsets;
        for (const auto& object : objects_) {
            offsets.push_back(out.size());
            out.insert(out.end(), object.begin(), object.end());
        }
        const std::uint64_t tableOffset = out.size();
        for (auto offset : offsets)
            append(out, offset, 4);
        out.insert(out.end(), 6, 0);
        out.push_back(4);
        out.push_back(static_cast<std::uint8_t>(referenceSize_));
        append(out, objects_.size(), 8);
        append(out, root, 8);
        append(out, tableOffset, 8);
        return out;
    }

private:
    static void append(Bytes& b, std::uint64_t value, unsigned width) {
        for (unsigned i = width; i-- > 0;)
            b.push_back(static_cast<std::uint8_t>(value >> (8 * i)));
    }
    static Bytes header(std::uint8_t type, std::size_t count) {
        if (count < 15)
            return Bytes{static_cast<std::uint8_t>((type << 4) | count)};
        Bytes b{static_cast<std::uint8_t>((type << 4) | 0x0F), 0x13};
        append(b, count, 8);
        return b;
    }

    unsigned referenceSize_;
    std::vector<Bytes> objects_;
};

} // namespace joblark::testing
