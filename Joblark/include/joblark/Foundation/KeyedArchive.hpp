#pragma once

#include "joblark/Foundation/Export.hpp"

#include "joblark/Foundation/Error.hpp"
#include "joblark/Foundation/Object.hpp"
#include "joblark/Foundation/PropertyList.hpp"
#include "joblark/Foundation/Value.hpp"

#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace joblark {

class KeyedArchiver;
class KeyedUnarchiver;

/// Mix-in for Object subclasses that can be written to a keyed archive. The archive records the
/// object's className(); reading it back needs a factory registered under that name with
/// KeyedUnarchiver::registerClass, and the name in the decoder's allow-list.
class JOBLARK_EXPORT Coding {
public:
    virtual ~Coding() = default;
    /// Writes the object's fields; keys keep the order they are encoded in.
    virtual void encode(KeyedArchiver& archiver) const = 0;

protected:
    Coding() = default;
    Coding(const Coding&) = default;
    Coding& operator=(const Coding&) = default;
};

/// A Coding class that names itself without an instance, so that it can be registered and allowed
/// by type:
///
///     static constexpr std::string_view codingClassName = "MyApp.Document";
///     static std::shared_ptr<AppState> decode(KeyedUnarchiver&);  // nullptr when unusable
template <class T>
concept NamedCoding = std::derived_from<T, Object> && std::derived_from<T, Coding> && requires {
    { T::codingClassName } -> std::convertible_to<std::string_view>;
};

template <class T>
concept DecodableCoding = NamedCoding<T> && requires(KeyedUnarchiver& unarchiver) {
    { T::decode(unarchiver) } -> std::convertible_to<std::shared_ptr<T>>;
};

/// Why an archive could not be written or read.
class JOBLARK_EXPORT KeyedArchiveError : public ErrorBase<KeyedArchiveError> {
public:
    enum class Code {
        /// Not a keyed archive, or a damaged one (bad references, missing parts).
        invalidArchive,
        /// An object of a class the decoder was not told to expect.
        classNotAllowed,
        /// An allowed class for which no factory is registered.
        unknownClass,
        /// An object that (indirectly) contains itself.
        referenceCycle,
        /// Nesting or size beyond the limits.
        tooComplex,
        /// A value that cannot be archived (error, task result, an object that is not Coding).
        notEncodable,
        /// A factory (or an encode) reported a failure.
        codingFailed,
    };

    KeyedArchiveError(Code code, std::string message) : code_(code), message_(std::move(message)) {}

    Code code() const { return code_; }
    std::string localizedDescription() const override { return message_; }
    std::string typeName() const override { return "Joblark.KeyedArchiveError"; }

private:
    Code code_;
    std::string message_;
};

/// Writes objects and plain values as an NSKeyedArchiver-style binary property list:
/// {"$archiver": "NSKeyedArchiver", "$version": 100000, "$top": {...}, "$objects": ["$null", ...]}.
/// Objects are stored once and referenced by UID; strings are stored once per distinct text.
/// Keys encoded outside any object's encode() go to "$top".
class JOBLARK_EXPORT KeyedArchiver {
public:
    /// Nesting of values and objects beyond this fails, so that every archive written can be read.
    static constexpr std::size_t maximumDepth = 256;

    KeyedArchiver();
    ~KeyedArchiver();
    KeyedArchiver(const KeyedArchiver&) = delete;
    KeyedArchiver& operator=(const KeyedArchiver&) = delete;

    /// An archive whose "root" is `root`: a plain value, a Coding object, or arrays and dictionaries
    /// of those.
    static Expected<Data> archivedData(const Value& root);

    void encodeString(std::string_view value, std::string_view key);
    void encodeInt64(std::int64_t value, std::string_view key);
    void encodeDouble(double value, std::string_view key);
    void encodeBool(bool value, std::string_view key);
    void encodeData(std::span<const std::uint8_t> value, std::string_view key);
    /// Any archivable Value; null is stored as the "$null" reference.
    void encodeValue(const Value& value, std::string_view key);
    /// A Coding object (nullptr is stored as "$null").
    void encodeObject(const ObjectPtr& object, std::string_view key);

    template <class T>
    requires std::derived_from<T, Object>
    void encodeObjects(const std::vector<std::shared_ptr<T>>& objects, std::string_view key) {
        Array array;
        array.reserve(objects.size());
        for (const auto& object : objects)
            array.emplace_back(ObjectPtr(object));
        encodeValue(Value(std::move(array)), key);
    }

    template <class T, class Compare>
    requires std::derived_from<T, Object>
    void encodeObjectDictionary(const std::map<std::string, std::shared_ptr<T>, Compare>& objects,
                                std::string_view key) {
        Dictionary dictionary;
        for (const auto& [name, object] : objects)
            dictionary.emplace(name, Value(ObjectPtr(object)));
        encodeValue(Value(std::move(dictionary)), key);
    }

    /// Makes the whole archive fail; the first error is kept. For encode() implementations.
    void failWithError(ErrorPtr error);
    /// The first failure so far, or nullptr.
    const ErrorPtr& error() const;

    /// The finished archive (binary property list), or the first failure. Call once, outside any
    /// encode().
    Expected<Data> encodedData();

private:
    struct State;
    std::unique_ptr<State> state_;
};

/// Reads archives written by KeyedArchiver (and NSKeyedArchiver archives of the same classes).
/// Decoding is secure: an object class not in the allow-list fails the whole decode; plain values
/// (NSArray, NSDictionary, NSString, NSNumber, NSData and their mutable forms) are always allowed.
/// A key whose value has another type decodes as absent. Hostile input gives an error, never a
/// crash, a hang or unbounded work.
class JOBLARK_EXPORT KeyedUnarchiver {
public:
    /// Builds an object from the keys of its archived form; nullptr (or failWithError) when the
    /// keys are unusable. The unarchiver is positioned on that object while the factory runs.
    using Factory = std::function<ObjectPtr(KeyedUnarchiver&)>;

    static constexpr std::size_t maximumDepth = KeyedArchiver::maximumDepth;
    /// Values one decode may produce (every 64 bytes of string or data count as one more). Shared
    /// arrays, dictionaries and strings are copied into each Value that refers to them, so without
    /// this bound a small archive could expand exponentially.
    static constexpr std::size_t maximumValueCount = std::size_t{1} << 20;

    /// Registers (or replaces) the factory for an archived class name. Thread-safe.
    static void registerClass(std::string className, Factory factory);
    template <DecodableCoding T>
    static void registerClass() {
        registerClass(std::string(T::codingClassName),
                      [](KeyedUnarchiver& unarchiver) -> ObjectPtr { return T::decode(unarchiver); });
    }

    /// The "root" value of an archive.
    static Expected<Value> unarchivedObject(std::span<const std::uint8_t> bytes,
                                            const std::vector<std::string>& allowedClasses = {});

    /// The "root" object of an archive, which must be a T (T's own class is allowed implicitly).
    template <NamedCoding T>
    static Expected<std::shared_ptr<T>>
    unarchivedObjectOfClass(std::span<const std::uint8_t> bytes,
                            std::vector<std::string> allowedClasses = {}) {
        allowedClasses.emplace_back(T::codingClassName);
        auto root = unarchivedObject(bytes, allowedClasses);
        if (!root)
            return Unexpected{root.error()};
        if (auto object = root->template asObject<T>())
            return object;
        return Unexpected{std::make_shared<KeyedArchiveError>(KeyedArchiveError::Code::codingFailed,
                                                              "The archived root object is not a " +
                                                                  std::string(T::codingClassName) + ".")};
    }

    /// Reads the archive; a failure to do so is reported by error() and every decode gives nothing.
    /// Until an object is being decoded, keys refer to the archive's "$top".
    KeyedUnarchiver(std::span<const std::uint8_t> bytes, std::vector<std::string> allowedClasses);
    ~KeyedUnarchiver();
    KeyedUnarchiver(const KeyedUnarchiver&) = delete;
    KeyedUnarchiver& operator=(const KeyedUnarchiver&) = delete;

    bool containsValue(std::string_view key) const;

    std::optional<std::string> decodeString(std::string_view key);
    std::optional<std::int64_t> decodeInt64(std::string_view key);
    /// Integers widen to double; booleans do not.
    std::optional<double> decodeDouble(std::string_view key);
    std::optional<bool> decodeBool(std::string_view key);
    std::optional<Data> decodeData(std::string_view key);
    /// Absent when the key is missing or unreadable; a "$null" reference gives a null Value.
    std::optional<Value> decodeValue(std::string_view key);

    template <class T = Object>
    requires std::derived_from<T, Object> std::shared_ptr<T> decodeObject(std::string_view key) {
        auto value = decodeValue(key);
        return value ? value->template asObject<T>() : nullptr;
    }

    /// Absent when the value is not an array or holds anything but T objects ("$null" elements
    /// decode as nullptr).
    template <class T>
    requires std::derived_from<T, Object> std::optional<std::vector<std::shared_ptr<T>>>
    decodeObjects(std::string_view key) {
        auto value = decodeValue(key);
        const Array* array = value ? value->asArray() : nullptr;
        if (!array)
            return std::nullopt;
        std::vector<std::shared_ptr<T>> objects;
        objects.reserve(array->size());
        for (const auto& element : *array) {
            auto object = objectElement<T>(element);
            if (!object)
                return std::nullopt;
            objects.push_back(std::move(*object));
        }
        return objects;
    }

    template <class T>
    requires std::derived_from<T, Object>
        std::optional<std::map<std::string, std::shared_ptr<T>, std::less<>>>
        decodeObjectDictionary(std::string_view key) {
        auto value = decodeValue(key);
        const Dictionary* dictionary = value ? value->asDictionary() : nullptr;
        if (!dictionary)
            return std::nullopt;
        std::map<std::string, std::shared_ptr<T>, std::less<>> objects;
        for (const auto& [name, element] : *dictionary) {
            auto object = objectElement<T>(element);
            if (!object)
                return std::nullopt;
            objects.emplace(name, std::move(*object));
        }
        return objects;
    }

    /// Makes the whole decode fail; the first error is kept. For factories.
    void failWithError(ErrorPtr error);
    /// The first failure so far, or nullptr.
    const ErrorPtr& error() const;

private:
    template <class T>
    static std::optional<std::shared_ptr<T>> objectElement(const Value& element) {
        if (element.isNull())
            return std::shared_ptr<T>();
        auto object = element.asObject<T>();
        if (!object)
            return std::nullopt;
        return object;
    }

    struct State;
    std::unique_ptr<State> state_;
};

} // namespace joblark
