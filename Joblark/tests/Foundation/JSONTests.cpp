#include "joblark/Foundation/JSON.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <random>

using namespace joblark;

namespace {

Value parsed(std::string_view text, const JSON::ParseOptions& options = {}) {
    auto result = JSON::parse(text, options);
    if (!result) {
        ADD_FAILURE() << "does not parse: " << text << ": " << result.error()->localizedDescription();
        return Value();
    }
    return std::move(result).value();
}

std::shared_ptr<const JSONError> parseError(std::string_view text, const JSON::ParseOptions& options = {}) {
    auto result = JSON::parse(text, options);
    if (result) {
        ADD_FAILURE() << "parses unexpectedly: " << text.substr(0, 60);
        return nullptr;
    }
    auto error = std::dynamic_pointer_cast<const JSONError>(result.error());
    EXPECT_NE(error, nullptr) << result.error()->localizedDescription();
    return error;
}

std::shared_ptr<const JSONError> writeError(const Value& value) {
    auto result = JSON::write(value);
    if (result) {
        ADD_FAILURE() << "writes unexpectedly: " << *result;
        return nullptr;
    }
    return std::dynamic_pointer_cast<const JSONError>(result.error());
}

TEST(JSONParseTest, NumbersKeepIntegerDoubleAndBooleanApart) {
    const Value v = parsed(R"([0, -7, 9223372036854775807, -9223372036854775808, 9223372036854775808,
                               18446744073709551616, 1.5, 1e2, -0.0, 2E-3, true, false, null])");
    const Array& a = *v.asArray();
    ASSERT_EQ(a.size(), 13u);
    EXPECT_EQ(a[0].asInteger(), 0);
    EXPECT_EQ(a[1].asInteger(), -7);
    EXPECT_EQ(a[2].asInteger(), std::numeric_limits<std::int64_t>::max());
    EXPECT_EQ(a[3].asInteger(), std::numeric_limits<std::int64_t>::min());
    for (std::size_t i : {4u, 5u, 6u, 7u, 8u, 9u})
        EXPECT_TRUE(a[i].isReal()) << i;
    EXPECT_DOUBLE_EQ(*a[4].asDouble(), 9223372036854775808.0);
    EXPECT_DOUBLE_EQ(*a[5].asDouble(), 18446744073709551616.0);
    EXPECT_EQ(a[6].asDouble(), 1.5);
    EXPECT_EQ(a[7].asDouble(), 100.0);
    EXPECT_TRUE(std::signbit(*a[8].asDouble()));
    EXPECT_EQ(a[9].asDouble(), 0.002);
    EXPECT_EQ(a[10].asBool(), true);
    EXPECT_EQ(a[11].asBool(), false);
    EXPECT_TRUE(a[12].isNull());
}

TEST(JSONParseTest, ObjectsNestAndTheLastDuplicateKeyWins) {
    const Value v = parsed(R"( {"b": {"c": [1, {"d": "e"}]}, "a": 1, "a": 2, "": null} )");
    ASSERT_TRUE(v.isDictionary());
    EXPECT_EQ(v.asDictionary()->size(), 3u);
    EXPECT_EQ(v.find("a")->asInteger(), 2);
    EXPECT_TRUE(v.find("")->isNull());
    EXPECT_EQ(*v.find("b")->find("c")->at(1)->find("d")->asString(), "e");
    EXPECT_EQ(parsed("[]"), Value(Array{}));
    EXPECT_EQ(parsed("{}"), Value(Dictionary{}));
}

TEST(JSONParseTest, StringsDecodeEscapesAndSurrogatePairs) {
    const struct {
        const char* json;
        std::string expected;
    } cases[] = {
        {R"("\u00e9\u20AC")", "é€"},
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("a\u0000b")", std::string("a\0b", 3)},
        {"\"raw \xC3\xA9 \xF0\x9F\x98\x80\"", "raw é \xF0\x9F\x98\x80"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parsed(c.json), Value(c.expected)) << c.json;
}

TEST(JSONParseTest, MalformedInputFailsWithOffset) {
    const char* inputs[] = {
        "",
        "   \n\t ",
        R"({"a": 1)",
        R"({"a": [1, 2)",
        R"({"a": "unterminated)",
        "[1] x",
        "[1],",
        "{} {}",
        "[01]",
        "[1.]",
        "NaN",
        "[Infinity]",
        "[-Infinity]",
        "1e400",
        "{'a': 1}",
        "{\"a\" 1}",
        "[1,]",
        "\"\xC3\"",
        "\"\xFF\"",
        "\"\xED\xA0\x80\"",
        "\"\xC0\xAF\"",
        R"("\ud800")",
        R"("\udc00")",
        R"({"\udc00": 1})",
        R"("\u12")",
        R"("\x")",
        "\"tab\tin string\"",
    };
    for (const char* input : inputs) {
        auto error = parseError(input);
        if (!error)
            continue;
        EXPECT_EQ(error->code(), JSONError::Code::malformed) << input;
        EXPECT_TRUE(error->offset()) << input;
        EXPECT_NE(error->localizedDescription().find("offset"), std::string::npos)
            << error->localizedDescription();
    }
}

TEST(JSONParseTest, ErrorsNameTheProblemAndWhere) {
    EXPECT_EQ(parseError(R"({"key": [1, 2, tru]})")->localizedDescription(), "Invalid value at offset 18");
    EXPECT_EQ(parseError("")->offset(), 0u);
    // RapidJSON sees a NUL as the end of input; what follows must not be silently dropped.
    auto nul = parseError(std::string_view("[1]\0[2]", 7));
    EXPECT_EQ(nul->offset(), 3u);
}

TEST(JSONParseTest, FragmentsFollowTheOption) {
    const JSON::ParseOptions strict{.allowFragments = false};
    EXPECT_EQ(parsed("3"), Value(3));
    EXPECT_EQ(parsed("\"x\""), Value("x"));
    EXPECT_TRUE(parsed(" null ").isNull());
    for (const char* fragment : {"3", "\"x\"", "null", "true"})
        EXPECT_EQ(parseError(fragment, strict)->code(), JSONError::Code::fragmentNotAllowed) << fragment;
    EXPECT_EQ(parsed("[3]", strict), Value(Array{3}));
    EXPECT_EQ(parsed(R"({"a":3})", strict), Value(Dictionary{{"a", 3}}));
}

TEST(JSONParseTest, HostileNestingFailsEarly) {
    const std::size_t depth = 1'000'000;
    const std::string arrays(depth, '[');
    std::string objects;
    objects.reserve(depth * 5);
    for (std::size_t i = 0; i < depth; ++i)
        objects += "{\"a\":";
    for (const std::string* input : {&arrays, static_cast<const std::string*>(&objects)}) {
        auto error = parseError(*input);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), JSONError::Code::tooDeep);
        EXPECT_NE(error->localizedDescription().find("512"), std::string::npos)
            << error->localizedDescription();
        // The parser stops at the first bracket past the limit, not at the end of the input.
        EXPECT_LT(*error->offset(), 512u * 5 + 1);
    }
}

TEST(JSONParseTest, DepthLimitIsExact) {
    auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(JSON::parse(nested(512)));
    EXPECT_EQ(parseError(nested(513))->code(), JSONError::Code::tooDeep);
    EXPECT_TRUE(JSON::parse(nested(3), {.maxDepth = 3}));
    EXPECT_EQ(parseError(nested(4), {.maxDepth = 3})->code(), JSONError::Code::tooDeep);
}

TEST(JSONWriteTest, CompactSortedOutputIsExact) {
    const Value v(Dictionary{{"b", Array{true, nullptr, 1.5}}, {"a", 1}});
    EXPECT_EQ(JSON::write(v).value(), "{\"a\":1,\"b\":[true,null,1.5]}");
    EXPECT_EQ(JSON::write(Value(Dictionary{{"z", 1}, {"Z", 2}, {"a", 3}, {"aa", 4}})).value(),
              R"({"Z":2,"a":3,"aa":4,"z":1})");
    EXPECT_EQ(JSON::write(Value(1.0)).value(), "1.0");
    EXPECT_EQ(JSON::write(Value(0.1)).value(), "0.1");
    EXPECT_EQ(JSON::write(Value(-42)).value(), "-42");
    EXPECT_EQ(JSON::write(Value("\"\\\n\x01/é")).value(), "\"\\\"\\\\\\n\\u0001/é\"");
    EXPECT_EQ(JSON::write(Value(Dictionary{{"a", Array{}}}), {.prettyPrinted = true}).value(),
              "{\n    \"a\": []\n}");
}

TEST(JSONWriteTest, RoundTripsThroughParse) {
    const Value original(Dictionary{
        {"ints",
         Array{0, -1, std::numeric_limits<std::int64_t>::max(), std::numeric_limits<std::int64_t>::min()}},
        {"doubles", Array{0.1, 1.0, -2.5e-300, 1.7976931348623157e308, 5e-324, 1.0 / 3.0}},
        {"text", Array{"", std::string("nul\0inside", 10), "\xF0\x9F\x98\x80 \xE2\x82\xAC", "\t\"\\"}},
        {"mixed", Dictionary{{"b", false}, {"n", nullptr}, {"nested", Array{Array{Dictionary{}}}}}},
    });
    for (bool pretty : {false, true}) {
        const std::string text = JSON::write(original, {.prettyPrinted = pretty}).value();
        const Value back = parsed(text);
        EXPECT_EQ(back, original) << text;
        // Value equality is numeric across kinds, so check the kinds survived too.
        EXPECT_TRUE(back.find("ints")->at(1)->isInteger());
        EXPECT_TRUE(back.find("doubles")->at(1)->isReal());
        EXPECT_EQ(JSON::write(back, {.prettyPrinted = pretty}).value(), text);
    }
}

struct TestObject : Object {
    std::string className() const override { return "Joblark.TestObject"; }
};

TEST(JSONWriteTest, ValuesJSONCannotHoldFail) {
    const Value unsupported[] = {
        Value(Data{1, 2}),
        Value(makeError("boom")),
        Value(std::make_shared<TestObject>()),
        Value(std::numeric_limits<double>::quiet_NaN()),
        Value(Array{std::numeric_limits<double>::infinity()}),
        Value("\xC3"),
        Value("\xED\xA0\x80"),
        Value(Dictionary{{"\xFF", 1}}),
        Value(Dictionary{{"ok", Array{1, Value(Data{})}}}),
    };
    for (const Value& v : unsupported) {
        auto error = writeError(v);
        ASSERT_NE(error, nullptr) << v.description();
        EXPECT_EQ(error->code(), JSONError::Code::unsupportedValue) << v.description();
        EXPECT_FALSE(JSON::write(v, {.prettyPrinted = true})) << v.description();
    }
    EXPECT_NE(writeError(Value(Data{}))->localizedDescription().find("data"), std::string::npos);
}

TEST(JSONWriteTest, DeepValuesFailInsteadOfRecursingWithoutBound) {
    auto nested = [](std::size_t depth) {
        Value v = Array{};
        for (std::size_t i = 1; i < depth; ++i) {
            Array outer;
            outer.push_back(std::move(v));
            v = Value(std::move(outer));
        }
        return v;
    };
    EXPECT_TRUE(JSON::write(nested(512)));
    EXPECT_EQ(writeError(nested(513))->code(), JSONError::Code::tooDeep);
}

TEST(JSONParseTest, MutatedDocumentsNeverCrash) {
    const std::string seeds[] = {
        R"({"a":1,"b":[true,null,1.5],"c":{"d":"e\u00e9\ud83d\ude00"}})",
        R"([[[[{"x":[-0.5e10,123456789012345678901234567890]}]]]])",
        R"("just a string with \"escapes\" and \\ slashes")",
    };
    const char alphabet[] = "{}[]\":,\\u0123456789eE+-.tfnul \x80\xC3\xED\xFF";
    std::mt19937 random(20240601);
    std::size_t parsedCount = 0;
    for (int round = 0; round < 4000; ++round) {
        std::string doc = seeds[random() % std::size(seeds)];
        const int edits = 1 + static_cast<int>(random() % 4);
        for (int e = 0; e < edits && !doc.empty(); ++e) {
            const std::size_t at = random() % doc.size();
            const char c = alphabet[random() % (sizeof alphabet - 1)];
            switch (random() % 3) {
            case 0:
                doc[at] = c;
                break;
            case 1:
                doc.insert(doc.begin() + static_cast<std::ptrdiff_t>(at), c);
                break;
            default:
                doc.erase(at, 1);
                break;
            }
        }
        auto result = JSON::parse(doc);
        if (result) {
            ++parsedCount;
            // Whatever parses must write and read back to the same value.
            auto text = JSON::write(*result);
            ASSERT_TRUE(text) << doc << ": " << text.error()->localizedDescription();
            EXPECT_EQ(parsed(*text), *result) << doc;
        } else {
            EXPECT_NE(std::dynamic_pointer_cast<const JSONError>(result.error()), nullptr);
        }
    }
    EXPECT_GT(parsedCount, 0u);
}

} // namespace
