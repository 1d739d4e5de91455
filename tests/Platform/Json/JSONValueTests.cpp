#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

#include "Platform/Json/CodingError.hpp"
#include "Platform/Json/JSONValue.hpp"
#include "Protocol/ReaderTestSupport.hpp"

namespace larkspin {
namespace {

CodingError::Kind parseFailure(std::string_view text) {
    try {
        JSONValue::parse(text);
    } catch (const CodingError& error) {
        return error.kind();
    }
    ADD_FAILURE() << "parsed: " << text;
    return CodingError::Kind::invalidValue;
}

TEST(JSONValue, ScalarsKeepTheirKind) {
    EXPECT_EQ(json("true"), JSONValue::boolean(true));
    EXPECT_NE(json("true"), JSONValue::number(1));
    EXPECT_EQ(json("1"), JSONValue::number(1.0));
    EXPECT_EQ(json("1.0"), json("1"));
    EXPECT_EQ(json("\"1\""), JSONValue::string("1"));
    EXPECT_EQ(json("null"), JSONValue::null());
    EXPECT_EQ(json(" -2.5e3 "), JSONValue::number(-2500));
    EXPECT_EQ(json("18446744073709551615"), JSONValue::number(18446744073709551615.0));
}

TEST(JSONValue, ObjectsCompareWithoutKeyOrderAndArraysInOrder) {
    EXPECT_EQ(json(R"({"a":1,"b":[true,null]})"), json(R"({"b":[true,null],"a":1.0})"));
    EXPECT_NE(json("[1,2]"), json("[2,1]"));
    EXPECT_NE(json(R"({"a":1})"), json(R"({"a":1,"b":2})"));
    EXPECT_NE(JSONValue::number(NAN), JSONValue::number(NAN));
    // A repeated key keeps its last value.
    EXPECT_EQ(json(R"({"a":1,"a":2})"), json(R"({"a":2})"));
}

TEST(JSONValue, TextRoundTripsEveryFiniteValue) {
    const JSONValue value = json(R"({
        "text": "中文 \" \\ \n \u0000 end",
        "numbers": [0, -1, 0.1, 1e300, -5e-324, 9007199254740993, 123456.789],
        "nested": {"empty": {}, "list": [], "null": null, "flag": false}
    })");
    const std::string text = value.serialized();
    EXPECT_EQ(JSONValue::parse(text), value);
    EXPECT_EQ(json("[5.0, 2]").serialized(), "[5,2]");
    // NUL survives inside a string.
    EXPECT_EQ(json(R"("a\u0000b")").stringValue()->size(), 3u);
}

TEST(JSONValue, NonFiniteNumbersAndBrokenTextNeverEncode) {
    for (double bad :
         {std::numeric_limits<double>::quiet_NaN(), std::numeric_limits<double>::infinity(),
          -std::numeric_limits<double>::infinity()}) {
        JSONValue::Array nested{JSONValue::object({{"x", JSONValue::number(bad)}})};
        try {
            JSONValue::array(nested).serialized(JSONValue::InvalidText::replace);
            ADD_FAILURE() << "encoded " << bad;
        } catch (const CodingError& error) {
            EXPECT_EQ(error.kind(), CodingError::Kind::invalidValue);
            EXPECT_EQ(error.codingPath(), "[0].x");
        }
    }
    try {
        JSONValue::string("\xff\xfe").serialized();
        ADD_FAILURE() << "encoded invalid UTF-8";
    } catch (const CodingError& error) {
        EXPECT_EQ(error.kind(), CodingError::Kind::invalidValue);
    }
    // Unless told to write U+FFFD instead, in keys too.
    const auto broken = JSONValue::object({{"k\xff", JSONValue::string("a\xff\xfe b")}});
    EXPECT_EQ(broken.serialized(JSONValue::InvalidText::replace),
              "{\"k\xEF\xBF\xBD\":\"a\xEF\xBF\xBD\xEF\xBF\xBD b\"}");
}

// Nesting is bounded too, so that no input exhausts the stack.
TEST(JSONValue, RefusesWhatIsNotOneJSONValue) {
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    EXPECT_NO_THROW(JSONValue::parse(nested(JSONValue::maximumDepth)));
    const std::string cases[] = {
        "", "   ", "{", "[1,]", "{'a':1}", "NaN", "Infinity", "1 2", "{\"a\":1} x", "\"\xff\"",
        "01", "[1e400]", "-1e999", "tru", nested(JSONValue::maximumDepth + 1),
        std::string(1'000'000, '[')};
    for (const auto& text : cases) {
        EXPECT_EQ(parseFailure(text), CodingError::Kind::dataCorrupted) << text.substr(0, 20);
    }
}

TEST(JSONValue, FindReadsObjectMembersOnly) {
    const JSONValue value = json(R"({"a":{"b":null}})");
    ASSERT_NE(value.find("a"), nullptr);
    EXPECT_TRUE(value.find("a")->find("b")->isNull());
    EXPECT_EQ(value.find("b"), nullptr);
    EXPECT_EQ(json("[1]").find("0"), nullptr);
}

}  // namespace
}  // namespace larkspin
