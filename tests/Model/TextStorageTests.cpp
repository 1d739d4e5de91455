#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "Model/TextStorage.hpp"

namespace larkspin {
namespace {

std::string utf8Of(std::u32string_view text) {
    std::string out;
    for (const char32_t c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// Characters of every UTF-8 length, U+0000 among them.
constexpr char32_t kAlphabet[] = {U'a', U'\n', U'\0', U'é', U'ß', U'中', U'文', U'€', U'😀', U'𝄞'};

// Edits of a storage mirrored on a string of code points, with the text and
// the reported edits compared after each one.
class Mirror {
public:
    explicit Mirror(std::uint32_t seed) : random_(seed) {
        storage_.setEditObserver([this](TextStorage&, const TextStorage::Edit& edit) {
            lastEdit_ = edit;
            ++edits_;
        });
        reference_ = randomText(0, 40);
        storage_.replaceAll(utf8Of(reference_));
    }

    std::int64_t length() const { return static_cast<std::int64_t>(reference_.size()); }
    std::int64_t pick(std::int64_t low, std::int64_t high) {
        return std::uniform_int_distribution<std::int64_t>(low, high)(random_);
    }
    std::u32string randomText(std::int64_t shortest, std::int64_t longest) {
        std::u32string text(static_cast<std::size_t>(pick(shortest, longest)), U'a');
        for (auto& c : text) c = kAlphabet[pick(0, std::ssize(kAlphabet) - 1)];
        return text;
    }
    // A position just before a character of more than one byte, if there is one.
    std::optional<std::int64_t> multiByteCharacter() {
        std::vector<std::int64_t> found;
        for (std::size_t i = 0; i < reference_.size(); ++i) {
            if (reference_[i] >= 0x80) found.push_back(static_cast<std::int64_t>(i));
        }
        if (found.empty()) return std::nullopt;
        return found[static_cast<std::size_t>(
            pick(0, static_cast<std::int64_t>(found.size()) - 1))];
    }

    // Applies one edit to both and checks that they still agree.
    void replace(std::int64_t location, std::int64_t length, const std::u32string& text) {
        location = std::clamp<std::int64_t>(location, 0, this->length());
        length = std::clamp<std::int64_t>(length, 0, this->length() - location);
        const int before = edits_;
        ASSERT_TRUE(storage_.replaceCharacters({location, length}, utf8Of(text)));
        reference_.replace(static_cast<std::size_t>(location), static_cast<std::size_t>(length),
                           text);
        ASSERT_EQ(edits_, before + 1);
        EXPECT_EQ(lastEdit_.replacedRange, (TextRange{location, length}));
        EXPECT_EQ(lastEdit_.changeInLength, static_cast<std::int64_t>(text.size()) - length);
        ASSERT_EQ(storage_.length(), this->length());
        ASSERT_EQ(storage_.string(), utf8Of(reference_));
    }

private:
    std::mt19937 random_;
    TextStorage storage_;
    std::u32string reference_;
    TextStorage::Edit lastEdit_{};
    int edits_ = 0;
};

// Typing after a correction: wide characters replaced by narrower ones, then
// edits right behind the replacement, where a position remembered from before
// the edit would point into the wrong bytes; mixed with edits anywhere.
TEST(TextStorage, EditsAgreeWithACodePointReference) {
    for (std::uint32_t seed = 1; seed <= 2000; ++seed) {
        SCOPED_TRACE(seed);
        Mirror mirror(seed);
        for (int step = 0; step < 12; ++step) {
            if (auto at = mirror.multiByteCharacter(); at && mirror.pick(0, 3) != 0) {
                const std::int64_t removed = mirror.pick(1, 3);
                std::u32string shorter(static_cast<std::size_t>(mirror.pick(0, removed)), U'x');
                ASSERT_NO_FATAL_FAILURE(mirror.replace(*at, removed, shorter));
                const std::int64_t after = *at + static_cast<std::int64_t>(shorter.size());
                ASSERT_NO_FATAL_FAILURE(mirror.replace(after + mirror.pick(-1, 2),
                                                       mirror.pick(0, 2), mirror.randomText(0, 3)));
                ASSERT_NO_FATAL_FAILURE(mirror.replace(after + mirror.pick(0, 4), mirror.pick(0, 1),
                                                       mirror.randomText(1, 2)));
            } else {
                ASSERT_NO_FATAL_FAILURE(mirror.replace(mirror.pick(0, mirror.length()),
                                                       mirror.pick(0, 4), mirror.randomText(0, 6)));
            }
        }
    }
}

TEST(TextStorage, RefusesRangesOutsideTheTextAndTextThatIsNotUtf8) {
    TextStorage storage;
    int edits = 0;
    storage.setEditObserver([&edits](TextStorage&, const TextStorage::Edit&) { ++edits; });
    ASSERT_TRUE(storage.replaceAll("aé中😀"));
    ASSERT_EQ(edits, 1);
    const std::pair<TextRange, std::string> refused[] = {
        {{-1, 1}, "x"},
        {{0, -1}, "x"},
        {{5, 0}, "x"},
        {{3, 2}, "x"},
        {{0, INT64_MAX}, "x"},
        {{INT64_MAX, INT64_MAX}, "x"},
        {{1, 1}, "\xC3"},          // cut sequence
        {{1, 1}, "\xED\xA0\x80"},  // surrogate
        {{1, 1}, "\xC0\xAF"},      // overlong
    };
    for (const auto& [range, text] : refused) {
        EXPECT_FALSE(storage.replaceCharacters(range, text))
            << range.location << "+" << range.length;
    }
    EXPECT_FALSE(storage.replaceAll("ok\xFF"));
    EXPECT_EQ(storage.string(), "aé中😀");
    EXPECT_EQ(storage.length(), 4);
    EXPECT_EQ(edits, 1);

    // The end of the text is a place to insert at.
    ASSERT_TRUE(storage.replaceCharacters({4, 0}, std::string("!\0", 2)));
    EXPECT_EQ(storage.string(), std::string("aé中😀!\0", 12));
    EXPECT_EQ(storage.length(), 6);
}

}  // namespace
}  // namespace larkspin
