#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <random>
#include <string>

#include "Platform/Files/FileReader.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Platform/Text/Utf8.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

// ---- SHA-256 ---------------------------------------------------------------

TEST(Sha256, KnownDigestsAndPiecewiseInput) {
    EXPECT_EQ(sha256Hex(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    const std::string text(100000, 'x');
    Sha256 hash;
    for (std::size_t i = 0; i < text.size(); i += 777)
        hash.update(std::string_view(text).substr(i, 777));
    EXPECT_EQ(hash.finishHex(), sha256Hex(text));
    // After finishing, the object starts afresh.
    hash.update("abc");
    EXPECT_EQ(hash.finishHex(), sha256Hex("abc"));
}

// ---- UTF-8 validation over long inputs (the vectorised path) ---------------

// Reference: decode sequence by sequence, exactly as the standard's table.
std::size_t referenceValidPrefix(std::string_view bytes) {
    const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
    std::size_t i = 0;
    while (i < bytes.size()) {
        const unsigned c = s[i];
        std::size_t length;
        std::uint32_t scalar;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            length = 2, scalar = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            length = 3, scalar = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            length = 4, scalar = c & 0x07;
        } else {
            return i;
        }
        if (i + length > bytes.size()) return i;
        for (std::size_t k = 1; k < length; ++k) {
            if ((s[i + k] & 0xC0) != 0x80) return i;
            scalar = scalar << 6 | (s[i + k] & 0x3F);
        }
        const std::uint32_t minimum = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (scalar < minimum || scalar > 0x10FFFF || (scalar >= 0xD800 && scalar <= 0xDFFF))
            return i;
        i += length;
    }
    return bytes.size();
}

TEST(Utf8Validation, LongInputsAgreeWithAReferenceDecoderAtEveryFaultPosition) {
    std::mt19937 random(7);
    const std::string pieces[] = {"a",
                                  "\n",
                                  "\xC3\xA9",
                                  "\xE4\xB8\xAD",
                                  "\xF0\x9F\x98\x80",
                                  std::string(1, '\0'),
                                  "\xEF\xBB\xBF",
                                  "\xED\x9F\xBF"};
    const std::string faults[] = {
        "\x80", "\xC0\x80", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF4\x90\x80\x80",
        "\xF8", "\xE4\xB8", "\xF0\x9F\x98", "\xFF",         "\xC3\xC3"};
    for (int round = 0; round < 3000; ++round) {
        std::string text;
        const std::size_t length = 64 + random() % 200;
        while (text.size() < length) {
            // Long ASCII stretches as well as dense multi-byte text.
            if (random() % 3 == 0) text.append(random() % 40, 'x');
            text += pieces[random() % std::size(pieces)];
        }
        if (round % 4 != 0) {
            const std::size_t at = random() % (text.size() + 1);
            // Keep the fault on a character boundary so that its position is
            // unambiguous, and also try the very end (a cut sequence).
            std::size_t boundary = at;
            while (boundary < text.size() &&
                   (static_cast<unsigned char>(text[boundary]) & 0xC0) == 0x80) {
                ++boundary;
            }
            text.insert(boundary, faults[random() % std::size(faults)]);
        }
        ASSERT_EQ(utf8::validPrefixLength(text), referenceValidPrefix(text))
            << testing::PrintToString(text);
    }
}

TEST(Utf8Validation, FaultJustAfterABlockBoundaryIsFoundExactly) {
    for (std::size_t offset = 0; offset < 300; ++offset) {
        std::string text(offset, 'a');
        text += "\xF0\x9F\x98\x80";  // a valid four-byte character across the boundary
        text += "\x80";              // then a stray continuation byte
        text.append(300, 'b');
        EXPECT_EQ(utf8::validPrefixLength(text), offset + 4) << offset;
        // A character cut short by plain ASCII, then nothing but ASCII.
        text.replace(offset, 5, "\xE4\xB8");
        EXPECT_EQ(utf8::validPrefixLength(text), offset) << offset;
        text.resize(offset + 2);  // cut at the very end
        text.insert(0, 64, 'c');
        EXPECT_EQ(utf8::validPrefixLength(text), 64 + offset) << offset;
    }
}

// ---- FileReader --------------------------------------------------------------

class CollectingSink final : public FileReader::Sink {
public:
    void begin(const struct stat&) override {
        bytes.clear();
        ++begins;
    }
    std::span<char> nextBuffer() override { return {buffer, sizeof buffer}; }
    void didRead(std::span<const char> chunk) override { bytes.append(chunk.data(), chunk.size()); }

    std::string bytes;
    int begins = 0;

private:
    char buffer[4096];
};

void appendTo(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(FileReader, ReadsAgainWhenTheFileChangesDuringTheRead) {
    test::TempDir dir;
    const auto path = dir.write("growing.md", std::string(10000, 'a'));
    SysCalls sys = realSysCalls();
    int reads = 0;
    sys.read = [&](int fd, void* buffer, std::size_t count) {
        if (++reads == 1) appendTo(path, "more");  // a writer appends during the first read
        return ::read(fd, buffer, count);
    };
    CollectingSink sink;
    const auto result = FileReader::read(path, sink, sys);
    ASSERT_TRUE(result.has_value());
    EXPECT_TRUE(result->settled);
    EXPECT_EQ(result->attempts, 2);
    EXPECT_EQ(sink.begins, 2);
    EXPECT_EQ(sink.bytes, std::string(10000, 'a') + "more");
    EXPECT_EQ(result->bytesRead, 10004);
    EXPECT_EQ(result->status.st_size, 10004);
    EXPECT_EQ(result->contentDigest, sha256Hex(sink.bytes));
}

TEST(FileReader, GivesUpAfterThreeReadsOfAFileThatNeverHoldsStill) {
    test::TempDir dir;
    const auto path = dir.write("busy.md", "start");
    SysCalls sys = realSysCalls();
    bool appendNext = true;
    sys.read = [&](int fd, void* buffer, std::size_t count) {
        const ssize_t n = ::read(fd, buffer, count);
        if (n > 0 && appendNext) appendTo(path, "+");
        appendNext = n > 0 ? false : true;  // once per read of the file
        return n;
    };
    CollectingSink sink;
    const auto result = FileReader::read(path, sink, sys);
    ASSERT_TRUE(result.has_value());
    EXPECT_FALSE(result->settled);
    EXPECT_EQ(result->attempts, FileReader::maxAttempts);
    // What was read and its digest still belong together.
    EXPECT_EQ(result->contentDigest, sha256Hex(sink.bytes));
    EXPECT_EQ(result->bytesRead, static_cast<std::int64_t>(sink.bytes.size()));
}

TEST(FileReader, PathsAreBytesButNeverHoldANul) {
    test::TempDir dir;
    const std::filesystem::path odd = dir.path() / std::string("\xFF\n\x01 name%20.md");
    dir.write(odd.filename().native(), "odd");
    CollectingSink sink;
    ASSERT_TRUE(FileReader::read(odd, sink).has_value());
    EXPECT_EQ(sink.bytes, "odd");

    // "a.md\0b" would open "a.md" if passed on as a C string.
    dir.write("a.md", "wrong file");
    const std::filesystem::path withNul = dir.path() / std::string("a.md\0b", 6);
    const auto result = FileReader::read(withNul, sink);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), std::error_code(EINVAL, std::generic_category()));
}

}  // namespace
}  // namespace larkspin
