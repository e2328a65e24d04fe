#include "BinaryPropertyListWriter.hpp"

#include <bit>
#include <cstring>

namespace joblark::PropertyList::detail {
namespace {

/// The smallest of the widths readers accept (1, 2, 4 or 8 bytes) that holds `value`.
unsigned widthFor(std::uint64_t value) {
    if (value <= 0xFF)
        return 1;
    if (value <= 0xFFFF)
        return 2;
    if (value <= 0xFFFFFFFF)
        return 4;
    return 8;
}

/// log2 of a width from widthFor, as integer markers encode it.
std::uint8_t widthExponent(unsigned width) {
    return static_cast<std::uint8_t>(std::countr_zero(width));
}

bool isASCII(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80)
            return false;
    return true;
}

/// UTF-16 code units of valid UTF-8 text (anything else was refused by checkString).
std::vector<std::uint16_t> utf16Of(std::string_view text) {
    std::vector<std::uint16_t> units;
    units.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t length = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4;
        std::uint32_t codePoint = length == 1 ? c : c & (0x7Fu >> length);
        for (std::size_t k = 1; k < length && i + k < text.size(); ++k)
            codePoint = (codePoint << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3Fu);
        i += length;
        if (codePoint >= 0x10000) {
            codePoint -= 0x10000;
            units.push_back(static_cast<std::uint16_t>(0xD800 | (codePoint >> 10)));
            units.push_back(static_cast<std::uint16_t>(0xDC00 | (codePoint & 0x3FF)));
        } else {
            units.push_back(static_cast<std::uint16_t>(codePoint));
        }
    }
    return units;
}

} // namespace

BinaryWriter::BinaryWriter() : booleans_{noRef, noRef} {
    static constexpr std::string_view magic = "bplist00";
    out_.reserve(4096);
    out_.insert(out_.end(), magic.begin(), magic.end());
}

BinaryWriter::Ref BinaryWriter::beginObject() {
    offsets_.push_back(out_.size());
    return static_cast<Ref>(offsets_.size() - 1);
}

void BinaryWriter::putBigEndian(std::uint64_t value, unsigned width) {
    const std::size_t end = out_.size() + width;
    out_.resize(end);
    for (std::size_t i = end; i > end - width; --i, value >>= 8)
        out_[i - 1] = static_cast<std::uint8_t>(value);
}

void BinaryWriter::putMarker(std::uint8_t type, std::uint64_t count) {
    if (count < 0xF) {
        out_.push_back(static_cast<std::uint8_t>(type << 4 | count));
        return;
    }
    // Larger counts follow as an integer object.
    const unsigned width = widthFor(count);
    out_.push_back(static_cast<std::uint8_t>(type << 4 | 0xF));
    out_.push_back(static_cast<std::uint8_t>(0x10 | widthExponent(width)));
    putBigEndian(count, width);
}

BinaryWriter::Ref BinaryWriter::addBool(bool value) {
    Ref& cached = booleans_[value ? 1 : 0];
    if (cached == noRef) {
        cached = beginObject();
        out_.push_back(value ? 0x09 : 0x08);
    }
    return cached;
}

BinaryWriter::Ref BinaryWriter::addInteger(std::int64_t value) {
    // Numbers repeat across archived objects (thresholds, dates); sharing them keeps the object count,
    // and with it the width of every reference, down.
    auto [it, added] = numbers_.try_emplace(Number{static_cast<std::uint64_t>(value), false}, 0);
    if (!added)
        return it->second;
    const Ref ref = it->second = beginObject();
    const unsigned width = value < 0 ? 8 : widthFor(static_cast<std::uint64_t>(value));
    out_.push_back(static_cast<std::uint8_t>(0x10 | widthExponent(width)));
    putBigEndian(static_cast<std::uint64_t>(value), width);
    return ref;
}

BinaryWriter::Ref BinaryWriter::addReal(double value) {
    auto [it, added] = numbers_.try_emplace(Number{std::bit_cast<std::uint64_t>(value), true}, 0);
    if (!added)
        return it->second;
    const Ref ref = it->second = beginObject();
    out_.push_back(0x23);
    putBigEndian(std::bit_cast<std::uint64_t>(value), 8);
    return ref;
}

BinaryWriter::Ref BinaryWriter::addDate(double seconds) {
    const Ref ref = beginObject();
    out_.push_back(0x33);
    putBigEndian(std::bit_cast<std::uint64_t>(seconds), 8);
    return ref;
}

BinaryWriter::Ref BinaryWriter::addData(std::span<const std::uint8_t> bytes) {
    const Ref ref = beginObject();
    putMarker(0x4, bytes.size());
    out_.insert(out_.end(), bytes.begin(), bytes.end());
    return ref;
}

std::optional<BinaryWriter::Ref> BinaryWriter::findString(std::string_view text) const {
    if (auto it = strings_.find(text); it != strings_.end())
        return it->second;
    return std::nullopt;
}

BinaryWriter::Ref BinaryWriter::addString(std::string_view text) {
    if (auto it = strings_.find(text); it != strings_.end())
        return it->second;
    const Ref ref = beginObject();
    if (isASCII(text)) {
        putMarker(0x5, text.size());
        out_.insert(out_.end(), text.begin(), text.end());
    } else {
        const auto units = utf16Of(text);
        putMarker(0x6, units.size());
        for (std::uint16_t unit : units)
            putBigEndian(unit, 2);
    }
    strings_.emplace(std::string(text), ref);
    return ref;
}

BinaryWriter::Ref BinaryWriter::addUID(std::uint64_t uid) {
    // Archives refer to the same few objects (classes, "$null") over and over.
    constexpr std::uint64_t cachedLimit = std::uint64_t{1} << 24;
    if (uid < cachedLimit) {
        if (uid >= uids_.size())
            uids_.resize(static_cast<std::size_t>(uid) + 1 + uids_.size() / 2, noRef);
        if (uids_[uid] != noRef)
            return uids_[uid];
    }
    const Ref ref = beginObject();
    const unsigned width = widthFor(uid);
    out_.push_back(static_cast<std::uint8_t>(0x80 | (width - 1)));
    putBigEndian(uid, width);
    if (uid < cachedLimit)
        uids_[uid] = ref;
    return ref;
}

BinaryWriter::Ref BinaryWriter::addArray(std::span<const Ref> elements) {
    const Ref ref = beginObject();
    containers_.push_back(Container{ref, static_cast<std::uint32_t>(references_.size()),
                                    static_cast<std::uint32_t>(elements.size()), false});
    references_.insert(references_.end(), elements.begin(), elements.end());
    return ref;
}

BinaryWriter::Ref BinaryWriter::addDictionary(std::span<const std::pair<Ref, Ref>> entries) {
    const Ref ref = beginObject();
    containers_.push_back(Container{ref, static_cast<std::uint32_t>(references_.size()),
                                    static_cast<std::uint32_t>(entries.size()), true});
    // Stored as all keys, then all values, as the file lists them.
    for (const auto& entry : entries)
        references_.push_back(entry.first);
    for (const auto& entry : entries)
        references_.push_back(entry.second);
    return ref;
}

Data BinaryWriter::finish(Ref root) {
    const std::uint64_t objectCount = offsets_.size();
    const unsigned referenceWidth = widthFor(objectCount == 0 ? 0 : objectCount - 1);
    for (const Container& container : containers_) {
        offsets_[container.object] = out_.size();
        putMarker(container.dictionary ? 0xD : 0xA, container.count);
        const std::uint64_t references =
            container.dictionary ? 2 * std::uint64_t{container.count} : container.count;
        for (std::uint64_t i = 0; i < references; ++i)
            putBigEndian(references_[container.first + i], referenceWidth);
    }
    const std::uint64_t tableOffset = out_.size();
    // Every object starts before the table.
    const unsigned offsetWidth = widthFor(tableOffset);
    out_.reserve(out_.size() + objectCount * offsetWidth + 32);
    for (std::uint64_t offset : offsets_)
        putBigEndian(offset, offsetWidth);
    // Trailer: six unused bytes, the two widths, object count, root object, offset table position.
    out_.insert(out_.end(), std::size_t{6}, std::uint8_t{0});
    out_.push_back(static_cast<std::uint8_t>(offsetWidth));
    out_.push_back(static_cast<std::uint8_t>(referenceWidth));
    putBigEndian(objectCount, 8);
    putBigEndian(root, 8);
    putBigEndian(tableOffset, 8);
    return std::move(out_);
}

} // namespace joblark::PropertyList::detail
