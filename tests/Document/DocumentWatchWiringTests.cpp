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
    void documentDidRender(const std::vector<BridgeHeading>&) override {}
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

}  // namespace
}  // namespace larkspin
