#include <gtest/gtest.h>

#include <random>

#include "Model/DocumentTextEncoding.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Text/Utf8.hpp"

namespace larkspin {
namespace {

using Enc = DocumentTextEncoding;
using TextEncodingPolicy::decode;
using TextEncodingPolicy::Decoded;
using TextEncodingPolicy::encode;

std::string bytes(std::initializer_list<unsigned> values) {
    std::string out;
    for (unsigned v : values) out.push_back(static_cast<char>(v));
    return out;
}

// Latin-1 of every byte, as the fallback must produce it.
std::string latin1(std::string_view raw) {
    std::string out;
    for (unsigned char c : raw) {
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

TEST(DocumentTextEncoding, RawValuesRoundTripInDeclarationOrder) {
    std::vector<std::string_view> raws;
    for (auto e : allDocumentTextEncodings) {
        raws.push_back(rawValue(e));
        EXPECT_EQ(documentTextEncodingFromRaw(rawValue(e)), e);
    }
    EXPECT_EQ(raws,
              (std::vector<std::string_view>{"utf8", "utf8-bom", "utf16le", "utf16be", "latin1"}));
    EXPECT_EQ(documentTextEncodingFromRaw("UTF8"), std::nullopt);
    EXPECT_EQ(documentTextEncodingFromRaw(""), std::nullopt);
}

TEST(TextEncodingPolicy, MarksSelectTheEncoding) {
    EXPECT_EQ(decode(bytes({0xFF, 0xFE, 0x41, 0x00}), false), (Decoded{"A", Enc::utf16LE}));
    EXPECT_EQ(decode(bytes({0xFE, 0xFF, 0x00, 0x41}), false), (Decoded{"A", Enc::utf16BE}));
    EXPECT_EQ(decode("\xEF\xBB\xBF# \xE6\xA0\x87\xE9\xA2\x98", false),
              (Decoded{"# 标题", Enc::utf8BOM}));
    EXPECT_EQ(decode("", false), (Decoded{"", Enc::utf8}));
    EXPECT_EQ(decode("\xEF\xBB\xBF", false), (Decoded{"", Enc::utf8BOM}));
    // A mark alone decodes as empty UTF-16.
    EXPECT_EQ(decode(bytes({0xFF, 0xFE}), false), (Decoded{"", Enc::utf16LE}));
}

TEST(TextEncodingPolicy, NulIsTextNotAReasonForLatin1) {
    const std::string withNul("a\0b\xE4\xB8\xAD", 6);
    EXPECT_EQ(decode(withNul, false), (Decoded{withNul, Enc::utf8}));
    EXPECT_EQ(decode(bytes({0xFF, 0xFE, 0x00, 0x00, 0x41, 0x00}), false),
              (Decoded{std::string("\0A", 2), Enc::utf16LE}));
}

TEST(TextEncodingPolicy, UndecodableUtf16FallsToLatin1OverAllBytes) {
    // A lone high surrogate, a lone low surrogate, an odd byte count.
    for (const auto& raw :
         {bytes({0xFF, 0xFE, 0x00, 0xD8, 0x41, 0x00}), bytes({0xFF, 0xFE, 0x00, 0xDC}),
          bytes({0xFE, 0xFF, 0x00, 0x41, 0x00})}) {
        EXPECT_EQ(decode(raw, false), (Decoded{latin1(raw), Enc::latin1}))
            << testing::PrintToString(raw);
    }
}

TEST(TextEncodingPolicy, CutCharacterIsDroppedOnlyForAPartialPrefix) {
    const std::string text = "ab\xE4\xB8\xAD";  // "ab中"
    for (std::size_t cut = 1; cut <= 2; ++cut) {
        const std::string prefix = text.substr(0, text.size() - cut);
        EXPECT_EQ(decode(prefix, true), (Decoded{"ab", Enc::utf8}));
        EXPECT_EQ(decode(prefix, false), (Decoded{latin1(prefix), Enc::latin1}));
        EXPECT_EQ(decode("\xEF\xBB\xBF" + prefix, true), (Decoded{"ab", Enc::utf8BOM}));
    }
    // A fault in the middle is not a cut.
    const std::string broken =
        "a\xFF"
        "bc\xE4\xB8";
    EXPECT_EQ(decode(broken, true), (Decoded{latin1(broken), Enc::latin1}));
    EXPECT_EQ(decode("\xF0\x9F\x98", true), (Decoded{"", Enc::utf8}));
}

// The partial rule as stated: try dropping 1, 2, then 3 bytes and take the
// first prefix that is valid UTF-8.
std::optional<std::string> partialByDefinition(const std::string& body) {
    if (utf8::isValid(body)) return body;
    for (std::size_t k = 1; k <= 3 && k <= body.size(); ++k) {
        if (utf8::isValid(body.substr(0, body.size() - k))) return body.substr(0, body.size() - k);
    }
    return std::nullopt;
}

TEST(TextEncodingPolicy, PartialDecodingMatchesItsDefinitionOnRandomBytes) {
    std::mt19937 random(11);
    const unsigned alphabet[] = {0x41, 0x0A, 0x80, 0xBF, 0xC3, 0xA9, 0xE4,
                                 0xB8, 0xAD, 0xF0, 0x9F, 0xED, 0xA0, 0xFF};
    for (int round = 0; round < 20000; ++round) {
        std::string body;
        const std::size_t length = random() % 9;
        for (std::size_t i = 0; i < length; ++i)
            body.push_back(static_cast<char>(alphabet[random() % std::size(alphabet)]));
        if (body.starts_with("\xFF")) continue;  // keep clear of the UTF-16 marks
        const auto expected = partialByDefinition(body);
        const Decoded actual = decode(body, true);
        if (expected) {
            EXPECT_EQ(actual, (Decoded{*expected, Enc::utf8})) << testing::PrintToString(body);
        } else {
            EXPECT_EQ(actual, (Decoded{latin1(body), Enc::latin1})) << testing::PrintToString(body);
        }
    }
}

TEST(TextEncodingPolicy, Utf16PreviewCutInsideASurrogatePairStaysUtf16) {
    // "a😀" in UTF-16LE, cut after the high surrogate, and after an odd byte.
    const std::string full = bytes({0xFF, 0xFE, 0x61, 0x00, 0x3D, 0xD8, 0x00, 0xDE});
    EXPECT_EQ(decode(full, false), (Decoded{"a\xF0\x9F\x98\x80", Enc::utf16LE}));
    EXPECT_EQ(decode(full.substr(0, 6), true), (Decoded{"a", Enc::utf16LE}));
    EXPECT_EQ(decode(full.substr(0, 7), true), (Decoded{"a", Enc::utf16LE}));
    EXPECT_EQ(decode(full.substr(0, 6), false).encoding, Enc::latin1);
}

TEST(TextEncodingPolicy, EveryLosslessEncodingRoundTrips) {
    std::string text = "# Title 标题\r\nemoji \xF0\x9F\x98\x80 caf\xC3\xA9 \xEF\xBF\xBF";
    text += std::string("nul\0end", 7);
    text += std::string(100, 'x') + "\xE4\xB8\xAD";  // past the fast paths
    for (auto e : {Enc::utf8, Enc::utf8BOM, Enc::utf16LE, Enc::utf16BE}) {
        const auto encoded = encode(e, text);
        ASSERT_TRUE(encoded.has_value()) << rawValue(e);
        EXPECT_TRUE(encoded->starts_with(TextEncodingPolicy::bom(e)));
        EXPECT_EQ(decode(*encoded, false), (Decoded{text, e})) << rawValue(e);
    }
    EXPECT_EQ(*encode(Enc::utf16BE, "A\xF0\x9F\x98\x80"),
              bytes({0xFE, 0xFF, 0x00, 0x41, 0xD8, 0x3D, 0xDE, 0x00}));
    EXPECT_EQ(*encode(Enc::utf16LE, ""), bytes({0xFF, 0xFE}));
}

TEST(TextEncodingPolicy, WhatCannotBeWritten) {
    EXPECT_EQ(encode(Enc::latin1, "plain"), std::nullopt);
    // Not UTF-8 (a lone surrogate's bytes, a stray byte): no UTF-16 for it.
    EXPECT_EQ(encode(Enc::utf16LE, "a\xED\xA0\x80"), std::nullopt);
    EXPECT_EQ(encode(Enc::utf16BE, "a\xFF"), std::nullopt);
    EXPECT_FALSE(TextEncodingPolicy::isLossless(Enc::latin1));
    EXPECT_TRUE(TextEncodingPolicy::isLossless(Enc::utf16BE));
}

TEST(TextEncodingPolicy, NoticesComeFromTheTable) {
    EXPECT_EQ(TextEncodingPolicy::notice(Enc::utf8), std::nullopt);
    EXPECT_EQ(TextEncodingPolicy::notice(Enc::utf8BOM), std::nullopt);
    EXPECT_EQ(TextEncodingPolicy::notice(Enc::utf16BE), L10n::text("encoding.utf16"));
    EXPECT_EQ(TextEncodingPolicy::notice(Enc::latin1), L10n::text("encoding.latin1"));
    EXPECT_EQ(*TextEncodingPolicy::notice(Enc::utf16LE),
              "文件是 UTF-16 编码；保存时保持原编码与 BOM。");
}

TEST(TextEncodingPolicy, Latin1KeepsEveryByteValue) {
    std::string all;
    for (int c = 0; c < 256; ++c) all.push_back(static_cast<char>(c));
    all += std::string(20, '\xE9');  // a run past the fast path
    const Decoded decoded = decode(all, false);
    EXPECT_EQ(decoded.encoding, Enc::latin1);
    EXPECT_EQ(decoded.text, latin1(all));
    EXPECT_TRUE(utf8::isValid(decoded.text));
}

}  // namespace
}  // namespace larkspin
