// The payload codec's rules on a record of every kind of field: what decodes,
// what is refused with which error and where, and what never encodes.

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "Platform/Json/PayloadCodec.hpp"
#include "Protocol/ReaderTestSupport.hpp"

namespace larkspin {
namespace {

enum class Shade { light, dark };

struct Item {
    std::int64_t count = 0;
    std::int64_t depth = 0;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("count", self.count);
        coder.field("depth", self.depth, std::int64_t{7});
    }
};

struct Record {
    std::string text;
    double ratio = 0;
    bool flag = false;
    Shade shade = Shade::light;
    std::optional<std::string> note;
    std::vector<Item> items;
    std::map<std::string, std::string> tokens;
    JSONValue any;

    template <typename Self, typename Coder>
    static void codingFields(Self& self, Coder& coder) {
        coder.field("text", self.text);
        coder.field("ratio", self.ratio);
        coder.field("flag", self.flag);
        coder.field("shade", self.shade);
        coder.field("note", self.note);
        coder.field("items", self.items);
        coder.field("tokens", self.tokens);
        coder.field("any", self.any);
    }
};

}  // namespace

template <>
struct RawValueTable<Shade> {
    static constexpr auto entries = std::to_array<std::pair<Shade, std::string_view>>({
        {Shade::light, "light"},
        {Shade::dark, "dark"},
    });
};

namespace {

const char* const kRecord = R"({"text":"t","ratio":0.5,"flag":true,"shade":"dark",
    "items":[{"count":2,"depth":3}],"tokens":{"--a":"x"},"any":[1]})";

// The record with one member replaced (or removed: no value).
JSONValue recordWith(std::string_view key, std::optional<std::string_view> value) {
    JSONValue record = json(kRecord);
    if (value) {
        record.objectValue()->insert_or_assign(std::string(key), json(*value));
    } else {
        record.objectValue()->erase(std::string(key));
    }
    return record;
}

TEST(PayloadCodec, DecodingRefusesAWholeRecordAndSaysWhere) {
    using K = CodingError::Kind;
    const struct {
        const char* key;
        std::optional<const char*> value;
        K kind;
        const char* path;
    } cases[] = {
        {"text", std::nullopt, K::keyNotFound, ""},
        {"text", "null", K::valueNotFound, "text"},
        {"text", "5", K::typeMismatch, "text"},
        {"flag", "1", K::typeMismatch, "flag"},
        {"ratio", "\"0.5\"", K::typeMismatch, "ratio"},
        {"shade", "\"Dark\"", K::dataCorrupted, "shade"},
        {"shade", "0", K::typeMismatch, "shade"},
        {"items", "{}", K::typeMismatch, "items"},
        {"items", "[null]", K::valueNotFound, "items[0]"},
        {"items", R"([{"count":1},{"count":2.5}])", K::dataCorrupted, "items[1].count"},
        {"items", R"([{"depth":1}])", K::keyNotFound, "items[0]"},
        {"tokens", R"({"--a":1})", K::typeMismatch, "tokens.--a"},
        {"any", std::nullopt, K::keyNotFound, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.key) + " = " + c.value.value_or("<none>"));
        try {
            PayloadCodec::decode<Record>(recordWith(c.key, c.value));
            ADD_FAILURE() << "decoded";
        } catch (const CodingError& error) {
            EXPECT_EQ(error.kind(), c.kind) << error.what();
            EXPECT_EQ(error.codingPath(), c.path);
        }
    }
    EXPECT_THROW(PayloadCodec::decode<Record>(json("[]")), CodingError);
}

TEST(PayloadCodec, OptionalsDefaultsAndAnyValue) {
    // Null or missing: an optional is empty, a defaulted field takes its
    // default, a JSON value field keeps null; unknown keys are ignored.
    auto record = PayloadCodec::decode<Record>(recordWith("note", "null"));
    EXPECT_FALSE(record.note);
    record = PayloadCodec::decode<Record>(recordWith("items", R"([{"count":1,"depth":null},{"count":1}])"));
    EXPECT_EQ(record.items[0].depth, 7);
    EXPECT_EQ(record.items[1].depth, 7);
    record = PayloadCodec::decode<Record>(recordWith("any", "null"));
    EXPECT_TRUE(record.any.isNull());
    EXPECT_EQ(PayloadCodec::decode<Record>(recordWith("extra", "{}")).text, "t");

    // An empty optional is left out; a present one is written.
    EXPECT_EQ(PayloadCodec::encode(PayloadCodec::decode<Record>(json(kRecord))), json(kRecord));
    record.note = "n";
    EXPECT_EQ(*PayloadCodec::encode(record).find("note"), JSONValue::string("n"));
}

TEST(PayloadCodec, IntegersAreWholeNumbersWithin64Bits) {
    const struct {
        const char* number;
        std::optional<std::int64_t> expected;  // none: refused
    } cases[] = {
        {"5", 5},
        {"5.0", 5},
        {"-0.0", 0},
        {"5e0", 5},
        {"-9223372036854775808", INT64_MIN},
        {"5.5", std::nullopt},
        {"1e-7", std::nullopt},
        {"9223372036854775807", std::nullopt},  // rounds to 2^63 as a double
        {"-9223372036854777856", std::nullopt},
        {"1e19", std::nullopt},
        {"\"5\"", std::nullopt},
        {"true", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto items = recordWith("items", std::string(R"([{"count":)") + c.number + "}]");
        if (c.expected) {
            EXPECT_EQ(PayloadCodec::decode<Record>(items).items[0].count, *c.expected) << c.number;
        } else {
            EXPECT_THROW(PayloadCodec::decode<Record>(items), CodingError) << c.number;
        }
    }
}

TEST(PayloadCodec, NonFiniteNumbersNeverEncode) {
    auto record = PayloadCodec::decode<Record>(json(kRecord));
    for (const double bad : {std::nan(""), std::numeric_limits<double>::infinity()}) {
        record.ratio = bad;
        try {
            PayloadCodec::encode(record);
            ADD_FAILURE() << "encoded";
        } catch (const CodingError& error) {
            EXPECT_EQ(error.kind(), CodingError::Kind::invalidValue);
            EXPECT_EQ(error.codingPath(), "ratio");
        }
    }
    record.ratio = 0;
    record.any = JSONValue::array({JSONValue::number(INFINITY)});
    EXPECT_THROW(PayloadCodec::encode(record), CodingError);
}

}  // namespace
}  // namespace larkspin
