#include <fcntl.h>
#include <glib.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <functional>
#include <future>
#include <memory>

#include "Model/DocumentTextEncoding.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Platform/Localization.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
constexpr std::size_t MiB = 1024 * 1024;

LoadedDocument loadBytes(std::string bytes) {
    return DocumentLoader::load(std::move(bytes));
}

// Reads through `sys`, whose `read` calls `before(n)` before the n-th read.
LoadedDocument loadWhile(const fs::path& path, std::function<void(int)> before) {
    SysCalls sys = realSysCalls();
    auto reads = std::make_shared<int>(0);
    sys.read = [before, reads](int fd, void* buffer, std::size_t count) {
        before(++*reads);
        return ::read(fd, buffer, count);
    };
    return DocumentLoader::load(path, sys);
}

void append(const fs::path& path, std::string_view bytes) {
    std::ofstream(path, std::ios::app | std::ios::binary) << bytes;
}

// Reading a file checks UTF-8 and counts breaks chunk by chunk as the bytes
// arrive; the result must not depend on where the chunks end.
TEST(DocumentLoader, ReadingAFileGivesWhatDecodingItsBytesGives) {
    const std::size_t chunk = FileReader::chunkSize;
    std::vector<std::string> cases{""};
    for (std::size_t shift = 0; shift < 4; ++shift) {
        for (const std::string_view piece :
             {"\xE4\xB8\xAD\xF0\x9F\x98\x80", "\r\n", "\xE4\xB8", "\xFF"}) {
            cases.push_back(std::string(chunk - shift, 'a') + std::string(piece) +
                            std::string(300, 'b') + "\r\n");
        }
    }
    cases.push_back(std::string(chunk * 2 - 2, 'x') + "\xE4\xB8");  // ends inside a character
    cases.push_back(*TextEncodingPolicy::encode(DocumentTextEncoding::utf16BE,
                                                std::string(chunk, 'u') + "\r\nz\n"));
    cases.push_back(std::string("\xFF\xFE\x00\xD8", 4) + std::string(chunk, '\n'));  // bad UTF-16
    cases.push_back(std::string("caf\xE9\r\n", 6) + std::string(chunk, 'l') + "\n");

    test::TempDir dir;
    for (const auto& bytes : cases) {
        SCOPED_TRACE(bytes.size());
        LoadedDocument fromFile = DocumentLoader::load(dir.write("case.md", bytes));
        ASSERT_TRUE(fromFile.diskVersion.has_value());
        EXPECT_EQ(fromFile.diskVersion->contentDigest, DiskVersion::digest(bytes));
        fromFile.diskVersion.reset();
        EXPECT_TRUE(fromFile == loadBytes(bytes));
    }
}

// A preview's text without its LF line breaks, after checking that every
// line (up to a CR or LF) is short and whole UTF-8: a text view lays out a
// line whole.
std::string joined(const std::optional<std::string>& preview) {
    if (!preview) return "<none>";
    std::string text;
    std::size_t begin = 0;
    while (begin <= preview->size()) {
        std::size_t end = preview->find_first_of("\r\n", begin);
        if (end == std::string::npos) end = preview->size();
        const std::string_view line(preview->data() + begin, end - begin);
        EXPECT_LE(line.size(), restrictedPreviewLineBytes + 3) << "a line at byte " << begin;
        EXPECT_TRUE(g_utf8_validate(line.data(), static_cast<gssize>(line.size()), nullptr));
        text += line;
        if (end < preview->size() && (*preview)[end] == '\r') text += '\r';
        begin = end + 1;
    }
    return text;
}

std::string withoutLineFeeds(std::string text) {
    std::erase(text, '\n');
    return text;
}

TEST(DocumentLoader, AFileOverTheLimitStreamsThroughTheDigestAndPreviewsItsFirstMebibyte) {
    test::TempDir dir;
    const LoadedDocument large = DocumentLoader::load(dir.write("a.md", std::string(20 * MiB, 'a')));
    EXPECT_EQ(large.tier, DocumentSizeTier::large);
    EXPECT_EQ(large.source.size(), 20 * MiB);

    // "中" (three bytes) laid so that the first mebibyte ends after its first
    // byte; CRLF breaks are not counted for a preview.
    std::string bytes(MiB - 1, 'a');
    bytes += "\xE4\xB8\xAD\r\n";
    bytes.resize(20 * MiB + 1, 'z');
    const LoadedDocument loaded = DocumentLoader::load(dir.write("big.md", bytes));
    EXPECT_EQ(loaded.failure, std::nullopt);
    EXPECT_EQ(loaded.tier, DocumentSizeTier::restricted);
    EXPECT_EQ(loaded.byteCount, static_cast<std::int64_t>(bytes.size()));
    EXPECT_EQ(loaded.source, "");
    EXPECT_EQ(joined(loaded.preview), std::string(MiB - 1, 'a'));
    ASSERT_TRUE(loaded.diskVersion.has_value());
    EXPECT_EQ(loaded.diskVersion->contentDigest, DiskVersion::digest(bytes));
    LoadedDocument fromBytes = loadBytes(bytes);
    fromBytes.diskVersion = loaded.diskVersion;
    EXPECT_TRUE(fromBytes == loaded);

    bytes[10] = '\xE9';  // not UTF-8: the preview is Latin-1
    const LoadedDocument latin = DocumentLoader::load(dir.write("big.md", bytes));
    EXPECT_EQ(latin.encoding, DocumentTextEncoding::latin1);
    EXPECT_EQ(latin.preview->substr(0, 12), "aaaaaaaaaa\xC3\xA9");
}

// A file of one long line: its preview comes in lines a text view can lay
// out, broken between characters; lines that end in time keep their ends.
TEST(DocumentLoader, APreviewBreaksLongLinesBetweenCharacters) {
    test::TempDir dir;
    std::string line;
    while (line.size() < 21 * MiB) line += "a中文";
    const LoadedDocument cjk = DocumentLoader::load(dir.write("line.md", line));
    ASSERT_EQ(cjk.tier, DocumentSizeTier::restricted);
    const std::string text = joined(cjk.preview);
    EXPECT_EQ(text, line.substr(0, text.size()));
    EXPECT_GT(text.size(), MiB - 4);

    std::string lines = "short\r\n" + std::string(restrictedPreviewLineBytes, 'b') + "\r" +
                        std::string(restrictedPreviewLineBytes, 'c') + "\n";
    lines.resize(21 * MiB, 'd');
    const LoadedDocument mixed = DocumentLoader::load(dir.write("mixed.md", lines));
    ASSERT_TRUE(mixed.preview);
    EXPECT_EQ(mixed.preview->substr(0, 2 * restrictedPreviewLineBytes + 10), lines.substr(0, 2 * restrictedPreviewLineBytes + 10))
        << "lines of the full length stay whole";
    EXPECT_EQ(joined(mixed.preview), withoutLineFeeds(lines.substr(0, MiB)));
}

TEST(DocumentLoader, TextAndVersionMatchWhenTheFileChangesDuringTheRead) {
    test::TempDir dir;
    const auto path = dir.write("doc.md", "first\n");
    const LoadedDocument loaded = loadWhile(path, [&](int n) {
        if (n == 1) append(path, "second\n");
    });
    EXPECT_EQ(loaded.source, "first\nsecond\n");
    EXPECT_EQ(loaded.diskVersion, DiskVersion::read(path));
    EXPECT_EQ(loaded.diskVersion->contentDigest, DiskVersion::digest("first\nsecond\n"));

    // Grown past the limit while read: restricted, with the version of all of it.
    const auto growing = dir.write("growing.md", std::string(20 * MiB - 10, 'a'));
    const LoadedDocument grown = loadWhile(growing, [&](int n) {
        if (n == 2) append(growing, std::string(MiB, 'b'));
    });
    EXPECT_EQ(grown.tier, DocumentSizeTier::restricted);
    EXPECT_EQ(grown.source, "");
    EXPECT_EQ(joined(grown.preview), std::string(MiB, 'a'));
    EXPECT_EQ(grown.byteCount, static_cast<std::int64_t>(21 * MiB - 10));
    EXPECT_EQ(grown.diskVersion, DiskVersion::read(growing));
}

TEST(DocumentLoader, FailuresOfFoldersMissingFilesRefusalsAndReads) {
    test::TempDir dir;
    const auto path = dir.write("doc.md", "text");
    const auto failing = [](int error, bool open) {
        SysCalls sys = realSysCalls();
        if (open) {
            sys.open = [error](const char*, int, mode_t) { return errno = error, -1; };
        } else {
            sys.read = [error](int, void*, std::size_t) -> ssize_t { return errno = error, -1; };
        }
        return sys;
    };
    int opens = 0;  // a missing file is found out without opening anything
    SysCalls counting = realSysCalls();
    counting.open = [&](const char* p, int f, mode_t m) { return ++opens, ::open(p, f, m); };
    const struct {
        fs::path path;
        SysCalls sys;
        DocumentLoadFailure failure;
    } cases[] = {
        {dir.path(), realSysCalls(), DocumentLoadFailure::isDirectory()},
        {dir / "missing.md", counting, DocumentLoadFailure::notFound()},
        {path, failing(EACCES, true), DocumentLoadFailure::permissionDenied()},
        {path, failing(EPERM, true), DocumentLoadFailure::permissionDenied()},
        {path, failing(EIO, false), DocumentLoadFailure::readError(g_strerror(EIO))},
    };
    for (const auto& c : cases) {
        LoadedDocument expected;
        expected.failure = c.failure;
        EXPECT_EQ(DocumentLoader::load(c.path, c.sys), expected) << c.path;
    }
    EXPECT_EQ(opens, 0);
    const auto foreign = std::make_error_code(std::future_errc::broken_promise);
    EXPECT_EQ(DocumentLoader::classify(foreign), DocumentLoadFailure::readError(foreign.message()));
    EXPECT_EQ(DocumentLoader::classify({EACCES, std::system_category()}),
              DocumentLoadFailure::permissionDenied());
}

TEST(DocumentLoader, FifosAndDevicesAreNeverRead) {
    test::TempDir dir;
    const auto fifo = dir / "pipe.md";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const auto notRegular =
        DocumentLoadFailure::readError(L10n::text("load.error.not_regular_file"));
    // Nobody writes to the FIFO: a blocking open or read would hang here.
    EXPECT_EQ(DocumentLoader::load(fifo).failure, notRegular);
    EXPECT_EQ(DocumentLoader::load(fs::path("/dev/zero")).failure, notRegular);

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
    const auto file = dir.write("notes/doc.md", "# doc\n");
    fs::create_symlink(file, dir / "link.md");
    const auto old = dir.write("notes/" + temporaryFileName("doc.md", makeUUID()), "killed");
    const auto young = dir.write("notes/" + temporaryFileName("doc.md", makeUUID()), "saving");
    test::setModifiedAgo(old, 2h);
    test::setModifiedAgo(young, 10min);

    EXPECT_EQ(DocumentLoader::load(dir / "link.md").source, "# doc\n");
    EXPECT_FALSE(fs::exists(old));
    EXPECT_TRUE(fs::exists(young));
}

// Listing a folder costs time that grows with its entries: loads list each
// folder once per launch (then for every file's leftovers at once), however
// many of its files open.
TEST(DocumentLoader, LoadsListEachFolderForLeftoversOncePerLaunch) {
    using namespace std::chrono_literals;
    test::TempDir dir;
    const auto first = dir.write("notes/a.md", "a");
    const auto second = dir.write("notes/b.md", "b");
    const auto elsewhere = dir.write("other/c.md", "c");
    const auto ofOther = dir.write("notes/" + temporaryFileName("b.md", makeUUID()), "killed");
    test::setModifiedAgo(ofOther, 2h);

    const std::size_t before = DocumentLoader::folderScanCount();
    EXPECT_EQ(DocumentLoader::load(first).source, "a");
    EXPECT_EQ(DocumentLoader::folderScanCount(), before + 1);
    EXPECT_FALSE(fs::exists(ofOther));  // every name of the folder at once

    const auto later = dir.write("notes/" + temporaryFileName("b.md", makeUUID()), "killed");
    test::setModifiedAgo(later, 2h);
    EXPECT_EQ(DocumentLoader::load(second).source, "b");
    EXPECT_EQ(DocumentLoader::load(first).source, "a");
    EXPECT_EQ(DocumentLoader::load(dir / "notes" / "." / "a.md").source, "a");
    EXPECT_EQ(DocumentLoader::folderScanCount(), before + 1);
    EXPECT_TRUE(fs::exists(later));  // left for the save of b.md or the next launch

    EXPECT_EQ(DocumentLoader::load(elsewhere).source, "c");
    EXPECT_EQ(DocumentLoader::folderScanCount(), before + 2);
}

}  // namespace
}  // namespace larkspin
