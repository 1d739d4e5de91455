#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "Model/LineEnding.hpp"

namespace larkspin {
namespace {

using namespace std::string_literals;
using LineEndingPolicy::count;
using LineEndingPolicy::Counts;
using LineEndingPolicy::normalizeForSave;

// The counting rule: CR LF pairs, then the LFs and CRs outside them.
Counts countByDefinition(std::string_view text) {
    std::int64_t pairs = 0;
    for (auto at = text.find("\r\n"); at != text.npos; at = text.find("\r\n", at + 2)) ++pairs;
    return {pairs, std::ranges::count(text, '\n') - pairs, std::ranges::count(text, '\r') - pairs};
}

TEST(LineEnding, CountsStylesAndSaves) {
    const std::tuple<std::string, Counts, LineEnding, std::string> cases[] = {
        // text, its breaks, its style, the text saved as CRLF
        {"", {}, LineEnding::lf, ""},
        {"a\nb\x00\n"s, {0, 2, 0}, LineEnding::lf, "a\r\nb\x00\r\n"s},
        {"a\r\nb\r\n", {2, 0, 0}, LineEnding::crlf, "a\r\nb\r\n"},
        {"a\rb", {0, 0, 1}, LineEnding::mixed, "a\rb"},  // bare CRs alone
        {"end\r", {0, 0, 1}, LineEnding::mixed, "end\r"},
        {"a\r\nb\nc", {1, 1, 0}, LineEnding::mixed, "a\r\nb\r\nc"},
        {"\na\rb\n", {0, 2, 1}, LineEnding::mixed, "\r\na\rb\r\n"},
        {"\r\r\n\n\r", {1, 1, 2}, LineEnding::mixed, "\r\r\n\r\n\r"},
    };
    for (const auto& [text, counts, style, crlf] : cases) {
        SCOPED_TRACE(testing::PrintToString(text));
        EXPECT_EQ(count(text), counts);
        EXPECT_EQ(LineEndingPolicy::detect(text), style);
        EXPECT_EQ(normalizeForSave(text, LineEnding::crlf), crlf);
        // Other styles are written as they are.
        EXPECT_EQ(normalizeForSave(text, LineEnding::lf), text);
        EXPECT_EQ(normalizeForSave(text, LineEnding::mixed), text);
    }
}

TEST(LineEnding, LongTextsAndPiecesAgreeWithTheDefinition) {
    std::mt19937 random(3);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\xE4'};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (std::size_t i = random() % 9000; i > 0; --i) {  // past the 255-block counter flush
            text.push_back(random() % 8 == 0 ? alphabet[2 + random() % 2] : alphabet[random() % 5]);
        }
        const Counts expected = countByDefinition(text);
        ASSERT_EQ(count(text), expected);
        Counts pieces;  // in pieces cut anywhere, also between CR and LF
        for (std::size_t at = 0, size = 0; at < text.size(); at += size) {
            size = std::min<std::size_t>(1 + random() % 700, text.size() - at);
            LineEndingPolicy::accumulate(pieces, std::string_view(text).substr(at, size),
                                         at > 0 && text[at - 1] == '\r');
        }
        ASSERT_EQ(pieces, expected);
    }
    // Every lane of the vector counters full until they are summed.
    EXPECT_EQ(count(std::string(5000, '\n')), (Counts{0, 5000, 0}));
}

}  // namespace
}  // namespace larkspin
