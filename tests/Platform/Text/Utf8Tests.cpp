#include <gtest/gtest.h>

#include <string>

#include "Platform/Text/Utf8.hpp"

namespace larkspin {
namespace {

TEST(Utf8, AcceptsEveryValidFormIncludingNul) {
    EXPECT_TRUE(utf8::isValid(""));
    EXPECT_TRUE(utf8::isValid(std::string("a\0b", 3)));
    EXPECT_TRUE(
        utf8::isValid("\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xF0\x90\x80\x80\xF4"
                      "\x8F\xBF\xBF"));
    EXPECT_TRUE(utf8::isValid(std::string(1000, 'x') + "中文"));
}

TEST(Utf8, RefusesOverlongsSurrogatesOutOfRangeAndCutSequences) {
    const char* bad[] = {"\xC0\x80",
                         "\xC1\xBF",
                         "\xE0\x9F\xBF",
                         "\xED\xA0\x80",
                         "\xED\xBF\xBF",
                         "\xF0\x8F\xBF\xBF",
                         "\xF4\x90\x80\x80",
                         "\xF5\x80\x80\x80",
                         "\xFF",
                         "\x80",
                         "\xC3",
                         "\xE4\xB8",
                         "\xF0\x9F\x98",
                         "\xE4\x41\x80"};
    for (const char* b : bad)
        EXPECT_FALSE(utf8::isValid(b)) << testing::PrintToString(std::string(b));
    // The valid prefix stops right before the fault, also after the fast path.
    const std::string text = std::string(17, 'a') + "中" + "\xE4\xB8";
    EXPECT_EQ(utf8::validPrefixLength(text), 20u);
    EXPECT_EQ(utf8::countCharacters(std::string("a中\0b", 6)), 4);
}

}  // namespace
}  // namespace larkspin
