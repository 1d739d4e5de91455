#include <fmt/format.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <stdexcept>

#include "Document/RecoveryLaunch.hpp"
#include "Platform/Async/Clock.hpp"
#include "Platform/Files/AtomicFile.hpp"
#include "Platform/Files/FileBookmark.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Platform/Text/Uuid.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

using namespace std::chrono;
using RecoveryLaunch::restoreUnresolvedDrafts;

// Everything the fakes were asked, in order.
using Journal = std::shared_ptr<std::vector<std::string>>;

class FakeDocument final : public OpenedDocument {
public:
    FakeDocument(std::string name, Journal journal)
        : name(std::move(name)), journal_(std::move(journal)) {}

    void makeWindowControllers() override { journal_->push_back(name + " makeWindowControllers"); }
    void showWindows() override { journal_->push_back(name + " showWindows"); }
    void applyRecoveryDraft(const RecoveryDraft& draft, std::optional<DraftSetAside> why) override {
        if (draft.draftID == failingDraft) throw std::runtime_error("cannot take it");
        journal_->push_back(name + " apply " + draft.draftID.substr(0, 8));
        setAside = why;
        text = draft.content.value_or("");
    }
    void setRecoveryStore(std::shared_ptr<RecoveryStore> s) override { store = std::move(s); }
    bool isReadOnly() const override { return readOnly; }
    std::optional<DraftSetAside> recoveryDraftRefusal(const RecoveryDraft& draft) const override {
        if (fileChanged) return DraftSetAside::sourceChanged;
        return OpenedDocument::recoveryDraftRefusal(draft);
    }
    void scrollToFragment(std::string fragment) override {
        journal_->push_back(name + " scroll " + fragment);
    }

    std::string name;
    std::string text;
    std::optional<DraftSetAside> setAside;
    std::shared_ptr<RecoveryStore> store;
    bool readOnly = false;
    bool fileChanged = false;  // since the draft was taken
    std::string failingDraft;  // applying this one throws

private:
    Journal journal_;
};

class FakeController final : public DocumentOpener {
public:
    struct Answer {
        std::shared_ptr<FakeDocument> document;
        std::optional<std::string> error;
        bool later = true;  // answer on a later turn of the main loop
        bool drop = false;  // never answer: the wait ends with a broken promise
    };

    explicit FakeController(Journal journal) : journal_(std::move(journal)) {}

    Task<Opened> openDocument(std::filesystem::path path, bool display) override {
        journal_->push_back("open " + path.filename().string() + (display ? " display" : ""));
        const auto it = answers.find(path);
        const Answer answer = it != answers.end() ? it->second : Answer{};
        if (answer.drop) co_await awaitCompletion<bool>(&dropAnswer);
        if (answer.later) co_await awaitCompletion<bool>(&answerLater);
        if (answer.error) throw std::runtime_error(*answer.error);
        co_return Opened{answer.document, false};
    }
    std::shared_ptr<OpenedDocument> makeUntitledDocument(std::string_view type) override {
        journal_->push_back("untitled " + std::string(type));
        if (untitledFails) throw std::runtime_error("no more documents");
        if (untitledIsForeign) return nullptr;
        auto document =
            std::make_shared<FakeDocument>("untitled" + std::to_string(++untitledCount), journal_);
        document->failingDraft = failingDraft;
        untitled.push_back(document);
        return document;
    }
    void addDocument(std::shared_ptr<OpenedDocument> document) override {
        journal_->push_back("add " + static_cast<FakeDocument&>(*document).name);
    }

    std::map<std::filesystem::path, Answer> answers;
    std::vector<std::shared_ptr<FakeDocument>> untitled;
    bool untitledFails = false;
    bool untitledIsForeign = false;
    int untitledCount = 0;
    std::string failingDraft;

private:
    static void dropAnswer(Completion<bool>) {}
    static void answerLater(Completion<bool> done) {
        MainThread::post([done] { done.resolve(true); });
    }

    Journal journal_;
};

std::string idFor(int n) {
    return fmt::format("{:08X}-0000-4000-8000-000000000000", n);
}

class RecoveryLaunchTest : public ::testing::Test {
protected:
    // An unresolved draft updated `age` ago, of `source` when given.
    RecoveryDraft draft(int n, seconds age,
                        std::optional<std::filesystem::path> source = std::nullopt) {
        RecoveryDraft d;
        d.draftID = idFor(n);
        d.encoding = "utf8";
        d.lineEnding = "lf";
        d.content = "text " + std::to_string(n);
        d.createdAt = d.updatedAt = floor<seconds>(Clock::system().wallNow()) - age;
        if (source)
            d.fileIdentity =
                RecoveryDraft::FileIdentity{FileBookmark::make(*source), source->string()};
        return d;
    }
    void put(const RecoveryDraft& d) { RecoveryStore::writeAtomically(d, store->directory()); }
    std::vector<std::shared_ptr<OpenedDocument>> restore() {
        return test::runTask(restoreUnresolvedDrafts(store, controller));
    }

    test::TempDir dir;
    std::shared_ptr<RecoveryStore> store = std::make_shared<RecoveryStore>(dir / "Recovery");
    Journal journal = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<FakeController> controller = std::make_shared<FakeController>(journal);
};

TEST_F(RecoveryLaunchTest, WithNothingToRestoreItOnlyPurges) {
    RecoveryDraft old = draft(1, 8 * 24h);
    old.content.reset();
    old.resolvedAt = old.updatedAt;
    old.resolution = RecoveryDraft::Resolution::closed;
    put(old);
    RecoveryDraft empty = draft(2, 1h);
    empty.content.reset();  // unresolved without text: nothing to restore
    put(empty);
    EXPECT_TRUE(restore().empty());
    EXPECT_TRUE(journal->empty());
    EXPECT_FALSE(std::filesystem::exists(dir / "Recovery" / (idFor(1) + ".json")));
}

TEST_F(RecoveryLaunchTest, RestoresLeastRecentlyUpdatedFirstIntoSourcesOrUntitledDocuments) {
    const auto moved = dir.write("a.md", "old");
    put(draft(1, 1h, moved));  // its file is renamed before the launch
    std::filesystem::rename(moved, dir / "renamed.md");
    put(draft(2, 3h));  // never had a file
    put(draft(3, 2h, dir / "deleted.md"));
    RecoveryDraft noWhere = draft(4, 30min);
    noWhere.fileIdentity = RecoveryDraft::FileIdentity{std::string("broken"), ""};
    put(noWhere);
    auto source = std::make_shared<FakeDocument>("renamed", journal);
    controller->answers[dir / "renamed.md"] = {source};

    const auto restored = restore();
    EXPECT_EQ(*journal,
              (std::vector<std::string>{
                  "untitled text/markdown", "add untitled1", "untitled1 makeWindowControllers",
                  "untitled1 showWindows", "untitled1 apply 00000002", "untitled text/markdown",
                  "add untitled2", "untitled2 makeWindowControllers", "untitled2 showWindows",
                  "untitled2 apply 00000003", "open renamed.md display", "renamed apply 00000001",
                  "untitled text/markdown", "add untitled3", "untitled3 makeWindowControllers",
                  "untitled3 showWindows", "untitled3 apply 00000004"}));
    ASSERT_EQ(restored.size(), 4u);
    EXPECT_EQ(restored[2], source);
    EXPECT_EQ(source->store, store);
    EXPECT_EQ(source->text, "text 1");
    EXPECT_EQ(controller->untitled[1]->text, "text 3");
    EXPECT_EQ(controller->untitled[1]->store, nullptr);  // untitled documents keep their own store
    // Restoring resolves nothing: the drafts stay until the documents resolve them.
    EXPECT_EQ(test::runTask(store->unresolvedDrafts()).size(), 4u);
}

TEST_F(RecoveryLaunchTest, ASourceThatFailsToOpenFallsBackToAnUntitledDocument) {
    const auto a = dir.write("a.md", ""), b = dir.write("b.md", ""), c = dir.write("c.md", "");
    put(draft(1, 3h, a));
    put(draft(2, 2h, b));
    put(draft(3, 1h, c));
    controller->answers[a] = {nullptr, "POSIX 13: Permission denied"};
    controller->answers[b] = {nullptr, std::nullopt,
                              false};         // not one of our documents, answered at once
    controller->answers[c] = {.drop = true};  // the completion is never called

    test::LogCapture logs;
    const auto restored = restore();
    ASSERT_EQ(restored.size(), 3u);
    EXPECT_EQ(controller->untitled.size(), 3u);
    EXPECT_EQ(controller->untitled[0]->text, "text 1");
    EXPECT_EQ(controller->untitled[2]->text, "text 3");
    EXPECT_TRUE(logs.contains("recovery", "恢复草稿 00000001：打开源文件失败 "));
    EXPECT_TRUE(logs.contains("recovery", "恢复草稿 00000003：打开源文件失败 "));
    EXPECT_FALSE(logs.contains("recovery", "恢复草稿 00000002：打开源文件失败"));
}

TEST_F(RecoveryLaunchTest, TheSecondDraftOfOneFileGoesToAnUntitledDocument) {
    const auto file = dir.write("a.md", "");
    put(draft(1, 1h, file));
    put(draft(2, 2h, file));
    auto document = std::make_shared<FakeDocument>("a", journal);
    controller->answers[file] = {document};
    const auto restored = restore();
    // Applying both to the file's document would replace the older draft's
    // text with the newer one's: each keeps a document of its own.
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(restored[0], document);
    EXPECT_EQ(restored[1], controller->untitled.at(0));
    EXPECT_EQ(document->text, "text 2");
    EXPECT_EQ(controller->untitled[0]->text, "text 1");
    EXPECT_EQ(*journal, (std::vector<std::string>{"open a.md display", "a apply 00000002",
                                                  "open a.md display", "untitled text/markdown",
                                                  "add untitled1", "untitled1 makeWindowControllers",
                                                  "untitled1 showWindows", "untitled1 apply 00000001"}));
}

// A source the draft cannot go back to: a restricted preview or a Latin-1
// file cannot be saved (text applied there would be lost when the document
// closes), and a file changed since is no longer the text typed over.
struct UnfitSource {
    const char* name;
    const char* contents;
    bool readOnly;
    bool fileChanged;
    DraftSetAside why;  // what the untitled document is told
};

class RecoveryLaunchUnfitSourceTest : public RecoveryLaunchTest,
                                      public ::testing::WithParamInterface<UnfitSource> {};

TEST_P(RecoveryLaunchUnfitSourceTest, ADraftOfItGoesToAnUntitledDocument) {
    const UnfitSource& source = GetParam();
    const auto file = dir.write("source.md", source.contents);
    put(draft(1, 1h, file));
    auto document = std::make_shared<FakeDocument>("source", journal);
    document->readOnly = source.readOnly;
    document->fileChanged = source.fileChanged;
    controller->answers[file] = {document};

    const auto restored = restore();
    ASSERT_EQ(restored.size(), 1u);
    EXPECT_EQ(restored[0], controller->untitled.at(0));
    EXPECT_EQ(controller->untitled[0]->text, "text 1");
    EXPECT_EQ(controller->untitled[0]->setAside, source.why);
    EXPECT_TRUE(document->text.empty());
    EXPECT_EQ(document->store, nullptr);
}

INSTANTIATE_TEST_SUITE_P(Sources, RecoveryLaunchUnfitSourceTest,
                         ::testing::Values(UnfitSource{"ReadOnly", "caf\xE9", true, false,
                                                       DraftSetAside::sourceReadOnly},
                                           UnfitSource{"ChangedSince", "rewritten by another program",
                                                       false, true, DraftSetAside::sourceChanged}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(RecoveryLaunchTest, ADraftWithNowhereToGoStaysForTheNextLaunch) {
    put(draft(1, 2h));
    put(draft(2, 1h));
    controller->untitledFails = true;
    EXPECT_TRUE(restore().empty());
    controller->untitledFails = false;
    controller->untitledIsForeign = true;
    EXPECT_TRUE(restore().empty());
    EXPECT_EQ(test::runTask(store->unresolvedDrafts()).size(), 2u);
}

// One draft whose restore fails in a way nobody foresaw (here: the document
// throws) stays for the next launch; the drafts after it are restored.
TEST_F(RecoveryLaunchTest, ADraftThatFailsUnexpectedlyDoesNotStopTheOthers) {
    put(draft(1, 3h));
    put(draft(2, 2h));
    put(draft(3, 1h));
    controller->failingDraft = idFor(2);
    test::LogCapture logs;
    const auto restored = restore();
    ASSERT_EQ(restored.size(), 2u);
    EXPECT_EQ(controller->untitled.at(0)->text, "text 1");
    EXPECT_EQ(controller->untitled.at(2)->text, "text 3");
    EXPECT_TRUE(logs.contains("recovery", "恢复草稿 00000002 失败"));
    EXPECT_EQ(test::runTask(store->unresolvedDrafts()).size(), 3u);  // nothing resolved
}

// Writes killed at launch leave temporary files in the drafts folder and
// beside the preferences: the restore removes the stale ones of ours, and
// nothing else.
TEST_F(RecoveryLaunchTest, StaleTemporaryFilesOfKilledWritesGoAtLaunch) {
    put(draft(1, 1h));
    const auto drafts = store->directory();
    const auto stale = dir.write("Recovery/" + temporaryFileName(idFor(1) + ".json", makeUUID()), "x");
    const auto young = dir.write("Recovery/" + temporaryFileName(idFor(1) + ".json", makeUUID()), "x");
    const auto prefs =
        dir.write("config/" + temporaryFileName("preferences.json", makeUUID()), "{}");
    const auto notOurs = dir.write("config/.preferences.json.tmp", "{}");
    for (const auto& file : {stale, prefs, notOurs}) test::setModifiedAgo(file, 2h);
    test::setModifiedAgo(young, 30min);

    const auto restored =
        test::runTask(restoreUnresolvedDrafts(store, controller, {dir / "config"}));
    EXPECT_EQ(restored.size(), 1u);
    EXPECT_FALSE(std::filesystem::exists(stale));
    EXPECT_FALSE(std::filesystem::exists(prefs));
    EXPECT_TRUE(std::filesystem::exists(young));
    EXPECT_TRUE(std::filesystem::exists(notOurs));
    EXPECT_TRUE(std::filesystem::exists(drafts / (idFor(1) + ".json")));
}

}  // namespace
}  // namespace larkspin
