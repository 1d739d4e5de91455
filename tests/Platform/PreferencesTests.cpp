#include <gtest/gtest.h>
#include <sys/stat.h>

#include <thread>

#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/SysCalls.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/NotificationCenter.hpp"
#include "Platform/UserDefaults.hpp"
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
