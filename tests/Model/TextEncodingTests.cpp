#include <glib.h>
#include <gtest/gtest.h>

#include "Model/DocumentTextEncoding.hpp"

namespace larkspin {
namespace {

using namespace std::string_literals;
using Enc = DocumentTextEncoding;
using TextEncodingPolicy::decode;
using TextEncodingPolicy::Decoded;
using TextEncodingPolicy::encode;

// Latin-1 of every byte, as the fallback must produce it.
std::string latin1(std::string_view raw) {
    gsize size = 0;
    g_autofree gchar* text =
        g_convert(raw.data(), std::ssize(raw), "UTF-8", "ISO-8859-1", nullptr, &size, nullptr);
    return {text, size};
}

TEST(TextEncodingPolicy, DecodeTakesMarksThenUtf8ThenLatin1) {
    std::string everyByte;
    for (int c = 0; c < 256; ++c) everyByte.push_back(static_cast<char>(c));
    everyByte += std::string(20, '\xE9');  // a run past the fast path
    // "a😀" in UTF-16LE, to be cut after the high surrogate or after an odd byte.
    const std::string emoji16 = "\xFF\xFE\x61\0\x3D\xD8\x00\xDE"s;
    struct Case {
        std::string bytes;
        bool partial;
        Decoded expected;  // Latin-1 of every byte when the text is left empty
    };
    const Case cases[] = {
        {"\xFF\xFE\x41\0"s, false, {"A", Enc::utf16LE}},
        {"\xFE\xFF\0A"s, false, {"A", Enc::utf16BE}},
        {"\xFF\xFE", false, {"", Enc::utf16LE}},  // a mark alone
        {"\xEF\xBB\xBF# 标题", false, {"# 标题", Enc::utf8BOM}},
        {"\xEF\xBB\xBF", false, {"", Enc::utf8BOM}},
        {"", false, {"", Enc::utf8}},
        // U+0000 is text, not a reason for Latin-1.
        {"a\0b中"s, false, {"a\0b中"s, Enc::utf8}},
        {"\xFF\xFE\0\0A\0"s, false, {"\0A"s, Enc::utf16LE}},
        // A lone high surrogate, a lone low surrogate, an odd byte count.
        {"\xFF\xFE\0\xD8\x41\0"s, false, {"", Enc::latin1}},
        {"\xFF\xFE\0\xDC\0\xDC"s, false, {"", Enc::latin1}},
        {"\xFE\xFF\0A\0"s, false, {"", Enc::latin1}},
        // A character cut at the end is dropped only for a partial prefix.
        {"ab\xE4\xB8", true, {"ab", Enc::utf8}},
        {"ab\xE4", true, {"ab", Enc::utf8}},
        {"ab\xFF\xFF\xFF\xFF", true, {"", Enc::latin1}},  // more than three bytes cut
        {"\xEF\xBB\xBF"s + "ab\xE4\xB8", true, {"ab", Enc::utf8BOM}},
        {"ab\xE4\xB8", false, {"", Enc::latin1}},
        {"\xF0\x9F\x98", true, {"", Enc::utf8}},
        {"a\xFF"s + "bc\xE4\xB8", true, {"", Enc::latin1}},  // a fault in the middle is no cut
        {emoji16, false, {"a\xF0\x9F\x98\x80", Enc::utf16LE}},
        {emoji16.substr(0, 6), true, {"a", Enc::utf16LE}},
        {emoji16.substr(0, 7), true, {"a", Enc::utf16LE}},
        {emoji16.substr(0, 6), false, {"", Enc::latin1}},
        {everyByte, false, {"", Enc::latin1}},
    };
    // Each is decoded, and what decodes whole and lossless is encoded back.
    for (const auto& [bytes, partial, expected] : cases) {
        SCOPED_TRACE(testing::PrintToString(bytes) + (partial ? " partial" : ""));
        const bool isLatin1 = expected.encoding == Enc::latin1;
        EXPECT_EQ(decode(bytes, partial),
                  (isLatin1 ? Decoded{latin1(bytes), Enc::latin1} : expected));
        if (!partial && !isLatin1) {
            EXPECT_EQ(encode(expected.encoding, expected.text), bytes);
        }
    }
}

TEST(TextEncodingPolicy, EveryLosslessEncodingRoundTripsAndLatin1IsNeverWritten) {
    std::string text = "# Title 标题\r\nemoji \xF0\x9F\x98\x80 caf\xC3\xA9 \xEF\xBF\xBF";
    text += "nul\0end"s + std::string(100, 'x') + "\xE4\xB8\xAD";  // past the fast paths
    for (auto e : {Enc::utf8, Enc::utf8BOM, Enc::utf16LE, Enc::utf16BE}) {
        SCOPED_TRACE(rawValue(e));
        const auto encoded = encode(e, text);
        ASSERT_TRUE(encoded.has_value());
        EXPECT_TRUE(encoded->starts_with(TextEncodingPolicy::bom(e)));
        EXPECT_EQ(decode(*encoded, false), (Decoded{text, e}));
    }
    EXPECT_EQ(encode(Enc::utf16BE, "A\xF0\x9F\x98\x80"), "\xFE\xFF\0A\xD8\x3D\xDE\0"s);
    EXPECT_EQ(encode(Enc::latin1, "plain"), std::nullopt);
    // Not UTF-8 (a lone surrogate's bytes, a stray byte): no UTF-16 for it.
    EXPECT_EQ(encode(Enc::utf16LE, "a\xED\xA0\x80"), std::nullopt);
    EXPECT_EQ(encode(Enc::utf16BE, "a\xFF"), std::nullopt);
}

}  // namespace
}  // namespace larkspin
