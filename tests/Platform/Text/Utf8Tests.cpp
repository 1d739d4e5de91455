#include <gtest/gtest.h>

#include <random>
#include <string>

#include "Platform/Text/Utf8.hpp"

namespace larkspin {
namespace {

TEST(Utf8, AcceptsEveryValidFormIncludingNulAndCountsCharacters) {
    EXPECT_TRUE(utf8::isValid(""));
    EXPECT_TRUE(
        utf8::isValid("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4"
                      "\x8F\xBF\xBF"));
    EXPECT_TRUE(utf8::isValid(std::string(1000, 'x') + "中文"));
    EXPECT_TRUE(utf8::isValid(std::string("a中\0b", 6)));
    EXPECT_EQ(utf8::countCharacters(std::string("a中\0b", 6)), 4);
}

TEST(Utf8, RefusesOverlongsSurrogatesOutOfRangeAndCutSequences) {
    for (const char* bad : {"\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xED\xBF\xBF",
                            "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF",
                            "\x80", "\xC3", "\xE4\xB8", "\xF0\x9F\x98", "\xE4\x41\x80"}) {
        EXPECT_FALSE(utf8::isValid(bad)) << testing::PrintToString(std::string(bad));
    }
}

// Reference: decode sequence by sequence, exactly as the standard's table.
std::size_t referenceValidPrefix(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned c = s[i];
        std::size_t length = 1;
        std::uint32_t scalar = c;
        if (c >= 0x80) {
            if ((c & 0xE0) == 0xC0) length = 2, scalar = c & 0x1F;
            else if ((c & 0xF0) == 0xE0) length = 3, scalar = c & 0x0F;
            else if ((c & 0xF8) == 0xF0) length = 4, scalar = c & 0x07;
            else return i;
            if (i + length > bytes.size()) return i;
            for (std::size_t k = 1; k < length; ++k) {
                if ((s[i + k] & 0xC0) != 0x80) return i;
                scalar = scalar << 6 | (s[i + k] & 0x3F);
            }
            const std::uint32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
            if (scalar < minimum || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
                return i;
        }
        i += length;
    }
    return bytes.size();
}

// Long inputs take the vectorised path: random text with a fault at a random
// character boundary (or none) must stop exactly where the reference stops.
TEST(Utf8, LongInputsAgreeWithAReferenceDecoderAtEveryFaultPosition) {
    std::mt19937 random(7);
    const std::string pieces[] = {"a", "\n", "\xC3\xA9", "\xE4\xB8\xAD", "\xF0\x9F\x98\x80",
                                  std::string(1, '\0'), "\xEF\xBB\xBF", "\xED\x9F\xBF"};
    const std::string faults[] = {"\x80", "\xC0\x80", "\xE0\x9F\xBF", "\xED\xA0\x80",
                                  "\xF4\x90\x80\x80", "\xF8", "\xE4\xB8", "\xF0\x9F\x98",
                                  "\xFF", "\xC3\xC3"};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = 64 + random() % 200;
        while (text.size() < length) {
            // Long ASCII stretches as well as dense multi-byte text.
            if (random() % 3 == 0) text.append(random() % 40, 'x');
            text += pieces[random() % std::size(pieces)];
        }
        if (round % 4 != 0) {
            std::size_t at = random() % (text.size() + 1);
            while (at < text.size() && (static_cast<unsigned char>(text[at]) & 0xC0) == 0x80) ++at;
            text.insert(at, faults[random() % std::size(faults)]);
        }
        ASSERT_EQ(utf8::validPrefixLength(text), referenceValidPrefix(text))
            << testing::PrintToString(text);
    }
}

// Faults placed on every position around the vectorised path's block edges.
TEST(Utf8, FaultJustAfterABlockBoundaryIsFoundExactly) {
    for (std::size_t offset = 0; offset < 300; ++offset) {
        SCOPED_TRACE(offset);
        // A valid four-byte character, then a stray continuation byte.
        std::string text = std::string(offset, 'a') + "\xF0\x9F\x98\x80\x80" + std::string(300, 'b');
        EXPECT_EQ(utf8::validPrefixLength(text), offset + 4);
        // A character cut short by plain ASCII, then nothing but ASCII.
        text.replace(offset, 5, "\xE4\xB8");
        EXPECT_EQ(utf8::validPrefixLength(text), offset);
        text.resize(offset + 2);  // cut at the very end
        text.insert(0, 64, 'c');
        EXPECT_EQ(utf8::validPrefixLength(text), 64 + offset);
    }
}

}  // namespace
}  // namespace larkspin
