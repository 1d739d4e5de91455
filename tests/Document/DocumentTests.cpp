#include "Document/Document.hpp"

#include "Document/DocumentNoticeActions.hpp"
#include "Document/DocumentRendering.hpp"
#include "Document/FakeDocumentKeeper.hpp"

#include <gtest/gtest.h>

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/Text/Sha256.hpp"
#include "Document/Drafts/DraftScheduler.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/PasteboardService.hpp"
#include "Document/RenderTier.hpp"
#include "Platform/Localization.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

#include <atomic>
#include <fstream>
#include <functional>
#include <unistd.h>

namespace larkspin {
namespace {

class NullBarView final : public NoticeBarView {
public:
    void render(const NoticeBarPresentation&) override {}
    void applyPalette(const NoticeBarPalette&) override {}
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

// A page's reader as the document sees it: what it was asked to show, and
// the page's replies sent on the test's word.
class FakeReader final : public DocumentReader {
public:
    struct Render {
        std::string text;
        std::optional<RenderEnhancements> enhancements;
    };
    struct Banner {
        BannerID id = 0;
        std::string message;
        std::string actionTitle;
        std::function<void()> onAction;
        std::function<void()> onDismiss;
    };

    void setOwner(std::weak_ptr<Owner> value) override { owner = std::move(value); }
    void render(std::shared_ptr<const std::string> text, std::optional<RenderEnhancements> enhancements) override {
        renders.push_back({*text, enhancements});
    }
    void showDocumentStatus(DocumentStatusContent content) override { status = std::move(content); }
    void hideDocumentStatus() override { status.reset(); }
    void setDocumentLocation(std::optional<std::filesystem::path> value) override { location = std::move(value); }
    bool showsRenderedPage() const override { return pageShown; }
    Task<ScrolledPayload> scrollToHeading(std::string id) override {
        scrolls.push_back(id);
        co_return ScrolledPayload{id, true};
    }
    BannerID showBanner(std::string message, std::string actionTitle, std::function<void()> onAction,
                        std::function<void()> onDismiss) override {
        banner = Banner{++lastBanner, std::move(message), std::move(actionTitle), std::move(onAction),
                        std::move(onDismiss)};
        return lastBanner;
    }
    void hideBanner(BannerID id) override {
        if (banner && banner->id == id) banner.reset();
    }

    // The page's reply to a render, with `headings` headings.
    void rendered(std::size_t headings = 0) {
        pageShown = true;
        if (auto alive = owner.lock()) alive->readerDidRender(RenderOutcome{headings, degradation});
    }
    std::shared_ptr<Owner> currentOwner() const { return owner.lock(); }

    std::weak_ptr<Owner> owner;
    std::vector<Render> renders;
    std::optional<DocumentStatusContent> status;
    std::optional<std::filesystem::path> location;
    std::optional<std::string> degradation;
    std::vector<std::string> scrolls;
    std::optional<Banner> banner;
    BannerID lastBanner = 0;
    bool pageShown = false;  // a render shown, until the test takes the web view away
};

// A page: a notice bar, a reader when the test gives one, and the questions
// answered as the test says.
class FakeHost final : public DocumentWindowHost {
public:
    std::shared_ptr<DocumentReader> reader() const override { return page; }
    NoticeBarController* noticeBarController() const override { return bar.get(); }
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
    Task<std::optional<std::filesystem::path>> chooseSaveLocation(SaveRequest request) override {
        saveRequests.push_back(request);
        return pick(saveTo);
    }
    void showSaveError(std::string message) override { saveErrors.push_back(message); }

    // The bar's button titled `title` pressed; false when the bar shows none.
    bool press(const std::string& title) const {
        if (!bar->content()) return false;
        for (const auto& action : bar->content()->actions) {
            if (action.title != title) continue;
            action.handler();
            return true;
        }
        return false;
    }

    std::shared_ptr<FakeReader> page;
    std::shared_ptr<NullBarView> view = std::make_shared<NullBarView>();
    std::shared_ptr<NoticeBarController> bar =
        NoticeBarController::create(view, ThemeCatalog::theme(ThemeID::porcelain));
    std::optional<std::filesystem::path> chosen;
    std::optional<std::filesystem::path> saveTo;
    bool discard = false;
    std::vector<SourceRequest> requests;
    std::vector<SaveRequest> saveRequests;
    std::vector<std::string> saveErrors;
    std::vector<OpenConfirmation::Question> questions;
    int titleChanges = 0;
    int presented = 0;
};

std::shared_ptr<Document> makeDocument(std::optional<std::filesystem::path> path = std::nullopt) {
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.observesFile = false;
    return Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), std::move(path));
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
    EXPECT_EQ(document->notices().barContent(ExternalIssue::missing()).actions[0].title, "另存副本…");
    document->model().replaceAll("edited");
    EXPECT_EQ(document->notices().barContent(ExternalIssue::missing()).actions[0].title, "另存为…");
    EXPECT_EQ(makeDocument()->notices().barContent(ExternalIssue::missing()).actions.size(), 1u);
    document->detachWindow(host);
}

TEST(Document, TheBarsActionsKeepOrClearTheirNotices) {
    auto document = makeDocument("/notes/a.md");
    FakeHost host;
    document->attachWindow(host);
    // Keeping mine takes the disk's version as the baseline and keeps the text.
    document->model().replaceAll("mine");
    const DiskVersion found{"ab", 4, {}, "ff"};
    document->model().noteConflict(found);
    document->setExternalIssue(ExternalIssue::conflict(found));
    ASSERT_TRUE(host.press("保留我的"));
    EXPECT_FALSE(document->externalIssue());
    EXPECT_FALSE(host.bar->content());
    EXPECT_EQ(document->model().diskVersion(), found);
    EXPECT_EQ(document->model().sourceText(), "mine");

    document->setExternalIssue(ExternalIssue::recovered(std::chrono::system_clock::now()));
    ASSERT_TRUE(host.press("知道了"));
    EXPECT_FALSE(document->externalIssue());

    // A watch that cannot start shows the unreadable notice; its retry, with
    // nothing watched, leaves it until a verdict comes.
    document->observationFailed(
        ContentStabilizer::UnreadableReason(DocumentLoadFailure::readError("EIO"), "POSIX 5"));
    ASSERT_TRUE(document->externalIssue());
    EXPECT_EQ(document->externalIssue()->kind(), ExternalIssueKind::unreadable);
    ASSERT_TRUE(host.press("重试"));
    EXPECT_TRUE(document->externalIssue());
    document->detachWindow(host);
}

// Each size tier shows as it should: rendered whole, rendered without
// enhancements behind a banner that renders fully, or a status page with
// nothing sent to the page.
TEST(Document, RendersAtItsSizeTierWithItsBannerOrStatusPage) {
    test::TempDir dir;
    const std::string line(99, 'x');
    auto sized = [&](const char* name, std::int64_t bytes) {
        std::string text = "# Big\n\n";
        while (static_cast<std::int64_t>(text.size()) <= bytes) text += line + "\n";
        return dir.write(name, text);
    };
    struct Case {
        const char* name;
        std::filesystem::path file;
        bool renders;
        std::optional<RenderEnhancements> enhancements;
        std::string banner;  // its button; empty for none
        std::string status;  // the status page's title; empty for none
    };
    const Case cases[] = {
        {"normal", dir.write("small.md", "# Small\n"), true, std::nullopt, "", ""},
        {"large", sized("large.md", largeDocumentThreshold), true, RenderEnhancements{false, false, false},
         L10n::text("banner.large_file.render_full"), ""},
        {"restricted", sized("huge.md", restrictedDocumentThreshold), false, std::nullopt, "",
         L10n::text("status.restricted.title")},
        {"failure", dir / "gone.md", false, std::nullopt, "",
         DocumentLoadFailure::notFound().title()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto document = makeDocument(c.file);
        test::runTask(Document::read(document));
        FakeHost host;
        host.page = std::make_shared<FakeReader>();
        FakeReader& reader = *host.page;
        document->attachWindow(host);
        EXPECT_EQ(reader.location, c.file);
        EXPECT_EQ(reader.currentOwner().get(), document.get());
        ASSERT_EQ(reader.renders.size(), c.renders ? 1u : 0u);
        EXPECT_EQ(reader.status.has_value(), !c.status.empty());
        if (reader.status) {
            EXPECT_EQ(reader.status->title, c.status);
        }
        EXPECT_EQ(reader.banner.has_value(), !c.banner.empty());
        if (c.renders) {
            EXPECT_EQ(reader.renders[0].text, document->model().sourceText());
            EXPECT_EQ(reader.renders[0].enhancements, c.enhancements);
        }
        if (reader.banner) {
            // The large file's banner renders it fully, once.
            EXPECT_EQ(reader.banner->actionTitle, c.banner);
            EXPECT_TRUE(document->rendering().isReducedRendering());
            reader.banner->onAction();
            ASSERT_EQ(reader.renders.size(), 2u);
            EXPECT_EQ(reader.renders[1].enhancements, (RenderEnhancements{true, true, true}));
            EXPECT_FALSE(reader.banner) << "the banner goes with its answer";
            EXPECT_FALSE(document->rendering().isReducedRendering());
            document->rendering().enableFullRendering();
            EXPECT_EQ(reader.renders.size(), 2u);
        }
        document->detachWindow(host);
        EXPECT_FALSE(reader.currentOwner()) << "a page left hears nothing more";
    }
}

// What the page's reader reports reaches the document: a render (the log of
// its headings, a pending fragment, the degradation banner), links and a
// refused image; a closing failure shows as a banner. (The page's copies go
// to the reader's own pasteboard.)
TEST(Document, TheReadersEventsReachTheDocument) {
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.observesFile = false;
    auto keeper = std::make_shared<test::FakeDocumentKeeper>();
    auto document = Document::create(std::move(services), keeper, std::filesystem::path("/notes/a.md"));
    FakeHost host;
    host.page = std::make_shared<FakeReader>();
    FakeReader& reader = *host.page;
    document->scrollToFragment("later");
    document->attachWindow(host);

    test::LogCapture logs;
    reader.rendered(2);
    EXPECT_EQ(document->renderCount(), 1);
    EXPECT_TRUE(logs.contains("document", "渲染完成：2 个标题"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return reader.scrolls.size() == 1; }));
    EXPECT_EQ(reader.scrolls[0], "later") << "the fragment asked before the first render";
    document->scrollToFragment("now");
    ASSERT_TRUE(test::runMainLoopUntil([&] { return reader.scrolls.size() == 2; }));
    // A page whose web view went (or is being rebuilt) waits for its render.
    reader.pageShown = false;
    document->scrollToFragment("rebuilt");
    MainThread::drainForTesting();
    EXPECT_EQ(reader.scrolls.size(), 2u);
    reader.rendered();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return reader.scrolls.size() == 3; }));
    EXPECT_EQ(reader.scrolls[2], "rebuilt");

    // A degraded render puts up its banner; a whole one takes it down.
    reader.degradation = "图表未能渲染";
    reader.rendered();
    ASSERT_TRUE(reader.banner);
    EXPECT_EQ(reader.banner->message, "图表未能渲染");
    EXPECT_EQ(reader.banner->actionTitle, "知道了");
    reader.degradation.reset();
    reader.rendered();
    EXPECT_FALSE(reader.banner);

    // A refused image says so once.
    document->readerWasDeniedResource("/private/a.png");
    ASSERT_TRUE(reader.banner);
    EXPECT_EQ(reader.banner->message, accessDeniedBannerMessage(false));
    reader.banner->onDismiss();
    EXPECT_FALSE(reader.banner);
    document->readerWasDeniedResource("/private/b.png");
    EXPECT_FALSE(reader.banner);

    reader.currentOwner()->readerOpensLink(OpenLinkPayload{"b.md", OpenLinkPayload::Kind::relative, {}});
    EXPECT_EQ(keeper->links, (std::vector<std::string>{"b.md"}));

    document->showCloseFailure("未能保存，文档未关闭");
    ASSERT_TRUE(reader.banner);
    EXPECT_EQ(reader.banner->message, "未能保存，文档未关闭");
    document->detachWindow(host);
}

TEST(Document, RelocatingOntoAFileOpenElsewhereBringsThatDocumentForward) {
    test::TempDir dir;
    const auto moved = dir.write("moved.md", "# A\n");
    Document::Services services;
    services.draftWriter = std::make_shared<DraftWriter>();
    services.observesFile = false;
    auto keeper = std::make_shared<test::FakeDocumentKeeper>();
    auto document = Document::create(services, keeper, dir / "a.md");
    FakeHost host;
    document->attachWindow(host);
    document->model().noteMissing(true);
    document->setExternalIssue(ExternalIssue::missing());
    keeper->openElsewhere = true;
    const std::vector<std::filesystem::path>& asked = keeper->asked;

    host.chosen = moved;
    document->notices().relocateSourceFile();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return asked.size() == 1; }));
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_EQ(document->path(), dir / "a.md") << "the other document came forward instead";
    EXPECT_TRUE(document->externalIssue());
    ASSERT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.requests[0].startFolder, dir.path());
    EXPECT_EQ(host.requests[0].prompt, "选择源文件");
    EXPECT_EQ(host.requests[0].message, "重新选择「a.md」的源文件位置。你的文本不会被改动。");

    keeper->openElsewhere = false;
    document->notices().relocateSourceFile();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return document->path() == moved; }));
    EXPECT_FALSE(document->externalIssue());
    EXPECT_FALSE(document->model().isMissing());
    EXPECT_EQ(keeper->fileChanges, 1) << "the registry follows";

    // Cancelled: nothing changes.
    host.chosen.reset();
    document->setExternalIssue(ExternalIssue::missing());
    document->notices().relocateSourceFile();
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

// A document over a real file with its own units: a draft folder, a watch
// on a clock that does not move unless asked (off unless asked), the system
// calls given.
struct Wired {
    test::TempDir dir;
    std::filesystem::path file;
    std::shared_ptr<RecoveryStore> store;
    ManualClock clock;
    std::shared_ptr<Document> document;

    explicit Wired(const std::string& text, bool watch = false, SysCalls sys = realSysCalls()) {
        file = dir.write("notes.md", text);
        store = std::make_shared<RecoveryStore>(dir / "drafts");
        Document::Services services;
        services.draftWriter = std::make_shared<DraftWriter>();
        services.clock = &clock;
        services.observesFile = watch;
        services.recoveryStore = store;
        services.sys = std::move(sys);
        document = Document::create(std::move(services), std::make_shared<test::FakeDocumentKeeper>(), file);
        test::runTask(Document::read(document));
    }
    ~Wired() { document->close(); }
    std::vector<RecoveryDraft> drafts() const { return RecoveryStore::allDrafts(dir / "drafts"); }
    std::string onDisk() const { return test::readFile(file); }
    bool resolved() const {
        const auto all = drafts();
        return all.size() == 1 && !all[0].content;
    }
};

// The notice bar's questions end with their document: a file chosen after
// the close is not taken, and no watch starts on it.
TEST(Document, ClosingEndsTheNoticeBarsQuestions) {
    test::TempDir dir;
    const auto moved = dir.write("moved.md", "# A\n");
    Document::Services services;
    services.observesFile = false;
    services.draftWriter = std::make_shared<DraftWriter>();
    auto keeper = std::make_shared<test::FakeDocumentKeeper>();
    auto document = Document::create(services, keeper, dir / "a.md");
    FakeHost host;
    document->attachWindow(host);
    document->setExternalIssue(ExternalIssue::missing());
    host.chosen = moved;
    document->notices().relocateSourceFile();
    document->close();
    test::runMainLoopUntil([] { return false; }, 20);
    EXPECT_TRUE(host.requests.empty()) << "never asked";
    EXPECT_EQ(document->path(), dir / "a.md");
    EXPECT_EQ(keeper->fileChanges, 0);
    EXPECT_EQ(keeper->closed, 1);
    document->detachWindow(host);
}

// Turns the main loop a little: for what must not happen.
void settle() {
    test::runMainLoopUntil([] { return false; }, 20);
}

TEST(DocumentWiring, TheConflictsReloadAsksBeforeThrowingUnsavedTextAway) {
    Wired wired("# Disk\n", true);
    FakeHost host;
    wired.document->attachWindow(host);
    ASSERT_TRUE(wired.document->isObservingFile());
    wired.document->model().replaceAll("unsaved");
    const DiskVersion found{"ab", 4, {}, "ff"};
    wired.document->setExternalIssue(ExternalIssue::conflict(found));

    host.discard = false;
    ASSERT_TRUE(host.press("重新载入"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return host.questions.size() == 1; })) << "never asked";
    settle();
    EXPECT_EQ(wired.document->model().sourceText(), "unsaved") << "a no keeps the text";
    EXPECT_EQ(host.questions[0].openLabel, "丢弃并重新载入");
    EXPECT_TRUE(wired.document->externalIssue());

    host.discard = true;
    ASSERT_TRUE(host.press("重新载入"));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return wired.document->model().sourceText() == "# Disk\n"; }));
    EXPECT_EQ(host.questions.size(), 2u) << "asked once per reload";
    EXPECT_FALSE(wired.document->isEdited());
    EXPECT_FALSE(wired.document->externalIssue()) << "a reload clears the notice";

    // Clean, nothing is lost: no question. Without a window, unsaved text
    // is never thrown away.
    wired.document->setExternalIssue(ExternalIssue::conflict(found));
    wired.document->notices().resolveConflictByReloading();
    settle();
    EXPECT_EQ(host.questions.size(), 2u);
    wired.document->detachWindow(host);
    wired.document->model().replaceAll("unsaved again");
    wired.document->notices().resolveConflictByReloading();
    settle();
    EXPECT_EQ(wired.document->model().sourceText(), "unsaved again");
}

// The notice buttons that read, save or relocate reach the document's own
// units and questions.
TEST(DocumentWiring, TheNoticesOtherButtonsReachTheirEffects) {
    const DiskVersion found{"ab", 4, {}, "ff"};
    struct Case {
        const char* name;
        ExternalIssue issue;
        bool edited;
        const char* button;
        std::function<bool(Wired&, FakeHost&)> done;
    };
    const Case cases[] = {
        {"external change", ExternalIssue::externalChanged(found), false, "重新载入",
         [](Wired& w, FakeHost&) { return w.document->model().sourceText() == w.onDisk(); }},
        {"save failed", ExternalIssue::saveFailed("disk full"), true, "重试",
         [](Wired& w, FakeHost&) { return w.onDisk() == "# Edited\n" && !w.document->isEdited(); }},
        {"permission", ExternalIssue::unreadable(DocumentLoadFailure::permissionDenied()), false, "重新授权…",
         [](Wired&, FakeHost& host) { return host.requests.size() == 1; }},
        {"missing", ExternalIssue::missing(), true, "重新定位…",
         [](Wired&, FakeHost& host) { return host.requests.size() == 1; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wired wired("# Kept\n", true);
        FakeHost host;
        wired.document->attachWindow(host);
        if (c.edited) wired.document->model().replaceAll("# Edited\n");
        wired.document->setExternalIssue(c.issue);
        // Another program wrote the file meanwhile.
        if (!c.edited) std::ofstream(wired.file, std::ios::binary | std::ios::trunc) << "# Changed on disk\n";
        ASSERT_TRUE(host.press(c.button));
        EXPECT_TRUE(test::runMainLoopUntil([&] { return c.done(wired, host); })) << "no effect";
        wired.document->detachWindow(host);
    }
}

// Every notice that offers "另存副本…" or "另存为…" asks where to save, and
// the text goes there; the document follows it.
TEST(DocumentWiring, TheNoticesSaveButtonAsksWhereAndSavesThere) {
    const DiskVersion found{"ab", 4, {}, "ff"};
    struct Case {
        const char* name;
        ExternalIssue issue;
        bool edited;
        const char* button;
    };
    const Case cases[] = {
        {"missing", ExternalIssue::missing(), false, "另存副本…"},
        {"unreadable", ExternalIssue::unreadable(DocumentLoadFailure::readError("EIO")), true, "另存为…"},
        {"permission", ExternalIssue::unreadable(DocumentLoadFailure::permissionDenied()), false, "另存副本…"},
        {"conflict", ExternalIssue::conflict(found), true, "另存为…"},
        {"save failed", ExternalIssue::saveFailed("disk full"), true, "另存为…"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Wired wired("# Kept\n");
        FakeHost host;
        wired.document->attachWindow(host);
        if (c.edited) wired.document->model().replaceAll("# Edited\n");
        const std::string text = wired.document->model().sourceText();
        wired.document->setExternalIssue(c.issue);
        const auto copy = wired.dir / "copy.md";
        host.saveTo = copy;
        ASSERT_TRUE(host.press(c.button));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return wired.document->path() == copy; }))
            << "nothing saved";
        ASSERT_EQ(host.saveRequests.size(), 1u);
        EXPECT_EQ(host.saveRequests[0].name, "notes.md");
        EXPECT_EQ(host.saveRequests[0].folder, wired.dir.path());
        EXPECT_EQ(test::readFile(copy), text);
        EXPECT_FALSE(wired.document->isEdited());
        EXPECT_TRUE(host.saveErrors.empty());
        wired.document->detachWindow(host);
    }
}

// A save whose read-back differs has replaced the file: neither the notice
// nor the error says that the original is unchanged.
TEST(DocumentWiring, AFailedReadBackSaysTheFileWasReplaced) {
    SysCalls sys = realSysCalls();
    auto renamed = std::make_shared<std::atomic<bool>>(false);
    sys.rename = [renamed, real = sys.rename](const char* from, const char* to) {
        const int result = real(from, to);
        *renamed = result == 0;
        return result;
    };
    sys.read = [renamed](int fd, void* buffer, std::size_t count) -> ssize_t {
        const ssize_t n = ::read(fd, buffer, count);
        if (*renamed && n > 0) static_cast<char*>(buffer)[0] ^= 0x20;
        return n;
    };
    Wired wired("# Old\n", false, sys);
    FakeHost host;
    wired.document->attachWindow(host);
    wired.document->model().replaceAll("# New\n");
    wired.document->save();
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !host.saveErrors.empty(); }));
    ASSERT_TRUE(host.bar->content());
    EXPECT_EQ(host.bar->content()->kind, ExternalIssueKind::saveFailed);
    for (const std::string& said : {host.bar->content()->message, host.saveErrors[0]}) {
        EXPECT_NE(said.find("原文件已被替换"), std::string::npos) << said;
        EXPECT_EQ(said.find("原文件未改动"), std::string::npos) << said;
    }
    EXPECT_EQ(wired.onDisk(), "# New\n");
    EXPECT_TRUE(wired.document->isEdited());
    wired.document->detachWindow(host);
}

// A recovered draft given to an untitled document says why it is not in its
// file; only a file that is gone counts as missing, and its Save As starts
// where that file was, with its name.
TEST(DocumentWiring, ADraftSetAsideFromItsFileSaysWhy) {
    struct Case {
        DraftSetAside why;
        const char* says;
        bool missing;
    };
    const Case cases[] = {
        {DraftSetAside::sourceGone, "源文件已不存在", true},
        {DraftSetAside::sourceChanged, "源文件在这份草稿之后已被改动", false},
        {DraftSetAside::sourceReadOnly, "源文件现在不能以可编辑方式打开", false},
        {DraftSetAside::sourceTaken, "源文件已恢复了另一份草稿", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.says);
        test::TempDir dir;
        Document::Services services;
        services.draftWriter = std::make_shared<DraftWriter>();
        services.observesFile = false;
        services.recoveryStore = std::make_shared<RecoveryStore>(dir / "drafts");
        auto untitled = Document::create(std::move(services), std::make_shared<test::FakeDocumentKeeper>());
        FakeHost host;
        untitled->attachWindow(host);
        RecoveryDraft draft;
        draft.draftID = "00000001-0000-0000-0000-000000000000";
        draft.fileIdentity = RecoveryDraft::FileIdentity{std::nullopt, (dir / "notes.md").string()};
        draft.content = "# Typed\n";
        untitled->applyRecoveryDraft(draft, c.why);
        EXPECT_EQ(untitled->model().sourceText(), "# Typed\n");
        ASSERT_TRUE(host.bar->content());
        EXPECT_EQ(host.bar->content()->kind, ExternalIssueKind::missing);
        EXPECT_NE(host.bar->content()->message.find(c.says), std::string::npos) << host.bar->content()->message;
        EXPECT_EQ(untitled->model().isMissing(), c.missing);
        ASSERT_EQ(host.bar->content()->actions.size(), 1u);
        EXPECT_EQ(host.bar->content()->actions[0].title, "另存为…");
        ASSERT_TRUE(host.press("另存为…"));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return !host.saveRequests.empty(); }));
        if (c.missing) {
            EXPECT_EQ(host.saveRequests[0].name, "notes.md");
            EXPECT_EQ(host.saveRequests[0].folder, dir.path());
        } else {
            EXPECT_EQ(host.saveRequests[0].name, "未命名.md");
            EXPECT_EQ(host.saveRequests[0].folder, std::nullopt);
        }
        untitled->detachWindow(host);
        untitled->close();
    }
}

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
