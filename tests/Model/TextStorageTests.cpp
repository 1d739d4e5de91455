#include <glib.h>
#include <gtest/gtest.h>

#include <random>

#include "Model/TextStorage.hpp"

namespace larkspin {
namespace {

std::string utf8Of(std::u32string_view text) {
    std::string out;
    char buffer[6];
    for (const char32_t c : text) out.append(buffer, g_unichar_to_utf8(c, buffer));
    return out;
}

// Characters of every UTF-8 length, U+0000 among them.
constexpr char32_t kAlphabet[] = {U'a', U'\n', U'\0', U'é', U'ß', U'中', U'文', U'€', U'😀', U'𝄞'};

// Typing after a correction: wide characters replaced by narrower ones, then edits right
// behind the replacement, where a position remembered from before the edit would point into
// the wrong bytes; mixed with edits anywhere. Each edit is mirrored on a string of code
// points, and the text and the reported edit compared.
TEST(TextStorage, EditsAgreeWithACodePointReference) {
    for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
        SCOPED_TRACE(seed);
        std::mt19937 random(seed);
        auto pick = [&random](std::int64_t low, std::int64_t high) {
            return std::uniform_int_distribution<std::int64_t>(low, high)(random);
        };
        auto randomText = [&pick](std::int64_t shortest, std::int64_t longest) {
            std::u32string text(static_cast<std::size_t>(pick(shortest, longest)), U'a');
            for (auto& c : text) c = kAlphabet[pick(0, std::ssize(kAlphabet) - 1)];
            return text;
        };
        TextStorage storage;
        std::vector<TextStorage::Edit> edits;
        storage.setEditObserver(
            [&edits](TextStorage&, const TextStorage::Edit& edit) { edits.push_back(edit); });
        std::u32string reference = randomText(0, 40);
        storage.replaceAll(utf8Of(reference));
        auto replace = [&](std::int64_t location, std::int64_t count, const std::u32string& text) {
            location = std::clamp<std::int64_t>(location, 0, std::ssize(reference));
            count = std::clamp<std::int64_t>(count, 0, std::ssize(reference) - location);
            edits.clear();
            ASSERT_TRUE(storage.replaceCharacters({location, count}, utf8Of(text)));
            reference.replace(static_cast<std::size_t>(location), static_cast<std::size_t>(count),
                              text);
            ASSERT_EQ(edits.size(), 1u);
            EXPECT_EQ(edits[0].replacedRange, (TextRange{location, count}));
            EXPECT_EQ(edits[0].changeInLength, std::ssize(text) - count);
            ASSERT_EQ(storage.length(), std::ssize(reference));
            ASSERT_EQ(storage.string(), utf8Of(reference));
        };
        for (int step = 0; step < 12; ++step) {
            std::vector<std::int64_t> wide;  // positions before a character of several bytes
            for (std::size_t i = 0; i < reference.size(); ++i) {
                if (reference[i] >= 0x80) wide.push_back(static_cast<std::int64_t>(i));
            }
            const auto at = wide.empty()
                                ? std::optional<std::int64_t>()
                                : wide[static_cast<std::size_t>(pick(0, std::ssize(wide) - 1))];
            if (at && pick(0, 3) != 0) {
                const std::int64_t removed = pick(1, 3);
                std::u32string shorter(static_cast<std::size_t>(pick(0, removed)), U'x');
                ASSERT_NO_FATAL_FAILURE(replace(*at, removed, shorter));
                const std::int64_t after = *at + std::ssize(shorter);
                ASSERT_NO_FATAL_FAILURE(replace(after + pick(-1, 2), pick(0, 2), randomText(0, 3)));
                ASSERT_NO_FATAL_FAILURE(replace(after + pick(0, 4), pick(0, 1), randomText(1, 2)));
            } else {
                ASSERT_NO_FATAL_FAILURE(
                    replace(pick(0, std::ssize(reference)), pick(0, 4), randomText(0, 6)));
            }
        }
    }
}

TEST(TextStorage, RefusesRangesOutsideTheTextAndTextThatIsNotUtf8) {
    TextStorage storage;
    int edits = 0;
    storage.setEditObserver([&edits](TextStorage&, const TextStorage::Edit&) { ++edits; });
    ASSERT_TRUE(storage.replaceAll("aé中😀"));
    for (const TextRange range :
         {TextRange{-1, 1}, TextRange{0, -1}, TextRange{5, 0}, TextRange{3, 2},
          TextRange{0, INT64_MAX}, TextRange{INT64_MAX, INT64_MAX}}) {
        EXPECT_FALSE(storage.replaceCharacters(range, "x"))
            << range.location << "+" << range.length;
    }
    EXPECT_FALSE(storage.replaceCharacters({1, 1}, "\xED\xA0\x80"));  // not UTF-8: a surrogate
    EXPECT_FALSE(storage.replaceAll("ok\xFF"));
    EXPECT_EQ(storage.string(), "aé中😀");
    EXPECT_EQ(storage.length(), 4);
    EXPECT_EQ(edits, 1);
}

}  // namespace
}  // namespace larkspin
