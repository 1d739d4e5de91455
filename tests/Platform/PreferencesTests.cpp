#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <limits>
#include <thread>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Json/BoundedJSON.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

TEST(UserDefaults, TypedGettersFallBackSilentlyOnWrongKinds) {
    test::TempDir dir;
    const auto file = dir.write("prefs.json", R"({
        "typography.fontSizePx": 18, "half": 17.9, "numeric": "42", "flag": "YES",
        "appearanceMode": "dark", "nested": {"a": 1}, "junk": "big"
    })");
    UserDefaults defaults(file);
    EXPECT_EQ(defaults.integer("typography.fontSizePx"), 18);
    EXPECT_EQ(defaults.integer("half"), 17);
    EXPECT_EQ(defaults.integer("numeric"), 42);
    EXPECT_EQ(defaults.integer("junk"), std::nullopt);
    EXPECT_EQ(defaults.integer("nested"), std::nullopt);
    EXPECT_EQ(defaults.boolean("flag"), true);
    EXPECT_EQ(defaults.boolean("junk"), std::nullopt);
    EXPECT_EQ(defaults.string("appearanceMode"), "dark");
    EXPECT_EQ(defaults.string("typography.fontSizePx"), "18");
    EXPECT_EQ(defaults.string("nested"), std::nullopt);
    EXPECT_EQ(defaults.real("missing"), std::nullopt);
    EXPECT_FALSE(defaults.contains("missing"));
}

TEST(UserDefaults, IntegersBeyondTheRangeSaturateInsteadOfWrapping) {
    constexpr auto most = std::numeric_limits<std::int64_t>::max();
    constexpr auto least = std::numeric_limits<std::int64_t>::min();
    const std::pair<const char*, std::optional<std::int64_t>> cases[] = {
        {"18446744073709551615", most},  // unsigned: must not wrap to -1
        {"9223372036854775808", most},   {"9223372036854775807", most},
        {"-9223372036854775808", least}, {"18446744073709551616", most},  // read as a real
        {"-9223372036854775809", least}, {"1e300", most},
        {"-1e300", least},               {"-7.9", -7},
    };
    test::TempDir dir;
    for (const auto& [text, expected] : cases) {
        SCOPED_TRACE(text);
        UserDefaults defaults(dir.write("prefs.json", std::string(R"({"n":)") + text + "}"));
        EXPECT_EQ(defaults.integer("n"), expected);
    }
    UserDefaults defaults(dir.write("prefs.json", R"({"n":18446744073709551615})"));
    EXPECT_EQ(defaults.string("n"), "18446744073709551615");
}

TEST(UserDefaults, WritesAtomicallyAndReadsBack) {
    test::TempDir dir;
    const auto file = dir / "sub" / "prefs.json";
    {
        UserDefaults defaults(file);
        defaults.setString("document.externalChangePolicy", "ask");
        defaults.setInteger("sidebarUserWidth", 300);
        defaults.setBool("sidebarVisible", false);
        defaults.setString("withNul", std::string("a\0b", 3));
        defaults.remove("sidebarVisible");
        EXPECT_FALSE(defaults.lastWriteError());
    }
    UserDefaults reread(file);
    EXPECT_EQ(reread.string("document.externalChangePolicy"), "ask");
    EXPECT_EQ(reread.integer("sidebarUserWidth"), 300);
    EXPECT_FALSE(reread.contains("sidebarVisible"));
    EXPECT_EQ(reread.string("withNul"), std::string("a\0b", 3));
    // No temporary files are left behind.
    int entries = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir / "sub"))
        ++entries;
    EXPECT_EQ(entries, 1);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserDefaults, CorruptFileIsKeptAsideNotOverwritten) {
    test::TempDir dir;
    const auto file = dir.write("prefs.json", "{ not json");
    test::LogCapture capture;
    UserDefaults defaults(file);
    EXPECT_FALSE(defaults.contains("anything"));
    defaults.setBool("x", true);
    EXPECT_EQ(test::readFile(dir / "prefs.json.corrupt"), "{ not json");
    EXPECT_TRUE(capture.contains("document", "偏好设置文件无法解析"));
}

// Deep nesting would exhaust the stack in the recursive operations on the
// tree (copying a value, writing the file): such a file is refused when read,
// like any other malformed one. Run in a child, since the fault is a crash.
TEST(UserDefaults, NestingBeyondTheLimitIsSetAsideNotCrashedOn) {
    const auto nested = [](std::size_t depth) {
        return std::string(depth, '[') + std::string(depth, ']');
    };
    for (const std::string& text : {R"({"deep":)" + nested(70'000) + "}", nested(70'000),
                                    R"({"deep":)" + nested(maximumJSONDepth - 1) + "}"}) {
        SCOPED_TRACE(text.size());
        test::TempDir dir;
        const auto file = dir.write("prefs.json", text);
        const bool accepted = text.size() < 1000;
        EXPECT_EQ(test::runInChild([&] {
                      const test::LogCapture quiet;
                      UserDefaults defaults(file);
                      const bool stored = defaults.value("deep").has_value();
                      defaults.setBool("x", true);
                      return stored == accepted && !defaults.lastWriteError() ? 0 : 1;
                  }),
                  "exit 0");
        if (accepted) continue;
        ASSERT_TRUE(std::filesystem::exists(dir / "prefs.json.corrupt"));
        EXPECT_TRUE(test::readFile(dir / "prefs.json.corrupt") == text);
        test::LogCapture capture;
        EXPECT_EQ(UserDefaults(file).storedValues(), (nlohmann::json{{"x", true}}));
    }
    test::TempDir dir;
    const auto file = dir.write("prefs.json", R"({"deep":)" + nested(maximumJSONDepth) + "}");
    test::LogCapture capture;
    EXPECT_FALSE(UserDefaults(file).contains("deep"));
    EXPECT_TRUE(capture.contains("document", "偏好设置文件无法解析"));
}

// Opening a FIFO for reading waits for a writer, for ever: what is not a
// regular file is set aside unopened. Run in a child, since the fault is a hang.
TEST(UserDefaults, AFileThatIsNotRegularIsSetAsideWithoutBlocking) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(test::runInChild(
                  [&] {
                      const test::LogCapture quiet;
                      UserDefaults defaults(file);
                      defaults.setBool("x", true);
                      return defaults.boolean("x") == true && !defaults.lastWriteError() ? 0 : 1;
                  },
                  std::chrono::seconds(10)),
              "exit 0");
    struct stat status {};
    ASSERT_EQ(::lstat((dir / "prefs.json.corrupt").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(UserDefaults(file).boolean("x"), true);

    // A socket, likewise.
    std::filesystem::remove(file);
    const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    file.native().copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    test::LogCapture capture;
    EXPECT_FALSE(UserDefaults(file).contains("x"));
    ::close(listener);
    ASSERT_EQ(::lstat((dir / "prefs.json.corrupt").c_str(), &status), 0);
    EXPECT_TRUE(S_ISSOCK(status.st_mode));
    EXPECT_TRUE(capture.contains("document", "偏好设置文件无法读取"));
}

TEST(UserDefaults, ArgumentDomainWinsAndIsNotPersisted) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    UserDefaults defaults(file);
    defaults.setInteger("MDWebViewHotLimit", 3);
    const auto rest = defaults.applyArguments({"larkspin", "-MDWebViewHotLimit", "5", "notes.md",
                                               "-MDScenario", "demo", "--gapplication-service"});
    EXPECT_EQ(rest, (std::vector<std::string>{"larkspin", "notes.md", "--gapplication-service"}));
    EXPECT_EQ(defaults.integer("MDWebViewHotLimit"), 5);
    EXPECT_EQ(defaults.string("MDScenario"), "demo");
    defaults.setBool("other", true);
    EXPECT_EQ(UserDefaults(file).integer("MDWebViewHotLimit"), 3);
    EXPECT_FALSE(UserDefaults(file).contains("MDScenario"));
}

TEST(AtomicFile, KeepsModeAndFailsWithoutTouchingTheTarget) {
    test::TempDir dir;
    const auto target = dir.write("a.txt", "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    EXPECT_FALSE(writeFileAtomically(target, "new"));
    EXPECT_EQ(test::readFile(target), "new");
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    // A target whose folder is missing fails and reports it.
    const auto ec = writeFileAtomically(dir / "missing" / "b.txt", "x");
    EXPECT_EQ(ec, std::errc::no_such_file_or_directory);
}

TEST(NotificationCenter, DeliversByNameAndSenderInOrder) {
    auto center = NotificationCenter::create();
    int a = 0, b = 0;
    std::vector<std::string> order;
    const int senderA = 0, senderB = 0;
    auto any = center->addObserver("n", nullptr, [&](const Notification& n) {
        order.push_back("any");
        if (n.sender == &senderA) ++a;
        if (n.sender == &senderB) ++b;
    });
    auto onlyA =
        center->addObserver("n", &senderA, [&](const Notification&) { order.push_back("onlyA"); });
    auto other =
        center->addObserver("m", nullptr, [&](const Notification&) { order.push_back("m"); });
    center->post("n", &senderA);
    center->post("n", &senderB);
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 1);
    EXPECT_EQ(order, (std::vector<std::string>{"any", "onlyA", "any"}));
}

TEST(NotificationCenter, ObserversRemovedOnDestructionEvenDuringDelivery) {
    auto center = NotificationCenter::create();
    int second = 0, late = 0;
    NotificationObserver secondObserver;
    NotificationObserver lateObserver;
    auto first = center->addObserver("n", nullptr, [&](const Notification&) {
        secondObserver.reset();  // removed during delivery: must not be called
        if (!lateObserver) {
            lateObserver = center->addObserver("n", nullptr, [&](const Notification&) { ++late; });
        }
    });
    secondObserver = center->addObserver("n", nullptr, [&](const Notification&) { ++second; });
    center->post("n", nullptr);
    EXPECT_EQ(second, 0);
    EXPECT_EQ(late, 0);  // registered during delivery: only later posts
    center->post("n", nullptr);
    EXPECT_EQ(late, 1);
    {
        auto scoped = center->addObserver("n", nullptr, [](const Notification&) {});
        EXPECT_EQ(center->observerCountForTesting(), 3u);
    }
    EXPECT_EQ(center->observerCountForTesting(), 2u);
    // An observer that outlives its centre is harmless.
    auto orphan = center->addObserver("x", nullptr, [](const Notification&) {});
    center.reset();
    orphan.reset();
}

TEST(NotificationCenter, PostFromAnotherThreadArrivesOnTheMainThread) {
    auto center = NotificationCenter::create();
    bool onMain = false;
    int count = 0;
    auto observer = center->addObserver("n", nullptr, [&](const Notification&) {
        onMain = MainThread::isMainThread();
        ++count;
    });
    test::LogCapture capture;
    std::thread([&] { center->post("n", nullptr); }).join();
    EXPECT_EQ(count, 0);
    MainThread::drainForTesting();
    EXPECT_EQ(count, 1);
    EXPECT_TRUE(onMain);
}

}  // namespace
}  // namespace larkspin

namespace larkspin {
namespace {

TEST(AtomicFile, AFailureAtAnyStepLeavesTheTargetAndNoTemporaryFile) {
    test::TempDir dir;
    const auto target = dir.write("a.txt", "old");
    for (const char* step : {"write", "fsync", "rename"}) {
        SysCalls sys = realSysCalls();
        const std::string failing = step;
        if (failing == "write") sys.write = [](int, const void*, std::size_t) -> ssize_t { errno = ENOSPC; return -1; };
        if (failing == "fsync") sys.fsync = [](int) { errno = EIO; return -1; };
        if (failing == "rename") sys.rename = [](const char*, const char*) { errno = EXDEV; return -1; };
        const auto ec = writeFileAtomically(target, "new contents", 0644, sys);
        EXPECT_TRUE(ec) << step;
        EXPECT_EQ(test::readFile(target), "old") << step;
        int entries = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(dir.path())) ++entries;
        EXPECT_EQ(entries, 1) << step;
    }
}

}  // namespace
}  // namespace larkspin

namespace larkspin {
namespace {

std::vector<std::string> namesIn(const std::filesystem::path& folder) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename());
    std::sort(names.begin(), names.end());
    return names;
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
    const std::string lower = ours("doc.md", std::string(uuid).replace(0, 8, "abcdef01"));
    const std::vector<std::string> lookAlikes = {
        ours("other.md", uuid),
        ours("doc.m", uuid),
        lower,
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

}  // namespace
}  // namespace larkspin
