#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "Platform/Files/FileReader.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

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
        appendNext = n <= 0;  // once per read of the file
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
    const auto result = FileReader::read(dir.path() / std::string("a.md\0b", 6), sink);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), std::error_code(EINVAL, std::generic_category()));
}

}  // namespace
}  // namespace larkspin
