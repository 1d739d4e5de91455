#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/FileAccessCheck.hpp"
#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Files/FileReader.hpp"
#include "Platform/Files/InodeWatch.hpp"
#include "Platform/Files/PathLock.hpp"
#include "Platform/Files/WholeFile.hpp"
#include "Support/ChildProcess.hpp"
#include "Support/LogCapture.hpp"
#include "Support/TempDir.hpp"
#include "Support/Threads.hpp"

namespace larkspin {
namespace {

// Runs `job` inside a turn of the main loop, as an event handler would.
void onMainLoopTurn(std::function<void()> job) {
    bool ran = false;
    MainThread::post([&] {
        job();
        ran = true;
    });
    MainThread::drainForTesting();
    ASSERT_TRUE(ran);
}

TEST(FileAccessCheck, OnlyTheMainThreadInsideItsLoopIsRefused) {
    EXPECT_TRUE(FileAccessCheck::isAllowed()) << "outside the loop: start-up, plain tests";
    bool inTurn = true, allowed = false, offThread = false;
    onMainLoopTurn([&] {
        inTurn = FileAccessCheck::isAllowed();
        {
            const FileAccessCheck::Allowance outer;
            const FileAccessCheck::Allowance inner;
        }
        {
            const FileAccessCheck::Allowance allowance;
            allowed = FileAccessCheck::isAllowed();
        }
        EXPECT_FALSE(FileAccessCheck::isAllowed()) << "the allowances are over";
    });
    test::runOffMainThread([&] { offThread = FileAccessCheck::isAllowed(); });
    EXPECT_FALSE(inTurn);
    EXPECT_TRUE(allowed);
    EXPECT_TRUE(offThread);

    // Once quitting has begun for good; in a child, since it is never undone.
    EXPECT_EQ(test::runInChild([] {
                  MainThread::beginQuitting();
                  bool quitting = false;
                  MainThread::post([&] { quitting = FileAccessCheck::isAllowed(); });
                  MainThread::drainForTesting();
                  return quitting ? 0 : 1;
              }),
              "exit 0");
}

#if defined(LARKSPIN_DEBUG_ASSERTS)

// Each entry point of the file layer, and the real system calls under them.
TEST(FileAccessCheck, EveryFileEntryPointFiresOnTheMainLoop) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    const std::vector<std::pair<std::string, std::function<void()>>> calls{
        {"read", [&] { (void)WholeFile::read(file); }},
        {"read", [&] { (void)FileReader::read(file); }},
        {"writeFileAtomically", [&] { (void)writeFileAtomically(dir / "out", "x"); }},
        {"removeStaleTemporaryFiles", [&] { (void)removeStaleTemporaryFiles(file); }},
        {"make", [&] { (void)FileBookmark::make(file); }},
        {"resolve", [&] { (void)FileBookmark::resolve("LKBM"); }},
        {"open", [&] { (void)InodeWatch::open(file, [](std::uint32_t) {}); }},
        {"canonicalKey", [&] { (void)PathLock::canonicalKey(file); }},
        {"stat", [&] {
             struct stat status {};
             (void)realSysCalls().stat(file.c_str(), &status);
         }},
        {"fsync", [] { (void)realSysCalls().fsync(-1); }},
    };
    std::vector<std::string> fired;
    FileAccessCheck::setViolationHandlerForTesting(
        [&](std::string_view what) { fired.emplace_back(what); });
    for (const auto& [name, call] : calls) {
        SCOPED_TRACE(name);
        fired.clear();
        call();
        EXPECT_TRUE(fired.empty()) << "outside the loop";
        onMainLoopTurn(call);
        ASSERT_FALSE(fired.empty());
        EXPECT_EQ(fired.front(), name);
        fired.clear();
        onMainLoopTurn([&] {
            const FileAccessCheck::Allowance allowance;
            call();
        });
        EXPECT_TRUE(fired.empty()) << "inside an allowance";
    }
    FileAccessCheck::setViolationHandlerForTesting(nullptr);
}

// Without a handler the program stops there.
TEST(FileAccessCheck, ABreachAbortsByDefault) {
    test::TempDir dir;
    const auto file = dir.write("notes.md", "text\n");
    const std::string ended = test::runInChild([&] {
        const test::LogCapture quiet;
        MainThread::post([&] { (void)WholeFile::read(file); });
        MainThread::drainForTesting();
        return 0;
    });
    EXPECT_TRUE(ended.starts_with("killed by signal")) << ended;
}

#endif

}  // namespace
}  // namespace larkspin
