#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <unordered_set>

#include "Model/DiskVersion.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

constexpr std::string_view emptyDigest =
    "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855";

void setModificationTime(const std::filesystem::path& path, std::int64_t seconds,
                         long nanoseconds) {
    const timespec times[2] = {{seconds, nanoseconds}, {seconds, nanoseconds}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(DiskVersion, DescriptionShowsPrefixesWithAnEllipsisAlways) {
    const DiskVersion version{"0123456789abcdef0011223344556677", 42, distantPast(),
                              std::string(DiskVersion::digest("abc"))};
    EXPECT_EQ(version.description(),
              "DiskVersion(id=0123456789ab\u2026, size=42, sha256=ba7816bf8f01\u2026)");
    const DiskVersion unknown{"", 0, distantPast(), std::string(emptyDigest)};
    EXPECT_EQ(unknown.description(), "DiskVersion(id=\u2026, size=0, sha256=e3b0c44298fc\u2026)");
    EXPECT_EQ(DiskVersion({"abc", -1, distantPast(), ""}).description(),
              "DiskVersion(id=abc\u2026, size=-1, sha256=\u2026)");
}

TEST(DiskVersion, EqualityComparesAllFieldsAndSameContentOnlySizeAndDigest) {
    const DiskVersion a{"aa", 3, distantPast() + 5s, "d1"};
    DiskVersion touched = a;
    touched.modificationDate += 1ns;
    EXPECT_NE(a, touched);
    EXPECT_TRUE(a.hasSameContent(touched));
    DiskVersion moved = a;
    moved.resourceIdentifier = "bb";
    EXPECT_NE(a, moved);
    EXPECT_TRUE(a.hasSameContent(moved));
    EXPECT_FALSE(a.hasSameContent({"aa", 3, a.modificationDate, "d2"}));
    EXPECT_FALSE(a.hasSameContent({"aa", 4, a.modificationDate, "d1"}));

    std::unordered_set<DiskVersion> set{a, touched, moved, a};
    EXPECT_EQ(set.size(), 3u);
    EXPECT_EQ(std::hash<DiskVersion>{}(a), std::hash<DiskVersion>{}(DiskVersion(a)));
}

TEST(DiskVersion, ReadTakesIdentitySizeAndNanosecondDateFromTheDescriptor) {
    test::TempDir dir;
    const auto path = dir.write("a.md", "hello");
    setModificationTime(path, 1700000000, 123456789);
    const DiskVersion version = DiskVersion::read(path);

    struct stat status {};
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(version.size, 5);
    EXPECT_EQ(version.contentDigest, DiskVersion::digest("hello"));
    EXPECT_EQ(version.modificationDate.time_since_epoch(), 1700000000s + 123456789ns);
    ASSERT_EQ(version.resourceIdentifier.size(), 32u);
    // st_ino then st_dev, each eight bytes little-endian.
    std::uint64_t inode = 0, device = 0;
    for (int i = 7; i >= 0; --i) {
        inode = inode << 8 | std::stoul(version.resourceIdentifier.substr(2 * i, 2), nullptr, 16);
        device =
            device << 8 | std::stoul(version.resourceIdentifier.substr(16 + 2 * i, 2), nullptr, 16);
    }
    EXPECT_EQ(inode, status.st_ino);
    EXPECT_EQ(device, status.st_dev);
    EXPECT_EQ(version.resourceIdentifier, DiskVersion::resourceIdentifierOf(status));
}

TEST(DiskVersion, TouchedFileHasSameContentButAnotherVersion) {
    test::TempDir dir;
    const auto path = dir.write("a.md", "same bytes");
    setModificationTime(path, 1600000000, 1);
    const DiskVersion before = DiskVersion::read(path);
    setModificationTime(path, 1600000000, 2);
    const DiskVersion touched = DiskVersion::read(path);
    EXPECT_NE(before, touched);
    EXPECT_TRUE(before.hasSameContent(touched));

    dir.write("a.md", "SAME BYTES");  // same size, other bytes
    setModificationTime(path, 1600000000, 2);
    const DiskVersion changed = DiskVersion::read(path);
    EXPECT_EQ(changed.size, touched.size);
    EXPECT_FALSE(changed.hasSameContent(touched));
}

TEST(DiskVersion, EmptyFileAndDatesOutsideTheRepresentableRange) {
    test::TempDir dir;
    const auto path = dir.write("empty.md", "");
    const DiskVersion empty = DiskVersion::read(path);
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(empty.contentDigest, emptyDigest);

    // Time stamps beyond ±292 years of 1970 are clamped, never overflowed
    // (ext4 itself stores up to the year 2446).
    setModificationTime(path, 32503680000, 0);  // year 3000
    EXPECT_EQ(DiskVersion::read(path).modificationDate, Date::max());
    EXPECT_EQ(dateFromTimespec({-62135596800, 0}), distantPast());  // year 1
    EXPECT_EQ(distantPast().time_since_epoch() % 1s, 0ns);
    EXPECT_LT(distantPast(), dateFromTimespec({-9000000000, 0}));
}

TEST(DiskVersion, ReadThrowsTheSystemError) {
    test::TempDir dir;
    const auto code = [](auto&& body) -> std::error_code {
        try {
            body();
        } catch (const std::system_error& error) {
            return error.code();
        }
        return {};
    };
    EXPECT_EQ(code([&] { DiskVersion::read(dir / "missing.md"); }),
              std::error_code(ENOENT, std::generic_category()));
    EXPECT_EQ(code([&] { DiskVersion::read(dir.path()); }),
              std::error_code(EISDIR, std::generic_category()));
    EXPECT_EQ(code([&] { DiskVersion::read("/dev/null"); }),
              std::error_code(FileReadError::notRegularFile));

    const auto path = dir.write("a.md", "text");
    SysCalls failingRead = realSysCalls();
    failingRead.read = [](int, void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    EXPECT_EQ(code([&] { DiskVersion::read(path, failingRead); }),
              std::error_code(EIO, std::generic_category()));
}

}  // namespace
}  // namespace larkspin
