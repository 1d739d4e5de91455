#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <future>

#include "Model/DocumentTextEncoding.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using Kind = DocumentLoadFailure::Kind;
constexpr std::size_t MiB = 1024 * 1024;

LoadedDocument loadBytes(std::string bytes) {
    return DocumentLoader::load(std::move(bytes));
}

SysCalls failingOpen(int error) {
    SysCalls sys = realSysCalls();
    sys.open = [error](const char*, int, mode_t) {
        errno = error;
        return -1;
    };
    return sys;
}

void appendTo(const std::filesystem::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(DocumentSizeTier, BoundsAreExclusive) {
    EXPECT_EQ(classifySizeTier(0), DocumentSizeTier::normal);
    EXPECT_EQ(classifySizeTier(5242880), DocumentSizeTier::normal);
    EXPECT_EQ(classifySizeTier(5242881), DocumentSizeTier::large);
    EXPECT_EQ(classifySizeTier(20971520), DocumentSizeTier::large);
    EXPECT_EQ(classifySizeTier(20971521), DocumentSizeTier::restricted);
    EXPECT_EQ(rawValue(DocumentSizeTier::restricted), "restricted");
}

TEST(DocumentLoadFailure, TitlesAndDetails) {
    EXPECT_EQ(DocumentLoadFailure::isDirectory().title(), "这是一个文件夹");
    EXPECT_EQ(DocumentLoadFailure::notFound().title(), "文件不存在");
    EXPECT_EQ(DocumentLoadFailure::notFound().detail(), L10n::text("load.detail.not_found"));
    EXPECT_EQ(DocumentLoadFailure::permissionDenied().detail(),
              L10n::text("load.detail.permission_denied"));
    const auto failure = DocumentLoadFailure::readError("Input/output error");
    EXPECT_EQ(failure.title(), "文件无法读取");
    EXPECT_EQ(failure.detail(), "读取时出错：Input/output error");
}

TEST(DocumentLoader, ClassifiesErrnoValues) {
    const auto classify = [](int value) {
        return DocumentLoader::classify({value, std::generic_category()});
    };
    EXPECT_EQ(classify(EACCES).kind, Kind::permissionDenied);
    EXPECT_EQ(classify(EPERM).kind, Kind::permissionDenied);
    EXPECT_EQ(classify(ENOENT).kind, Kind::notFound);
    EXPECT_EQ(classify(EISDIR).kind, Kind::isDirectory);
    EXPECT_EQ(DocumentLoader::classify({EACCES, std::system_category()}).kind,
              Kind::permissionDenied);
    EXPECT_EQ(classify(EIO), DocumentLoadFailure::readError(g_strerror(EIO)));
    EXPECT_EQ(DocumentLoader::classify(FileReadError::notRegularFile),
              DocumentLoadFailure::readError(L10n::text("load.error.not_regular_file")));
    const auto foreign = std::make_error_code(std::future_errc::broken_promise);
    EXPECT_EQ(DocumentLoader::classify(foreign), DocumentLoadFailure::readError(foreign.message()));
}

TEST(DocumentLoader, LoadsTextWithEncodingLineEndingAndTheVersionOfWhatWasRead) {
    test::TempDir dir;
    const std::string bytes = "\xEF\xBB\xBF# 标题\r\n\r\nText\r\n";
    const auto path = dir.write("doc.md", bytes);
    const LoadedDocument loaded = DocumentLoader::load(path);
    EXPECT_EQ(loaded.failure, std::nullopt);
    EXPECT_EQ(loaded.source, "# 标题\r\n\r\nText\r\n");
    EXPECT_EQ(loaded.encoding, DocumentTextEncoding::utf8BOM);
    EXPECT_EQ(loaded.lineEnding, LineEnding::crlf);
    EXPECT_EQ(loaded.byteCount, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(loaded.tier, DocumentSizeTier::normal);
    EXPECT_EQ(loaded.preview, std::nullopt);
    ASSERT_TRUE(loaded.diskVersion.has_value());
    EXPECT_EQ(*loaded.diskVersion, DiskVersion::read(path));
    EXPECT_EQ(loaded.diskVersion->contentDigest, DiskVersion::digest(bytes));
    EXPECT_EQ(loaded.encodingNotice(), std::nullopt);
}

TEST(DocumentLoader, EmptyFile) {
    test::TempDir dir;
    const LoadedDocument loaded = DocumentLoader::load(dir.write("empty.md", ""));
    EXPECT_EQ(loaded.source, "");
    EXPECT_EQ(loaded.tier, DocumentSizeTier::normal);
    EXPECT_EQ(loaded.encoding, DocumentTextEncoding::utf8);
    EXPECT_EQ(loaded.lineEnding, LineEnding::lf);
    ASSERT_TRUE(loaded.diskVersion.has_value());
    EXPECT_EQ(loaded.diskVersion->size, 0);
    LoadedDocument fromBytes = loadBytes("");
    fromBytes.diskVersion = loaded.diskVersion;
    EXPECT_EQ(loaded, fromBytes);
}

// Reading a file checks UTF-8 and counts breaks chunk by chunk as the bytes
// arrive; the result must not depend on where the chunks end.
TEST(DocumentLoader, ReadingAFileGivesWhatDecodingItsBytesGives) {
    const std::size_t chunk = FileReader::chunkSize;
    std::vector<std::string> cases;
    auto around = [&](std::size_t at, std::string_view piece) {
        std::string text(at, 'a');
        text += piece;
        text.append(300, 'b');
        text += "\r\n";
        cases.push_back(std::move(text));
    };
    for (std::size_t shift = 0; shift < 4; ++shift) {
        around(chunk - shift, "\xE4\xB8\xAD\xF0\x9F\x98\x80");  // characters across the chunk end
        around(chunk - shift, "\r\n");                          // CR LF across the chunk end
        around(chunk - shift, "\xE4\xB8");                      // a fault near the chunk end
        around(chunk - shift, "\xFF");
    }
    {
        std::string cut(chunk * 2 - 2, 'x');  // a file that ends inside a character
        cut += "\xE4\xB8";
        cases.push_back(cut);
    }
    cases.push_back(*TextEncodingPolicy::encode(DocumentTextEncoding::utf16BE,
                                                std::string(chunk, 'u') + "\r\nz\n"));
    cases.push_back(std::string("\xFF\xFE\x00\xD8", 4) +
                    std::string(chunk, '\n'));  // bad UTF-16: Latin-1
    cases.push_back(std::string("caf\xE9\r\n", 6) + std::string(chunk, 'l') + "\n");

    test::TempDir dir;
    for (const auto& bytes : cases) {
        const auto path = dir.write("case.md", bytes);
        LoadedDocument fromFile = DocumentLoader::load(path);
        ASSERT_TRUE(fromFile.diskVersion.has_value());
        EXPECT_EQ(fromFile.diskVersion->contentDigest, DiskVersion::digest(bytes));
        fromFile.diskVersion.reset();
        const LoadedDocument fromBytes = loadBytes(bytes);
        EXPECT_EQ(fromFile.encoding, fromBytes.encoding) << bytes.size();
        EXPECT_EQ(fromFile.lineEnding, fromBytes.lineEnding) << bytes.size();
        EXPECT_TRUE(fromFile == fromBytes) << bytes.size();
    }
}

TEST(DocumentLoader, TierBoundariesOfFiles) {
    test::TempDir dir;
    const std::string fiveMiB(5 * MiB, 'a');
    EXPECT_EQ(DocumentLoader::load(dir.write("a.md", fiveMiB)).tier, DocumentSizeTier::normal);
    EXPECT_EQ(DocumentLoader::load(dir.write("a.md", fiveMiB + "\n")).tier,
              DocumentSizeTier::large);
    const std::string twentyMiB(20 * MiB, 'a');
    const LoadedDocument large = DocumentLoader::load(dir.write("a.md", twentyMiB));
    EXPECT_EQ(large.tier, DocumentSizeTier::large);
    EXPECT_EQ(large.source.size(), 20 * MiB);
    EXPECT_EQ(loadBytes(twentyMiB + "a").tier, DocumentSizeTier::restricted);
}

TEST(DocumentLoader, RestrictedFileStreamsThroughTheDigestAndPreviewsItsFirstMebibyte) {
    test::TempDir dir;
    // "中" (three bytes) laid so that the first mebibyte ends after its first
    // byte; CRLF breaks are not counted for a preview.
    std::string bytes(MiB - 1, 'a');
    bytes += "\xE4\xB8\xAD\r\n";
    bytes.resize(20 * MiB + 1, 'z');
    const auto path = dir.write("big.md", bytes);
    const LoadedDocument loaded = DocumentLoader::load(path);
    EXPECT_EQ(loaded.failure, std::nullopt);
    EXPECT_EQ(loaded.tier, DocumentSizeTier::restricted);
    EXPECT_EQ(loaded.byteCount, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(loaded.source, "");
    EXPECT_EQ(loaded.encoding, DocumentTextEncoding::utf8);
    EXPECT_EQ(loaded.lineEnding, LineEnding::lf);
    ASSERT_TRUE(loaded.preview.has_value());
    EXPECT_EQ(*loaded.preview, std::string(MiB - 1, 'a'));
    ASSERT_TRUE(loaded.diskVersion.has_value());
    EXPECT_EQ(loaded.diskVersion->contentDigest, DiskVersion::digest(bytes));
    EXPECT_EQ(loaded.diskVersion->size, static_cast<std::int64_t>(bytes.size()));

    LoadedDocument fromBytes = loadBytes(bytes);
    fromBytes.diskVersion = loaded.diskVersion;
    EXPECT_TRUE(fromBytes == loaded);

    bytes[10] = '\xE9';  // not UTF-8: the preview is Latin-1
    const LoadedDocument latin = DocumentLoader::load(dir.write("big.md", bytes));
    EXPECT_EQ(latin.encoding, DocumentTextEncoding::latin1);
    ASSERT_TRUE(latin.preview.has_value());
    EXPECT_EQ(latin.preview->substr(0, 12), "aaaaaaaaaa\xC3\xA9");
}

TEST(DocumentLoader, AFileThatGrowsPastTheLimitWhileReadIsReadAgainAsRestricted) {
    test::TempDir dir;
    const auto path = dir.write("growing.md", std::string(20 * MiB - 10, 'a'));
    SysCalls sys = realSysCalls();
    int reads = 0;
    sys.read = [&](int fd, void* buffer, std::size_t count) {
        if (++reads == 2) appendTo(path, std::string(MiB, 'b'));
        return ::read(fd, buffer, count);
    };
    const LoadedDocument loaded = DocumentLoader::load(path, sys);
    EXPECT_EQ(loaded.tier, DocumentSizeTier::restricted);
    EXPECT_EQ(loaded.byteCount, static_cast<std::int64_t>(21 * MiB - 10));
    EXPECT_EQ(loaded.source, "");
    EXPECT_EQ(loaded.preview, std::string(MiB, 'a'));
    ASSERT_TRUE(loaded.diskVersion.has_value());
    EXPECT_EQ(loaded.diskVersion->size, static_cast<std::int64_t>(21 * MiB - 10));
}

TEST(DocumentLoader, TextAndVersionMatchWhenTheFileChangesDuringTheRead) {
    test::TempDir dir;
    const auto path = dir.write("doc.md", "first\n");
    SysCalls sys = realSysCalls();
    int reads = 0;
    sys.read = [&](int fd, void* buffer, std::size_t count) {
        if (++reads == 1) appendTo(path, "second\n");
        return ::read(fd, buffer, count);
    };
    const LoadedDocument loaded = DocumentLoader::load(path, sys);
    EXPECT_EQ(loaded.source, "first\nsecond\n");
    ASSERT_TRUE(loaded.diskVersion.has_value());
    EXPECT_EQ(loaded.diskVersion->contentDigest, DiskVersion::digest("first\nsecond\n"));
    EXPECT_EQ(*loaded.diskVersion, DiskVersion::read(path));
}

TEST(DocumentLoader, FoldersMissingFilesAndRefusals) {
    test::TempDir dir;
    LoadedDocument expected;
    expected.failure = DocumentLoadFailure::isDirectory();
    EXPECT_EQ(DocumentLoader::load(dir.path()), expected);

    // A missing file is found out without opening anything.
    SysCalls counting = realSysCalls();
    int opens = 0;
    counting.open = [&](const char* path, int flags, mode_t mode) {
        ++opens;
        return ::open(path, flags, mode);
    };
    expected.failure = DocumentLoadFailure::notFound();
    EXPECT_EQ(DocumentLoader::load(dir / "missing.md", counting), expected);
    EXPECT_EQ(opens, 0);

    const auto path = dir.write("doc.md", "text");
    EXPECT_EQ(DocumentLoader::load(path, failingOpen(EACCES)).failure,
              DocumentLoadFailure::permissionDenied());
    EXPECT_EQ(DocumentLoader::load(path, failingOpen(EPERM)).failure,
              DocumentLoadFailure::permissionDenied());

    SysCalls failingRead = realSysCalls();
    failingRead.read = [](int, void*, std::size_t) -> ssize_t {
        errno = EIO;
        return -1;
    };
    const LoadedDocument ioError = DocumentLoader::load(path, failingRead);
    EXPECT_EQ(ioError.failure, DocumentLoadFailure::readError(g_strerror(EIO)));
    EXPECT_EQ(ioError.source, "");
    EXPECT_EQ(ioError.byteCount, 0);
    EXPECT_EQ(ioError.diskVersion, std::nullopt);
}

TEST(DocumentLoader, FifosAndDevicesAreNeverRead) {
    test::TempDir dir;
    const auto fifo = dir / "pipe.md";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto notRegular =
        DocumentLoadFailure::readError(L10n::text("load.error.not_regular_file"));
    // Nobody writes to the FIFO: a blocking open or read would hang here.
    EXPECT_EQ(DocumentLoader::load(fifo).failure, notRegular);
    EXPECT_EQ(DocumentLoader::load(std::filesystem::path("/dev/zero")).failure, notRegular);

    // Swapped in after the path was checked: the open does not block and the
    // descriptor's own status refuses it.
    SysCalls racing = realSysCalls();
    racing.stat = [](const char*, struct stat* status) {
        *status = {};
        status->st_mode = S_IFREG | 0644;
        return 0;
    };
    EXPECT_EQ(DocumentLoader::load(fifo, racing).failure, notRegular);
}

// Saves that were killed leave temporary files beside the file they saved;
// opening it (through a link too) removes the old ones. Which files count is
// removeStaleTemporaryFiles' business, tested with it.
TEST(DocumentLoader, OpeningRemovesOldTemporaryFilesOfKilledSaves) {
    using namespace std::chrono_literals;
    test::TempDir dir;
    std::filesystem::create_directories(dir / "notes");
    const auto file = dir.write("notes/doc.md", "# doc\n");
    const auto link = dir / "link.md";
    std::filesystem::create_symlink(file, link);
    const auto old = dir.write("notes/" + temporaryFileName("doc.md", makeUUID()), "killed");
    const auto young = dir.write("notes/" + temporaryFileName("doc.md", makeUUID()), "saving");
    test::setModifiedAgo(old, 2h);
    test::setModifiedAgo(young, 10min);

    EXPECT_EQ(DocumentLoader::load(link).source, "# doc\n");
    EXPECT_FALSE(std::filesystem::exists(old));
    EXPECT_TRUE(std::filesystem::exists(young));
}

TEST(DocumentLoader, RestrictedDataDecodesOnlyItsPreview) {
    std::string bytes =
        *TextEncodingPolicy::encode(DocumentTextEncoding::utf16LE, std::string(11 * MiB, 'q'));
    const LoadedDocument loaded = loadBytes(bytes);
    EXPECT_EQ(loaded.tier, DocumentSizeTier::restricted);
    EXPECT_EQ(loaded.encoding, DocumentTextEncoding::utf16LE);
    EXPECT_EQ(loaded.preview, std::string(MiB / 2 - 1, 'q'));
    EXPECT_EQ(*loaded.encodingNotice(), L10n::text("encoding.utf16"));
}

}  // namespace
}  // namespace larkspin
