#include "joblark/Foundation/KeyedArchive.hpp"

#include "BinaryPlistWriter.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <random>
#include <stdexcept>

using namespace joblark;
using Code = KeyedArchiveError::Code;
using joblark::testing::BinaryPlistWriter;

namespace {

class Person : public Object, public Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.TestPerson";
    std::string className() const override { return std::string(codingClassName); }

    std::optional<std::string> name;
    std::int64_t age = 0;
    std::vector<std::shared_ptr<Person>> friends;
    std::shared_ptr<Person> bestFriend;
    Value attributes;
    std::string note; // kept under "$class", which the archive also uses for the object's class

    void encode(KeyedArchiver& archiver) const override {
        if (name)
            archiver.encodeString(*name, "name");
        archiver.encodeInt64(age, "age");
        archiver.encodeObjects(friends, "friends");
        archiver.encodeObject(bestFriend, "bestFriend");
        archiver.encodeValue(attributes, "attributes");
        archiver.encodeString(note, "$class");
    }
    static std::shared_ptr<Person> decode(KeyedUnarchiver& unarchiver) {
        auto age = unarchiver.decodeInt64("age");
        if (!age)
            return nullptr; // the one required field
        auto person = std::make_shared<Person>();
        person->age = *age;
        person->name = unarchiver.decodeString("name");
        person->friends = unarchiver.decodeObjects<Person>("friends").value_or(decltype(friends){});
        person->bestFriend = unarchiver.decodeObject<Person>("bestFriend");
        person->attributes = unarchiver.decodeValue("attributes").value_or(Value());
        person->note = unarchiver.decodeString("$class").value_or("");
        return person;
    }
};

/// Its factory throws as well.
class Thrower : public Object, public Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.TestThrower";
    std::string className() const override { return std::string(codingClassName); }
    void encode(KeyedArchiver&) const override { throw std::runtime_error("encoder exploded"); }
};

const std::vector<std::string> people{std::string(Person::codingClassName)};

std::shared_ptr<Person> person(std::string name, std::int64_t age) {
    auto p = std::make_shared<Person>();
    p->name = std::move(name);
    p->age = age;
    return p;
}

Code codeOf(const ErrorPtr& error) {
    auto typed = std::dynamic_pointer_cast<const KeyedArchiveError>(error);
    EXPECT_TRUE(typed) << (error ? error->typeName() + ": " + error->localizedDescription() : "null error");
    return typed ? typed->code() : Code::codingFailed;
}

// Archives written by hand: {"CF$UID": n} stands for a reference to $objects[n].
Value uid(std::int64_t n) {
    return Dictionary{{"CF$UID", n}};
}
Value classNamed(const char* name) {
    return Dictionary{{"$classname", name}, {"$classes", Array{name, "NSObject"}}};
}
Value object(Dictionary fields, std::int64_t classUID = 2) {
    fields.emplace("$class", uid(classUID));
    return fields;
}
Value arrayOf(Array references, std::int64_t classUID = 2) {
    return object({{"NS.objects", std::move(references)}}, classUID);
}
/// $objects are "$null" and then `objects`, so that objects[i] has the UID i + 1.
Data archiveOf(Array objects, std::int64_t rootUID = 1) {
    objects.insert(objects.begin(), "$null");
    return BinaryPlistWriter::of(Dictionary{{"$archiver", "NSKeyedArchiver"},
                                            {"$version", 100000},
                                            {"$top", Dictionary{{"root", uid(rootUID)}}},
                                            {"$objects", std::move(objects)}});
}
/// `levels` NSArrays, each referring `fanOut` times to the next; the last one to the string `leaf`.
Data chain(std::int64_t levels, std::size_t fanOut, std::string leaf) {
    Array objects{classNamed("NSArray")};
    for (std::int64_t level = 0; level < levels; ++level)
        objects.push_back(arrayOf(Array(fanOut, uid(level + 3)), 1));
    objects.push_back(std::move(leaf));
    return archiveOf(std::move(objects), 2);
}

class KeyedArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        KeyedUnarchiver::registerClass<Person>();
        KeyedUnarchiver::registerClass("Kestrova.TestThrower", [](KeyedUnarchiver&) -> ObjectPtr {
            throw std::runtime_error("factory exploded");
        });
    }
};

TEST_F(KeyedArchiveTest, PlainValuesRoundTrip) {
    const std::vector<Value> values{
        "text ✓",
        "",
        std::int64_t{-9},
        std::numeric_limits<std::int64_t>::max(),
        0.5,
        true,
        Data{0, 255, 7},
        Data{},
        Value(),
        Array{},
        Dictionary{},
        Array{1, "two", 3.0, false, Array{Data{1}}, Dictionary{{"k", Array{}}}},
        Dictionary{{"a", 1}, {"nested", Dictionary{{"b", Array{"x", "x", "x"}}}}, {"$odd", "dollar key"}}};
    for (const auto& value : values) {
        auto archive = KeyedArchiver::archivedData(value);
        ASSERT_TRUE(archive) << value.description() << ": " << archive.error()->localizedDescription();
        auto back = KeyedUnarchiver::unarchivedObject(*archive);
        ASSERT_TRUE(back) << value.description() << ": " << back.error()->localizedDescription();
        EXPECT_EQ(*back, value);
        EXPECT_EQ(back->kind(), value.kind()) << value.description();
    }
}

TEST_F(KeyedArchiveTest, ObjectGraphsRoundTripWithSharedObjectsStoredOnce) {
    auto alice = person("Alice", 30);
    auto bob = person("Bob", 41);
    auto carol = std::make_shared<Person>(); // no name: the optional stays absent
    carol->age = 5;
    bob->note = "clash";
    bob->attributes = Dictionary{{"tags", Array{"a", "b"}}, {"owner", Value(carol)}};
    alice->friends = {bob, bob, carol};
    alice->bestFriend = bob;
    auto archive = KeyedArchiver::archivedData(Value(alice));
    ASSERT_TRUE(archive) << archive.error()->localizedDescription();

    // The layout NSKeyedUnarchiver expects.
    EXPECT_EQ(std::string(archive->begin(), archive->end()).substr(0, 8), "bplist00");
    const Value raw = *PropertyList::deserialize(*archive);
    EXPECT_EQ(*raw.find("$archiver"), Value("NSKeyedArchiver"));
    EXPECT_EQ(*raw.find("$version"), Value(100000));
    const Array& objects = *raw.find("$objects")->asArray();
    EXPECT_EQ(objects.at(0), Value("$null"));
    auto resolve = [&](const Value* reference) -> const Value& {
        return objects.at(static_cast<std::size_t>(*reference->find("CF$UID")->asInteger()));
    };
    const Value& root = resolve(raw.find("$top")->find("root"));
    EXPECT_EQ(resolve(root.find("name")), Value("Alice"));
    EXPECT_EQ(*root.find("age"), Value(30)) << "integers are stored inline";
    EXPECT_EQ(*resolve(root.find("$class")).find("$classname"), Value("Kestrova.TestPerson"));
    EXPECT_EQ(*resolve(root.find("$class")).find("$classes"),
              Value(Array{"Kestrova.TestPerson", "NSObject"}));
    EXPECT_EQ(std::count_if(objects.begin(), objects.end(), [](const Value& o) { return o.find("age"); }), 3)
        << "Bob is stored once although referenced three times";

    auto decoded = KeyedUnarchiver::unarchivedObjectOfClass<Person>(*archive);
    ASSERT_TRUE(decoded) << decoded.error()->localizedDescription();
    const auto& a = *decoded;
    EXPECT_EQ(a->name, "Alice");
    EXPECT_EQ(a->age, 30);
    ASSERT_EQ(a->friends.size(), 3u);
    const auto& b = a->friends[0];
    EXPECT_EQ(b.get(), a->friends[1].get());
    EXPECT_EQ(b.get(), a->bestFriend.get());
    EXPECT_EQ(b->name, "Bob");
    EXPECT_EQ(b->note, "clash") << "a field named $class must not collide with the archive's";
    EXPECT_EQ(*b->attributes.find("tags"), Value(Array{"a", "b"}));
    // An object inside a plain Value is shared with the rest of the graph, not copied.
    EXPECT_EQ(b->attributes.find("owner")->asObject().get(), a->friends[2].get());
    EXPECT_FALSE(a->friends[2]->name.has_value());
    EXPECT_EQ(a->friends[2]->age, 5);
    EXPECT_EQ(a->friends[2]->bestFriend, nullptr);
    auto wrongRoot = KeyedUnarchiver::unarchivedObjectOfClass<Thrower>(*archive, people);
    ASSERT_FALSE(wrongRoot);
    EXPECT_EQ(codeOf(wrongRoot.error()), Code::codingFailed);
}

TEST_F(KeyedArchiveTest, LargeSharedGraphsWithWideValuesReadBackUnchanged) {
    auto shared = person("Zoë 😀", -7);
    auto inner = KeyedArchiver::archivedData(Value(person("inner ✓", 3)));
    ASSERT_TRUE(inner) << inner.error()->localizedDescription();
    shared->attributes = Dictionary{{"blob", Data(40, 0x5A)},
                                    {"archive", *inner}, // an archive inside an archive, as data
                                    {"ratio", -0.125},
                                    {"min", std::numeric_limits<std::int64_t>::min()},
                                    {"max", std::numeric_limits<std::int64_t>::max()},
                                    {"none", Array{}},
                                    {"empty", Dictionary{}}};
    auto root = person("Ωmega", 1);
    root->bestFriend = shared;
    for (std::int64_t i = 0; i < 20; ++i) { // past the one-byte count of a short array
        auto f = person("friend ✓ " + std::to_string(i), -i * 1'000'000'007);
        f->bestFriend = shared;
        root->friends.push_back(f);
    }
    KeyedArchiver archiver;
    archiver.encodeString("first", "label");
    archiver.encodeObject(root, "root");
    archiver.encodeString("second", "label"); // the later value wins
    auto archive = archiver.encodedData();
    ASSERT_TRUE(archive) << archive.error()->localizedDescription();

    KeyedUnarchiver unarchiver(*archive, people);
    EXPECT_EQ(unarchiver.decodeString("label"), "second");
    auto back = unarchiver.decodeObject<Person>("root");
    ASSERT_TRUE(back) << (unarchiver.error() ? unarchiver.error()->localizedDescription() : "no root");
    EXPECT_EQ(back->name, "Ωmega");
    ASSERT_EQ(back->friends.size(), 20u);
    ASSERT_TRUE(back->bestFriend);
    for (std::size_t i = 0; i < back->friends.size(); ++i) {
        EXPECT_EQ(back->friends[i]->name, "friend ✓ " + std::to_string(i));
        EXPECT_EQ(back->friends[i]->age, -static_cast<std::int64_t>(i) * 1'000'000'007);
        EXPECT_EQ(back->friends[i]->bestFriend.get(), back->bestFriend.get()) << "stored once, shared";
    }
    EXPECT_EQ(back->bestFriend->name, "Zoë 😀");
    EXPECT_EQ(back->bestFriend->age, -7);
    EXPECT_EQ(back->bestFriend->attributes, shared->attributes);
    auto innerBack = KeyedUnarchiver::unarchivedObjectOfClass<Person>(
        *back->bestFriend->attributes.find("archive")->asData());
    ASSERT_TRUE(innerBack) << innerBack.error()->localizedDescription();
    EXPECT_EQ((*innerBack)->name, "inner ✓");

    const Value raw = *PropertyList::deserialize(*archive);
    const Array& objects = *raw.find("$objects")->asArray();
    EXPECT_EQ(std::count(objects.begin(), objects.end(), Value("Zoë 😀")), 1);
    EXPECT_EQ(std::count_if(objects.begin(), objects.end(), [](const Value& o) { return o.find("age"); }),
              22);
}

TEST_F(KeyedArchiveTest, TopLevelKeysDecodeAndWrongTypesReadBackAbsent) {
    KeyedArchiver archiver;
    archiver.encodeString("text", "s");
    archiver.encodeInt64(5, "i");
    archiver.encodeDouble(2.5, "d");
    archiver.encodeBool(false, "$b");
    archiver.encodeData(Data{1, 2}, "data");
    archiver.encodeObject(person("Dora", 3), "person");
    archiver.encodeValue(Array{1, 2}, "list");
    archiver.encodeValue(Dictionary{{"x", Value(person("Eli", 4))}}, "map");
    auto data = archiver.encodedData();
    ASSERT_TRUE(data) << data.error()->localizedDescription();
    EXPECT_FALSE(archiver.encodedData()) << "an archive is finished once";

    KeyedUnarchiver u(*data, people);
    EXPECT_EQ(u.decodeString("s"), "text");
    EXPECT_EQ(u.decodeDouble("i"), 5.0) << "integers widen to double";
    EXPECT_EQ(u.decodeDouble("d"), 2.5);
    EXPECT_EQ(u.decodeBool("$b"), false);
    EXPECT_EQ(u.decodeData("data"), (Data{1, 2}));
    EXPECT_TRUE(u.containsValue("person"));
    auto dora = u.decodeObject<Person>("person");
    ASSERT_NE(dora, nullptr);
    EXPECT_EQ(dora->age, 3);
    auto map = u.decodeObjectDictionary<Person>("map");
    ASSERT_TRUE(map && map->size() == 1);
    EXPECT_EQ(map->at("x")->age, 4);

    EXPECT_FALSE(u.decodeString("i")) << "int as string";
    EXPECT_FALSE(u.decodeBool("i")) << "int as bool";
    EXPECT_FALSE(u.decodeInt64("d")) << "double as int";
    EXPECT_FALSE(u.decodeInt64("$b")) << "bool as int";
    EXPECT_FALSE(u.decodeDouble("$b")) << "bool as double";
    EXPECT_FALSE(u.decodeData("s")) << "string as data";
    EXPECT_FALSE(u.decodeObject<Person>("s")) << "string as object";
    EXPECT_FALSE(u.decodeObject<Thrower>("person")) << "object of another class";
    EXPECT_FALSE(u.decodeObjects<Person>("map")) << "dictionary as array";
    EXPECT_FALSE(u.decodeObjects<Person>("list")) << "integers as people";
    EXPECT_FALSE(u.decodeObjectDictionary<Person>("list")) << "array as dictionary";
    EXPECT_FALSE(u.decodeString("missing"));
    EXPECT_FALSE(u.containsValue("missing"));
    EXPECT_FALSE(u.decodeString(std::string_view("s\0x", 3))) << "key with NUL";
    EXPECT_EQ(u.error(), nullptr);
}

TEST_F(KeyedArchiveTest, UnarchivableValuesFailEncoding) {
    struct NotCoding : Object {};
    Value deep = 1;
    for (std::size_t i = 0; i <= KeyedArchiver::maximumDepth; ++i)
        deep = Value(Array{std::move(deep)});
    auto loop = person("Loop", 1);
    loop->friends = {person("Middle", 2)};
    loop->friends[0]->bestFriend = loop;
    const std::pair<Value, Code> cases[] = {
        {Value(makeError("no")), Code::notEncodable},
        {Value(Array{1, Value(std::make_shared<NotCoding>())}), Code::notEncodable},
        {Value("bad \xFF"), Code::notEncodable},
        {deep, Code::tooComplex},
        {Value(loop), Code::referenceCycle}};
    for (const auto& [value, code] : cases) {
        auto result = KeyedArchiver::archivedData(value);
        ASSERT_FALSE(result) << value.description();
        EXPECT_EQ(codeOf(result.error()), code) << result.error()->localizedDescription();
    }
    loop->friends.clear();

    auto thrown = KeyedArchiver::archivedData(Value(std::make_shared<Thrower>()));
    ASSERT_FALSE(thrown);
    EXPECT_EQ(thrown.error()->localizedDescription(), "encoder exploded");
}

TEST_F(KeyedArchiveTest, HostileArchivesGiveErrorsNotCrashes) {
    const auto personClass = classNamed("Kestrova.TestPerson");
    const auto dictionaryClass = classNamed("NSDictionary");
    const auto throwerClass = classNamed("Kestrova.TestThrower");
    const std::tuple<const char*, Data, Code> cases[] = {
        {"self-containing array", archiveOf({arrayOf({uid(1)}), classNamed("NSArray")}),
         Code::referenceCycle},
        {"own best friend", archiveOf({object({{"age", 1}, {"bestFriend", uid(1)}}), personClass}),
         Code::referenceCycle},
        {"root out of range", archiveOf({}, 99), Code::invalidArchive},
        {"element out of range", archiveOf({arrayOf({uid(50)}), classNamed("NSArray")}),
         Code::invalidArchive},
        {"object without $class", archiveOf({Dictionary{{"age", 1}}}), Code::invalidArchive},
        {"class out of range", archiveOf({object({}, 77)}), Code::invalidArchive},
        {"class without a name", archiveOf({object({}), Dictionary{}}), Code::invalidArchive},
        {"factory refuses (no age)", archiveOf({object({}), personClass}), Code::codingFailed},
        // Registered but not allowed, also inside plain values; allowed but not registered.
        {"class not allowed", archiveOf({object({}), throwerClass}), Code::classNotAllowed},
        {"nested class not allowed",
         archiveOf({arrayOf({uid(3)}), classNamed("NSArray"), object({}, 4), throwerClass}),
         Code::classNotAllowed},
        {"class not registered", archiveOf({object({{"one", 1}}), classNamed("Kestrova.TestUnregistered")}),
         Code::unknownClass},
        {"more keys than values",
         archiveOf({object({{"NS.keys", Array{uid(3), uid(4)}}, {"NS.objects", Array{uid(3)}}}),
                    dictionaryClass, "k", 4}),
         Code::invalidArchive},
        {"integer key",
         archiveOf({object({{"NS.keys", Array{uid(3)}}, {"NS.objects", Array{uid(3)}}}), dictionaryClass, 4}),
         Code::invalidArchive},
        // 2^60 copies of a 64 KB string if expanded naively. (The string makes the value budget run
        // out after a thousand copies rather than a million, which keeps this fast.)
        {"exponential sharing", chain(60, 2, std::string(65536, 's')), Code::tooComplex},
        {"deep nesting", chain(400, 1, "leaf"), Code::tooComplex},
        {"no $archiver", BinaryPlistWriter::of(Dictionary{{"$top", Dictionary{}}, {"$objects", Array{}}}),
         Code::invalidArchive},
        {"truncated", Data{'b', 'p', 'l', 'i', 's', 't'}, Code::invalidArchive},
        {"empty", Data{}, Code::invalidArchive}};
    for (const auto& [what, archive, code] : cases) {
        auto result =
            KeyedUnarchiver::unarchivedObject(archive, {"Kestrova.TestPerson", "Kestrova.TestUnregistered"});
        ASSERT_FALSE(result) << what;
        const auto description = result.error()->localizedDescription();
        EXPECT_EQ(codeOf(result.error()), code) << what << ": " << description;
        if (code == Code::classNotAllowed) {
            EXPECT_NE(description.find("Kestrova.TestThrower"), std::string::npos) << description;
        }
    }
    auto thrown =
        KeyedUnarchiver::unarchivedObject(archiveOf({object({}), throwerClass}), {"Kestrova.TestThrower"});
    ASSERT_FALSE(thrown);
    EXPECT_EQ(thrown.error()->localizedDescription(), "factory exploded");
}

TEST_F(KeyedArchiveTest, ForeignButValidArchivesDecode) {
    // NSMutableString, NSMutableData and NSMutableArray as NSKeyedArchiver writes them.
    auto value = KeyedUnarchiver::unarchivedObject(
        archiveOf({object({{"NS.string", "mutable"}}, 2), classNamed("NSMutableString"),
                   object({{"NS.data", Data{1, 2}}}, 4), classNamed("NSMutableData"),
                   classNamed("NSMutableArray"), arrayOf({uid(1), uid(3), uid(0)}, 5)},
                  6));
    ASSERT_TRUE(value) << value.error()->localizedDescription();
    EXPECT_EQ(*value, Value(Array{"mutable", Data{1, 2}, Value()}));
}

TEST_F(KeyedArchiveTest, MutatedArchivesNeverCrashTheUnarchiver) {
    auto alice = person("Alice", 30);
    auto bob = person("Bob", 41);
    bob->attributes = Dictionary{{"tags", Array{"a", 2, 3.5, Data{1}}}};
    alice->friends = {bob, person("Carol", 7)};
    alice->bestFriend = bob;
    const std::vector<Data> seeds{*KeyedArchiver::archivedData(Value(alice)),
                                  *KeyedArchiver::archivedData(Value(
                                      Dictionary{{"list", Array{1, "x", Array{Dictionary{{"k", true}}}}}}))};

    std::mt19937 random(7251);
    auto pick = [&](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    std::size_t decoded = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        Data input = seeds[pick(seeds.size())];
        if (iteration % 3 == 0) { // flip a few bytes anywhere
            for (std::size_t flips = 1 + pick(4); flips > 0; --flips)
                input[pick(input.size())] = static_cast<std::uint8_t>(pick(256));
        } else if (iteration % 3 == 1) { // retarget UIDs: the byte after a one-byte UID marker (0x80)
            std::vector<std::size_t> uidBytes;
            for (std::size_t i = 0; i + 1 < input.size(); ++i)
                if (input[i] == 0x80)
                    uidBytes.push_back(i + 1);
            for (std::size_t n = 1 + pick(3); n > 0 && !uidBytes.empty(); --n)
                input[uidBytes[pick(uidBytes.size())]] = static_cast<std::uint8_t>(pick(40));
        } else {
            input.resize(pick(input.size()));
        }
        // Decoding refuses cycles, so whatever it returns is freed again (the leak checker agrees).
        auto result = KeyedUnarchiver::unarchivedObject(input, people);
        if (result)
            ++decoded;
        else
            ASSERT_TRUE(std::dynamic_pointer_cast<const KeyedArchiveError>(result.error()))
                << "iteration " << iteration << ": " << result.error()->localizedDescription();
    }
    EXPECT_GT(decoded, 100u);
}

} // namespace
