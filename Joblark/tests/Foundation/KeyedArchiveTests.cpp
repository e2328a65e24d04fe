#include "joblark/Foundation/KeyedArchive.hpp"

#include "BinaryPlistWriter.hpp"

#include <gtest/gtest.h>

#include <random>
#include <stdexcept>

using namespace joblark;
using joblark::testing::BinaryPlistWriter;
using Code = KeyedArchiveError::Code;

namespace {

class Person : public Object, public Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.TestPerson";
    std::string className() const override { return std::string(codingClassName); }

    std::optional<std::string> name;
    std::int64_t age = 0;
    double score = 0;
    bool active = false;
    Data avatar;
    std::vector<std::shared_ptr<Person>> friends;
    std::shared_ptr<Person> bestFriend;
    Value attributes;

    void encode(KeyedArchiver& archiver) const override {
        if (name)
            archiver.encodeString(*name, "name");
        archiver.encodeInt64(age, "age");
        archiver.encodeDouble(score, "score");
        archiver.encodeBool(active, "active");
        archiver.encodeData(avatar, "avatar");
        archiver.encodeObjects(friends, "friends");
        archiver.encodeObject(bestFriend, "bestFriend");
        archiver.encodeValue(attributes, "attributes");
    }

    static std::shared_ptr<Person> decode(KeyedUnarchiver& unarchiver) {
        auto age = unarchiver.decodeInt64("age");
        if (!age)
            return nullptr; // the one required field
        auto person = std::make_shared<Person>();
        person->age = *age;
        person->name = unarchiver.decodeString("name");
        person->score = unarchiver.decodeDouble("score").value_or(0);
        person->active = unarchiver.decodeBool("active").value_or(false);
        person->avatar = unarchiver.decodeData("avatar").value_or(Data{});
        person->friends =
            unarchiver.decodeObjects<Person>("friends").value_or(std::vector<std::shared_ptr<Person>>{});
        person->bestFriend = unarchiver.decodeObject<Person>("bestFriend");
        person->attributes = unarchiver.decodeValue("attributes").value_or(Value());
        return person;
    }
};

/// What Probe's factory saw.
struct ProbeFindings {
    std::vector<std::string> presentButShouldBeAbsent;
    std::optional<double> intAsDouble;
    std::optional<std::string> dollar;
    std::optional<std::string> classKey;
    std::size_t mapEntries = 0;
    bool ran = false;
};
ProbeFindings probeFindings;

/// Encodes one value of every kind and, when decoded, tries to read each under the wrong type.
class Probe : public Object, public Coding {
public:
    static constexpr std::string_view codingClassName = "Kestrova.TestProbe";
    std::string className() const override { return std::string(codingClassName); }

    std::shared_ptr<Person> person;

    void encode(KeyedArchiver& archiver) const override {
        archiver.encodeString("text", "s");
        archiver.encodeInt64(5, "i");
        archiver.encodeDouble(2.5, "d");
        archiver.encodeBool(true, "b");
        archiver.encodeData(Data{1, 2}, "data");
        archiver.encodeObject(person, "person");
        archiver.encodeValue(Array{1, 2}, "list");
        archiver.encodeValue(Dictionary{{"x", Value(person)}}, "map");
        archiver.encodeString("money", "$dollar");
        archiver.encodeString("clash", "$class");
    }

    static std::shared_ptr<Probe> decode(KeyedUnarchiver& u) {
        ProbeFindings f;
        f.ran = true;
        auto expectAbsent = [&](bool present, const char* what) {
            if (present)
                f.presentButShouldBeAbsent.emplace_back(what);
        };
        expectAbsent(u.decodeInt64("s").has_value(), "string as int");
        expectAbsent(u.decodeString("i").has_value(), "int as string");
        expectAbsent(u.decodeBool("i").has_value(), "int as bool");
        expectAbsent(u.decodeInt64("d").has_value(), "double as int");
        expectAbsent(u.decodeInt64("b").has_value(), "bool as int");
        expectAbsent(u.decodeDouble("b").has_value(), "bool as double");
        expectAbsent(u.decodeData("s").has_value(), "string as data");
        expectAbsent(u.decodeString("data").has_value(), "data as string");
        expectAbsent(u.decodeObject<Person>("s") != nullptr, "string as object");
        expectAbsent(u.decodeObject<Probe>("person") != nullptr, "person as probe");
        expectAbsent(u.decodeObjects<Person>("map").has_value(), "dictionary as array");
        expectAbsent(u.decodeObjects<Person>("list").has_value(), "integers as people");
        expectAbsent(u.decodeObjectDictionary<Person>("list").has_value(), "array as dictionary");
        expectAbsent(u.decodeString("missing").has_value(), "missing key");
        expectAbsent(u.containsValue("missing"), "contains missing key");
        expectAbsent(u.decodeString(std::string_view("s\0x", 3)).has_value(), "key with NUL");
        f.intAsDouble = u.decodeDouble("i");
        f.dollar = u.decodeString("$dollar");
        f.classKey = u.decodeString("$class");
        if (auto map = u.decodeObjectDictionary<Person>("map"))
            f.mapEntries = map->size();
        probeFindings = f;
        return std::make_shared<Probe>();
    }
};

/// A class that is never registered for decoding.
class Unregistered : public Object, public Coding {
public:
    std::string className() const override { return "Kestrova.TestUnregistered"; }
    void encode(KeyedArchiver& archiver) const override { archiver.encodeInt64(1, "one"); }
};

class NotCoding : public Object {
public:
    std::string className() const override { return "Kestrova.TestNotCoding"; }
};

class ThrowsWhileEncoding : public Object, public Coding {
public:
    std::string className() const override { return "Kestrova.TestThrower"; }
    void encode(KeyedArchiver&) const override { throw std::runtime_error("encoder exploded"); }
};

class KeyedArchiveTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        KeyedUnarchiver::registerClass<Person>();
        KeyedUnarchiver::registerClass<Probe>();
        KeyedUnarchiver::registerClass("Kestrova.TestThrower", [](KeyedUnarchiver&) -> ObjectPtr {
            throw std::runtime_error("factory exploded");
        });
    }

    static const std::vector<std::string>& people() {
        static const std::vector<std::string> allowed{std::string(Person::codingClassName)};
        return allowed;
    }

    static Code codeOf(const ErrorPtr& error) {
        auto typed = std::dynamic_pointer_cast<const KeyedArchiveError>(error);
        EXPECT_TRUE(typed) << (error ? error->typeName() + ": " + error->localizedDescription()
                                     : "null error");
        return typed ? typed->code() : Code::codingFailed;
    }

    static Value raw(const Data& archive) {
        auto value = PropertyList::deserialize(archive);
        EXPECT_TRUE(value);
        return value ? *value : Value();
    }

    static std::shared_ptr<Person> person(std::string name, std::int64_t age) {
        auto p = std::make_shared<Person>();
        p->name = std::move(name);
        p->age = age;
        return p;
    }
};

// --- Hostile archives, written byte by byte --------------------------------------------------

std::uint64_t classDescription(BinaryPlistWriter& w, std::string_view name) {
    return w.dictionary({w.string("$classname"), w.string("$classes")},
                        {w.string(name), w.array({w.string(name), w.string("NSObject")})});
}

std::uint64_t arrayObject(BinaryPlistWriter& w, const std::vector<std::uint32_t>& elements,
                          std::uint32_t classUID) {
    std::vector<std::uint64_t> refs;
    for (auto uid : elements)
        refs.push_back(w.uid(uid));
    return w.dictionary({w.string("NS.objects"), w.string("$class")}, {w.array(refs), w.uid(classUID)});
}

/// An archive whose $objects are the given writer objects (their position is their UID).
Data archiveOf(BinaryPlistWriter& w, const std::vector<std::uint64_t>& objects, std::uint32_t rootUID) {
    auto top = w.dictionary({w.string("root")}, {w.uid(rootUID)});
    auto list = w.array(objects);
    auto root =
        w.dictionary({w.string("$archiver"), w.string("$version"), w.string("$top"), w.string("$objects")},
                     {w.string("NSKeyedArchiver"), w.integer(100000), top, list});
    return w.finish(root);
}

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
        Dictionary{{"a", 1}, {"nested", Dictionary{{"b", Array{"x", "x", "x"}}}}, {"$odd", "dollar key"}},
    };
    for (const auto& value : values) {
        auto archive = KeyedArchiver::archivedData(value);
        ASSERT_TRUE(archive) << value.description() << ": " << archive.error()->localizedDescription();
        auto back = KeyedUnarchiver::unarchivedObject(*archive);
        ASSERT_TRUE(back) << value.description() << ": " << back.error()->localizedDescription();
        EXPECT_EQ(*back, value);
        EXPECT_EQ(back->kind(), value.kind()) << value.description();
    }
}

TEST_F(KeyedArchiveTest, ArchiveHasTheKeyedArchiverLayout) {
    auto alice = person("Alice", 30);
    auto archive = KeyedArchiver::archivedData(Value(Array{Value(alice), "label"}));
    ASSERT_TRUE(archive);
    EXPECT_EQ(std::string(archive->begin(), archive->begin() + 8), "bplist00");

    const Value root = raw(*archive);
    EXPECT_EQ(*root.find("$archiver"), Value("NSKeyedArchiver"));
    EXPECT_EQ(*root.find("$version"), Value(100000));
    const Array& objects = *root.find("$objects")->asArray();
    EXPECT_EQ(objects.at(0), Value("$null"));
    auto resolve = [&](const Value* reference) -> const Value& {
        return objects.at(static_cast<std::size_t>(*reference->find("CF$UID")->asInteger()));
    };

    const Value& array = resolve(root.find("$top")->find("root"));
    const Value& arrayClass = resolve(array.find("$class"));
    EXPECT_EQ(*arrayClass.find("$classname"), Value("NSArray"));
    EXPECT_EQ(*arrayClass.find("$classes"), Value(Array{"NSArray", "NSObject"}));

    const Value& first = resolve(array.find("NS.objects")->at(0));
    const Value& personClass = resolve(first.find("$class"));
    EXPECT_EQ(*personClass.find("$classname"), Value("Kestrova.TestPerson"));
    EXPECT_EQ(*personClass.find("$classes"), Value(Array{"Kestrova.TestPerson", "NSObject"}));
    EXPECT_EQ(resolve(first.find("name")), Value("Alice"));
    EXPECT_EQ(*first.find("age"), Value(30)) << "integers are stored inline";
    EXPECT_EQ(resolve(array.find("NS.objects")->at(1)), Value("label"));

    // Fields keep the order in which encode() wrote them (Value dictionaries are sorted, so look at
    // the XML form of the same tree).
    auto tree = PropertyList::parse(*archive);
    ASSERT_TRUE(tree);
    auto xmlBytes = PropertyList::write(tree->get(), PropertyList::Format::xml);
    ASSERT_TRUE(xmlBytes);
    const std::string xml(xmlBytes->begin(), xmlBytes->end());
    std::size_t previous = 0;
    for (const char* key :
         {"name", "age", "score", "active", "avatar", "friends", "bestFriend", "attributes"}) {
        auto at = xml.find(std::string("<key>") + key + "</key>");
        ASSERT_NE(at, std::string::npos) << key;
        EXPECT_GT(at, previous) << key << " is out of order";
        previous = at;
    }
}

TEST_F(KeyedArchiveTest, ObjectGraphsRoundTripAndSharedObjectsStayShared) {
    auto alice = person("Alice", 30);
    auto bob = person("Bob", 41);
    bob->score = 9.75;
    bob->active = true;
    bob->avatar = Data{9, 8, 7};
    auto carol = std::make_shared<Person>(); // no name: the optional stays absent
    carol->age = 5;
    bob->attributes = Dictionary{{"tags", Array{"a", "b"}}, {"owner", Value(carol)}};
    alice->friends = {bob, bob, carol};
    alice->bestFriend = bob;

    auto archive = KeyedArchiver::archivedData(Value(alice));
    ASSERT_TRUE(archive) << archive.error()->localizedDescription();

    // Bob is stored once although referenced three times.
    std::size_t peopleStored = 0;
    const Value stored = raw(*archive);
    const Array* objects = stored.find("$objects") ? stored.find("$objects")->asArray() : nullptr;
    ASSERT_NE(objects, nullptr);
    for (const auto& object : *objects)
        if (object.find("age"))
            ++peopleStored;
    EXPECT_EQ(peopleStored, 3u);

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
    EXPECT_EQ(b->score, 9.75);
    EXPECT_TRUE(b->active);
    EXPECT_EQ(b->avatar, (Data{9, 8, 7}));
    EXPECT_EQ(*b->attributes.find("tags"), Value(Array{"a", "b"}));
    // An object inside a plain Value is shared with the rest of the graph, not copied.
    EXPECT_EQ(b->attributes.find("owner")->asObject().get(), a->friends[2].get());
    EXPECT_FALSE(a->friends[2]->name.has_value());
    EXPECT_EQ(a->friends[2]->age, 5);
    EXPECT_EQ(a->friends[2]->bestFriend, nullptr);
}

TEST_F(KeyedArchiveTest, TopLevelKeysAndDollarKeysDecode) {
    KeyedArchiver archiver;
    archiver.encodeInt64(7, "count");
    archiver.encodeString("x", "label");
    archiver.encodeBool(false, "$flag");
    auto data = archiver.encodedData();
    ASSERT_TRUE(data);
    EXPECT_FALSE(archiver.encodedData()) << "an archive is finished once";

    KeyedUnarchiver unarchiver(*data, {});
    EXPECT_EQ(unarchiver.decodeInt64("count"), 7);
    EXPECT_EQ(unarchiver.decodeString("label"), "x");
    EXPECT_EQ(unarchiver.decodeBool("$flag"), false);
    EXPECT_FALSE(unarchiver.containsValue("root"));
    EXPECT_EQ(unarchiver.error(), nullptr);
}

TEST_F(KeyedArchiveTest, WrongTypesDecodeAsAbsent) {
    auto probe = std::make_shared<Probe>();
    probe->person = person("Dora", 3);
    auto archive = KeyedArchiver::archivedData(Value(probe));
    ASSERT_TRUE(archive) << archive.error()->localizedDescription();

    probeFindings = {};
    auto decoded = KeyedUnarchiver::unarchivedObject(
        *archive, {std::string(Probe::codingClassName), std::string(Person::codingClassName)});
    ASSERT_TRUE(decoded) << decoded.error()->localizedDescription();
    const auto& f = probeFindings;
    ASSERT_TRUE(f.ran);
    EXPECT_TRUE(f.presentButShouldBeAbsent.empty()) << ::testing::PrintToString(f.presentButShouldBeAbsent);
    EXPECT_EQ(f.intAsDouble, 5.0);
    EXPECT_EQ(f.dollar, "money");
    EXPECT_EQ(f.classKey, "clash") << "a user key named $class must not collide with the archive's";
    EXPECT_EQ(f.mapEntries, 1u);
}

TEST_F(KeyedArchiveTest, DecodingRefusesClassesOutsideTheAllowList) {
    auto archive = KeyedArchiver::archivedData(Value(person("Eve", 1)));
    ASSERT_TRUE(archive);
    auto refused = KeyedUnarchiver::unarchivedObject(*archive);
    ASSERT_FALSE(refused);
    EXPECT_EQ(codeOf(refused.error()), Code::classNotAllowed);
    EXPECT_NE(refused.error()->localizedDescription().find("Kestrova.TestPerson"), std::string::npos);

    // A disallowed object nested inside plain values fails the whole decode as well.
    auto nested = KeyedArchiver::archivedData(Value(Dictionary{{"list", Array{1, Value(person("Eve", 1))}}}));
    ASSERT_TRUE(nested);
    auto nestedRefused = KeyedUnarchiver::unarchivedObject(*nested, {"Kestrova.Other"});
    ASSERT_FALSE(nestedRefused);
    EXPECT_EQ(codeOf(nestedRefused.error()), Code::classNotAllowed);
    EXPECT_TRUE(KeyedUnarchiver::unarchivedObject(*nested, people()));

    auto unregistered = KeyedArchiver::archivedData(Value(std::make_shared<Unregistered>()));
    ASSERT_TRUE(unregistered);
    auto unknown = KeyedUnarchiver::unarchivedObject(*unregistered, {"Kestrova.TestUnregistered"});
    ASSERT_FALSE(unknown);
    EXPECT_EQ(codeOf(unknown.error()), Code::unknownClass);

    auto wrongRoot = KeyedUnarchiver::unarchivedObjectOfClass<Probe>(*archive, people());
    ASSERT_FALSE(wrongRoot);
}

TEST_F(KeyedArchiveTest, UnarchivableValuesFailEncoding) {
    auto expectFailure = [](const Value& value, Code code) {
        auto result = KeyedArchiver::archivedData(value);
        ASSERT_FALSE(result) << value.description();
        EXPECT_EQ(codeOf(result.error()), code) << result.error()->localizedDescription();
    };
    expectFailure(Value(makeError("no")), Code::notEncodable);
    expectFailure(Value(Array{1, Value(std::make_shared<NotCoding>())}), Code::notEncodable);
    expectFailure(Value("bad \xFF"), Code::notEncodable);

    Value deep = 1;
    for (std::size_t i = 0; i <= KeyedArchiver::maximumDepth; ++i) {
        Array wrapper;
        wrapper.push_back(std::move(deep));
        deep = Value(std::move(wrapper));
    }
    expectFailure(deep, Code::tooComplex);

    auto loop = person("Loop", 1);
    loop->friends = {person("Middle", 2)};
    loop->friends[0]->bestFriend = loop;
    expectFailure(Value(loop), Code::referenceCycle);
    loop->friends.clear();

    auto thrown = KeyedArchiver::archivedData(Value(std::make_shared<ThrowsWhileEncoding>()));
    ASSERT_FALSE(thrown);
    EXPECT_EQ(thrown.error()->localizedDescription(), "encoder exploded");
}

TEST_F(KeyedArchiveTest, HostileArchivesGiveErrorsNotCrashes) {
    auto expectCode = [](const Data& data, Code code, const char* what) {
        auto result =
            KeyedUnarchiver::unarchivedObject(data, {"Kestrova.TestPerson", "Kestrova.TestThrower"});
        ASSERT_FALSE(result) << what;
        auto typed = std::dynamic_pointer_cast<const KeyedArchiveError>(result.error());
        ASSERT_TRUE(typed) << what << ": " << result.error()->localizedDescription();
        EXPECT_EQ(typed->code(), code) << what << ": " << typed->localizedDescription();
    };
    {
        BinaryPlistWriter w; // an NSArray that contains itself
        auto array = arrayObject(w, {1}, 2);
        expectCode(archiveOf(w, {w.string("$null"), array, classDescription(w, "NSArray")}, 1),
                   Code::referenceCycle, "self-containing array");
    }
    {
        BinaryPlistWriter w; // a person who is their own best friend
        auto self = w.dictionary({w.string("age"), w.string("bestFriend"), w.string("$class")},
                                 {w.integer(1), w.uid(1), w.uid(2)});
        expectCode(archiveOf(w, {w.string("$null"), self, classDescription(w, "Kestrova.TestPerson")}, 1),
                   Code::referenceCycle, "self-referencing object");
    }
    {
        BinaryPlistWriter w;
        expectCode(archiveOf(w, {w.string("$null")}, 99), Code::invalidArchive, "root out of range");
    }
    {
        BinaryPlistWriter w;
        auto array = arrayObject(w, {50}, 2);
        expectCode(archiveOf(w, {w.string("$null"), array, classDescription(w, "NSArray")}, 1),
                   Code::invalidArchive, "element out of range");
    }
    {
        BinaryPlistWriter w;
        auto noClass = w.dictionary({w.string("age")}, {w.integer(1)});
        expectCode(archiveOf(w, {w.string("$null"), noClass}, 1), Code::invalidArchive,
                   "object without $class");
    }
    {
        BinaryPlistWriter w;
        auto badClass = w.dictionary({w.string("$class")}, {w.uid(77)});
        expectCode(archiveOf(w, {w.string("$null"), badClass}, 1), Code::invalidArchive,
                   "class out of range");
    }
    {
        BinaryPlistWriter w;
        auto nameless = w.dictionary({w.string("$class")}, {w.uid(2)});
        expectCode(archiveOf(w, {w.string("$null"), nameless, w.dictionary({}, {})}, 1), Code::invalidArchive,
                   "class without a name");
    }
    {
        BinaryPlistWriter w; // a person without the field its factory requires
        auto ageless = w.dictionary({w.string("$class")}, {w.uid(2)});
        expectCode(archiveOf(w, {w.string("$null"), ageless, classDescription(w, "Kestrova.TestPerson")}, 1),
                   Code::codingFailed, "factory refusal");
    }
    {
        BinaryPlistWriter w;
        auto thrower = w.dictionary({w.string("$class")}, {w.uid(2)});
        auto data =
            archiveOf(w, {w.string("$null"), thrower, classDescription(w, "Kestrova.TestThrower")}, 1);
        auto result = KeyedUnarchiver::unarchivedObject(data, {"Kestrova.TestThrower"});
        ASSERT_FALSE(result);
        EXPECT_EQ(result.error()->localizedDescription(), "factory exploded");
    }
    {
        BinaryPlistWriter w; // keys and values of different lengths, and a key that is not a string
        auto keys = w.array({w.uid(3), w.uid(4)});
        auto uneven = w.dictionary({w.string("NS.keys"), w.string("NS.objects"), w.string("$class")},
                                   {keys, w.array({w.uid(3)}), w.uid(2)});
        auto objects = std::vector<std::uint64_t>{
            w.string("$null"), uneven, classDescription(w, "NSDictionary"), w.string("k"), w.integer(4)};
        expectCode(archiveOf(w, objects, 1), Code::invalidArchive, "uneven dictionary");
        BinaryPlistWriter w2;
        auto numberKey2 = w2.dictionary({w2.string("NS.keys"), w2.string("NS.objects"), w2.string("$class")},
                                        {w2.array({w2.uid(3)}), w2.array({w2.uid(3)}), w2.uid(2)});
        expectCode(
            archiveOf(
                w2, {w2.string("$null"), numberKey2, classDescription(w2, "NSDictionary"), w2.integer(4)}, 1),
            Code::invalidArchive, "integer key");
    }
    {
        // 60 levels, each referring twice to the next: 2^60 elements if copied naively.
        BinaryPlistWriter w;
        std::vector<std::uint64_t> objects{w.string("$null"), classDescription(w, "NSArray")};
        for (std::uint32_t level = 0; level < 60; ++level) {
            const std::uint32_t next = level == 59 ? 0 : 2 + level + 1;
            objects.push_back(arrayObject(w, {next, next}, 1));
        }
        expectCode(archiveOf(w, objects, 2), Code::tooComplex, "exponential sharing");
    }
    {
        BinaryPlistWriter w;
        std::vector<std::uint64_t> objects{w.string("$null"), classDescription(w, "NSArray")};
        for (std::uint32_t level = 0; level < 400; ++level)
            objects.push_back(arrayObject(w, {level == 399 ? 0u : 2 + level + 1}, 1));
        expectCode(archiveOf(w, objects, 2), Code::tooComplex, "deep nesting");
    }
    {
        auto plain =
            *PropertyList::serialize(Value(Dictionary{{"$top", Dictionary{}}, {"$objects", Array{}}}));
        expectCode(plain, Code::invalidArchive, "no $archiver");
        expectCode(Data{'b', 'p', 'l', 'i', 's', 't'}, Code::invalidArchive, "truncated");
        expectCode(Data{}, Code::invalidArchive, "empty");
    }
}

TEST_F(KeyedArchiveTest, ForeignButValidArchivesDecode) {
    BinaryPlistWriter w; // NSMutableString / NSMutableData as NSKeyedArchiver writes them
    auto string = w.dictionary({w.string("NS.string"), w.string("$class")}, {w.string("mutable"), w.uid(2)});
    auto data = w.dictionary({w.string("NS.data"), w.string("$class")}, {w.data({1, 2}), w.uid(4)});
    auto array = arrayObject(w, {1, 3, 0}, 5);
    auto archive =
        archiveOf(w,
                  {w.string("$null"), string, classDescription(w, "NSMutableString"), data,
                   classDescription(w, "NSMutableData"), classDescription(w, "NSMutableArray"), array},
                  6);
    auto value = KeyedUnarchiver::unarchivedObject(archive);
    ASSERT_TRUE(value) << value.error()->localizedDescription();
    EXPECT_EQ(*value, Value(Array{"mutable", Data{1, 2}, Value()}));

    BinaryPlistWriter n;
    auto nullRoot = KeyedUnarchiver::unarchivedObject(archiveOf(n, {n.string("$null")}, 0));
    ASSERT_TRUE(nullRoot);
    EXPECT_TRUE(nullRoot->isNull());
}

TEST_F(KeyedArchiveTest, MutatedArchivesNeverCrashTheUnarchiver) {
    auto alice = person("Alice", 30);
    auto bob = person("Bob", 41);
    bob->attributes = Dictionary{{"tags", Array{"a", 2, 3.5, Data{1}}}};
    alice->friends = {bob, person("Carol", 7)};
    alice->bestFriend = bob;
    const std::vector<Data> seeds{
        *KeyedArchiver::archivedData(Value(alice)),
        *KeyedArchiver::archivedData(
            Value(Dictionary{{"list", Array{1, "x", Array{Dictionary{{"k", true}}}}}})),
    };

    std::mt19937 random(7251);
    auto pick = [&](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    std::size_t decoded = 0;
    for (int iteration = 0; iteration < 3000; ++iteration) {
        Data input = seeds[pick(seeds.size())];
        switch (iteration % 3) {
        case 0: // flip a few bytes anywhere
            for (std::size_t flips = 1 + pick(4); flips > 0; --flips)
                input[pick(input.size())] = static_cast<std::uint8_t>(pick(256));
            break;
        case 1: { // retarget UIDs: the byte after a one-byte UID marker (0x80)
            std::vector<std::size_t> uids;
            for (std::size_t i = 0; i + 1 < input.size(); ++i)
                if (input[i] == 0x80)
                    uids.push_back(i + 1);
            for (std::size_t n = 1 + pick(3); n > 0 && !uids.empty(); --n)
                input[uids[pick(uids.size())]] = static_cast<std::uint8_t>(pick(40));
            break;
        }
        default: // truncate
            input.resize(pick(input.size()));
            break;
        }
        auto result = KeyedUnarchiver::unarchivedObject(input, people());
        // Decoding refuses cycles, so whatever it returns is freed again (the leak checker agrees).
        if (result)
            ++decoded;
        else
            ASSERT_NE(result.error(), nullptr);
    }
    EXPECT_GT(decoded, 100u);
}

} // namespace
