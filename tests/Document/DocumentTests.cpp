#include "Document/Document.hpp"

#include <gtest/gtest.h>

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Document/Drafts/DraftScheduler.hpp"
#include "Reader/Chrome/ConflictBarController.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

class NullBarView final : public ConflictBarView {
public:
    void render(const ConflictBarPresentation&) override {}
    void applyPalette(const ConflictBarPalette&) override {}
    void setRevealed(bool value) override { revealed = value; }
    void announce(const std::string&) override {}
    bool revealed = false;
};

Task<bool> answer(bool value) {
    co_return value;
}

Task<std::optional<std::filesystem::path>> pick(std::optional<std::filesystem::path> path) {
    co_return path;
}

// A page without a reader: a notice bar, and the two questions answered as
// the test says.
class FakeHost final : public DocumentWindowHost {
public:
    std::shared_ptr<ReaderViewController> reader() const override { return nullptr; }
    ConflictBarController* noticeBarController() const override { return bar.get(); }
    void documentDidRender(const std::vector<BridgeHeading>&) override {}
    void documentTitleChanged() override { ++titleChanges; }
    Presented present() override {
        ++presented;
        return {};
    }
    Task<std::optional<std::filesystem::path>> chooseSourceFile(SourceRequest request) override {
        requests.push_back(request);
        return pick(chosen);
    }
    Task<bool> confirmDiscard(OpenConfirmation::Question question) override {
        questions.push_back(question);
        return answer(discard);
    }

    std::shared_ptr<NullBarView> view = std::make_shared<NullBarView>();
    std::shared_ptr<ConflictBarController> bar =
        ConflictBarController::create(view, ThemeCatalog::theme(ThemeID::porcelain));
    std::optional<std::filesystem::path> chosen;
    bool discard = false;
    std::vector<SourceRequest> requests;
    std::vector<OpenConfirmation::Question> questions;
    int titleChanges = 0;
    int presented = 0;
};

std::shared_ptr<Document> makeDocument(std::optional<std::filesystem::path> path = std::nullopt) {
    Document::Services services;
    services.observesFile = false;
    return Document::create(services, std::move(path));
}

TEST(Document, LogIDIsTheStandardizedPathsDigestOrAnUntitledCount) {
    auto document = makeDocument("/notes/sub/../a.md");
    EXPECT_EQ(document->path(), std::filesystem::path("/notes/a.md"));
    EXPECT_EQ(document->logID(), sha256Hex("/notes/a.md").substr(0, 8));
    EXPECT_EQ(document->logID().size(), 8u);
    EXPECT_EQ(document->displayName(), "a.md");
    // Kept when the file moves.
    const std::string before = document->logID();
    document->adoptRelocatedSource("/elsewhere/b.md");
    EXPECT_EQ(document->logID(), before);

    auto first = makeDocument();
    auto second = makeDocument();
    const std::string one = first->logID();
    const std::string two = second->logID();
    ASSERT_EQ(one.rfind("untitled-", 0), 0u);
    EXPECT_EQ(std::stoll(two.substr(9)), std::stoll(one.substr(9)) + 1);
    EXPECT_EQ(first->logID(), one) << "fixed at first use";
}

TEST(Document, AFileIsReadOffTheMainThreadAndAdoptedOnce) {
    test::TempDir dir;
    test::LogCapture logs;
    const auto file = dir.write("notes.md", "# Title\r\n\r\ntext\r\n");
    auto document = makeDocument(file);
    test::runTask(Document::read(document));
    EXPECT_EQ(document->model().sourceText(), "# Title\r\n\r\ntext\r\n");
    EXPECT_EQ(document->loaded().byteCount, 17);
    EXPECT_FALSE(document->isEdited());
    EXPECT_FALSE(document->isReadOnly());
    EXPECT_FALSE(document->adoptLoadedIfNeeded()) << "already adopted";
    EXPECT_TRUE(logs.contains("document", "进模型：17 字节 encoding=utf8 lineEnding=crlf revision="));

    // A missing file still makes a document: read-only, with its failure.
    auto missing = makeDocument(dir / "gone.md");
    test::runTask(Document::read(missing));
    ASSERT_TRUE(missing->loaded().failure);
    EXPECT_TRUE(missing->isReadOnly());
    EXPECT_FALSE(missing->isObservingFile());
}

TEST(Document, IssuesShowWhenTheWindowComesAndClearByKind) {
    auto document = makeDocument("/notes/a.md");
    document->setExternalIssue(ExternalIssue::unreadable(DocumentLoadFailure::permissionDenied()));
    FakeHost host;
    EXPECT_FALSE(host.bar->content()) << "nothing to show it in yet";
    document->attachWindow(host);
    ASSERT_TRUE(host.bar->content()) << "shown once the window exists";
    EXPECT_EQ(host.bar->content()->kind, ExternalIssueKind::permission);

    struct Step {
        ExternalIssueKinds kinds;
        bool cleared;
    };
    const Step steps[] = {
        {{ExternalIssueKind::unreadable}, false},  // the permission notice has its own kind
        {{ExternalIssueKind::conflict, ExternalIssueKind::missing}, false},
        {{ExternalIssueKind::permission}, true},
    };
    for (const Step& step : steps) {
        document->clearExternalIssue(step.kinds);
        EXPECT_EQ(!document->externalIssue().has_value(), step.cleared);
        EXPECT_EQ(!host.bar->content().has_value(), step.cleared);
    }
    document->setExternalIssue(ExternalIssue::saveFailed("x"));
    document->clearExternalIssue({});
    EXPECT_FALSE(document->externalIssue()) << "an empty set clears any issue";

    // The save button's title is fixed by the state when the content is built.
    EXPECT_EQ(document->barContent(ExternalIssue::missing()).actions[0].title, "另存副本…");
    document->model().replaceAll("edited");
    EXPECT_EQ(document->barContent(ExternalIssue::missing()).actions[0].title, "另存为…");
    EXPECT_EQ(makeDocument()->barContent(ExternalIssue::missing()).actions.size(), 1u);
    document->detachWindow(host);
}

TEST(Document, TheConflictsReloadAsksBeforeThrowingUnsavedTextAway) {
    auto document = makeDocument("/notes/a.md");
    FakeHost host;
    document->attachWindow(host);
    std::vector<std::string> reloads;
    document->hooks().reloadFromDisk = [&](Document&, std::string reason) { reloads.push_back(reason); };

    // Clean: nothing to lose, no question.
    document->resolveConflictByReloading();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return reloads.size() == 1; }));
    EXPECT_TRUE(host.questions.empty());

    document->model().replaceAll("unsaved");
    host.discard = false;
    document->resolveConflictByReloading();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return host.questions.size() == 1; }));
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(reloads.size(), 1u) << "a no keeps the text";
    EXPECT_EQ(document->model().sourceText(), "unsaved");
    EXPECT_EQ(host.questions[0].openLabel, "丢弃并重新载入");

    host.discard = true;
    document->resolveConflictByReloading();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return reloads.size() == 2; }));
    EXPECT_EQ(host.questions.size(), 2u) << "asked once per reload";
    EXPECT_EQ(reloads[1], "用户重新载入");
    document->detachWindow(host);

    // Without a window to ask in, unsaved text is never thrown away.
    document->resolveConflictByReloading();
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(reloads.size(), 2u);
}

TEST(Document, ActionsReachTheirHooksAndClearTheirNotices) {
    auto document = makeDocument("/notes/a.md");
    std::vector<std::string> calls;
    document->hooks().save = [&](Document& d) {
        calls.push_back(d.externalIssue() ? "save with notice" : "save");
    };
    document->hooks().saveAs = [&](Document&) { calls.push_back("saveAs"); };
    document->hooks().sampleAgain = [&](Document&) { calls.push_back("sample"); };
    document->setExternalIssue(ExternalIssue::saveFailed("disk full"));
    document->retrySave();
    document->saveElsewhere();
    document->sampleAgain();
    EXPECT_EQ(calls, (std::vector<std::string>{"save", "saveAs", "sample"}))
        << "the failed-save notice goes before the save starts";

    // Keeping mine takes the disk's version as the baseline and keeps the text.
    document->model().replaceAll("mine");
    const DiskVersion found{"ab", 4, {}, "ff"};
    document->model().noteConflict(found);
    document->setExternalIssue(ExternalIssue::conflict(found));
    document->resolveConflictKeepingMine();
    EXPECT_FALSE(document->externalIssue());
    EXPECT_EQ(document->model().diskVersion(), found);
    EXPECT_EQ(document->model().sourceText(), "mine");

    document->setExternalIssue(ExternalIssue::recovered(std::chrono::system_clock::now()));
    document->dismissRecovered();
    EXPECT_FALSE(document->externalIssue());

    // A watch that cannot start shows the unreadable notice.
    document->observationFailed(
        ContentStabilizer::UnreadableReason(DocumentLoadFailure::readError("EIO"), "POSIX 5"));
    ASSERT_TRUE(document->externalIssue());
    EXPECT_EQ(document->externalIssue()->kind(), ExternalIssueKind::unreadable);
}

TEST(Document, RelocatingOntoAFileOpenElsewhereBringsThatDocumentForward) {
    test::TempDir dir;
    const auto moved = dir.write("moved.md", "# A\n");
    auto document = makeDocument(dir / "a.md");
    FakeHost host;
    document->attachWindow(host);
    document->model().noteMissing(true);
    document->setExternalIssue(ExternalIssue::missing());
    bool openElsewhere = true;
    std::vector<std::filesystem::path> asked;
    document->hooks().openElsewhere = [&](std::shared_ptr<Document>, std::filesystem::path path) {
        asked.push_back(path);
        return answer(openElsewhere);
    };
    int followed = 0;
    document->hooks().fileChanged = [&](Document&) { ++followed; };

    host.chosen = moved;
    document->relocateSourceFile();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return asked.size() == 1; }));
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(document->path(), dir / "a.md") << "the other document came forward instead";
    EXPECT_TRUE(document->externalIssue());
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].startFolder, dir.path());
    EXPECT_EQ(host.requests[0].prompt, "选择源文件");
    EXPECT_EQ(host.requests[0].message, "重新选择「a.md」的源文件位置。你的文本不会被改动。");

    openElsewhere = false;
    document->relocateSourceFile();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return document->path() == moved; }));
    EXPECT_FALSE(document->externalIssue());
    EXPECT_FALSE(document->model().isMissing());
    EXPECT_EQ(followed, 1);

    // Cancelled: nothing changes.
    host.chosen.reset();
    document->setExternalIssue(ExternalIssue::missing());
    document->relocateSourceFile();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return host.requests.size() == 3; }));
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(document->path(), moved);
    EXPECT_TRUE(document->externalIssue());
    document->detachWindow(host);
}

}  // namespace
}  // namespace larkspin

namespace larkspin {
namespace {

// A document over a real file with its own units: a draft folder, a watch off.
struct Wired {
    test::TempDir dir;
    std::filesystem::path file;
    std::shared_ptr<RecoveryStore> store;
    std::shared_ptr<Document> document;

    explicit Wired(const std::string& text) {
        file = dir.write("notes.md", text);
        store = std::make_shared<RecoveryStore>(dir / "drafts");
        Document::Services services;
        services.observesFile = false;
        services.recoveryStore = store;
        document = Document::create(services, file);
        test::runTask(Document::read(document));
    }
    std::vector<RecoveryDraft> drafts() const { return RecoveryStore::allDrafts(dir / "drafts"); }
    std::string onDisk() const { return test::readFile(file); }
    bool resolved() const {
        const auto all = drafts();
        return all.size() == 1 && !all[0].content;
    }
};

TEST(DocumentWiring, SaveWritesTheFileAndResolvesTheDraftACloseFlushesThenResolves) {
    struct Case {
        const char* name;
        bool save;  // else the document closes unsaved
    };
    for (const Case& c : {Case{"saved", true}, Case{"closed", false}}) {
        SCOPED_TRACE(c.name);
        Wired wired("# Old\n");
        wired.document->model().replaceAll("# New\n");
        ASSERT_TRUE(wired.document->isEdited());
        test::runTask(wired.document->flushDraft());
        ASSERT_EQ(wired.drafts().size(), 1u) << "the flush wrote the draft at once";
        EXPECT_TRUE(wired.drafts()[0].content);

        if (c.save) {
            std::optional<std::optional<SaveError>> answer;
            wired.document->save([&](std::optional<SaveError> error) { answer = std::move(error); });
            ASSERT_TRUE(test::runMainLoopUntil([&] { return answer.has_value(); }));
            EXPECT_FALSE(*answer);
            EXPECT_EQ(wired.onDisk(), "# New\n");
            EXPECT_FALSE(wired.document->isEdited());
        } else {
            wired.document->close();
            EXPECT_EQ(wired.onDisk(), "# Old\n") << "closing never writes the file";
        }
        EXPECT_TRUE(test::runMainLoopUntil([&] { return wired.resolved(); })) << "resolved";
    }
}

TEST(DocumentWiring, AReloadAdoptsTheTextResolvesTheDraftAndRendersAgain) {
    Wired wired("# One\n");
    FakeHost host;
    wired.document->attachWindow(host);
    wired.document->model().replaceAll("# Mine\n");
    test::runTask(wired.document->flushDraft());
    wired.document->adoptReload(DocumentLoader::load(std::string("# Two\n")));
    EXPECT_EQ(wired.document->model().sourceText(), "# Two\n");
    EXPECT_FALSE(wired.document->isEdited());
    EXPECT_TRUE(test::runMainLoopUntil([&] { return wired.resolved(); }));
    wired.document->detachWindow(host);
}

TEST(DocumentWiring, CommandsFollowTheDocumentsState) {
    Wired wired("# A\n");
    EXPECT_TRUE(wired.document->canSave());
    EXPECT_TRUE(wired.document->canSaveAs());
    EXPECT_FALSE(wired.document->canRevert()) << "nothing to revert";
    wired.document->model().replaceAll("# B\n");
    EXPECT_FALSE(wired.document->canRevert()) << "no watch to read the file again with";

    // A save as without a window to ask in saves nothing and says so.
    std::optional<std::optional<SaveError>> answer;
    wired.document->saveAs([&](std::optional<SaveError> error) { answer = std::move(error); });
    ASSERT_TRUE(test::runMainLoopUntil([&] { return answer.has_value(); }));
    EXPECT_TRUE(*answer);
    EXPECT_EQ(wired.onDisk(), "# A\n");
    wired.document->close();
    EXPECT_FALSE(wired.document->canSave());
}

}  // namespace
}  // namespace larkspin
