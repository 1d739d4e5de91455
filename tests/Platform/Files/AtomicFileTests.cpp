#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(AtomicFile, GivesOurOwnModeAndFailsWithoutTouchingTheTarget) {
    test::TempDir dir;
    const auto target = dir.write("a.txt", "old");
    // Whatever the path held or led to: a world-writable file or a link to a
    // device (mode 0666) makes no world-writable file of ours.
    ASSERT_EQ(::chmod(target.c_str(), 0666), 0);
    std::filesystem::create_symlink("/dev/zero", dir / "link.json");
    for (const auto& written : {target, dir / "link.json"}) {
        SCOPED_TRACE(written);
        EXPECT_FALSE(writeFileAtomically(written, "new"));
        EXPECT_EQ(test::readFile(written), "new");
        struct stat st {};
        ASSERT_EQ(::lstat(written.c_str(), &st), 0);
        EXPECT_TRUE(S_ISREG(st.st_mode));
        EXPECT_EQ(st.st_mode & 07777, 0600u);
    }
    struct stat device {};
    ASSERT_EQ(::stat("/dev/zero", &device), 0);
    EXPECT_TRUE(S_ISCHR(device.st_mode));
    std::filesystem::remove(dir / "link.json");
    EXPECT_EQ(writeFileAtomically(dir / "missing" / "b.txt", "x"),
              std::errc::no_such_file_or_directory);

    // A failure at any step leaves the target as it was and no temporary file.
    for (const char* step : {"write", "fsync", "rename"}) {
        SCOPED_TRACE(step);
        SysCalls sys = realSysCalls();
        const std::string failing = step;
        if (failing == "write") sys.write = [](int, const void*, std::size_t) -> ssize_t { errno = ENOSPC; return -1; };
        if (failing == "fsync") sys.fsync = [](int) { errno = EIO; return -1; };
        if (failing == "rename") sys.rename = [](const char*, const char*) { errno = EXDEV; return -1; };
        EXPECT_TRUE(writeFileAtomically(target, "newer", 0644, sys));
        EXPECT_EQ(test::readFile(target), "new");
        EXPECT_EQ(namesIn(dir.path()), std::vector<std::string>{"a.txt"});
    }
}

TEST(AtomicFile, AnUnusableFileSetAsideNeverReplacesAnEarlierOne) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    const std::vector<std::string> names{"prefs.json.corrupt", "prefs.json.corrupt-2",
                                         "prefs.json.corrupt-3"};
    for (std::size_t i = 0; i < names.size(); ++i) {
        dir.write("prefs.json", "broken " + std::to_string(i));
        const auto aside = setAsideUnusableFile(file);
        ASSERT_TRUE(aside);
        EXPECT_EQ(aside->filename(), names[i]);
    }
    EXPECT_FALSE(std::filesystem::exists(file));
    for (std::size_t i = 0; i < names.size(); ++i)
        EXPECT_EQ(test::readFile(dir / names[i]), "broken " + std::to_string(i));
    // Without RENAME_NOREPLACE (some file systems) the same names are taken.
    SysCalls sys = realSysCalls();
    sys.renameNoReplace = [](const char*, const char*) { errno = EINVAL; return -1; };
    dir.write("prefs.json", "broken 3");
    const auto aside = setAsideUnusableFile(file, sys);
    ASSERT_TRUE(aside);
    EXPECT_EQ(aside->filename(), "prefs.json.corrupt-4");
    EXPECT_EQ(test::readFile(dir / "prefs.json.corrupt"), "broken 0");
}

TEST(AtomicFile, OnlyOurOwnOldTemporaryFilesOfThatNameAreRemoved) {
    using namespace std::chrono_literals;
    test::TempDir dir;
    const auto file = dir.write("doc.md", "text");
    const std::string uuid = makeUUID();
    const auto ours = [](std::string_view name, std::string_view id) {
        return temporaryFileName(name, id);
    };
    const std::string old = ours("doc.md", uuid);
    const std::string young = ours("doc.md", makeUUID());
    const std::vector<std::string> lookAlikes = {
        ours("other.md", uuid),
        ours("doc.m", uuid),
        ours("doc.md", std::string(uuid).replace(0, 8, "abcdef01")),
        ours("doc.md", uuid.substr(1)),
        ours("doc.md", uuid + "0"),
        ours("doc.md", std::string(uuid).replace(8, 1, "0")),
        ours("doc.md", std::string(uuid).replace(0, 1, "G")),
        ours("doc.md", uuid) + ".bak",
        ours("doc.md", uuid).substr(1),
    };
    dir.write(old, "killed save");
    dir.write(young, "save in progress");
    for (const auto& name : lookAlikes) dir.write(name, "someone else's");
    const std::string folder = ours("doc.md", makeUUID());
    std::filesystem::create_directory(dir / folder);
    const std::string link = ours("doc.md", makeUUID());
    const auto linked = dir.write("kept.txt", "not ours");
    std::filesystem::create_symlink(linked, dir / link);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename() != young) test::setModifiedAgo(entry.path(), 2h);
    }
    test::setModifiedAgo(dir / young, 50min);

    EXPECT_EQ(removeStaleTemporaryFiles(file), 1u);
    auto expected = lookAlikes;
    expected.insert(expected.end(), {"doc.md", young, folder, link, "kept.txt"});
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(test::readFile(linked), "not ours");

    // A name too long for the suffix is shortened in the temporary name, and
    // found the same way.
    const std::string longName = std::string(230, 'n') + ".md";
    const std::string shortened = ours(longName, uuid);
    ASSERT_LE(shortened.size(), 255u);
    dir.write(shortened, "killed save");
    test::setModifiedAgo(dir / shortened, 2h);
    EXPECT_EQ(removeStaleTemporaryFiles(dir / longName), 1u);
    EXPECT_FALSE(std::filesystem::exists(dir / shortened));
}

// The folder-wide sweep (the program's own folders, and a document's folder
// once per launch) takes our temporary files of any name, by the same rules:
// exact pattern, regular files only, stale only.
TEST(AtomicFile, TheFolderSweepTakesOurOldTemporaryFilesOfEveryName) {
    using namespace std::chrono_literals;
    test::TempDir dir;
    const std::string uuid = makeUUID();
    const struct {
        std::string name;
        bool removed;
    } files[] = {
        {temporaryFileName("preferences.json", uuid), true},
        {temporaryFileName(uuid + ".json", makeUUID()), true},
        {temporaryFileName("x", makeUUID()), true},
        {temporaryFileName(std::string(240, 'n'), makeUUID()), true},  // shortened
        {"preferences.json", false},
        {".orvik-" + uuid + ".tmp", false},  // no name
        {temporaryFileName("a", uuid).substr(1), false},
        {temporaryFileName("a", std::string(uuid).replace(0, 8, "abcdef01")), false},
        {temporaryFileName("a", uuid.substr(1)), false},
        {temporaryFileName("a", uuid) + ".bak", false},
        {"." + uuid + ".json.tmp-" + uuid, false},
    };
    for (const auto& f : files) dir.write(f.name, "bytes");
    const std::string young = temporaryFileName("preferences.json", makeUUID());
    dir.write(young, "write in progress");
    const std::string folder = temporaryFileName("drafts", makeUUID());
    std::filesystem::create_directory(dir / folder);
    const std::string link = temporaryFileName("link", makeUUID());
    const auto linked = dir.write("target.txt", "not ours");
    std::filesystem::create_symlink(linked, dir / link);
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        if (entry.path().filename() != young) test::setModifiedAgo(entry.path(), 2h);
    }
    test::setModifiedAgo(dir / young, 59min);

    EXPECT_EQ(removeStaleTemporaryFilesIn(dir.path()), 4u);
    std::vector<std::string> expected = {young, folder, link, "target.txt"};
    for (const auto& f : files)
        if (!f.removed) expected.push_back(f.name);
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(namesIn(dir.path()), expected);
    EXPECT_EQ(test::readFile(linked), "not ours");
    EXPECT_EQ(removeStaleTemporaryFilesIn(dir / "missing"), 0u);
    EXPECT_EQ(removeStaleTemporaryFilesIn(""), 0u);
}

}  // namespace
}  // namespace larkspin
