#include <gtest/gtest.h>

#include <random>

#include "Model/LineEnding.hpp"

namespace larkspin {
namespace {

using LineEndingPolicy::count;
using LineEndingPolicy::Counts;
using LineEndingPolicy::normalizeForSave;

// The counting rule, byte by byte with the previous byte remembered.
Counts countByDefinition(std::string_view text) {
    Counts c;
    bool previousCR = false;
    for (char b : text) {
        if (b == '\r') {
            if (previousCR) ++c.cr;
            previousCR = true;
        } else if (b == '\n') {
            ++(previousCR ? c.crlf : c.lf);
            previousCR = false;
        } else {
            if (previousCR) ++c.cr;
            previousCR = false;
        }
    }
    if (previousCR) ++c.cr;
    return c;
}

TEST(LineEnding, RawValues) {
    for (auto e : {LineEnding::lf, LineEnding::crlf, LineEnding::mixed}) {
        EXPECT_EQ(lineEndingFromRaw(rawValue(e)), e);
    }
    EXPECT_EQ(rawValue(LineEnding::crlf), "crlf");
    EXPECT_EQ(lineEndingFromRaw("CRLF"), std::nullopt);
}

TEST(LineEnding, CountsAndStyles) {
    EXPECT_EQ(count("a\r\nb\r\n"), (Counts{2, 0, 0}));
    EXPECT_EQ(LineEndingPolicy::detect("a\r\nb\r\n"), LineEnding::crlf);
    EXPECT_EQ(LineEndingPolicy::detect("a\nb"), LineEnding::lf);
    EXPECT_EQ(LineEndingPolicy::detect("no breaks"), LineEnding::lf);
    EXPECT_EQ(LineEndingPolicy::detect("a\rb"), LineEnding::mixed);  // bare CRs alone
    EXPECT_EQ(LineEndingPolicy::detect("a\r\nb\nc"), LineEnding::mixed);
    EXPECT_EQ(count("end\r"), (Counts{0, 0, 1}));
    EXPECT_EQ(count("\r\r\n\n\r"), (Counts{1, 1, 2}));
    EXPECT_EQ(count(""), (Counts{}));
}

TEST(LineEnding, LongTextsAndPiecesAgreeWithTheDefinition) {
    std::mt19937 random(3);
    const char alphabet[] = {'a', 'b', '\r', '\n', '\xE4'};
    for (int round = 0; round < 300; ++round) {
        std::string text;
        const std::size_t length = random() % 9000;  // past the 255-block counter flush
        for (std::size_t i = 0; i < length; ++i) {
            text.push_back(random() % 8 == 0 ? alphabet[2 + random() % 2] : alphabet[random() % 5]);
        }
        const Counts expected = countByDefinition(text);
        ASSERT_EQ(count(text), expected);
        // In pieces, cut anywhere (also between CR and LF).
        Counts pieces;
        std::size_t at = 0;
        while (at < text.size()) {
            const std::size_t size = std::min<std::size_t>(1 + random() % 700, text.size() - at);
            LineEndingPolicy::accumulate(pieces, std::string_view(text).substr(at, size),
                                         at > 0 && text[at - 1] == '\r');
            at += size;
        }
        ASSERT_EQ(pieces, expected);
    }
}

TEST(LineEnding, NormalizingForSave) {
    EXPECT_EQ(normalizeForSave("a\r\nb\nc", LineEnding::crlf), "a\r\nb\r\nc");
    EXPECT_EQ(normalizeForSave("\na\rb\n", LineEnding::crlf), "\r\na\rb\r\n");
    EXPECT_EQ(normalizeForSave("a\r\nb\r\n", LineEnding::crlf), "a\r\nb\r\n");
    EXPECT_EQ(normalizeForSave("", LineEnding::crlf), "");
    EXPECT_EQ(normalizeForSave("a\r\nb\nc", LineEnding::lf), "a\r\nb\nc");
    EXPECT_EQ(normalizeForSave("a\r\nb\nc", LineEnding::mixed), "a\r\nb\nc");
    const std::string nul("x\0\ny", 4);
    EXPECT_EQ(normalizeForSave(nul, LineEnding::crlf), std::string("x\0\r\ny", 5));
}

}  // namespace
}  // namespace larkspin
