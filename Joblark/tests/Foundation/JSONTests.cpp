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
        return std::make_shared<JSONError>(JSONError::Code::malformed, "placeholder");
    }
    auto error = std::dynamic_pointer_cast<const JSONError>(result.error());
    EXPECT_NE(error, nullptr) << result.error()->localizedDescription();
    return error;
}

std::shared_ptr<const JSONError> writeError(const Value& value) {
    auto result = JSON::write(value);
    EXPECT_FALSE(result) << "writes unexpectedly: " << *result;
    return result ? nullptr : std::dynamic_pointer_cast<const JSONError>(result.error());
}

TEST(JSONParseTest, ScalarsKeepIntegerDoubleAndBooleanApart) {
    const Value v = parsed(R"([0, -7, 9223372036854775807, -9223372036854775808, 9223372036854775808,
                               1.5, 1e2, -0.0, 2E-3, true, false, null])");
    const Array& a = *v.asArray();
    ASSERT_EQ(a.size(), 12u);
    const std::int64_t ints[] = {0, -7, std::numeric_limits<std::int64_t>::max(),
                                 std::numeric_limits<std::int64_t>::min()};
    const double reals[] = {9223372036854775808.0, 1.5, 100.0, -0.0, 0.002};
    for (std::size_t i = 0; i < 4; ++i)
        EXPECT_EQ(a[i].asInteger(), ints[i]) << i;
    for (std::size_t i = 0; i < 5; ++i) {
        EXPECT_TRUE(a[4 + i].isReal()) << i;
        EXPECT_EQ(a[4 + i].asDouble(), reals[i]) << i;
    }
    EXPECT_TRUE(std::signbit(*a[7].asDouble()));
    EXPECT_EQ(a[9].asBool(), true);
    EXPECT_EQ(a[10].asBool(), false);
    EXPECT_TRUE(a[11].isNull());

    const Value o = parsed(R"( {"b": {"c": [1, {"d": "e"}]}, "a": 1, "a": 2, "": null} )");
    EXPECT_EQ(o.asDictionary()->size(), 3u);
    EXPECT_EQ(o.find("a")->asInteger(), 2); // the last duplicate key wins
    EXPECT_TRUE(o.find("")->isNull());
    EXPECT_EQ(*o.find("b")->find("c")->at(1)->find("d")->asString(), "e");
}

TEST(JSONParseTest, StringsDecodeEscapesAndSurrogatePairs) {
    const std::pair<const char*, std::string> cases[] = {
        {R"("\u00e9\u20AC")", "é€"},
        {R"("\ud83d\ude00")", "\xF0\x9F\x98\x80"},
        {R"("\"\\\/\b\f\n\r\t")", "\"\\/\b\f\n\r\t"},
        {R"("a\u0000b")", std::string("a\0b", 3)},
        {"\"raw \xC3\xA9 \xF0\x9F\x98\x80\"", "raw é \xF0\x9F\x98\x80"},
    };
    for (const auto& [json, expected] : cases)
        EXPECT_EQ(parsed(json), Value(expected)) << json;
}

TEST(JSONParseTest, MalformedInputFailsWithOffset) {
    const char* inputs[] = {
        "",
        R"({"a": 1)",
        R"({"a": "unterminated)",
        "[1] x",
        "[01]",
        "[1.]",
        "[-Infinity]",
        "1e400",
        "{\"a\" 1}",
        "[1,]",
        "\"\xC3\"",         // truncated sequence
        "\"\xFF\"",         // never valid
        "\"\xED\xA0\x80\"", // encoded surrogate
        "\"\xC0\xAF\"",     // overlong
        R"("\ud800")",
        R"("\udc00")",
        R"({"\udc00": 1})",
        R"("\u12")",
        R"("\x")",
        "\"tab\tin string\"",
    };
    for (const char* input : inputs) {
        auto error = parseError(input);
        ASSERT_NE(error, nullptr) << input;
        EXPECT_EQ(error->code(), JSONError::Code::malformed) << input;
        ASSERT_TRUE(error->offset()) << input;
        EXPECT_NE(error->localizedDescription().find("offset"), std::string::npos) << input;
    }
    EXPECT_EQ(parseError(R"({"key": [1, 2, tru]})")->localizedDescription(), "Invalid value at offset 18");
    EXPECT_EQ(parseError("")->offset(), 0u);
    // RapidJSON sees a NUL as the end of input; what follows must not be silently dropped.
    EXPECT_EQ(parseError(std::string_view("[1]\0[2]", 7))->offset(), 3u);
}

TEST(JSONParseTest, FragmentsFollowTheOption) {
    EXPECT_EQ(parsed("3"), Value(3));
    EXPECT_EQ(parsed("\"x\""), Value("x"));
    EXPECT_TRUE(parsed(" null ").isNull());
    const JSON::ParseOptions strict{.allowFragments = false};
    for (const char* fragment : {"3", "\"x\"", "null", "true"})
        EXPECT_EQ(parseError(fragment, strict)->code(), JSONError::Code::fragmentNotAllowed) << fragment;
    EXPECT_EQ(parsed("[3]", strict), Value(Array{3}));
    EXPECT_EQ(parsed(R"({"a":3})", strict), Value(Dictionary{{"a", 3}}));
}

TEST(JSONTest, NestingIsLimitedExactlyAndHostileDepthFailsEarly) {
    auto nested = [](std::size_t depth) { return std::string(depth, '[') + std::string(depth, ']'); };
    EXPECT_TRUE(JSON::parse(nested(512)));
    EXPECT_EQ(parseError(nested(513))->code(), JSONError::Code::tooDeep);
    EXPECT_TRUE(JSON::parse(nested(3), {.maxDepth = 3}));
    EXPECT_EQ(parseError(nested(4), {.maxDepth = 3})->code(), JSONError::Code::tooDeep);

    const std::size_t depth = 1'000'000;
    std::string objects;
    for (std::size_t i = 0; i < depth; ++i)
        objects += "{\"a\":";
    for (const std::string& input : {std::string(depth, '['), objects}) {
        auto error = parseError(input);
        ASSERT_NE(error, nullptr);
        EXPECT_EQ(error->code(), JSONError::Code::tooDeep);
        EXPECT_NE(error->localizedDescription().find("512"), std::string::npos)
            << error->localizedDescription();
        EXPECT_LT(*error->offset(), 512u * 5 + 1); // stops at the first bracket past the limit
    }

    Value deep = Array{};
    for (int i = 1; i < 513; ++i)
        deep = Value(Array{std::move(deep)});
    EXPECT_EQ(writeError(deep)->code(), JSONError::Code::tooDeep);
    EXPECT_TRUE(JSON::write(*deep.at(0)));
}

TEST(JSONWriteTest, CompactSortedOutputIsExactAndRoundTrips) {
    EXPECT_EQ(JSON::write(Value(Dictionary{{"b", Array{true, nullptr, 1.5}}, {"a", 1}, {"Z", 2}, {"aa", 4}}))
                  .value(),
              R"({"Z":2,"a":1,"aa":4,"b":[true,null,1.5]})");
    EXPECT_EQ(JSON::write(Value(Array{1.0, 0.1, -42, "\"\\\n\x01/é"})).value(),
              "[1.0,0.1,-42,\"\\\"\\\\\\n\\u0001/é\"]");
    EXPECT_EQ(JSON::write(Value(Dictionary{{"a", Array{}}}), {.prettyPrinted = true}).value(),
              "{\n    \"a\": []\n}");

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
        for (int e = 1 + static_cast<int>(random() % 4); e > 0 && !doc.empty(); --e) {
            const std::size_t at = random() % doc.size();
            const char c = alphabet[random() % (sizeof alphabet - 1)];
            const auto op = random() % 3;
            if (op == 0)
                doc[at] = c;
            else if (op == 1)
                doc.insert(at, 1, c);
            else
                doc.erase(at, 1);
        }
        auto result = JSON::parse(doc);
        if (!result) {
            EXPECT_NE(std::dynamic_pointer_cast<const JSONError>(result.error()), nullptr);
            continue;
        }
        ++parsedCount; // whatever parses must write and read back to the same value
        auto text = JSON::write(*result);
        ASSERT_TRUE(text) << doc << ": " << text.error()->localizedDescription();
        EXPECT_EQ(parsed(*text), *result) << doc;
    }
    EXPECT_GT(parsedCount, 0u);
}

} // namespace
