#include "joblark/Foundation/PropertyList.hpp"

#include "BinaryPropertyListReader.hpp"
#include "BinaryPropertyListWriter.hpp"

#include <plist/plist.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>
#include <string_view>
#include <vector>

namespace joblark::PropertyList {
namespace {

using detail::checkString;

using Code = PropertyListError::Code;

Unexpected failure(Code code, std::string message) {
    return Unexpected{std::make_shared<PropertyListError>(code, std::move(message))};
}

Unexpected malformed(const std::string& detail) {
    return failure(Code::malformed, "The data is not a valid property list (" + detail + ").");
}

Unexpected tooComplex(const std::string& detail) {
    return failure(Code::tooComplex, "The property list is too complex to read (" + detail + ").");
}

/// Frees memory libplist hands out with malloc (dictionary keys, iterators).
struct FreeDeleter {
    void operator()(void* p) const { std::free(p); }
};
template <class T>
using MallocPtr = std::unique_ptr<T, FreeDeleter>;

// ---------------------------------------------------------------------------------------------
// Measuring untrusted bytes before libplist parses them.

std::uint64_t readBigEndian(const std::uint8_t* p, unsigned width) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < width; ++i)
        value = (value << 8) | p[i];
    return value;
}

/// The object table of a binary property list ("bplist00"), bounds-checked.
class BinaryLayout {
public:
    explicit BinaryLayout(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

    /// Empty when the trailer is sound; otherwise the reason.
    std::optional<Unexpected> readTrailer() {
        static constexpr std::size_t headerSize = 8;
        static constexpr std::size_t trailerSize = 32;
        if (bytes_.size() < headerSize + trailerSize)
            return malformed("truncated binary property list");
        const std::uint8_t* trailer = bytes_.data() + bytes_.size() - trailerSize;
        offsetSize_ = trailer[6];
        referenceSize_ = trailer[7];
        objectCount_ = readBigEndian(trailer + 8, 8);
        root_ = readBigEndian(trailer + 16, 8);
        tableOffset_ = readBigEndian(trailer + 24, 8);
        const std::uint64_t tableEnd = bytes_.size() - trailerSize;
        if (offsetSize_ < 1 || offsetSize_ > 8 || referenceSize_ < 1 || referenceSize_ > 8)
            return malformed("invalid integer sizes in the trailer");
        if (objectCount_ == 0 || root_ >= objectCount_)
            return malformed("invalid object count or root");
        if (objectCount_ > maximumNodeCount)
            return tooComplex("too many objects");
        if (tableOffset_ < headerSize || tableOffset_ > tableEnd ||
            objectCount_ > (tableEnd - tableOffset_) / offsetSize_)
            return malformed("offset table out of range");
        return std::nullopt;
    }

    std::uint64_t objectCount() const { return objectCount_; }
    std::uint64_t root() const { return root_; }

    /// What one object contributes to the parsed tree.
    struct ObjectInfo {
        std::uint64_t referencePosition = 0;
        std::uint64_t referenceCount = 0;
        /// One node, plus one per 64 bytes of string or data content.
        std::uint64_t cost = 1;
        bool dictionary = false;
        /// UTF-16 text holding U+0000: libplist aborts (an assertion) when such text is a dictionary key.
        bool textWithNUL = false;
    };

    /// The references an array, set or dictionary holds and the weight of strings and data; nothing
    /// when the object does not fit in the object area.
    std::optional<ObjectInfo> describe(std::uint64_t object) const {
        const std::uint64_t offset =
            readBigEndian(bytes_.data() + tableOffset_ + object * offsetSize_, offsetSize_);
        if (offset < 8 || offset >= tableOffset_)
            return std::nullopt;
        const std::uint8_t marker = bytes_[offset];
        const unsigned type = marker >> 4;
        const bool container = type == 0xA || type == 0xC || type == 0xD;
        const bool content = type == 0x4 || type == 0x5 || type == 0x6;
        if (!container && !content)
            return ObjectInfo{};
        std::uint64_t count = marker & 0x0F;
        std::uint64_t position = offset + 1;
        if (count == 0x0F) {
            // The count follows as an integer object: marker 0x1n, then 2^n big-endian bytes.
            if (position >= tableOffset_)
                return std::nullopt;
            const std::uint8_t intMarker = bytes_[position];
            const unsigned width = 1u << (intMarker & 0x0F);
            if ((intMarker >> 4) != 0x1 || width > 8 || position + 1 + width > tableOffset_)
                return std::nullopt;
            count = readBigEndian(bytes_.data() + position + 1, width);
            position += 1 + width;
        }
        // Also keeps the multiplications below from overflowing.
        if (count > tableOffset_)
            return std::nullopt;
        if (content) {
            const std::uint64_t unit = type == 0x6 ? 2 : 1;
            if (count * unit > tableOffset_ - position)
                return std::nullopt;
            bool textWithNUL = false;
            for (std::uint64_t i = 0; type == 0x6 && i < count && !textWithNUL; ++i)
                textWithNUL = bytes_[position + 2 * i] == 0 && bytes_[position + 2 * i + 1] == 0;
            // UTF-16 text grows to up to three UTF-8 bytes per unit.
            return ObjectInfo{0, 0, 1 + count * (type == 0x6 ? 3 : 1) / 64, false, textWithNUL};
        }
        const std::uint64_t referenceCount = type == 0xD ? count * 2 : count;
        if (referenceCount > (tableOffset_ - position) / referenceSize_)
            return std::nullopt;
        return ObjectInfo{position, referenceCount, 1, type == 0xD, false};
    }

    std::uint64_t reference(const ObjectInfo& info, std::uint64_t index) const {
        return readBigEndian(bytes_.data() + info.referencePosition + index * referenceSize_, referenceSize_);
    }

private:
    std::span<const std::uint8_t> bytes_;
    unsigned offsetSize_ = 0;
    unsigned referenceSize_ = 0;
    std::uint64_t objectCount_ = 0;
    std::uint64_t root_ = 0;
    std::uint64_t tableOffset_ = 0;
};

/// Walks the object graph from the root without recursion: refuses cycles, nesting deeper than
/// maximumDepth and graphs whose expansion into a tree (which libplist performs, copying every shared
/// object) would weigh more than maximumNodeCount.
std::optional<Unexpected> checkBinary(std::span<const std::uint8_t> bytes) {
    BinaryLayout layout(bytes);
    if (auto problem = layout.readTrailer())
        return problem;

    enum : std::uint8_t { unvisited, inProgress, done };
    const auto count = static_cast<std::size_t>(layout.objectCount());
    std::vector<std::uint8_t> state(count, unvisited);
    std::vector<std::uint16_t> height(count, 0);
    std::vector<std::uint32_t> treeSize(count, 0);
    std::vector<bool> textWithNUL(count, false);
    constexpr std::uint64_t sizeCap = maximumNodeCount + 1;

    struct Frame {
        std::uint64_t object;
        BinaryLayout::ObjectInfo info;
        std::uint64_t next = 0;
        std::size_t childHeight = 0;
        std::uint64_t size = 1;
    };
    std::vector<Frame> stack;
    auto enter = [&](std::uint64_t object) -> std::optional<Unexpected> {
        auto info = layout.describe(object);
        if (!info)
            return malformed("object out of range");
        if (stack.size() >= maximumDepth)
            return tooComplex("nested too deeply");
        if (info->cost > maximumNodeCount)
            return tooComplex("too large");
        state[object] = inProgress;
        textWithNUL[object] = info->textWithNUL;
        stack.push_back(Frame{object, *info, 0, 0, info->cost});
        return std::nullopt;
    };
    if (auto problem = enter(layout.root()))
        return problem;

    while (!stack.empty()) {
        Frame& frame = stack.back();
        if (frame.next < frame.info.referenceCount) {
            const std::uint64_t child = layout.reference(frame.info, frame.next++);
            if (child >= count)
                return malformed("reference out of range");
            // A dictionary lists its keys first.
            const bool key = frame.info.dictionary && frame.next <= frame.info.referenceCount / 2;
            if (state[child] == inProgress)
                return malformed("reference cycle");
            if (state[child] == done) {
                if (key && textWithNUL[child])
                    return malformed("a dictionary key holding U+0000");
                if (stack.size() + height[child] > maximumDepth)
                    return tooComplex("nested too deeply");
                frame.childHeight = std::max<std::size_t>(frame.childHeight, height[child]);
                frame.size = std::min(sizeCap, frame.size + treeSize[child]);
                if (frame.size > maximumNodeCount)
                    return tooComplex("too large");
                continue;
            }
            if (auto problem = enter(child))
                return problem;
            if (key && textWithNUL[child])
                return malformed("a dictionary key holding U+0000");
            continue;
        }
        const Frame finished = frame;
        stack.pop_back();
        state[finished.object] = done;
        height[finished.object] = static_cast<std::uint16_t>(finished.childHeight + 1);
        treeSize[finished.object] = static_cast<std::uint32_t>(finished.size);
        if (!stack.empty()) {
            Frame& parent = stack.back();
            parent.childHeight = std::max<std::size_t>(parent.childHeight, finished.childHeight + 1);
            parent.size = std::min(sizeCap, parent.size + finished.size);
            if (parent.size > maximumNodeCount)
                return tooComplex("too large");
        }
    }
    return std::nullopt;
}

/// Counts element nesting and elements of an XML property list. Deliberately rough (comments,
/// CDATA and declarations are skipped, nothing else is interpreted): it only has to bound what
/// libplist's recursive parser will face; libplist still judges whether the XML is valid.
std::optional<Unexpected> checkXML(std::span<const std::uint8_t> bytes) {
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    // <plist> and the root element sit above the value nesting that maximumDepth counts.
    constexpr std::size_t depthLimit = maximumDepth + 2;
    // Every dictionary entry is two elements (<key> and the value).
    constexpr std::size_t elementLimit = 2 * maximumNodeCount + 2;
    std::size_t depth = 0;
    std::size_t elements = 0;
    std::size_t i = 0;
    auto skipPast = [&](std::string_view terminator, std::size_t from) {
        auto end = text.find(terminator, from);
        return end == std::string_view::npos ? text.size() : end + terminator.size();
    };
    while ((i = text.find('<', i)) != std::string_view::npos) {
        std::string_view rest = text.substr(i);
        if (rest.starts_with("<!--")) {
            i = skipPast("-->", i + 4);
        } else if (rest.starts_with("<![CDATA[")) {
            i = skipPast("]]>", i + 9);
        } else if (rest.starts_with("<?") || rest.starts_with("<!")) {
            i = skipPast(">", i + 2);
        } else if (rest.starts_with("</")) {
            if (depth > 0)
                --depth;
            i = skipPast(">", i + 2);
        } else {
            auto end = text.find('>', i + 1);
            if (end == std::string_view::npos)
                break;
            if (++elements > elementLimit)
                return tooComplex("too many elements");
            if (text[end - 1] != '/' && ++depth > depthLimit)
                return tooComplex("nested too deeply");
            i = end + 1;
        }
    }
    return std::nullopt;
}

bool isBinary(std::span<const std::uint8_t> bytes) {
    static constexpr std::string_view magic = "bplist";
    return bytes.size() >= magic.size() && std::memcmp(bytes.data(), magic.data(), magic.size()) == 0;
}

// ---------------------------------------------------------------------------------------------
// Value <-> node conversion.

/// libplist's binary writer transcodes strings to UTF-16 and garbles anything that is not UTF-8.
bool isValidUTF8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        // The lead byte gives the length and the top bits; 0xC0, 0xC1 and 0xF5+ never occur.
        const std::size_t length = c >= 0xC2 && c <= 0xDF   ? 2
                                   : c >= 0xE0 && c <= 0xEF ? 3
                                   : c >= 0xF0 && c <= 0xF4 ? 4
                                                            : 0;
        if (length == 0)
            return false;
        std::uint32_t codePoint = c & (0x7Fu >> length);
        if (i + length > s.size())
            return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto next = static_cast<unsigned char>(s[i + k]);
            if ((next & 0xC0) != 0x80)
                return false;
            codePoint = (codePoint << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and values past Unicode.
        if ((length == 3 && codePoint < 0x800) || (length == 4 && codePoint < 0x10000) ||
            (codePoint >= 0xD800 && codePoint <= 0xDFFF) || codePoint > 0x10FFFF)
            return false;
        i += length;
    }
    return true;
}

/// Why `value` has no property-list form (it is none of the kinds converted by the callers).
Unexpected unsupported(const Value& value) {
    switch (value.kind()) {
    case Value::Kind::null:
        return failure(Code::unsupportedValue, "Property lists cannot hold null values.");
    case Value::Kind::error:
        return failure(Code::unsupportedValue, "Property lists cannot hold errors.");
    case Value::Kind::object: {
        auto object = value.asObject();
        return failure(Code::unsupportedValue, "Property lists cannot hold objects (" +
                                                   (object ? object->className() : std::string("null")) +
                                                   ").");
    }
    case Value::Kind::taskResult:
        return failure(Code::unsupportedValue, "Property lists cannot hold task results.");
    case Value::Kind::boolean:
    case Value::Kind::integer:
    case Value::Kind::real:
    case Value::Kind::string:
    case Value::Kind::array:
    case Value::Kind::dictionary:
    case Value::Kind::data:
        break; // converted above
    }
    return failure(Code::unsupportedValue, "Unknown value kind.");
}

Expected<Node> nodeFrom(const Value& value, std::size_t depth) {
    if (depth > maximumDepth)
        return failure(Code::tooComplex, "The value is nested too deeply for a property list.");
    // Typed accessors rather than a switch on kind(): each pointer is checked where it is used.
    if (auto flag = value.asBool())
        return Node(plist_new_bool(*flag ? 1 : 0));
    // Stored as the two's-complement bit pattern, which is how binary property lists hold negative
    // integers.
    if (auto integer = value.asInteger())
        return Node(plist_new_uint(static_cast<std::uint64_t>(*integer)));
    if (value.isReal())
        return Node(plist_new_real(value.asDouble().value_or(0)));
    if (const auto* text = value.asString()) {
        if (auto problem = checkString(*text, "strings"))
            return *problem;
        return Node(plist_new_string(text->c_str()));
    }
    if (const auto* data = value.asData()) {
        static constexpr char empty = 0;
        const char* bytes = data->empty() ? &empty : reinterpret_cast<const char*>(data->data());
        return Node(plist_new_data(bytes, data->size()));
    }
    if (const auto* elements = value.asArray()) {
        Node array(plist_new_array());
        for (const auto& element : *elements) {
            auto child = nodeFrom(element, depth + 1);
            if (!child)
                return Unexpected{child.error()};
            plist_array_append_item(array.get(), child->release());
        }
        return array;
    }
    if (const auto* entries = value.asDictionary()) {
        Node dict(plist_new_dict());
        for (const auto& [key, element] : *entries) {
            if (auto problem = checkString(key, "keys"))
                return *problem;
            auto child = nodeFrom(element, depth + 1);
            if (!child)
                return Unexpected{child.error()};
            plist_dict_set_item(dict.get(), key.c_str(), child->release());
        }
        return dict;
    }
    return unsupported(value);
}

using BinaryWriter = detail::BinaryWriter;

/// The same conversion as nodeFrom, straight into a binary writer.
Expected<BinaryWriter::Ref> binaryFrom(BinaryWriter& writer, const Value& value, std::size_t depth) {
    if (depth > maximumDepth)
        return failure(Code::tooComplex, "The value is nested too deeply for a property list.");
    if (auto flag = value.asBool())
        return writer.addBool(*flag);
    if (auto integer = value.asInteger())
        return writer.addInteger(*integer);
    if (value.isReal())
        return writer.addReal(value.asDouble().value_or(0));
    if (const auto* text = value.asString()) {
        if (auto problem = checkString(*text, "strings"))
            return *problem;
        return writer.addString(*text);
    }
    if (const auto* data = value.asData())
        return writer.addData(*data);
    if (const auto* elements = value.asArray()) {
        std::vector<BinaryWriter::Ref> refs;
        refs.reserve(elements->size());
        for (const auto& element : *elements) {
            auto child = binaryFrom(writer, element, depth + 1);
            if (!child)
                return Unexpected{child.error()};
            refs.push_back(*child);
        }
        return writer.addArray(refs);
    }
    if (const auto* entries = value.asDictionary()) {
        std::vector<std::pair<BinaryWriter::Ref, BinaryWriter::Ref>> refs;
        refs.reserve(entries->size());
        for (const auto& [key, element] : *entries) {
            if (auto problem = checkString(key, "keys"))
                return *problem;
            auto child = binaryFrom(writer, element, depth + 1);
            if (!child)
                return Unexpected{child.error()};
            refs.emplace_back(writer.addString(key), *child);
        }
        return writer.addDictionary(refs);
    }
    return unsupported(value);
}

Expected<Value> valueFrom(plist_t node, std::size_t depth) {
    if (!node)
        return malformed("missing node");
    if (depth > maximumDepth)
        return tooComplex("nested too deeply");
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t b = 0;
        plist_get_bool_val(node, &b);
        return Value(b != 0);
    }
    case PLIST_UINT: {
        std::uint64_t u = 0;
        plist_get_uint_val(node, &u);
        return Value(static_cast<std::int64_t>(u));
    }
    case PLIST_REAL: {
        double d = 0;
        plist_get_real_val(node, &d);
        return Value(d);
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char* s = plist_get_string_ptr(node, &length);
        return Value(s ? std::string(s, length) : std::string());
    }
    case PLIST_KEY: {
        char* raw = nullptr;
        plist_get_key_val(node, &raw);
        MallocPtr<char> key(raw);
        return Value(key ? std::string(key.get()) : std::string());
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(plist_get_data_ptr(node, &length));
        return Value(bytes ? Data(bytes, bytes + length) : Data());
    }
    case PLIST_DATE: {
        std::int32_t seconds = 0;
        std::int32_t microseconds = 0;
        plist_get_date_val(node, &seconds, &microseconds);
        constexpr double referenceDate = 978307200.0; // 2001-01-01T00:00:00Z, the property-list epoch
        return Value(referenceDate + seconds + microseconds / 1e6);
    }
    case PLIST_UID: {
        std::uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        return Value(Dictionary{{"CF$UID", Value(static_cast<std::int64_t>(uid))}});
    }
    case PLIST_ARRAY: {
        Array array;
        array.reserve(plist_array_get_size(node));
        plist_array_iter rawIter = nullptr;
        plist_array_new_iter(node, &rawIter);
        MallocPtr<void> iter(rawIter);
        for (;;) {
            plist_t item = nullptr;
            plist_array_next_item(node, iter.get(), &item);
            if (!item)
                break;
            auto element = valueFrom(item, depth + 1);
            if (!element)
                return Unexpected{element.error()};
            array.push_back(std::move(*element));
        }
        return Value(std::move(array));
    }
    case PLIST_DICT: {
        Dictionary dict;
        plist_dict_iter rawIter = nullptr;
        plist_dict_new_iter(node, &rawIter);
        MallocPtr<void> iter(rawIter);
        for (;;) {
            char* rawKey = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iter.get(), &rawKey, &item);
            MallocPtr<char> key(rawKey);
            if (!item)
                break;
            auto element = valueFrom(item, depth + 1);
            if (!element)
                return Unexpected{element.error()};
            dict.insert_or_assign(std::string(key ? key.get() : ""), std::move(*element));
        }
        return Value(std::move(dict));
    }
    case PLIST_NONE:
        break;
    }
    return malformed("unknown node type");
}

/// Appends a code point as UTF-8.
void appendUTF8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

} // namespace

using detail::BinaryPropertyListReader;

Expected<BinaryPropertyListReader> BinaryPropertyListReader::open(std::span<const std::uint8_t> bytes) {
    if (!isBinary(bytes))
        return malformed("not a binary property list");
    if (auto problem = checkBinary(bytes))
        return *problem;
    BinaryPropertyListReader reader(bytes);
    const std::uint8_t* trailer = bytes.data() + bytes.size() - 32;
    reader.offsetSize_ = trailer[6];
    reader.referenceSize_ = trailer[7];
    reader.objectCount_ = readBigEndian(trailer + 8, 8);
    reader.root_ = readBigEndian(trailer + 16, 8);
    reader.tableOffset_ = readBigEndian(trailer + 24, 8);
    return reader;
}

std::optional<BinaryPropertyListReader::Header> BinaryPropertyListReader::header(Ref ref) const {
    if (ref >= objectCount_)
        return std::nullopt;
    const std::uint64_t offset = readBigEndian(bytes_.data() + tableOffset_ + ref * offsetSize_, offsetSize_);
    if (offset < 8 || offset >= tableOffset_)
        return std::nullopt;
    Header h;
    const std::uint8_t marker = bytes_[offset];
    h.type = marker >> 4;
    h.info = marker & 0x0F;
    h.count = h.info;
    h.payload = offset + 1;
    const bool counted =
        h.type == 0x4 || h.type == 0x5 || h.type == 0x6 || h.type == 0xA || h.type == 0xC || h.type == 0xD;
    if (counted && h.info == 0x0F) {
        if (!fits(h.payload, 1))
            return std::nullopt;
        const std::uint8_t intMarker = bytes_[h.payload];
        const unsigned width = 1u << (intMarker & 0x0F);
        if ((intMarker >> 4) != 0x1 || width > 8 || !fits(h.payload + 1, width))
            return std::nullopt;
        h.count = readBigEndian(bytes_.data() + h.payload + 1, width);
        h.payload += 1 + width;
    }
    return h;
}

std::optional<std::uint64_t> BinaryPropertyListReader::reference(const Header& h, std::uint64_t index) const {
    const std::uint64_t position = h.payload + index * referenceSize_;
    if (!fits(position, referenceSize_))
        return std::nullopt;
    return readBigEndian(bytes_.data() + position, referenceSize_);
}

BinaryPropertyListReader::Kind BinaryPropertyListReader::kind(Ref ref) const {
    auto h = header(ref);
    if (!h)
        return Kind::other;
    switch (h->type) {
    case 0x0:
        return h->info == 0x8 || h->info == 0x9 ? Kind::boolean : h->info == 0 ? Kind::null : Kind::other;
    case 0x1:
        return Kind::integer;
    case 0x2:
        return Kind::real;
    case 0x3:
        return Kind::date;
    case 0x4:
        return Kind::data;
    case 0x5:
    case 0x6:
        return Kind::string;
    case 0x8:
        return Kind::uid;
    case 0xA:
    case 0xC:
        return Kind::array;
    case 0xD:
        return Kind::dictionary;
    default:
        return Kind::other;
    }
}

std::optional<std::string> BinaryPropertyListReader::string(Ref ref) const {
    auto h = header(ref);
    if (!h)
        return std::nullopt;
    if (h->type == 0x5) {
        if (!fits(h->payload, h->count))
            return std::nullopt;
        return std::string(reinterpret_cast<const char*>(bytes_.data() + h->payload), h->count);
    }
    if (h->type != 0x6 || h->count > tableOffset_ / 2 || !fits(h->payload, h->count * 2))
        return std::nullopt;
    std::string out;
    out.reserve(h->count);
    const std::uint8_t* p = bytes_.data() + h->payload;
    for (std::uint64_t i = 0; i < h->count; ++i) {
        std::uint32_t unit = static_cast<std::uint32_t>(p[2 * i] << 8 | p[2 * i + 1]);
        if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < h->count) {
            std::uint32_t low = static_cast<std::uint32_t>(p[2 * i + 2] << 8 | p[2 * i + 3]);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                appendUTF8(out, 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00));
                ++i;
                continue;
            }
        }
        appendUTF8(out, unit >= 0xD800 && unit <= 0xDFFF ? 0xFFFD : unit); // a lone surrogate
    }
    return out;
}

std::optional<std::uint64_t> BinaryPropertyListReader::uid(Ref ref) const {
    auto h = header(ref);
    if (!h || h->type != 0x8 || !fits(h->payload, h->info + 1u) || h->info > 7)
        return std::nullopt;
    return readBigEndian(bytes_.data() + h->payload, h->info + 1);
}

std::uint64_t BinaryPropertyListReader::contentLength(Ref ref) const {
    auto h = header(ref);
    if (!h)
        return 0;
    return h->type == 0x4 || h->type == 0x5 ? h->count : h->type == 0x6 ? 2 * h->count : 0;
}

std::vector<BinaryPropertyListReader::Ref> BinaryPropertyListReader::elements(Ref ref) const {
    std::vector<Ref> out;
    auto h = header(ref);
    if (!h || (h->type != 0xA && h->type != 0xC) || !fits(h->payload, h->count * referenceSize_))
        return out;
    out.reserve(h->count);
    for (std::uint64_t i = 0; i < h->count; ++i)
        out.push_back(*reference(*h, i));
    return out;
}

std::optional<BinaryPropertyListReader::Ref> BinaryPropertyListReader::find(Ref dictionary,
                                                                            std::string_view key) const {
    auto h = header(dictionary);
    if (!h || h->type != 0xD || h->count > tableOffset_ || !fits(h->payload, 2 * h->count * referenceSize_))
        return std::nullopt;
    for (std::uint64_t i = 0; i < h->count; ++i) {
        auto keyRef = reference(*h, i);
        auto k = keyRef ? header(*keyRef) : std::nullopt;
        if (!k)
            continue;
        // ASCII keys (the usual case) compare in place.
        if (k->type == 0x5 ? fits(k->payload, k->count) && k->count == key.size() &&
                                 std::memcmp(bytes_.data() + k->payload, key.data(), key.size()) == 0
                           : k->type == 0x6 && string(*keyRef) == key)
            return reference(*h, h->count + i);
    }
    return std::nullopt;
}

Expected<Value> BinaryPropertyListReader::value(Ref ref) const {
    return value(ref, 0);
}

Expected<Value> BinaryPropertyListReader::value(Ref ref, std::size_t depth) const {
    if (depth > maximumDepth)
        return tooComplex("nested too deeply");
    auto h = header(ref);
    if (!h)
        return malformed("object out of range");
    auto scalarBytes = [&](unsigned width) -> const std::uint8_t* {
        return fits(h->payload, width) ? bytes_.data() + h->payload : nullptr;
    };
    switch (kind(ref)) {
    case Kind::boolean:
        return Value(h->info == 0x9);
    case Kind::integer: {
        const unsigned width = 1u << h->info;
        if (width > 16)
            return malformed("integer too wide");
        const auto* p = scalarBytes(width);
        if (!p)
            return malformed("integer out of range");
        // Eight bytes are two's complement; sixteen keep their low half, as libplist does.
        return Value(
            static_cast<std::int64_t>(width == 16 ? readBigEndian(p + 8, 8) : readBigEndian(p, width)));
    }
    case Kind::real:
    case Kind::date: {
        const unsigned width = 1u << h->info;
        const auto* p = (width == 4 || width == 8) ? scalarBytes(width) : nullptr;
        if (!p || (h->type == 0x3 && width != 8))
            return malformed("real out of range");
        double d;
        if (width == 4) {
            auto bits = static_cast<std::uint32_t>(readBigEndian(p, 4));
            float f;
            std::memcpy(&f, &bits, 4);
            d = f;
        } else {
            auto bits = readBigEndian(p, 8);
            std::memcpy(&d, &bits, 8);
        }
        constexpr double referenceDate = 978307200.0; // 2001-01-01T00:00:00Z, the property-list epoch
        return Value(h->type == 0x3 ? referenceDate + d : d);
    }
    case Kind::data: {
        if (!fits(h->payload, h->count))
            return malformed("data out of range");
        const auto* p = bytes_.data() + h->payload;
        return Value(Data(p, p + h->count));
    }
    case Kind::string: {
        auto text = string(ref);
        if (!text)
            return malformed("string out of range");
        return Value(std::move(*text));
    }
    case Kind::uid: {
        auto n = uid(ref);
        if (!n)
            return malformed("UID out of range");
        return Value(Dictionary{{"CF$UID", Value(static_cast<std::int64_t>(*n))}});
    }
    case Kind::array: {
        Array array;
        array.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(h->count, 1 << 16)));
        for (Ref element : elements(ref)) {
            auto v = value(element, depth + 1);
            if (!v)
                return v;
            array.push_back(std::move(*v));
        }
        return Value(std::move(array));
    }
    case Kind::dictionary: {
        if (!fits(h->payload, 2 * h->count * referenceSize_))
            return malformed("dictionary out of range");
        Dictionary::Storage entries;
        entries.reserve(static_cast<std::size_t>(h->count));
        for (std::uint64_t i = 0; i < h->count; ++i) {
            auto key = string(*reference(*h, i));
            if (!key)
                return malformed("a dictionary key that is not a string");
            auto v = value(*reference(*h, h->count + i), depth + 1);
            if (!v)
                return v;
            entries.emplace_back(std::move(*key), std::move(*v));
        }
        return Value(Dictionary::fromEntries(std::move(entries)));
    }
    case Kind::null:
    case Kind::other:
        break;
    }
    return malformed("unknown object type");
}

std::optional<Unexpected> detail::checkString(std::string_view text, const char* what) {
    if (text.find('\0') != std::string_view::npos)
        return failure(Code::unsupportedValue,
                       std::string("Property list ") + what + " cannot contain NUL characters.");
    if (!isValidUTF8(text))
        return failure(Code::unsupportedValue,
                       std::string("Property list ") + what + " must be valid UTF-8.");
    return std::nullopt;
}

void Node::reset(Handle node) {
    if (node_ && node_ != node)
        plist_free(node_);
    node_ = node;
}

Expected<Node> parse(std::span<const std::uint8_t> bytes) {
    if (bytes.empty())
        return malformed("no data");
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return tooComplex("larger than 4 GiB");
    const bool binary = isBinary(bytes);
    if (auto problem = binary ? checkBinary(bytes) : checkXML(bytes))
        return *problem;

    plist_t root = nullptr;
    const auto* data = reinterpret_cast<const char*>(bytes.data());
    const auto length = static_cast<std::uint32_t>(bytes.size());
    if (binary)
        plist_from_bin(data, length, &root);
    else
        plist_from_xml(data, length, &root);
    if (!root)
        return malformed(binary ? "damaged binary property list" : "not a property list");
    return Node(root);
}

Expected<Data> write(Node::Handle node, Format format) {
    if (!node)
        return failure(Code::unsupportedValue, "There is no property list to write.");
    // The writers only fill an output pointer that starts out null.
    char* raw = nullptr;
    std::uint32_t length = 0;
    if (format == Format::binary)
        plist_to_bin(node, &raw, &length);
    else
        plist_to_xml(node, &raw, &length);
    if (!raw)
        return failure(Code::unsupportedValue, "libplist could not write the property list.");
    const auto* begin = reinterpret_cast<const std::uint8_t*>(raw);
    Data output(begin, begin + length);
    if (format == Format::binary)
        plist_to_bin_free(raw);
    else
        plist_to_xml_free(raw);
    return output;
}

Expected<Node> makeNode(const Value& value) {
    return nodeFrom(value, 0);
}

Expected<Value> makeValue(Node::Handle node) {
    return valueFrom(node, 0);
}

Expected<Data> serialize(const Value& value, Format format) {
    if (format == Format::binary) {
        BinaryWriter writer;
        auto root = binaryFrom(writer, value, 0);
        if (!root)
            return Unexpected{root.error()};
        return writer.finish(*root);
    }
    auto node = makeNode(value);
    if (!node)
        return Unexpected{node.error()};
    return write(node->get(), format);
}

Expected<Value> deserialize(std::span<const std::uint8_t> bytes) {
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max())
        return tooComplex("larger than 4 GiB");
    if (isBinary(bytes)) {
        // Our own reader: in place, without libplist's node tree.
        auto reader = BinaryPropertyListReader::open(bytes);
        if (!reader)
            return Unexpected{reader.error()};
        return reader->value(reader->root());
    }
    auto node = parse(bytes);
    if (!node)
        return Unexpected{node.error()};
    return makeValue(node->get());
}

} // namespace joblark::PropertyList
