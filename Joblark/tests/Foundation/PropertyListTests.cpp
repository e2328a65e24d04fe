#include "joblark/Foundation/PropertyList.hpp"

#include "BinaryPlistWriter.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <random>
#include <sstream>
#include <string>

using namespace joblark;
using Code = PropertyListError::Code;
using Format = PropertyList::Format;
using W = joblark::testing::BinaryPlistWriter;

namespace {

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

Value sampleValue() {
    return Dictionary{{"name", "Grüße ✓ 😀 <&>"},
                      {"empty", ""},
                      {"count", 42},
                      {"negative", std::int64_t{-5}},
                      {"min", std::numeric_limits<std::int64_t>::min()},
                      {"max", std::numeric_limits<std::int64_t>::max()},
                      {"ratio", 0.25},
                      {"whole", 3.0},
                      {"yes", true},
                      {"no", false},
                      {"blob", Data{0, 1, 2, 0xFF}},
                      {"nothing", Data{}},
                      {"list", Array{1, "two", Array{}, Dictionary{}, Array{Array{3.5}}}},
                      {"nested", Dictionary{{"inner", Dictionary{{"deep", "value"}}}}}};
}

Code codeOf(const ErrorPtr& error) {
    auto typed = std::dynamic_pointer_cast<const PropertyListError>(error);
    EXPECT_TRUE(typed) << (error ? error->typeName() + ": " + error->localizedDescription() : "null error");
    return typed ? typed->code() : Code::malformed;
}

Value nested(std::size_t depth) {
    Value value = "leaf";
    for (std::size_t i = 0; i < depth; ++i) {
        Array wrapper; // not Array{value}: an initializer list would deep-copy the chain every level
        wrapper.push_back(std::move(value));
        value = Value(std::move(wrapper));
    }
    return value;
}

/// A binary property list whose root is the first object `build` adds.
template <class Build>
Data binary(Build build) {
    W w;
    build(w);
    return w.finish(0);
}

/// `levels` arrays, each referring `fanOut` times to the next, ending in a string.
Data chain(std::uint64_t levels, std::size_t fanOut) {
    return binary([&](W& w) {
        for (std::uint64_t i = 0; i < levels; ++i)
            w.array(W::Refs(fanOut, i + 1));
        w.string("leaf");
    });
}

TEST(PropertyListTest, ValuesRoundTripInBothFormatsKeepingTheirKinds) {
    for (auto [format, magic] : {std::pair{Format::binary, "bplist00"}, std::pair{Format::xml, "<?xml"}}) {
        auto bytes = PropertyList::serialize(sampleValue(), format);
        ASSERT_TRUE(bytes) << bytes.error()->localizedDescription();
        EXPECT_EQ(std::string(bytes->begin(), bytes->end()).rfind(magic, 0), 0u);
        auto back = PropertyList::deserialize(*bytes); // the format is detected from the bytes
        ASSERT_TRUE(back) << back.error()->localizedDescription();
        EXPECT_EQ(*back, sampleValue()) << back->description();
        // Value equality compares numbers across kinds, so check the kinds themselves.
        EXPECT_TRUE(back->find("count")->isInteger());
        EXPECT_TRUE(back->find("whole")->isReal());
        EXPECT_TRUE(back->find("yes")->isBool());
        EXPECT_TRUE(back->find("nothing")->isData());
    }
    for (const auto& value :
         {Value(std::int64_t{-7}), nested(500)}) { // a scalar root; deep, within the limit
        auto bytes = PropertyList::serialize(value);
        ASSERT_TRUE(bytes) << bytes.error()->localizedDescription();
        EXPECT_EQ(*PropertyList::deserialize(*bytes), value);
    }
    auto date = PropertyList::deserialize( // dates become seconds since 1970
        bytesOf("<?xml version=\"1.0\"?><plist version=\"1.0\"><date>2001-01-02T00:00:00Z</date></plist>"));
    ASSERT_TRUE(date && date->isReal());
    EXPECT_DOUBLE_EQ(*date->asDouble(), 978307200.0 + 86400.0);
}

TEST(PropertyListTest, BinaryOutputReadsBackThroughLibplistAtEveryWidth) {
    Array manyStrings; // more than 256 objects: two-byte references
    for (int i = 0; i < 300; ++i)
        manyStrings.emplace_back("item " + std::to_string(i));
    Array manyIntegers; // more than 65,536 objects and a file past 64 KiB: four-byte references and offsets
    for (std::int64_t i = 0; i < 70'000; ++i)
        manyIntegers.emplace_back(i * 7919 - 1'000'000);
    Dictionary wide;
    for (int i = 0; i < 40; ++i)
        wide.emplace("key ✓ " + std::to_string(i), Array(static_cast<std::size_t>(i), Value(i % 2 == 0)));
    const std::vector<std::pair<const char*, Value>> cases{
        {"strings", Array{"Grüße", "✓", "😀 outside the BMP", "日本語のテキストは十五文字より長いです", "",
                          "$null", std::string(14, 'a'), std::string(15, 'b'), std::string(16, 'c')}},
        {"integers",
         Array{0, 255, 256, 65535, 65536, std::int64_t{4294967295}, std::int64_t{4294967296}, -1, -256,
               std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::int64_t>::max()}},
        {"reals", Array{0.0, -2.5, 1e300, 5e-324, 0.1, 0.1}},
        {"data", Array{Data{}, Data(14, 0xAB), Data(15, 0xCD), Data(300, 7)}},
        {"containers", Dictionary{{"empty array", Array{}},
                                  {"empty dictionary", Dictionary{}},
                                  {"fifteen", Array(15, Value("same"))},
                                  {"wide", wide},
                                  {"many", manyStrings}}},
        {"many objects", manyIntegers},
    };
    for (const auto& [name, value] : cases) {
        auto bytes = PropertyList::serialize(value);
        ASSERT_TRUE(bytes) << name << ": " << bytes.error()->localizedDescription();
        auto back = PropertyList::deserialize(*bytes);
        ASSERT_TRUE(back) << name << ": " << back.error()->localizedDescription();
        EXPECT_EQ(*back, value) << name;
        // Equality compares numbers across kinds; libplist's own XML writer is the reference here.
        auto xml = PropertyList::serialize(*back, Format::xml);
        auto reference = PropertyList::serialize(value, Format::xml);
        ASSERT_TRUE(xml && reference) << name;
        EXPECT_EQ(*xml, *reference) << name;
    }

    // Text beyond ASCII is UTF-16BE behind a 0x6n marker (surrogate pairs for U+10000 and up).
    const std::vector<std::pair<std::string, Data>> encodings{
        {"A✓", {0x62, 0x00, 0x41, 0x27, 0x13}},
        {"😀", {0x62, 0xD8, 0x3D, 0xDE, 0x00}},
        {"plain", {0x55, 'p', 'l', 'a', 'i', 'n'}},
    };
    for (const auto& [text, expected] : encodings) {
        auto bytes = PropertyList::serialize(Value(text));
        ASSERT_TRUE(bytes && bytes->size() > 8 + expected.size()) << text;
        EXPECT_EQ(Data(bytes->begin() + 8, bytes->begin() + 8 + static_cast<std::ptrdiff_t>(expected.size())),
                  expected)
            << text;
    }
}

TEST(PropertyListTest, ValuesWithoutAPropertyListTypeAreRefused) {
    struct Thing : Object {};
    const std::vector<std::pair<Value, Code>> refused{
        {Value(), Code::unsupportedValue},
        {Dictionary{{"a", Array{1, Value()}}}, Code::unsupportedValue},
        {makeError("boom"), Code::unsupportedValue},
        {std::make_shared<Thing>(), Code::unsupportedValue},
        {std::string("nul\0inside", 10), Code::unsupportedValue},
        {"bad \xFF utf-8", Code::unsupportedValue},
        {"surrogate \xED\xA0\x80", Code::unsupportedValue},
        {Dictionary{{std::string("key\xC0\x80"), 1}}, Code::unsupportedValue},
        {nested(PropertyList::maximumDepth + 5), Code::tooComplex}};
    for (const auto& [value, code] : refused) {
        auto result = PropertyList::serialize(value);
        ASSERT_FALSE(result) << value.description();
        EXPECT_EQ(codeOf(result.error()), code) << value.description();
    }
}

TEST(PropertyListTest, HostileInputIsRefusedBeforeLibplistSeesIt) {
    // libplist's parsers recurse per level and would overflow the stack.
    std::string deepXML = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (const char* tag : {"<array>", "</array>"})
        for (int i = 0; i < 100000; ++i)
            deepXML += tag;
    const std::tuple<const char*, Data, Code> cases[] = {
        {"XML nested 100000 deep", bytesOf(deepXML), Code::tooComplex},
        {"binary nested 1000 deep", chain(1000, 1), Code::tooComplex},
        {"array containing itself", binary([](W& w) { w.array({0}); }), Code::malformed},
        {"a UTF-16 key holding U+0000 (libplist asserts)", binary([](W& w) {
             w.dictionary({1}, {1});
             w.utf16({'a', 0});
         }),
         Code::malformed},
        {"reference past the object table", binary([](W& w) { w.array({7}); }), Code::malformed},
        {"60 levels sharing the next twice: 2^60 nodes", chain(60, 2), Code::tooComplex},
        {"40 KB expanding into 400 MB of one string", binary([](W& w) {
             w.array(W::Refs(20000, 1));
             w.string(std::string(20000, 's'));
         }),
         Code::tooComplex}};
    for (const auto& [what, bytes, code] : cases) {
        auto result = PropertyList::deserialize(bytes);
        ASSERT_FALSE(result) << what;
        EXPECT_EQ(codeOf(result.error()), code) << what << ": " << result.error()->localizedDescription();
    }
    auto shared = PropertyList::deserialize(binary([](W& w) { // modest sharing is expanded into copies
        w.array({1, 1});
        w.string("k");
    }));
    ASSERT_TRUE(shared) << shared.error()->localizedDescription();
    EXPECT_EQ(*shared, Value(Array{"k", "k"}));
}

TEST(PropertyListTest, RandomMutatedAndTruncatedInputNeverCrashes) {
    std::mt19937 random(20240611);
    auto pick = [&](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    auto byte = [&] { return static_cast<std::uint8_t>(pick(256)); };
    const std::vector<Data> seeds{
        *PropertyList::serialize(sampleValue(), Format::binary),
        *PropertyList::serialize(sampleValue(), Format::xml),
        *PropertyList::serialize(Value(Array{nested(20), Dictionary{{"a", Data(300, 7)}}}))};
    std::vector<std::string> xmlTokens;
    std::istringstream tokens(
        "<array> </array> <dict> </dict> <key>k</key> <string>s</string> <true/> <array/> "
        "<integer>-1</integer> <real>1e308</real> <data>AAEC</data> <!-- --> <![CDATA[ ]]> "
        "<date>2020-01-01T00:00:00Z</date> &amp; &#x0; < > <plist> </plist>");
    for (std::string token; tokens >> token;)
        xmlTokens.push_back(token);
    std::size_t parsed = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        const std::size_t seed = pick(seeds.size());
        Data input = seeds[seed];
        if (iteration % 5 < 2) { // flip bytes
            for (std::size_t flips = 1 + pick(8); flips > 0; --flips)
                input[pick(input.size())] = byte();
        } else if (iteration % 5 == 2) { // truncate, into an exact-size buffer so that ASan sees over-reads
            input = Data(input.begin(), input.begin() + static_cast<std::ptrdiff_t>(pick(input.size())));
        } else if (iteration % 5 == 3) { // valid header and trailer shape around random objects and offsets
            input = bytesOf("bplist00");
            for (std::size_t n = pick(200); n > 0; --n)
                input.push_back(byte());
            input.insert(input.end(), 6, 0);
            input.push_back(static_cast<std::uint8_t>(1 + pick(2)));
            input.push_back(static_cast<std::uint8_t>(1 + pick(2)));
            for (int field = 0; field < 3; ++field) {
                input.insert(input.end(), 7, 0);
                input.push_back(static_cast<std::uint8_t>(pick(input.size() > 40 ? 40 : 8)));
            }
        } else { // random XML elements
            std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
            for (std::size_t n = pick(30); n > 0; --n)
                xml += xmlTokens[pick(xmlTokens.size())];
            input = bytesOf(xml);
        }
        auto result = PropertyList::deserialize(input);
        if (iteration % 5 == 2 && seed != 1) { // binary: its trailer is at the end
            EXPECT_FALSE(result) << "binary seed " << seed << " parsed when cut to " << input.size()
                                 << " bytes";
        }
        if (!result) {
            ASSERT_TRUE(std::dynamic_pointer_cast<const PropertyListError>(result.error())) << iteration;
            continue;
        }
        ++parsed; // whatever was read is written again or refused as unsupported
        auto rewritten = PropertyList::serialize(*result);
        ASSERT_TRUE(rewritten || codeOf(rewritten.error()) == Code::unsupportedValue) << iteration;
    }
    EXPECT_GT(parsed, 50u) << "mutations must get past the first checks";
}

} // namespace
