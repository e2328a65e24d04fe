#include "joblark/Foundation/PropertyList.hpp"

#include "BinaryPlistWriter.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

using namespace joblark;
using joblark::testing::BinaryPlistWriter;
using Code = PropertyListError::Code;

namespace {

Data bytesOf(std::string_view text) {
    return Data(text.begin(), text.end());
}

std::string textOf(const Data& data) {
    return std::string(data.begin(), data.end());
}

Value sampleValue() {
    return Dictionary{
        {"name", "Grüße ✓ 😀 <&>"},
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
        {"nested", Dictionary{{"inner", Dictionary{{"deep", "value"}}}}},
    };
}

Code codeOf(const ErrorPtr& error) {
    auto typed = std::dynamic_pointer_cast<const PropertyListError>(error);
    EXPECT_TRUE(typed) << (error ? error->typeName() : "null error");
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

TEST(PropertyListTest, ValuesRoundTripInBothFormatsKeepingIntegersApartFromReals) {
    for (auto format : {PropertyList::Format::binary, PropertyList::Format::xml}) {
        auto bytes = PropertyList::serialize(sampleValue(), format);
        ASSERT_TRUE(bytes) << bytes.error()->localizedDescription();
        auto back = PropertyList::deserialize(*bytes);
        ASSERT_TRUE(back) << back.error()->localizedDescription();
        EXPECT_EQ(*back, sampleValue()) << back->description();
        // Value equality compares numbers across kinds, so check the kinds themselves.
        EXPECT_TRUE(back->find("count")->isInteger());
        EXPECT_TRUE(back->find("whole")->isReal());
        EXPECT_TRUE(back->find("yes")->isBool());
        EXPECT_TRUE(back->find("nothing")->isData());
    }
    // A scalar root is a valid property list too.
    auto scalar = PropertyList::serialize(Value(std::int64_t{-7}));
    ASSERT_TRUE(scalar);
    EXPECT_EQ(*PropertyList::deserialize(*scalar), Value(-7));
}

TEST(PropertyListTest, FormatIsChosenOnWriteAndDetectedOnRead) {
    auto binary = PropertyList::serialize(Value(Array{1, 2}), PropertyList::Format::binary);
    auto xml = PropertyList::serialize(Value(Array{1, 2}), PropertyList::Format::xml);
    ASSERT_TRUE(binary && xml);
    EXPECT_EQ(textOf(*binary).substr(0, 8), "bplist00");
    EXPECT_NE(textOf(*xml).find("<plist"), std::string::npos);
    EXPECT_EQ(*PropertyList::deserialize(*binary), *PropertyList::deserialize(*xml));
}

TEST(PropertyListTest, ValuesWithoutAPropertyListTypeAreRefused) {
    struct Thing : Object {};
    const std::vector<Value> unsupported{
        Value(),
        Value(Dictionary{{"a", Array{1, Value()}}}),
        Value(makeError("boom")),
        Value(std::make_shared<Thing>()),
        Value(std::string("nul\0inside", 10)),
        Value("bad \xFF utf-8"),
        Value("surrogate \xED\xA0\x80"),
        Value(Dictionary{{std::string("key\xC0\x80"), 1}}),
    };
    for (const auto& value : unsupported) {
        auto result = PropertyList::serialize(value);
        ASSERT_FALSE(result) << value.description();
        EXPECT_EQ(codeOf(result.error()), Code::unsupportedValue) << value.description();
        EXPECT_FALSE(result.error()->localizedDescription().empty());
    }
}

TEST(PropertyListTest, NestingIsBoundedOnWriteAndRead) {
    ASSERT_TRUE(PropertyList::serialize(nested(500), PropertyList::Format::xml));
    auto deepOK = PropertyList::serialize(nested(500));
    ASSERT_TRUE(deepOK);
    EXPECT_EQ(*PropertyList::deserialize(*deepOK), nested(500));

    auto tooDeep = PropertyList::serialize(nested(PropertyList::maximumDepth + 5));
    ASSERT_FALSE(tooDeep);
    EXPECT_EQ(codeOf(tooDeep.error()), Code::tooComplex);

    // libplist's own parsers recurse per level; this would overflow the stack if it reached them.
    std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
    for (int i = 0; i < 200000; ++i)
        xml += "<array>";
    for (int i = 0; i < 200000; ++i)
        xml += "</array>";
    xml += "</plist>";
    auto deepXML = PropertyList::deserialize(bytesOf(xml));
    ASSERT_FALSE(deepXML);
    EXPECT_EQ(codeOf(deepXML.error()), Code::tooComplex);

    BinaryPlistWriter writer;
    const std::uint64_t levels = 100000;
    for (std::uint64_t i = 0; i < levels; ++i)
        writer.array({i + 1});
    writer.string("leaf");
    auto deepBinary = PropertyList::deserialize(writer.finish(0));
    ASSERT_FALSE(deepBinary);
    EXPECT_EQ(codeOf(deepBinary.error()), Code::tooComplex);
}

TEST(PropertyListTest, HostileBinaryObjectGraphsAreRefusedBeforeParsing) {
    {
        BinaryPlistWriter writer; // an array that contains itself
        writer.array({0});
        auto result = PropertyList::deserialize(writer.finish(0));
        ASSERT_FALSE(result);
        EXPECT_EQ(codeOf(result.error()), Code::malformed);
    }
    {
        BinaryPlistWriter writer; // a reference past the object table
        writer.array({7});
        auto result = PropertyList::deserialize(writer.finish(0));
        ASSERT_FALSE(result);
        EXPECT_EQ(codeOf(result.error()), Code::malformed);
    }
    {
        // Each level refers twice to the next: 60 levels expand to 2^60 nodes.
        BinaryPlistWriter writer;
        for (std::uint64_t i = 0; i < 60; ++i)
            writer.array({i + 1, i + 1});
        writer.boolean(true);
        auto result = PropertyList::deserialize(writer.finish(0));
        ASSERT_FALSE(result);
        EXPECT_EQ(codeOf(result.error()), Code::tooComplex);
    }
    {
        // 40 KB that would expand into 400 MB of copies of one string.
        BinaryPlistWriter writer;
        std::vector<std::uint64_t> refs(20000, 1);
        writer.array(refs);
        writer.string(std::string(20000, 's'));
        auto result = PropertyList::deserialize(writer.finish(0));
        ASSERT_FALSE(result);
        EXPECT_EQ(codeOf(result.error()), Code::tooComplex);
    }
    {
        // Modest sharing is fine and is expanded into copies.
        BinaryPlistWriter writer;
        auto key = writer.string("k");
        auto shared = writer.array({key, key});
        auto root = writer.dictionary({key}, {shared});
        auto result = PropertyList::deserialize(writer.finish(root));
        ASSERT_TRUE(result) << result.error()->localizedDescription();
        EXPECT_EQ(*result, Value(Dictionary{{"k", Array{"k", "k"}}}));
    }
}

TEST(PropertyListTest, DatesAndUIDsAreRepresentedAsValues) {
    auto date = PropertyList::deserialize(bytesOf("<?xml version=\"1.0\"?><plist version=\"1.0\">"
                                                  "<date>2001-01-02T00:00:00Z</date></plist>"));
    ASSERT_TRUE(date) << date.error()->localizedDescription();
    ASSERT_TRUE(date->isReal());
    EXPECT_DOUBLE_EQ(*date->asDouble(), 978307200.0 + 86400.0);

    BinaryPlistWriter writer;
    auto uid = PropertyList::deserialize(writer.finish(writer.uid(7)));
    ASSERT_TRUE(uid);
    EXPECT_EQ(*uid, Value(Dictionary{{"CF$UID", 7}}));
}

TEST(PropertyListTest, NodeHolderOwnsExactlyOneTree) {
    auto made = PropertyList::makeNode(sampleValue());
    ASSERT_TRUE(made);
    PropertyList::Node node = std::move(*made);
    EXPECT_FALSE(*made);
    ASSERT_TRUE(node);

    PropertyList::Node other;
    other = std::move(node);
    EXPECT_FALSE(node);
    auto written = PropertyList::write(other.get(), PropertyList::Format::binary);
    ASSERT_TRUE(written);
    EXPECT_EQ(*PropertyList::deserialize(*written), sampleValue());
    EXPECT_EQ(*PropertyList::makeValue(other.get()), sampleValue());

    // reset() frees the old tree (the sanitizer build reports a leak otherwise).
    other.reset(PropertyList::makeNode(Value(1))->release());
    EXPECT_EQ(*PropertyList::makeValue(other.get()), Value(1));
    EXPECT_FALSE(PropertyList::write(nullptr, PropertyList::Format::xml));
}

TEST(PropertyListTest, TruncatedInputNeverParsesAsSomethingElse) {
    auto binary = *PropertyList::serialize(sampleValue(), PropertyList::Format::binary);
    for (std::size_t length = 0; length < binary.size(); ++length) {
        auto result = PropertyList::deserialize(std::span(binary.data(), length));
        EXPECT_FALSE(result) << "binary prefix of " << length << " bytes parsed";
    }
    auto xml = *PropertyList::serialize(sampleValue(), PropertyList::Format::xml);
    // Up to the root dictionary's closing tag (libplist does not insist on "</plist>").
    const std::size_t end = textOf(xml).rfind("</dict>");
    for (std::size_t length = 0; length < end; ++length) {
        // Only the heap-exact copy lets the sanitizer see a read past the end.
        Data prefix(xml.begin(), xml.begin() + static_cast<std::ptrdiff_t>(length));
        auto result = PropertyList::deserialize(prefix);
        if (result)
            EXPECT_NE(*result, sampleValue()) << "XML prefix of " << length << " bytes";
        else
            EXPECT_TRUE(std::dynamic_pointer_cast<const PropertyListError>(result.error()));
    }
}

TEST(PropertyListTest, RandomAndMutatedInputNeverCrashes) {
    std::mt19937 random(20240611);
    auto pick = [&](std::size_t bound) {
        return std::uniform_int_distribution<std::size_t>(0, bound - 1)(random);
    };
    auto byte = [&] { return static_cast<std::uint8_t>(pick(256)); };

    const std::vector<Data> seeds{
        *PropertyList::serialize(sampleValue(), PropertyList::Format::binary),
        *PropertyList::serialize(sampleValue(), PropertyList::Format::xml),
        *PropertyList::serialize(Value(Array{nested(20), Dictionary{{"a", Data(300, 7)}}})),
    };
    static const std::vector<std::string> xmlTokens{"<array>",
                                                    "</array>",
                                                    "<dict>",
                                                    "</dict>",
                                                    "<key>k</key>",
                                                    "<string>s</string>",
                                                    "<integer>-1</integer>",
                                                    "<real>1e308</real>",
                                                    "<true/>",
                                                    "<data>AAEC</data>",
                                                    "<date>2020-01-01T00:00:00Z</date>",
                                                    "<array/>",
                                                    "<!--",
                                                    "-->",
                                                    "<![CDATA[",
                                                    "]]>",
                                                    "&amp;",
                                                    "&#x0;",
                                                    "<",
                                                    ">",
                                                    "<plist version=\"1.0\">",
                                                    "</plist>"};

    std::size_t parsed = 0;
    for (int iteration = 0; iteration < 4000; ++iteration) {
        Data input;
        switch (iteration % 5) {
        case 0:
        case 1: {
            input = seeds[pick(seeds.size())];
            for (std::size_t flips = 1 + pick(8); flips > 0; --flips)
                input[pick(input.size())] = byte();
            break;
        }
        case 2: {
            input = seeds[pick(seeds.size())];
            input.resize(pick(input.size()));
            if (!input.empty() && pick(2))
                input.insert(input.begin() + pick(input.size()), byte());
            break;
        }
        case 3: {
            // Valid header and trailer shape around random objects and offsets.
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
            break;
        }
        default: {
            std::string xml = "<?xml version=\"1.0\"?><plist version=\"1.0\">";
            for (std::size_t n = pick(30); n > 0; --n)
                xml += xmlTokens[pick(xmlTokens.size())];
            input = bytesOf(xml);
            break;
        }
        }
        auto result = PropertyList::deserialize(input);
        if (result) {
            ++parsed;
            // Whatever was read must be writable or refused cleanly.
            auto rewritten = PropertyList::serialize(*result);
            if (!rewritten) {
                EXPECT_TRUE(rewritten.error());
            }
        } else {
            ASSERT_TRUE(std::dynamic_pointer_cast<const PropertyListError>(result.error()))
                << "iteration " << iteration;
        }
    }
    // Some mutations must survive parsing, or the run only exercised the first checks.
    EXPECT_GT(parsed, 50u);
}

} // namespace
