// The file opener with the program's quit control: the pages of files named
// while a quit is under way wait until it is decided.

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "App/Desktop/FileOpener.hpp"
#include "App/Desktop/QuitControl.hpp"
#include "App/LaunchRestores.hpp"
#include "App/ShellDocuments.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Support/Display/WebViewHarness.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

// A document that counts the pages made for it.
class CountedDocument final : public OpenedDocument {
public:
    void makeWindowControllers() override { ++pages; }
    void showWindows() override {}
    void applyRecoveryDraft(const RecoveryDraft&, std::optional<DraftSetAside>) override {}
    void setRecoveryStore(std::shared_ptr<RecoveryStore>) override {}
    bool isReadOnly() const override { return false; }
    void scrollToFragment(std::string) override {}

    int pages = 0;
};

class Documents final : public DocumentOpener, public ShellDocuments {
public:
    // DocumentOpener: every file opens, each as a document of its own.
    Task<Opened> openDocument(std::filesystem::path, bool) override {
        auto document = std::make_shared<CountedDocument>();
        opened.push_back(document);
        co_return Opened{document, false};
    }
    std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view) override { return nullptr; }
    void addDocument(std::shared_ptr<OpenedDocument>) override {}

    // ShellDocuments: the quit's review waits for the test's answer.
    std::size_t documentCount() const override { return opened.size(); }
    std::size_t flushDraftsNow() override { return 0; }
    void flushEveryDraftAndWait() override {}
    void reviewBeforeQuit(std::function<void(bool)> done) override { review = std::move(done); }
    bool canPerform(DocumentCommand) const override { return false; }
    void perform(DocumentCommand) override {}
    WindowStateSnapshot windowState() const override { return {}; }
    SessionSnapshot sessionSnapshot(const std::vector<std::string>&) const override { return {}; }
    void setChangeHandler(std::function<void()>) override {}

    std::vector<std::shared_ptr<CountedDocument>> opened;
    std::function<void(bool)> review;
};

class Shell final : public QuitControl::Shell {
public:
    explicit Shell(ShellDocuments& documents) : documents_(documents) {}
    ShellDocuments* documents() override { return &documents_; }
    void freezeSession() override {}
    void refreshActions() override {}

private:
    ShellDocuments& documents_;
};

// A quit held in its review (a question about unsaved text is up): a file
// named meanwhile is opened but gets no page, nor do the files already
// waiting for theirs; once the quit is cancelled, every page comes.
TEST(FileOpenerDisplay, NoPageIsMadeWhileTheQuitIsInReviewAndEveryOneComesWhenItIsCancelled) {
    test::TempDir dir;
    auto application = GObjectPtr<GtkApplication>::adopt(
        gtk_application_new("dev.corvantel.larkspin.fileopenertest", G_APPLICATION_NON_UNIQUE));
    auto documents = std::make_shared<Documents>();
    Shell shell(*documents);
    QuitControl quit(G_APPLICATION(application.get()), shell);
    // Held as a window of it would: without one the quit rule ends it.
    QuitControl::Hold window = quit.hold();
    LaunchRestores<OpenedDocument> restores;
    restores.draftsEnded();
    FileOpener opener(application.get(), quit, documents, restores);

    opener.open(dir.write("before.md", "# Before\n"));
    ASSERT_TRUE(test::waitFor([&] { return documents->opened.size() == 1 && documents->opened[0]->pages == 1; }));

    quit.requestQuit();
    ASSERT_TRUE(documents->review) << "the quit asks its review";
    for (const char* name : {"one.md", "two.md", "three.md"}) opener.open(dir.write(name, "# Text\n"));
    // Once an open is over, its page is made at once unless a quit is under
    // way: once none is being opened, every page that was to come is there.
    ASSERT_TRUE(test::waitFor([&] { return documents->opened.size() == 4 && opener.beingOpened().empty(); }));
    for (std::size_t index = 1; index < documents->opened.size(); ++index)
        EXPECT_EQ(documents->opened[index]->pages, 0) << "a page made while the question is up";
    EXPECT_EQ(opener.waiting().size(), 3u) << "the session keeps the files whose pages wait";

    auto review = std::exchange(documents->review, nullptr);
    review(false);
    EXPECT_TRUE(test::waitFor([&] {
        for (const auto& document : documents->opened)
            if (document->pages != 1) return false;
        return true;
    })) << "the pages come once the quit is cancelled";
    EXPECT_TRUE(opener.waiting().empty());
}

}  // namespace
}  // namespace larkspin
