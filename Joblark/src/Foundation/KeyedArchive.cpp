#include "joblark/Foundation/KeyedArchive.hpp"

#include "BinaryPropertyListReader.hpp"
#include "BinaryPropertyListWriter.hpp"
#include "Immortal.hpp"

#include <algorithm>
#include <cstdlib>
#include <mutex>
#include <set>
#include <unordered_map>
#include <unordered_set>

namespace joblark {
namespace {

using Code = KeyedArchiveError::Code;
using Reader = PropertyList::detail::BinaryPropertyListReader;

constexpr const char* nullMarker = "$null";
constexpr std::uint64_t archiveVersion = 100000;

ErrorPtr archiveError(Code code, std::string message) {
    return std::make_shared<KeyedArchiveError>(code, std::move(message));
}

/// Keys starting with '$' would collide with the archive's own ("$class"), so they are stored
/// with one more '$' in front, as NSKeyedArchiver does.
std::string storedKey(std::string_view key) {
    std::string stored;
    if (key.starts_with('$'))
        stored += '$';
    stored += key;
    return stored;
}

struct ClassRegistry {
    std::mutex mutex;
    std::unordered_map<std::string, KeyedUnarchiver::Factory> factories;
};

// Never destroyed: classes may be looked up while static objects are torn down.
ClassRegistry& registry() {
    static detail::Immortal<ClassRegistry> instance;
    return instance.get();
}

KeyedUnarchiver::Factory factoryFor(const std::string& className) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    auto it = r.factories.find(className);
    return it == r.factories.end() ? KeyedUnarchiver::Factory() : it->second;
}

bool isArrayClass(std::string_view name) {
    return name == "NSArray" || name == "NSMutableArray";
}
bool isDictionaryClass(std::string_view name) {
    return name == "NSDictionary" || name == "NSMutableDictionary";
}
bool isStringClass(std::string_view name) {
    return name == "NSString" || name == "NSMutableString";
}
bool isDataClass(std::string_view name) {
    return name == "NSData" || name == "NSMutableData";
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Archiving

using BinaryWriter = PropertyList::detail::BinaryWriter;
using Ref = BinaryWriter::Ref;

/// The fields of an object (or "$top") being encoded. A key encoded twice keeps its first position
/// and its last value.
struct Fields {
    std::vector<std::pair<Ref, Ref>> entries;
    /// Key positions, built only once the fields outgrow a linear scan.
    std::unordered_map<Ref, std::size_t> positions;

    void set(Ref key, Ref value) {
        static constexpr std::size_t scanLimit = 16;
        if (positions.empty() && entries.size() < scanLimit) {
            for (auto& entry : entries) {
                if (entry.first == key) {
                    entry.second = value;
                    return;
                }
            }
            entries.emplace_back(key, value);
            return;
        }
        if (positions.empty())
            for (std::size_t i = 0; i < entries.size(); ++i)
                positions.emplace(entries[i].first, i);
        auto [it, inserted] = positions.try_emplace(key, entries.size());
        if (inserted)
            entries.emplace_back(key, value);
        else
            entries[it->second].second = value;
    }
};

/// The archive is written as it is encoded: each entry of "$objects" goes straight into the binary
/// property list, whose strings (keys, class names) are stored once however often they occur.
struct KeyedArchiver::State {
    static constexpr Ref unfinished = ~Ref{0};

    BinaryWriter writer;
    /// The binary object of each archive UID; containers hold `unfinished` until they are complete.
    std::vector<Ref> objects;
    std::unordered_map<std::string, std::uint64_t> stringUIDs;
    std::unordered_map<std::string, std::uint64_t> classUIDs;
    struct Archived {
        std::uint64_t uid;
        ObjectPtr keepAlive; // an address must not be reused by another object while archiving
        bool inProgress;
    };
    std::unordered_map<const Object*, Archived> archivedObjects;
    /// Dictionaries being filled: "$top" at the bottom, the object being encoded on top.
    std::vector<Fields> containers;
    std::size_t depth = 0;
    ErrorPtr error;
    bool finished = false;

    State() {
        objects.push_back(writer.addString(nullMarker));
        containers.emplace_back();
    }

    bool failed() const { return error != nullptr; }
    void fail(ErrorPtr e) {
        if (!error)
            error = std::move(e);
    }
    void fail(Code code, std::string message) { fail(archiveError(code, std::move(message))); }

    std::uint64_t append(Ref object) {
        objects.push_back(object);
        return objects.size() - 1;
    }

    /// The string object for `text`, checked the first time it is seen.
    std::optional<Ref> text(std::string_view string, const char* what) {
        if (auto known = writer.findString(string))
            return known;
        // Keys and class names are refused in the words used for string values.
        if (auto problem = PropertyList::detail::checkString(string, "strings")) {
            fail(Code::notEncodable, std::string("The ") + what +
                                         " cannot be archived: " + problem->error->localizedDescription());
            return std::nullopt;
        }
        return writer.addString(string);
    }

    void set(std::string_view key, Ref value) {
        if (failed())
            return;
        if (finished)
            return fail(Code::codingFailed, "The archive is already finished.");
        // Keys starting with '$' are stored with one more in front; see storedKey.
        auto keyRef = key.starts_with('$') ? text(storedKey(key), "key") : text(key, "key");
        if (!keyRef)
            return;
        containers.back().set(*keyRef, value);
    }

    Ref reference(std::uint64_t uid) { return writer.addUID(uid); }

    std::optional<std::uint64_t> classUID(const std::string& name) {
        if (auto it = classUIDs.find(name); it != classUIDs.end())
            return it->second;
        auto nameRef = text(name, "class name");
        if (!nameRef)
            return std::nullopt;
        const Ref hierarchy[] = {*nameRef, writer.addString("NSObject")};
        const std::pair<Ref, Ref> description[] = {
            {writer.addString("$classname"), *nameRef},
            {writer.addString("$classes"), writer.addArray(hierarchy)}};
        auto uid = append(writer.addDictionary(description));
        classUIDs.emplace(name, uid);
        return uid;
    }

    bool enter() {
        if (depth >= maximumDepth) {
            fail(Code::tooComplex, "The value is nested too deeply to archive.");
            return false;
        }
        ++depth;
        return true;
    }

    std::optional<std::uint64_t> archiveString(const std::string& string) {
        if (auto it = stringUIDs.find(string); it != stringUIDs.end())
            return it->second;
        auto ref = text(string, "string");
        if (!ref)
            return std::nullopt;
        auto uid = append(*ref);
        stringUIDs.emplace(string, uid);
        return uid;
    }

    /// The UID of the archived value; nothing once the archive has failed.
    std::optional<std::uint64_t> archive(const Value& value) {
        if (failed())
            return std::nullopt;
        switch (value.kind()) {
        case Value::Kind::null:
            return 0;
        case Value::Kind::string:
            return archiveString(*value.asString());
        case Value::Kind::boolean:
            return append(writer.addBool(value.asBool().value_or(false)));
        case Value::Kind::integer:
            return append(writer.addInteger(value.asInteger().value_or(0)));
        case Value::Kind::real:
            return append(writer.addReal(value.asDouble().value_or(0)));
        case Value::Kind::data:
            return append(writer.addData(*value.asData()));
        case Value::Kind::array:
            return archiveArray(*value.asArray());
        case Value::Kind::dictionary:
            return archiveDictionary(*value.asDictionary());
        case Value::Kind::object:
            return archiveObject(value.asObject());
        case Value::Kind::error:
            fail(Code::notEncodable, "Errors cannot be archived.");
            return std::nullopt;
        case Value::Kind::taskResult:
            fail(Code::notEncodable, "Task results cannot be archived.");
            return std::nullopt;
        }
        fail(Code::notEncodable, "Unknown value kind.");
        return std::nullopt;
    }

    /// The array of references that NS.objects (or NS.keys) holds; nothing if an element failed.
    template <class Range, class Project>
    std::optional<Ref> references(const Range& values, Project project) {
        std::vector<Ref> refs;
        refs.reserve(values.size());
        for (const auto& element : values) {
            auto uid = archive(project(element));
            if (!uid)
                return std::nullopt;
            refs.push_back(reference(*uid));
        }
        return writer.addArray(refs);
    }

    std::optional<std::uint64_t> finishCollection(std::uint64_t uid, std::vector<std::pair<Ref, Ref>> fields,
                                                  const char* className) {
        auto classRef = classUID(className);
        if (!classRef)
            return std::nullopt;
        fields.emplace_back(writer.addString("$class"), reference(*classRef));
        objects[uid] = writer.addDictionary(fields);
        --depth;
        return uid;
    }

    std::optional<std::uint64_t> archiveArray(const Array& array) {
        if (!enter())
            return std::nullopt;
        auto uid = append(unfinished); // reserve the slot so that the container precedes its elements
        auto refs = references(array, [](const Value& element) -> const Value& { return element; });
        if (!refs)
            return std::nullopt;
        return finishCollection(uid, {{writer.addString("NS.objects"), *refs}}, "NSArray");
    }

    std::optional<std::uint64_t> archiveDictionary(const Dictionary& dictionary) {
        if (!enter())
            return std::nullopt;
        auto uid = append(unfinished);
        std::vector<Ref> keys;
        keys.reserve(dictionary.size());
        for (const auto& entry : dictionary) {
            auto keyUID = archiveString(entry.first);
            if (!keyUID)
                return std::nullopt;
            keys.push_back(reference(*keyUID));
        }
        auto keyArray = writer.addArray(keys);
        auto refs = references(dictionary, [](const auto& entry) -> const Value& { return entry.second; });
        if (!refs)
            return std::nullopt;
        return finishCollection(
            uid, {{writer.addString("NS.keys"), keyArray}, {writer.addString("NS.objects"), *refs}},
            "NSDictionary");
    }

    std::optional<std::uint64_t> archiveObject(const ObjectPtr& object);
    KeyedArchiver* owner = nullptr;
};

std::optional<std::uint64_t> KeyedArchiver::State::archiveObject(const ObjectPtr& object) {
    if (!object)
        return 0;
    if (auto it = archivedObjects.find(object.get()); it != archivedObjects.end()) {
        if (it->second.inProgress) {
            fail(Code::referenceCycle,
                 "The object " + object->description() + " contains itself and cannot be archived.");
            return std::nullopt;
        }
        return it->second.uid;
    }
    const auto* coding = dynamic_cast<const Coding*>(object.get());
    if (!coding) {
        fail(Code::notEncodable, "Objects of class " + object->className() + " cannot be archived.");
        return std::nullopt;
    }
    if (!enter())
        return std::nullopt;
    auto uid = append(unfinished);
    archivedObjects.emplace(object.get(), Archived{uid, object, true});
    containers.emplace_back();
    try {
        coding->encode(*owner);
    } catch (...) {
        fail(currentExceptionAsError());
    }
    Fields fields = std::move(containers.back());
    containers.pop_back();
    if (failed())
        return std::nullopt;
    auto classRef = classUID(object->className());
    if (!classRef)
        return std::nullopt;
    // Stored keys never equal "$class": those starting with '$' gained another.
    fields.entries.emplace_back(writer.addString("$class"), reference(*classRef));
    objects[uid] = writer.addDictionary(fields.entries);
    archivedObjects.at(object.get()).inProgress = false;
    --depth;
    return uid;
}

KeyedArchiver::KeyedArchiver() : state_(std::make_unique<State>()) {
    state_->owner = this;
}

KeyedArchiver::~KeyedArchiver() = default;

Expected<Data> KeyedArchiver::archivedData(const Value& root) {
    KeyedArchiver archiver;
    archiver.encodeValue(root, "root");
    return archiver.encodedData();
}

void KeyedArchiver::encodeString(std::string_view value, std::string_view key) {
    encodeValue(Value(value), key);
}

void KeyedArchiver::encodeInt64(std::int64_t value, std::string_view key) {
    if (!state_->failed())
        state_->set(key, state_->writer.addInteger(value));
}

void KeyedArchiver::encodeDouble(double value, std::string_view key) {
    if (!state_->failed())
        state_->set(key, state_->writer.addReal(value));
}

void KeyedArchiver::encodeBool(bool value, std::string_view key) {
    if (!state_->failed())
        state_->set(key, state_->writer.addBool(value));
}

void KeyedArchiver::encodeData(std::span<const std::uint8_t> value, std::string_view key) {
    encodeValue(Value(Data(value.begin(), value.end())), key);
}

void KeyedArchiver::encodeValue(const Value& value, std::string_view key) {
    if (state_->failed())
        return;
    if (auto uid = state_->archive(value))
        state_->set(key, state_->reference(*uid));
}

void KeyedArchiver::encodeObject(const ObjectPtr& object, std::string_view key) {
    encodeValue(Value(object), key);
}

void KeyedArchiver::failWithError(ErrorPtr error) {
    state_->fail(error ? std::move(error) : archiveError(Code::codingFailed, "Encoding failed."));
}

const ErrorPtr& KeyedArchiver::error() const {
    return state_->error;
}

Expected<Data> KeyedArchiver::encodedData() {
    auto& s = *state_;
    if (s.finished)
        s.fail(Code::codingFailed, "The archive is already finished.");
    if (s.containers.size() != 1)
        s.fail(Code::codingFailed, "The archive cannot be finished while encoding an object.");
    if (std::find(s.objects.begin(), s.objects.end(), State::unfinished) != s.objects.end())
        s.fail(Code::codingFailed, "The archive holds an object that was never finished.");
    if (s.failed())
        return Unexpected{s.error};
    s.finished = true;

    auto& w = s.writer;
    const std::pair<Ref, Ref> root[] = {
        {w.addString("$archiver"), w.addString("NSKeyedArchiver")},
        {w.addString("$version"), w.addInteger(static_cast<std::int64_t>(archiveVersion))},
        {w.addString("$top"), w.addDictionary(s.containers.front().entries)},
        {w.addString("$objects"), w.addArray(s.objects)},
    };
    return w.finish(w.addDictionary(root));
}

// ---------------------------------------------------------------------------------------------
// Unarchiving

struct KeyedUnarchiver::State {
    using Ref = Reader::Ref;
    Data converted; // an XML archive, rewritten as binary for the reader
    std::optional<Reader> plist;
    std::vector<Ref> objects;
    std::set<std::string, std::less<>> allowed;
    /// Dictionaries keys are read from: "$top" at the bottom, the object being decoded on top.
    std::vector<Ref> containers;

    struct Decoded {
        Value value;
        std::size_t nodes; // how many Value nodes a copy of it costs
    };
    std::unordered_map<std::uint64_t, Decoded> decoded;
    std::unordered_set<std::uint64_t> inProgress;
    std::size_t depth = 0;
    std::size_t nodeBudget = maximumValueCount;
    ErrorPtr error;
    KeyedUnarchiver* owner = nullptr;

    bool failed() const { return error != nullptr; }
    void fail(ErrorPtr e) {
        if (!error)
            error = std::move(e);
    }
    void fail(Code code, std::string message) { fail(archiveError(code, std::move(message))); }

    void invalid(const std::string& detail) {
        fail(Code::invalidArchive, "The data is not a valid keyed archive (" + detail + ").");
    }

    bool charge(std::size_t nodes) {
        if (nodes > nodeBudget) {
            fail(Code::tooComplex, "The archive expands to too many values.");
            return false;
        }
        nodeBudget -= nodes;
        return true;
    }

    // Helpers on the archive's objects (checked: a damaged archive gives absent, never a crash).
    std::optional<std::uint64_t> uidValue(std::optional<Ref> ref) const {
        return ref ? plist->uid(*ref) : std::nullopt;
    }
    std::optional<std::string> stringValue(std::optional<Ref> ref) const {
        return ref && plist->kind(*ref) == Reader::Kind::string ? plist->string(*ref) : std::nullopt;
    }
    bool isDictionary(std::optional<Ref> ref) const {
        return ref && plist->kind(*ref) == Reader::Kind::dictionary;
    }
    /// The scalar kinds that stand for themselves in an archive.
    bool isScalar(Ref ref) const {
        switch (plist->kind(ref)) {
        case Reader::Kind::boolean:
        case Reader::Kind::integer:
        case Reader::Kind::real:
        case Reader::Kind::string:
        case Reader::Kind::data:
        case Reader::Kind::date:
            return true;
        default:
            return false;
        }
    }
    /// Budget units of a scalar: one, plus one per 64 bytes of content (as PropertyList counts them).
    std::size_t scalarCost(Ref ref) const {
        return 1 + static_cast<std::size_t>(plist->contentLength(ref) / 64);
    }

    void open(std::span<const std::uint8_t> bytes) {
        // Binary archives are read in place by our own reader; XML ones (rare) go through libplist
        // and are rewritten as binary first.
        if (!bytes.empty() && bytes[0] != 'b') {
            auto parsed = PropertyList::parse(bytes);
            if (!parsed)
                return fail(Code::invalidArchive, parsed.error()->localizedDescription());
            auto binary = PropertyList::write(parsed->get(), PropertyList::Format::binary);
            if (!binary)
                return fail(Code::invalidArchive, binary.error()->localizedDescription());
            converted = std::move(*binary);
            bytes = converted;
        }
        auto opened = Reader::open(bytes);
        // The property list's own description says what is wrong; keep it, but as an archive error.
        if (!opened)
            return fail(Code::invalidArchive, opened.error()->localizedDescription());
        plist.emplace(std::move(*opened));
        Ref root = plist->root();
        if (!isDictionary(root))
            return invalid("the root is not a dictionary");
        if (stringValue(plist->find(root, "$archiver")) != "NSKeyedArchiver")
            return invalid("not written by a keyed archiver");
        auto top = plist->find(root, "$top");
        auto objectList = plist->find(root, "$objects");
        if (!isDictionary(top))
            return invalid("no $top dictionary");
        if (!objectList || plist->kind(*objectList) != Reader::Kind::array)
            return invalid("no $objects array");
        objects = plist->elements(*objectList);
        containers.push_back(*top);
    }

    /// The class name an archived object dictionary refers to through "$class".
    std::optional<std::string> classNameOf(Ref object) {
        auto classRef = uidValue(plist->find(object, "$class"));
        if (!classRef) {
            invalid("an object without a class");
            return std::nullopt;
        }
        if (*classRef >= objects.size()) {
            invalid("class reference out of range");
            return std::nullopt;
        }
        Ref description = objects[*classRef];
        auto name =
            isDictionary(description) ? stringValue(plist->find(description, "$classname")) : std::nullopt;
        if (!name)
            invalid("a class without a name");
        return name;
    }

    /// The Value of an archived object; nothing (with `error` set) when it cannot be decoded.
    std::optional<Value> decodeReference(std::uint64_t uid) {
        if (failed())
            return std::nullopt;
        if (uid >= objects.size()) {
            invalid("object reference out of range");
            return std::nullopt;
        }
        if (uid == 0)
            return charge(1) ? std::optional<Value>(Value()) : std::nullopt;
        if (auto it = decoded.find(uid); it != decoded.end()) {
            if (!charge(it->second.nodes))
                return std::nullopt;
            return it->second.value;
        }
        Ref node = objects[uid];
        if (isScalar(node)) {
            if (!charge(scalarCost(node)))
                return std::nullopt;
            auto value = plist->value(node);
            if (!value) {
                invalid(value.error()->localizedDescription());
                return std::nullopt;
            }
            return std::move(*value);
        }
        if (!isDictionary(node)) {
            invalid("an object that is neither a value nor a dictionary");
            return std::nullopt;
        }
        if (inProgress.contains(uid)) {
            fail(Code::referenceCycle, "The archive contains a reference cycle.");
            return std::nullopt;
        }
        if (depth >= maximumDepth) {
            fail(Code::tooComplex, "The archive is nested too deeply.");
            return std::nullopt;
        }
        auto className = classNameOf(node);
        if (!className)
            return std::nullopt;

        inProgress.insert(uid);
        ++depth;
        const std::size_t budgetBefore = nodeBudget;
        auto value = decodeObject(node, *className);
        --depth;
        inProgress.erase(uid);
        if (!value)
            return std::nullopt;
        // Objects are shared, not copied: a later reference costs one node.
        const std::size_t nodes = value->isObject() ? 1 : budgetBefore - nodeBudget;
        decoded.emplace(uid, Decoded{*value, nodes});
        return value;
    }

    std::optional<Value> decodeObject(Ref node, const std::string& className) {
        if (isArrayClass(className))
            return decodeArray(node);
        if (isDictionaryClass(className))
            return decodeDictionary(node);
        if (isStringClass(className) || isDataClass(className)) {
            // NSMutableString / NSMutableData keep their contents under one key.
            auto contents = plist->find(node, isStringClass(className) ? "NS.string" : "NS.data");
            auto type = contents ? plist->kind(*contents) : Reader::Kind::other;
            if (type != (isStringClass(className) ? Reader::Kind::string : Reader::Kind::data)) {
                invalid("a " + className + " without contents");
                return std::nullopt;
            }
            if (!charge(scalarCost(*contents)))
                return std::nullopt;
            auto value = plist->value(*contents);
            if (!value) {
                invalid(value.error()->localizedDescription());
                return std::nullopt;
            }
            return std::move(*value);
        }
        if (!allowed.contains(className)) {
            fail(Code::classNotAllowed,
                 "The archive contains an object of class " + className + ", which is not allowed here.");
            return std::nullopt;
        }
        auto factory = factoryFor(className);
        if (!factory) {
            fail(Code::unknownClass, "The archive contains an object of class " + className +
                                         ", which is not registered for decoding.");
            return std::nullopt;
        }
        if (!charge(1))
            return std::nullopt;
        containers.push_back(node);
        ObjectPtr object;
        try {
            object = factory(*owner);
        } catch (...) {
            fail(currentExceptionAsError());
        }
        containers.pop_back();
        if (failed())
            return std::nullopt;
        if (!object) {
            fail(Code::codingFailed, "An object of class " + className + " could not be decoded.");
            return std::nullopt;
        }
        return Value(std::move(object));
    }

    /// The UIDs stored under `key` of a collection dictionary.
    std::optional<std::vector<std::uint64_t>> referencesAt(Ref node, const char* key) {
        auto list = plist->find(node, key);
        if (!list || plist->kind(*list) != Reader::Kind::array) {
            invalid(std::string("a collection without ") + key);
            return std::nullopt;
        }
        std::vector<std::uint64_t> uids;
        for (Ref item : plist->elements(*list)) {
            auto uid = uidValue(item);
            if (!uid) {
                invalid("a collection element that is not a reference");
                return std::nullopt;
            }
            uids.push_back(*uid);
        }
        return uids;
    }

    std::optional<Value> decodeArray(Ref node) {
        auto uids = referencesAt(node, "NS.objects");
        if (!uids || !charge(1))
            return std::nullopt;
        Array array;
        array.reserve(uids->size());
        for (auto uid : *uids) {
            auto element = decodeReference(uid);
            if (!element)
                return std::nullopt;
            array.push_back(std::move(*element));
        }
        return Value(std::move(array));
    }

    std::optional<Value> decodeDictionary(Ref node) {
        auto keys = referencesAt(node, "NS.keys");
        if (!keys)
            return std::nullopt;
        auto values = referencesAt(node, "NS.objects");
        if (!values)
            return std::nullopt;
        if (keys->size() != values->size()) {
            invalid("a dictionary with unequal numbers of keys and values");
            return std::nullopt;
        }
        if (!charge(1))
            return std::nullopt;
        Dictionary dictionary;
        for (std::size_t i = 0; i < keys->size(); ++i) {
            auto key = decodeReference((*keys)[i]);
            if (!key)
                return std::nullopt;
            if (!key->isString()) {
                invalid("a dictionary key that is not a string");
                return std::nullopt;
            }
            auto element = decodeReference((*values)[i]);
            if (!element)
                return std::nullopt;
            dictionary.insert_or_assign(*key->asString(), std::move(*element));
        }
        return Value(std::move(dictionary));
    }

    std::optional<Ref> nodeAt(std::string_view key) const {
        // A key with NUL cannot have been stored.
        if (failed() || containers.empty() || key.find('\0') != std::string_view::npos)
            return std::nullopt;
        return plist->find(containers.back(), storedKey(key));
    }

    /// The value stored under `key` in the current container; nothing when absent, of a kind an
    /// archive does not hold inline, or when decoding failed.
    std::optional<Value> valueAt(std::string_view key) {
        auto node = nodeAt(key);
        if (!node)
            return std::nullopt;
        if (auto uid = uidValue(node))
            return decodeReference(*uid);
        if (!isScalar(*node))
            return std::nullopt;
        auto value = plist->value(*node);
        if (!value)
            return std::nullopt;
        return std::move(*value);
    }
};

void KeyedUnarchiver::registerClass(std::string className, Factory factory) {
    auto& r = registry();
    std::lock_guard lock(r.mutex);
    if (factory)
        r.factories.insert_or_assign(std::move(className), std::move(factory));
    else
        r.factories.erase(className);
}

KeyedUnarchiver::KeyedUnarchiver(std::span<const std::uint8_t> bytes, std::vector<std::string> allowedClasses)
    : state_(std::make_unique<State>()) {
    state_->owner = this;
    state_->allowed.insert(std::make_move_iterator(allowedClasses.begin()),
                           std::make_move_iterator(allowedClasses.end()));
    state_->open(bytes);
}

KeyedUnarchiver::~KeyedUnarchiver() = default;

Expected<Value> KeyedUnarchiver::unarchivedObject(std::span<const std::uint8_t> bytes,
                                                  const std::vector<std::string>& allowedClasses) {
    KeyedUnarchiver unarchiver(bytes, allowedClasses);
    auto root = unarchiver.decodeValue("root");
    if (unarchiver.error())
        return Unexpected{unarchiver.error()};
    if (!root)
        return Unexpected{archiveError(Code::invalidArchive, "The archive has no root object.")};
    return std::move(*root);
}

bool KeyedUnarchiver::containsValue(std::string_view key) const {
    return state_->nodeAt(key).has_value();
}

std::optional<Value> KeyedUnarchiver::decodeValue(std::string_view key) {
    return state_->valueAt(key);
}

std::optional<std::string> KeyedUnarchiver::decodeString(std::string_view key) {
    auto value = decodeValue(key);
    if (!value || !value->isString())
        return std::nullopt;
    return *value->asString();
}

std::optional<std::int64_t> KeyedUnarchiver::decodeInt64(std::string_view key) {
    auto value = decodeValue(key);
    return value ? value->asInteger() : std::nullopt;
}

std::optional<double> KeyedUnarchiver::decodeDouble(std::string_view key) {
    auto value = decodeValue(key);
    return value ? value->asDouble() : std::nullopt;
}

std::optional<bool> KeyedUnarchiver::decodeBool(std::string_view key) {
    auto value = decodeValue(key);
    return value ? value->asBool() : std::nullopt;
}

std::optional<Data> KeyedUnarchiver::decodeData(std::string_view key) {
    auto value = decodeValue(key);
    if (!value || !value->isData())
        return std::nullopt;
    return *value->asData();
}

void KeyedUnarchiver::failWithError(ErrorPtr error) {
    state_->fail(error ? std::move(error) : archiveError(Code::codingFailed, "Decoding failed."));
}

const ErrorPtr& KeyedUnarchiver::error() const {
    return state_->error;
}

} // namespace joblark
