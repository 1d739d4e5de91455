#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

#include "Platform/Async/MainThread.hpp"
#include "Platform/Async/TaskScope.hpp"
#include "Web/Desktop/FileManagerReveal.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using Outcome = FileManagerReveal::Outcome;

Task<bool> answer(bool value) {
    co_return value;
}
Task<bool> broken() {
    throw std::runtime_error("no bus");
    co_return false;
}

using HeldAnswer = std::shared_ptr<std::optional<Completion<bool>>>;
// An answer that comes when the test gives it.
Task<bool> later(HeldAnswer held) {
    auto start = [held](Completion<bool> done) { *held = std::move(done); };
    co_return co_await awaitCompletion<bool>(start);
}
Task<void> revealInto(std::filesystem::path file, FileManagerReveal::Port port,
                      std::shared_ptr<std::optional<Outcome>> outcome) {
    *outcome = co_await FileManagerReveal::reveal(std::move(file), std::move(port));
}

struct Calls {
    std::vector<std::string> shown;
    std::vector<std::string> opened;
};

FileManagerReveal::Port port(std::shared_ptr<Calls> calls, bool showWorks, bool openWorks) {
    return FileManagerReveal::Port{
        [calls, showWorks](std::string uri) {
            calls->shown.push_back(uri);
            return answer(showWorks);
        },
        [calls, openWorks](std::string uri) {
            calls->opened.push_back(uri);
            return answer(openWorks);
        },
    };
}

TEST(FileManagerReveal, ShowItemsFirstThenTheFolder) {
    const std::filesystem::path file = "/home/u/my notes/read me.md";
    const std::vector<std::string> item{"file:///home/u/my%20notes/read%20me.md"}, folder{"file:///home/u/my%20notes"};
    struct Case {
        bool showWorks, openWorks;
        Outcome outcome;
        std::vector<std::string> opened;
    };
    for (const auto& c : {Case{true, true, Outcome::shownInFileManager, {}}, Case{false, true, Outcome::openedFolder, folder},
                          Case{false, false, Outcome::failed, folder}}) {
        auto calls = std::make_shared<Calls>();
        EXPECT_EQ(test::runTask(FileManagerReveal::reveal(file, port(calls, c.showWorks, c.openWorks))), c.outcome);
        EXPECT_EQ(calls->shown, item);
        EXPECT_EQ(calls->opened, c.opened);
    }
    FileManagerReveal::Port failing = port(std::make_shared<Calls>(), true, true);
    failing.showItems = [](std::string) { return broken(); };
    EXPECT_EQ(test::runTask(FileManagerReveal::reveal(file, failing)), Outcome::openedFolder);
}

TEST(FileManagerReveal, ACancelledRevealTriesNoFallback) {
    auto calls = std::make_shared<Calls>();
    auto held = std::make_shared<std::optional<Completion<bool>>>();
    FileManagerReveal::Port waiting = port(calls, false, true);
    waiting.showItems = [held](std::string) { return later(held); };
    auto outcome = std::make_shared<std::optional<Outcome>>();
    TaskScope scope;  // the window that asked
    scope.spawn(revealInto("/a/b.md", waiting, outcome));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return held->has_value(); }));
    scope.cancel();
    (*held)->resolve(false);  // the bus answers after all
    MainThread::drainForTesting();
    EXPECT_FALSE(*outcome);
    EXPECT_TRUE(calls->opened.empty()) << "no folder opens for a window that went";
}

TEST(FileManagerReveal, UrisEscapeAnyBytes) {
    EXPECT_EQ(FileManagerReveal::fileURI("/tmp/\xE4\xB8\xAD#?.md"),
              "file:///tmp/%E4%B8%AD%23%3F.md");
    EXPECT_EQ(FileManagerReveal::fileURI("/tmp/latin\xE9.md"), "file:///tmp/latin%E9.md");
    EXPECT_EQ(FileManagerReveal::folderURI("/a.md"), "file:///");
}

}  // namespace
}  // namespace larkspin
