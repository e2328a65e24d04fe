#include "joblark/Foundation/JSON.hpp"

#include <rapidjson/error/en.h>
#include <rapidjson/memorystream.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/reader.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <type_traits>
#include <utility>

namespace joblark {
namespace {

// Sorted output relies on Dictionary iterating in key order (a sorted vector).
static_assert(std::is_same_v<Dictionary, BasicDictionary<Value>>,
              "JSON::write emits keys in Dictionary order, which must be sorted");

ErrorPtr jsonError(JSONError::Code code, std::string message,
                   std::optional<std::size_t> offset = std::nullopt) {
    return std::make_shared<JSONError>(code, std::move(message), offset);
}

/// RapidJSON turns a lone low surrogate escape ("\uDC00") into the bytes ED B0 80, which are not
/// UTF-8. Valid input cannot contain ED A0..ED BF otherwise, so only escapes can produce it.
bool holdsEncodedSurrogate(const char* s, std::size_t length) {
    const void* hit = std::memchr(s, 0xED, length);
    while (hit != nullptr) {
        const auto* p = static_cast<const unsigned char*>(hit);
        const std::size_t at = static_cast<std::size_t>(reinterpret_cast<const char*>(p) - s);
        if (at + 1 < length && p[1] >= 0xA0)
            return true;
        hit = at + 1 < length ? std::memchr(p + 1, 0xED, length - at - 1) : nullptr;
    }
    return false;
}

struct DiscardingStream {
    using Ch = char;
    void Put(char) {}
};

/// Checked before writing: RapidJSON's PrettyWriter (1.1) drops the writer's validation flag, so the
/// check is made here, for both writers alike.
bool isValidUTF8(std::string_view s) {
    rapidjson::MemoryStream in(s.data(), s.size());
    DiscardingStream out;
    while (in.Tell() < s.size())
        if (!rapidjson::UTF8<>::Validate(in, out))
            return false;
    return true;
}

/// Builds a Value from RapidJSON's SAX events. Finished values wait on one shared stack (keys on
/// another) until their container ends; RapidJSON then reports the member count, so each Array is
/// allocated once at its final size instead of growing, and the stacks' storage is reused throughout.
class ValueBuilder {
public:
    enum class Stop { none, tooDeep, fragment, surrogate };

    explicit ValueBuilder(const JSON::ParseOptions& options) : options_(options) {
        values_.reserve(64);
        keys_.reserve(16);
    }

    bool Null() { return scalar(Value()); }
    bool Bool(bool b) { return scalar(Value(b)); }
    bool Int(int i) { return scalar(Value(i)); }
    bool Uint(unsigned u) { return scalar(Value(u)); }
    bool Int64(std::int64_t i) { return scalar(Value(i)); }
    bool Uint64(std::uint64_t u) {
        if (u > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            return scalar(Value(static_cast<double>(u)));
        return scalar(Value(static_cast<std::int64_t>(u)));
    }
    bool Double(double d) { return scalar(Value(d)); }
    bool RawNumber(const char*, rapidjson::SizeType, bool) { return false; } // not requested
    bool String(const char* s, rapidjson::SizeType length, bool) {
        if (holdsEncodedSurrogate(s, length))
            return stop(Stop::surrogate);
        return scalar(Value(std::string(s, length)));
    }
    bool Key(const char* s, rapidjson::SizeType length, bool) {
        if (holdsEncodedSurrogate(s, length))
            return stop(Stop::surrogate);
        keys_.emplace_back(s, length);
        return true;
    }
    bool StartObject() { return open(); }
    bool StartArray() { return open(); }
    bool EndObject(rapidjson::SizeType count) {
        const auto first = values_.end() - count;
        const auto firstKey = keys_.end() - count;
        Dictionary::Storage entries;
        entries.reserve(count);
        auto key = firstKey;
        for (auto value = first; value != values_.end(); ++value, ++key)
            entries.emplace_back(std::move(*key), std::move(*value));
        keys_.erase(firstKey, keys_.end());
        // One allocation for the whole object; the last of duplicate keys wins.
        return close(first, Value(Dictionary::fromEntries(std::move(entries))));
    }
    bool EndArray(rapidjson::SizeType count) {
        const auto first = values_.end() - count;
        Array array(std::make_move_iterator(first), std::make_move_iterator(values_.end()));
        return close(first, Value(std::move(array)));
    }

    Stop stopReason() const { return stop_; }
    Value takeRoot() { return values_.empty() ? Value() : std::move(values_.back()); }

private:
    bool stop(Stop reason) {
        stop_ = reason;
        return false;
    }

    bool open() {
        if (depth_ >= options_.maxDepth)
            return stop(Stop::tooDeep);
        ++depth_;
        return true;
    }

    bool close(std::vector<Value>::iterator first, Value&& container) {
        values_.erase(first, values_.end());
        values_.push_back(std::move(container));
        --depth_;
        return true;
    }

    bool scalar(Value&& value) {
        if (depth_ == 0 && !options_.allowFragments)
            return stop(Stop::fragment);
        values_.push_back(std::move(value));
        return true;
    }

    const JSON::ParseOptions& options_;
    std::vector<Value> values_;
    std::vector<std::string> keys_;
    std::size_t depth_ = 0;
    Stop stop_ = Stop::none;
};

template <class Writer>
class ValueWriter {
public:
    explicit ValueWriter(Writer& writer) : writer_(writer) {}

    ErrorPtr write(const Value& value, std::size_t depth = 0) {
        switch (value.kind()) {
        case Value::Kind::null:
            writer_.Null();
            return nullptr;
        case Value::Kind::boolean:
            writer_.Bool(*value.asBool());
            return nullptr;
        case Value::Kind::integer:
            writer_.Int64(*value.asInteger());
            return nullptr;
        case Value::Kind::real: {
            const double d = *value.asDouble();
            if (!std::isfinite(d))
                return unsupported("a non-finite number (" + value.description() + ")");
            writer_.Double(d);
            return nullptr;
        }
        case Value::Kind::string: {
            const std::string& s = *value.asString();
            if (s.size() > std::numeric_limits<rapidjson::SizeType>::max())
                return unsupported("a string longer than 4 GiB");
            if (!isValidUTF8(s))
                return unsupported("a string that is not valid UTF-8");
            writer_.String(s.data(), static_cast<rapidjson::SizeType>(s.size()));
            return nullptr;
        }
        case Value::Kind::array: {
            if (depth >= JSON::defaultMaxDepth)
                return tooDeep();
            writer_.StartArray();
            for (const Value& element : *value.asArray())
                if (auto error = write(element, depth + 1))
                    return error;
            writer_.EndArray();
            return nullptr;
        }
        case Value::Kind::dictionary: {
            if (depth >= JSON::defaultMaxDepth)
                return tooDeep();
            writer_.StartObject();
            for (const auto& [key, element] : *value.asDictionary()) {
                if (key.size() > std::numeric_limits<rapidjson::SizeType>::max() || !isValidUTF8(key))
                    return unsupported("a dictionary key that is not valid UTF-8");
                writer_.Key(key.data(), static_cast<rapidjson::SizeType>(key.size()));
                if (auto error = write(element, depth + 1))
                    return error;
            }
            writer_.EndObject();
            return nullptr;
        }
        case Value::Kind::data:
            return unsupported("data");
        case Value::Kind::error:
            return unsupported("an error");
        case Value::Kind::object:
            return unsupported("an object");
        case Value::Kind::taskResult:
            return unsupported("a task result");
        }
        return unsupported("an unknown kind of value");
    }

private:
    static ErrorPtr unsupported(const std::string& what) {
        return jsonError(JSONError::Code::unsupportedValue, "JSON cannot hold " + what);
    }
    static ErrorPtr tooDeep() {
        return jsonError(JSONError::Code::tooDeep,
                         "Nesting deeper than " + std::to_string(JSON::defaultMaxDepth) + " levels");
    }

    Writer& writer_;
};

template <class Writer>
Expected<std::string> writeWith(const Value& value, rapidjson::StringBuffer& buffer) {
    Writer writer(buffer);
    if (auto error = ValueWriter<Writer>(writer).write(value))
        return Unexpected{std::move(error)};
    return std::string(buffer.GetString(), buffer.GetSize());
}

} // namespace

namespace JSON {

Expected<Value> parse(std::string_view bytes, const ParseOptions& options) {
    constexpr unsigned flags = rapidjson::kParseIterativeFlag | rapidjson::kParseValidateEncodingFlag |
                               rapidjson::kParseFullPrecisionFlag;
    rapidjson::MemoryStream stream(bytes.data(), bytes.size());
    rapidjson::Reader reader;
    ValueBuilder builder(options);
    const rapidjson::ParseResult result = reader.Parse<flags>(stream, builder);
    if (result.IsError()) {
        const std::size_t offset = result.Offset();
        const std::string at = " at offset " + std::to_string(offset);
        switch (builder.stopReason()) {
        case ValueBuilder::Stop::tooDeep:
            return Unexpected{jsonError(
                JSONError::Code::tooDeep,
                "Nesting deeper than " + std::to_string(options.maxDepth) + " levels" + at, offset)};
        case ValueBuilder::Stop::fragment:
            return Unexpected{jsonError(JSONError::Code::fragmentNotAllowed,
                                        "The top-level value is not an object or array" + at, offset)};
        case ValueBuilder::Stop::surrogate:
            return Unexpected{
                jsonError(JSONError::Code::malformed, "Unpaired surrogate in \\u escape" + at, offset)};
        case ValueBuilder::Stop::none:
            break;
        }
        std::string message = rapidjson::GetParseError_En(result.Code());
        if (!message.empty() && message.back() == '.')
            message.pop_back();
        return Unexpected{jsonError(JSONError::Code::malformed, message + at, offset)};
    }
    // RapidJSON takes a NUL byte for the end of input; anything from there on is trailing garbage.
    if (stream.Tell() != bytes.size())
        return Unexpected{jsonError(JSONError::Code::malformed,
                                    "Unexpected NUL byte at offset " + std::to_string(stream.Tell()),
                                    stream.Tell())};
    return builder.takeRoot();
}

Expected<std::string> write(const Value& value, const WriteOptions& options) {
    rapidjson::StringBuffer buffer;
    return options.prettyPrinted ? writeWith<rapidjson::PrettyWriter<rapidjson::StringBuffer>>(value, buffer)
                                 : writeWith<rapidjson::Writer<rapidjson::StringBuffer>>(value, buffer);
}

} // namespace JSON
} // namespace joblark
