// A document's file watch as the document itself drives it, over real files:
// what its own commands do to the watch. The watch's timers run on a manual
// clock; every wait is bounded.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <functional>

#include "Document/Drafts/DraftScheduler.hpp"
#include "Document/Document.hpp"
#include "Document/FakeDocumentKeeper.hpp"
#include "Storage/ContentStabilizer.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

Task<std::optional<fs::path>> pick(std::optional<fs::path> path) {
    co_return path;
}
Task<bool> answer(bool value) {
    co_return value;
}

// A page that saves where the test says and asks nothing else.
class SavingHost final : public DocumentWindowHost {
public:
    std::shared_ptr<DocumentReader> reader() const override { return nullptr; }
    NoticeBarController* noticeBarController() const override { return nullptr; }
    void documentTitleChanged() override {}
    Presented present() override { return {}; }
    Task<std::optional<fs::path>> chooseSourceFile(SourceRequest) override { return pick(std::nullopt); }
    Task<bool> confirmDiscard(OpenConfirmation::Question) override { return answer(false); }
    Task<std::optional<fs::path>> chooseSaveLocation(SaveRequest) override { return pick(saveTo); }
    void showSaveError(std::string) override {}

    std::optional<fs::path> saveTo;
};

void append(const fs::path& path, std::string_view bytes) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

TEST(DocumentWatchWiring, AfterSaveAsTheNewFileIsWatchedAndTheOldOneNoLonger) {
    test::TempDir dir;
    ManualClock clock;
    const fs::path old = dir.write("old.md", "# Old\n");
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.clock = &clock;
    auto document = Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), old);
    test::runTask(Document::read(document));
    SavingHost host;
    host.saveTo = dir / "new.md";
    document->attachWindow(host);
    // Steps the clock a settling delay at a time until `done` holds.
    auto until = [&](const std::function<bool()>& done) {
        for (int step = 0; step < 80 && !done(); ++step) {
            clock.advance(ContentStabilizer::settleDelay);
            test::runMainLoopUntil(done, 10);
        }
        return done();
    };
    const auto text = [&] { return document->model().sourceText(); };

    document->model().replaceAll("# Mine\n");
    std::optional<std::optional<SaveError>> saved;
    document->saveAs([&](std::optional<SaveError> error) { saved = std::move(error); });
    ASSERT_TRUE(test::runMainLoopUntil([&] { return saved.has_value(); }));
    ASSERT_FALSE(*saved);
    EXPECT_EQ(document->path(), dir / "new.md");
    EXPECT_EQ(test::readFile(dir / "new.md"), "# Mine\n");

    // Another program changes the old file: nothing of it reaches the text;
    // a change of the new one does.
    append(old, "theirs\n");
    until([] { return false; });
    EXPECT_EQ(text(), "# Mine\n");
    append(dir / "new.md", "more\n");
    EXPECT_TRUE(until([&] { return text() == "# Mine\nmore\n"; })) << text();
    document->detachWindow(host);
}

// A document opened on a real file, with the program's own watch on a
// manual clock.
struct Opened {
    test::TempDir dir;
    ManualClock clock;
    std::shared_ptr<test::FakeDocumentKeeper> keeper = std::make_shared<test::FakeDocumentKeeper>();
    std::shared_ptr<Document> document;
    SavingHost host;

    ~Opened() {
        if (document) document->detachWindow(host);
    }
    void open(const fs::path& path) {
        Document::Services services;
        services.draftWriter = std::make_shared<DraftWriter>();
        services.clock = &clock;
        document = Document::create(services, keeper, path);
        test::runTask(Document::read(document));
        document->attachWindow(host);
        // The watch is made on a queue: a change it reports says it is in
        // place (on the file, not on whatever the path names later).
        const std::string opened = text();
        for (int tries = 0; tries < 20 && text() == opened; ++tries) {
            append(path, "\n");
            until([&] { return text() != opened; }, 4);
        }
        ASSERT_NE(text(), opened);
    }
    // Steps the clock a settling delay at a time until `done` holds.
    bool until(const std::function<bool()>& done, int steps = 80) {
        for (int step = 0; step < steps && !done(); ++step) {
            clock.advance(ContentStabilizer::settleDelay);
            test::runMainLoopUntil(done, 10);
        }
        return done();
    }
    std::string text() const { return document->model().sourceText(); }
    bool clean() const { return !document->model().isMissing() && !document->externalIssue(); }
};

TEST(DocumentWatchWiring, RenamesOfAnyOrderAndSpeedEndOnTheFileTheDocumentHolds) {
    // Each run renames the file through names it leaves at once, the main
    // loop turning in between (so moves are reported for names already
    // gone); `end` is where the file is left.
    struct Case {
        const char* name;
        int cycles;
        std::vector<const char*> names;  // the renames of one cycle, from a.md
        const char* end;
    };
    const Case cases[] = {
        {"one cycle back home", 1, {"b.md", "c.md", "a.md"}, "a.md"},
        {"two hundred cycles back home", 200, {"b.md", "c.md", "a.md"}, "a.md"},
        {"away through a name it leaves", 1, {"b.md", "c.md"}, "c.md"},
        {"into a folder and back out under a new name", 20, {"sub/a.md", "b.md", "a.md"}, "a.md"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Opened o;
        fs::create_directory(o.dir / "sub");
        o.open(o.dir.write("a.md", "# A\n"));
        const std::string base = o.text();
        fs::path at = o.dir / "a.md";
        for (int cycle = 0; cycle < c.cycles; ++cycle) {
            for (const char* name : c.names) {
                fs::rename(at, o.dir / name);
                at = o.dir / name;
                MainThread::turnMainLoop(std::chrono::milliseconds(0));
            }
            if (cycle % 7 == 0) o.clock.advance(ContentStabilizer::settleDelay);
        }
        const fs::path end = o.dir / c.end;
        ASSERT_EQ(at, end);
        // Settled: bound to the file, and so watching it.
        append(end, "more\n");
        EXPECT_TRUE(o.until([&] { return o.text() == base + "more\n"; })) << o.text();
        EXPECT_EQ(o.document->path(), end);
        EXPECT_TRUE(o.clean());
        append(end, "again\n");
        EXPECT_TRUE(o.until([&] { return o.text() == base + "more\nagain\n"; })) << o.text();
        EXPECT_EQ(o.document->path(), end);
    }
}

TEST(DocumentWatchWiring, AFolderReplacedByALinkToAnotherFileNeverShowsThatFile) {
    // The file's folder is renamed (the file hears nothing of it) and a link
    // to a folder with another file of the same name takes its place.
    Opened o;
    fs::create_directory(o.dir / "dir");
    fs::create_directory(o.dir / "other");
    o.dir.write("other/d.md", "# Other\n");
    o.open(o.dir.write("dir/d.md", "# Mine\n"));
    const std::string base = o.text();
    fs::rename(o.dir / "dir", o.dir / "dir.old");
    fs::create_directory_symlink(o.dir / "other", o.dir / "dir");

    append(o.dir / "dir.old" / "d.md", "more\n");
    EXPECT_TRUE(o.until([&] { return o.document->path() == o.dir / "dir.old" / "d.md"; }))
        << o.document->path().value_or("");
    EXPECT_TRUE(o.until([&] { return o.text() == base + "more\n"; })) << o.text();
    EXPECT_TRUE(o.clean());
    EXPECT_GE(o.keeper->fileChanges, 1);

    append(o.dir / "other" / "d.md", "theirs\n");  // not the document's file
    o.until([] { return false; }, 10);
    EXPECT_EQ(o.text(), base + "more\n");
    append(o.dir / "dir.old" / "d.md", "again\n");  // still followed
    EXPECT_TRUE(o.until([&] { return o.text() == base + "more\nagain\n"; })) << o.text();
}

}  // namespace
}  // namespace larkspin
