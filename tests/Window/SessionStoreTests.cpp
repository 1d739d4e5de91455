#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "Platform/Async/Clock.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"
#include "Platform/Text/Base64.hpp"
#include "Platform/Text/Utf8.hpp"
#include "Window/SessionStore.hpp"

namespace larkspin {

namespace {

using namespace std::chrono_literals;

SessionSnapshot sample() {
    return SessionSnapshot{{{1180.5, 820, {{"/home/u/a.md", TabRestorationInfo{17, 0, false}},
                                           {"/home/u/日记.md", TabRestorationInfo{17, 1, true}}}},
                            {900, 600, {{"/tmp/b.md", std::nullopt}}}}};
}

TEST(SessionCodec, RoundTripsAndReadsThePlaceKeys) {
    const auto decoded = SessionCodec::decode(SessionCodec::encode(sample()));
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, sample());

    struct Case {
        std::string tab;
        std::optional<TabRestorationInfo> info;
    };
    const std::vector<Case> cases{
        {R"({"path":"/x"})", std::nullopt},
        {R"({"path":"/x","Orvik.tab.present":false,"Orvik.tab.index":3})", std::nullopt},
        {R"({"path":"/x","Orvik.tab.present":true,"Orvik.tab.groupToken":4,"Orvik.tab.index":2.0,"Orvik.tab.isSelected":true})",
         TabRestorationInfo{4, 2, true}},
    };
    for (const auto& c : cases) {
        const auto text = R"({"version":1,"groups":[{"width":1,"height":1,"tabs":[)" + c.tab + "]}]}";
        const auto snapshot = SessionCodec::decode(text);
        ASSERT_TRUE(snapshot) << c.tab << ": " << snapshot.error();
        EXPECT_EQ(snapshot->groups.at(0).tabs.at(0).info, c.info) << c.tab;
    }
}

// A file whose name is not UTF-8 keeps its tab: its bytes come back exactly.
TEST(SessionCodec, KeepsAPathWhoseNameIsNotUtf8) {
    const std::string latin1 = "/home/u/caf\xe9.md";
    const SessionSnapshot snapshot{{{800, 600, {{latin1, TabRestorationInfo{3, 0, true}}, {"/home/u/a.md", std::nullopt}}}}};
    const std::string text = SessionCodec::encode(snapshot);
    EXPECT_TRUE(utf8::isValid(text));
    const auto decoded = SessionCodec::decode(text);
    ASSERT_TRUE(decoded) << decoded.error();
    EXPECT_EQ(*decoded, snapshot);
    // Bytes that are no Base64 lose that tab only.
    std::string broken = text;
    const auto at = broken.find("\"pathBytes\":\"");
    ASSERT_NE(at, std::string::npos) << text;
    broken.insert(at + 13, "!");
    const auto partial = SessionCodec::decode(broken);
    ASSERT_TRUE(partial) << partial.error();
    ASSERT_EQ(partial->groups.size(), 1u);
    ASSERT_EQ(partial->groups[0].tabs.size(), 1u);
    EXPECT_EQ(partial->groups[0].tabs[0].path, "/home/u/a.md");
}

// Only absolute paths are written: a relative one, as text or as bytes, is
// not opened against the working folder; the rest of the session stays.
TEST(SessionCodec, DropsATabWhosePathIsNotAbsolute) {
    const std::string relativeBytes = Base64::encode("../caf\xe9.md");
    const std::string text = R"({"version":1,"groups":[{"width":1,"height":1,"tabs":[)"
                             R"({"path":"../../etc/passwd"},{"path":"a.md"},{"path":""},)"
                             R"({"path":"/x/caf?.md","pathBytes":")" + relativeBytes + R"("},)"
                             R"({"path":"/home/u/kept.md"}]}]})";
    test::LogCapture log;
    const auto decoded = SessionCodec::decode(text);
    ASSERT_TRUE(decoded) << decoded.error();
    ASSERT_EQ(decoded->groups.size(), 1u);
    ASSERT_EQ(decoded->groups[0].tabs.size(), 1u);
    EXPECT_EQ(decoded->groups[0].tabs[0].path, "/home/u/kept.md");
    EXPECT_TRUE(log.contains("document", "会话快照的路径不是绝对路径"));
}

TEST(SessionCodec, RefusesWhatIsNotASession) {
    const std::vector<std::string> texts{
        "",
        "{",
        "[]",
        R"({"version":2,"groups":[]})",
        R"({"version":1,"groups":[{"width":1,"height":1,"tabs":[{"path":"/x","Orvik.tab.index":1.5,"Orvik.tab.present":true}]}]})",
        std::string(300, '[') + std::string(300, ']'),
    };
    for (const auto& text : texts) EXPECT_FALSE(SessionCodec::decode(text)) << text.substr(0, 40);
}

// The files still being opened at quit join the window their pages were
// going to, after its tabs, the last one selected; one named already is not
// named twice; with no such window they get one of their own.
TEST(SessionSnapshot, KeepsTheFilesStillBeingOpenedWhereTheirPagesWereGoing) {
    const SessionSnapshot kept = withFilesBeingOpened(sample(), 17, {"/n/x.md", "/home/u/a.md", "/n/y.md"});
    ASSERT_EQ(kept.groups.size(), 2u);
    EXPECT_EQ(kept.groups[0].tabs,
              (std::vector<SessionTab>{{"/home/u/a.md", TabRestorationInfo{17, 0, false}},
                                       {"/home/u/日记.md", TabRestorationInfo{17, 1, false}},
                                       {"/n/x.md", TabRestorationInfo{17, 2, false}},
                                       {"/n/y.md", TabRestorationInfo{17, 3, true}}}));
    EXPECT_EQ(kept.groups[1], sample().groups[1]);

    const SessionSnapshot alone = withFilesBeingOpened(SessionSnapshot{}, 0, {"/n/x.md", "/n/y.md"});
    ASSERT_EQ(alone.groups.size(), 1u);
    EXPECT_EQ(alone.groups[0].tabs, (std::vector<SessionTab>{{"/n/x.md", TabRestorationInfo{0, 0, false}},
                                                             {"/n/y.md", TabRestorationInfo{0, 1, true}}}));
    EXPECT_EQ(withFilesBeingOpened(sample(), 17, {"/tmp/b.md"}), sample());
}

TEST(SessionStore, BrokenOrOversizedFileIsSetAsideAndReadsEmpty) {
    test::TempDir dir;
    test::LogCapture logs;
    const std::vector<std::string> contents{"{not json", std::string(SessionCodec::maximumFileSize + 1, ' ')};
    for (const auto& bytes : contents) {
        const auto file = dir.write(SessionStore::fileName, bytes);
        EXPECT_TRUE(SessionStore::readFile(file).empty());
        EXPECT_FALSE(std::filesystem::exists(file));
    }
    // The second keeps the first.
    EXPECT_EQ(test::readFile(dir / "session.json.corrupt"), contents[0]);
    EXPECT_EQ(std::filesystem::file_size(dir / "session.json.corrupt-2"), contents[1].size());
    EXPECT_TRUE(logs.contains("document", "会话文件无法使用"));
    EXPECT_TRUE(logs.contains("document", "两份都保留"));
    EXPECT_TRUE(SessionStore::readFile(dir / "absent.json").empty());
}

struct SessionStoreFixture : ::testing::Test {
    test::TempDir dir;
    ManualClock clock;
    std::shared_ptr<SerialExecutor> executor = std::make_shared<SerialExecutor>("session-test", clock);
    SessionSnapshot current = sample();
    int snapshotsTaken = 0;
    std::filesystem::path folder = dir / "state" / "Larkspin";

    std::unique_ptr<SessionStore> makeStore() {
        return std::make_unique<SessionStore>(folder, clock, executor, [this] {
            ++snapshotsTaken;
            return current;
        });
    }
    SessionSnapshot load() { return test::runTask(SessionStore::load(folder, executor)); }
};

TEST_F(SessionStoreFixture, ChangesAreWrittenOnceTheyPause) {
    auto store = makeStore();
    store->noteChanged();
    store->noteChanged();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return clock.pendingTimerCount() == 1; }));
    clock.advance(SessionStore::writeDelay - 1ms);
    EXPECT_EQ(snapshotsTaken, 0);
    clock.advance(1ms);
    ASSERT_TRUE(test::runMainLoopUntil([&] { return snapshotsTaken == 1; }));
    EXPECT_EQ(load(), sample());
    EXPECT_EQ(std::filesystem::status(store->file()).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST_F(SessionStoreFixture, FreezeWritesTheLastSnapshotAndIgnoresLaterChanges) {
    auto store = makeStore();
    store->noteChanged();
    store->freeze();
    EXPECT_EQ(snapshotsTaken, 1);
    current.groups.clear();  // the windows close one by one after quit began
    store->noteChanged();
    clock.advance(SessionStore::writeDelay * 4);
    EXPECT_EQ(load(), sample());
    EXPECT_EQ(snapshotsTaken, 1);
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST_F(SessionStoreFixture, ASessionFileLinkedToADeviceIsReplacedByAFileOfOurOwnMode) {
    // The link is neither read through nor written through, and the new file
    // does not take the device's mode (0666).
    std::filesystem::create_directories(folder);
    std::filesystem::create_symlink("/dev/zero", folder / SessionStore::fileName);
    test::LogCapture logs;
    EXPECT_TRUE(load().empty());
    EXPECT_TRUE(logs.contains("document", "会话文件无法读取"));
    auto store = makeStore();
    store->freeze();
    EXPECT_EQ(load(), sample());
    struct stat written {};
    ASSERT_EQ(::lstat(store->file().c_str(), &written), 0);
    EXPECT_TRUE(S_ISREG(written.st_mode));
    EXPECT_EQ(written.st_mode & 07777, 0600u);
}

}  // namespace
}  // namespace larkspin
