#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <limits>
#include <memory>

#include "Platform/Async/BlockingWait.hpp"
#include "Platform/Async/SerialExecutor.hpp"
#include "Platform/Json/BoundedJSON.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

std::string nested(std::size_t depth) {
    return std::string(depth, '[') + std::string(depth, ']');
}

TEST(UserDefaults, TypedGettersFallBackSilentlyOnWrongKinds) {
    test::TempDir dir;
    UserDefaults defaults(dir.write("prefs.json", R"({
        "size": 18, "numeric": "42", "flag": "YES",
        "mode": "dark", "nested": {"a": 1}, "junk": "big"
    })"));
    EXPECT_EQ(defaults.integer("size"), 18);
    EXPECT_EQ(defaults.integer("numeric"), 42);
    EXPECT_EQ(defaults.integer("junk"), std::nullopt);
    EXPECT_EQ(defaults.integer("nested"), std::nullopt);
    EXPECT_EQ(defaults.boolean("flag"), true);
    EXPECT_EQ(defaults.boolean("junk"), std::nullopt);
    EXPECT_EQ(defaults.string("mode"), "dark");
    EXPECT_EQ(defaults.string("size"), "18");
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
        defaults.setString("policy", "ask");
        defaults.setInteger("width", 300);
        defaults.setBool("visible", false);
        defaults.setString("withNul", std::string("a\0b", 3));
        defaults.remove("visible");
        EXPECT_TRUE(defaults.drainForTesting());
        EXPECT_FALSE(defaults.lastWriteError());
    }
    UserDefaults reread(file);
    EXPECT_EQ(reread.string("policy"), "ask");
    EXPECT_EQ(reread.integer("width"), 300);
    EXPECT_FALSE(reread.contains("visible"));
    EXPECT_EQ(reread.string("withNul"), std::string("a\0b", 3));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir / "sub"), {}), 1);
    struct stat st {};
    ASSERT_EQ(::stat(file.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(UserDefaults, AMalformedFileIsKeptAsideNotOverwritten) {
    for (const std::string& text :
         {std::string("{ not json"), R"({"deep":)" + nested(maximumJSONDepth) + "}"}) {
        SCOPED_TRACE(text.size());
        test::TempDir dir;
        const auto file = dir.write("prefs.json", text);
        test::LogCapture capture;
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("deep"));
        defaults.setBool("x", true);
        EXPECT_TRUE(defaults.drainForTesting());
        EXPECT_EQ(test::readFile(dir / "prefs.json.corrupt"), text);
        EXPECT_TRUE(capture.contains("document", "偏好设置文件无法解析"));
    }
}

TEST(UserDefaults, ASecondCorruptFileKeepsTheFirstSetAsideCopy) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    test::LogCapture capture;
    for (const char* text : {"{ first", "{ second"}) {
        dir.write("prefs.json", text);
        UserDefaults defaults(file);
        EXPECT_FALSE(defaults.contains("x"));
    }
    EXPECT_EQ(test::readFile(dir / "prefs.json.corrupt"), "{ first");
    EXPECT_EQ(test::readFile(dir / "prefs.json.corrupt-2"), "{ second");
    EXPECT_TRUE(capture.contains("document", "两份都保留"));
}

// A preference file far larger than any we write would take several times
// its size in memory to read and parse: it is refused by the size of the
// opened file, before a byte is read, and set aside like a corrupt one. A file
// that grows past the limit while read is refused too. Sparse files: the
// huge one costs no disk.
TEST(UserDefaults, AFileLargerThanTheLimitIsSetAsideUnread) {
    constexpr auto limit = UserDefaults::maximumFileSize;
    const std::string atLimit =
        R"({"k":")" + std::string(limit - 8, 'a') + R"("})";  // exactly the limit
    ASSERT_EQ(atLimit.size(), limit);
    const struct {
        const char* name;
        std::uint64_t sparseSize;  // 0: the file holds `text`
        bool shrinkFstat;          // the opened file claims to be small
        bool accepted;
    } cases[] = {
        {"5 GiB", 5ull << 30, false, false},
        {"one byte over", limit + 1, false, false},
        {"grows past the limit while read", limit + 1, true, false},
        {"at the limit", 0, false, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        test::TempDir dir;
        const auto file = dir.write("prefs.json", c.sparseSize ? "" : atLimit);
        if (c.sparseSize) std::filesystem::resize_file(file, c.sparseSize);
        std::size_t bytesRead = 0;
        SysCalls sys = realSysCalls();
        sys.read = [&](int fd, void* buffer, std::size_t count) {
            const ssize_t n = ::read(fd, buffer, count);
            if (n > 0) bytesRead += static_cast<std::size_t>(n);
            return n;
        };
        if (c.shrinkFstat) {
            sys.fstat = [](int fd, struct stat* status) {
                const int result = ::fstat(fd, status);
                status->st_size = 10;
                return result;
            };
        }
        test::LogCapture capture;
        UserDefaults defaults(file, sys);
        EXPECT_EQ(defaults.contains("k"), c.accepted);
        EXPECT_EQ(std::filesystem::exists(dir / "prefs.json.corrupt"), !c.accepted);
        if (c.accepted) continue;
        EXPECT_LE(bytesRead, limit + 64 * 1024);  // never the whole of a huge file
        if (!c.shrinkFstat) {
            EXPECT_EQ(bytesRead, 0u);
        }
        EXPECT_TRUE(capture.contains("document", "偏好设置文件过大"));
        EXPECT_EQ(std::filesystem::file_size(dir / "prefs.json.corrupt"), c.sparseSize);
        defaults.setBool("x", true);  // a fresh file, the old one kept aside
        ASSERT_TRUE(defaults.drainForTesting());
        EXPECT_EQ(UserDefaults(file).storedValues(), (nlohmann::json{{"x", true}}));
    }
}

// Deep nesting would exhaust the stack in the recursive operations on the
// tree (copying a value, writing the file): such a file is refused when read,
// like any other malformed one. Run in a child, since the fault is a crash.
TEST(UserDefaults, NestingBeyondTheLimitIsSetAsideNotCrashedOn) {
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
                      return stored == accepted && defaults.drainForTesting() &&
                                     !defaults.lastWriteError()
                                 ? 0
                                 : 1;
                  }),
                  "exit 0");
        if (accepted) continue;
        EXPECT_TRUE(test::readFile(dir / "prefs.json.corrupt") == text);
        test::LogCapture capture;
        EXPECT_EQ(UserDefaults(file).storedValues(), (nlohmann::json{{"x", true}}));
    }
}

// Opening a FIFO for reading waits for a writer, for ever: what is not a
// regular file is set aside unopened. Run in a child, since the fault is a hang.
TEST(UserDefaults, AFileThatIsNotRegularIsSetAsideWithoutBlocking) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    ASSERT_EQ(::mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(test::runInChild(
                  [&] {
                      const test::LogCapture capture;
                      UserDefaults defaults(file);
                      defaults.setBool("x", true);
                      return defaults.boolean("x") == true && defaults.drainForTesting() &&
                                     !defaults.lastWriteError() &&
                                     capture.contains("document", "偏好设置文件无法读取")
                                 ? 0
                                 : 1;
                  },
                  std::chrono::seconds(10)),
              "exit 0");
    struct stat status {};
    ASSERT_EQ(::lstat((dir / "prefs.json.corrupt").c_str(), &status), 0);
    EXPECT_TRUE(S_ISFIFO(status.st_mode));
    EXPECT_EQ(UserDefaults(file).boolean("x"), true);
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
    ASSERT_TRUE(defaults.drainForTesting());
    EXPECT_EQ(UserDefaults(file).integer("MDWebViewHotLimit"), 3);
    EXPECT_FALSE(UserDefaults(file).contains("MDScenario"));
}

// Writes of the file run on a queue, one for a burst of changes; readers see
// each change at once.
TEST(UserDefaults, ABurstOfChangesIsWrittenOnceWithTheLastValues) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    // The first write stops in its open() until released, so that the burst
    // certainly arrives while it is under way.
    auto writing = std::make_shared<BlockingWait>();
    auto release = std::make_shared<BlockingWait>();
    auto opens = std::make_shared<std::atomic<int>>(0);
    SysCalls sys = realSysCalls();
    sys.open = [=, real = sys.open](const char* path, int flags, mode_t mode) {
        if (opens->fetch_add(1) == 0) {
            writing->signal();
            release->waitForTesting(test::waitLimit);
        }
        return real(path, flags, mode);
    };
    UserDefaults defaults(file, sys);
    opens->store(0);  // the load's open does not count
    defaults.setInteger("width", 0);
    ASSERT_TRUE(writing->waitForTesting(test::waitLimit));
    for (int width = 1; width <= 100; ++width) {
        defaults.setInteger("width", width);
        EXPECT_EQ(defaults.integer("width"), width);
    }
    defaults.setValues({{"a", 1}, {"b", "two"}});
    defaults.remove("a");
    EXPECT_FALSE(defaults.contains("a"));
    release->signal();
    ASSERT_TRUE(defaults.drainForTesting());
    // The one under way, then one for all the rest.
    EXPECT_EQ(defaults.writeCount(), 2u);
    EXPECT_FALSE(defaults.lastWriteError());
    EXPECT_EQ(UserDefaults(file).storedValues(), (nlohmann::json{{"width", 100}, {"b", "two"}}));
}

// At quit the last change reaches the disk, also from a store already gone.
TEST(UserDefaults, TheLastChangesReachTheFileByTheEndOfQuitting) {
    test::TempDir dir;
    const auto file = dir / "sub" / "prefs.json";
    {
        UserDefaults defaults(file);
        for (int i = 0; i < 20; ++i) defaults.setInteger("n" + std::to_string(i % 4), i);
        defaults.setString("policy", "ask");
    }  // dropped on the main thread: returns without waiting for the queue
    test::runOffMainThread([] { SerialExecutor::finishAll(); });
    const UserDefaults reread(file);
    EXPECT_EQ(reread.storedValues(), (nlohmann::json{{"n0", 16}, {"n1", 17}, {"n2", 18},
                                                     {"n3", 19}, {"policy", "ask"}}));
}

TEST(UserDefaults, AFailedWriteIsLoggedAndTheNextOneMendsIt) {
    test::TempDir dir;
    const auto file = dir / "prefs.json";
    auto failing = std::make_shared<std::atomic<bool>>(true);
    SysCalls sys = realSysCalls();
    sys.rename = [=, real = sys.rename](const char* from, const char* to) {
        if (failing->load()) return errno = EIO, -1;
        return real(from, to);
    };
    test::LogCapture capture;
    UserDefaults defaults(file, sys);
    defaults.setBool("visible", true);
    ASSERT_TRUE(defaults.drainForTesting());
    EXPECT_EQ(defaults.lastWriteError(), std::errc::io_error);
    EXPECT_TRUE(capture.contains("document", "写入偏好设置失败"));
    EXPECT_EQ(defaults.boolean("visible"), true);  // still there for this run
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 0)
        << "the temporary file is gone";

    failing->store(false);
    defaults.setInteger("width", 3);
    ASSERT_TRUE(defaults.drainForTesting());
    EXPECT_FALSE(defaults.lastWriteError());
    EXPECT_EQ(UserDefaults(file).storedValues(), (nlohmann::json{{"visible", true}, {"width", 3}}));
}

}  // namespace
}  // namespace larkspin
