#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <unordered_set>

#include "Model/DiskVersion.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono_literals;

void setModificationTime(const std::filesystem::path& path, std::int64_t seconds, long nanos) {
    const timespec times[2] = {{seconds, nanos}, {seconds, nanos}};
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

TEST(DiskVersion, DescriptionShowsTwelveCharactersOfEachField) {
    const DiskVersion version{"αβγδεζηθικλμν", 42, distantPast(), DiskVersion::digest("abc")};
    EXPECT_EQ(version.description(),
              "DiskVersion(id=αβγδεζηθικλμ\u2026, size=42, sha256=ba7816bf8f01\u2026)");
}

// Every field tells versions apart; only size and digest tell contents apart.
TEST(DiskVersion, SameContentIgnoresIdentityAndDate) {
    const DiskVersion a{"aa", 3, distantPast() + 5s, "d1"};
    const DiskVersion others[] = {{"bb", 3, a.modificationDate, "d1"},
                                  {"aa", 3, a.modificationDate + 1ns, "d1"},
                                  {"aa", 3, a.modificationDate, "d2"},
                                  {"aa", 4, a.modificationDate, "d1"}};
    for (std::size_t i = 0; i < std::size(others); ++i) {
        EXPECT_NE(a, others[i]) << i;
        EXPECT_EQ(a.hasSameContent(others[i]), i < 2) << i;
    }
    EXPECT_EQ((std::unordered_set<DiskVersion>{a, others[0], others[1], a}).size(), 3u);
}

TEST(DiskVersion, ReadTakesIdentitySizeDigestAndClampedNanosecondDate) {
    struct stat status {
        .st_dev = 0xA1B2, .st_ino = 0x0102030405060708
    };
    EXPECT_EQ(DiskVersion::resourceIdentifierOf(status), "0807060504030201b2a1000000000000");
    test::TempDir dir;
    const auto path = dir.write("a.md", "hello");
    setModificationTime(path, 1700000000, 123456789);
    const DiskVersion version = DiskVersion::read(path);
    ASSERT_EQ(::stat(path.c_str(), &status), 0);
    EXPECT_EQ(version,
              (DiskVersion{DiskVersion::resourceIdentifierOf(status), 5,
                           Date(1700000000s + 123456789ns), DiskVersion::digest("hello")}));

    // Time stamps beyond ±292 years of 1970 are clamped, never overflowed
    // (ext4 itself stores up to the year 2446).
    dir.write("a.md", "");
    setModificationTime(path, 32503680000, 0);  // year 3000
    const DiskVersion empty = DiskVersion::read(path);
    EXPECT_EQ(empty.size, 0);
    EXPECT_EQ(empty.contentDigest, DiskVersion::digest(""));
    EXPECT_EQ(empty.modificationDate, Date::max());
    EXPECT_EQ(dateFromTimespec({-62135596800, 0}), distantPast());  // year 1
}

TEST(DiskVersion, ReadThrowsTheSystemError) {
    auto code = [](const std::filesystem::path& path, const SysCalls& sys) {
        try {
            DiskVersion::read(path, sys);
        } catch (const std::system_error& error) {
            return error.code();
        }
        return std::error_code();
    };
    test::TempDir dir;
    SysCalls failingRead = realSysCalls();
    failingRead.read = [](int, void*, std::size_t) -> ssize_t { return errno = EIO, -1; };
    using std::errc;
    EXPECT_EQ(code(dir / "missing.md", realSysCalls()),
              make_error_code(errc::no_such_file_or_directory));
    EXPECT_EQ(code(dir.path(), realSysCalls()), make_error_code(errc::is_a_directory));
    EXPECT_EQ(code("/dev/null", realSysCalls()), std::error_code(FileReadError::notRegularFile));
    EXPECT_EQ(code(dir.write("a.md", "text"), failingRead), make_error_code(errc::io_error));
}

}  // namespace
}  // namespace larkspin
