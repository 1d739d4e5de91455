#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "Document/Drafts/DraftScheduler.hpp"
#include "Platform/Async/BlockingWait.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class FakeDocument final : public DraftClient {
public:
    DocumentModel& model() override { return model_; }
    std::optional<fs::path> fileURL() const override { return file; }
    std::string logID() const override { return "T"; }
    std::string displayName() const override { return "doc.md"; }

    std::optional<fs::path> file;

private:
    DocumentModel model_;
};

class DraftSchedulerTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = dir.write("doc.md", "# Title\n");
        document.file = file;
        document.model().adopt(DocumentLoader::load(file));
        document.model().onChange = [this](DocumentModel&) { drafts.scheduleIfNeeded(); };
    }

    // An edit, and the turn on which its debounce starts waiting.
    void edit(std::string text) {
        document.model().replaceAll(std::move(text));
        settle();
    }

    // Lets due timers' tasks run and the writer finish what they queued.
    void settle() {
        for (int i = 0; i < 5; ++i) {
            test::runMainLoopUntil([] { return false; }, 3);
            ASSERT_TRUE(drainForTesting(writer->executor()));
        }
    }

    std::optional<RecoveryDraft> onDisk() const {
        const auto path = drafts.directory() / (drafts.draftID() + ".json");
        if (!fs::exists(path)) return std::nullopt;
        auto draft = RecoveryDraft::decode(test::readFile(path));
        EXPECT_TRUE(draft.has_value());
        return draft ? std::optional(*draft) : std::nullopt;
    }

    test::LogCapture log;
    test::TempDir dir;
    fs::path file;
    ManualClock clock;
    std::shared_ptr<DraftWriter> writer = std::make_shared<DraftWriter>("drafts-test");
    FakeDocument document;
    DraftScheduler drafts{document, dir.path() / "Recovery", clock, writer};
};

TEST_F(DraftSchedulerTest, ADraftIsWrittenTwoSecondsAfterTheLastChange) {
    edit("one");
    EXPECT_EQ(document.model().recoveryState(), RecoveryState::draftPending);
    clock.advance(1500ms);
    settle();
    edit("two");
    clock.advance(1500ms);
    settle();
    EXPECT_FALSE(onDisk()) << "written before 2 s of quiet";
    clock.advance(600ms);
    settle();
    auto draft = onDisk();
    ASSERT_TRUE(draft);
    EXPECT_EQ(draft->content, "two");
    EXPECT_EQ(draft->sourceRevision, document.model().sourceRevision());
    EXPECT_EQ(draft->fileIdentity->path, file.string());
    EXPECT_TRUE(draft->fileIdentity->bookmark) << "made on the writer";
    EXPECT_EQ(draft->originalDiskVersion->contentDigest, document.model().diskVersion()->contentDigest);
    EXPECT_EQ(document.model().recoveryState(), RecoveryState::draftWritten);
    EXPECT_EQ(drafts.lastDraftRevision(), document.model().sourceRevision());
}

TEST_F(DraftSchedulerTest, AFlushWritesAtOnceAndResumesOnlyWhenItIsOnDisk) {
    edit("flushed");
    test::runTask(drafts.flush());
    auto draft = onDisk();
    ASSERT_TRUE(draft);
    EXPECT_EQ(draft->content, "flushed");
    // The pending debounce went with the flush: nothing more is written.
    EXPECT_EQ(clock.pendingTimerCount(), 0u);
}

TEST_F(DraftSchedulerTest, ReadOnlyOrCleanTextNeverGetsADraft) {
    test::runTask(drafts.flush());
    EXPECT_FALSE(onDisk()) << "clean";
    document.model().adopt(DocumentLoader::load(std::string("caf\xE9\n")));
    EXPECT_FALSE(document.model().isWritable());
    clock.advance(3s);
    test::runTask(drafts.flush());
    EXPECT_FALSE(onDisk()) << "Latin-1";
}

TEST_F(DraftSchedulerTest, ResolvingLandsAfterTheWritesQueuedBeforeIt) {
    edit("typed");
    // A flush under way, then the text is saved and the draft resolved at once.
    auto flushing = test::startTask(drafts.flush());
    test::runMainLoopUntil([] { return false; }, 2);
    document.model().markSaved(document.model().snapshot(), *document.model().diskVersion());
    drafts.resolve(RecoveryDraft::Resolution::saved);
    settle();
    auto draft = onDisk();
    ASSERT_TRUE(draft);
    EXPECT_TRUE(draft->isResolved());
    EXPECT_EQ(draft->resolution, RecoveryDraft::Resolution::saved);
    EXPECT_FALSE(draft->content);
    EXPECT_EQ(document.model().recoveryState(), RecoveryState::noDraft);
    // A debounce that was pending does not write it back either.
    clock.advance(3s);
    settle();
    EXPECT_TRUE(onDisk()->isResolved());
}

TEST_F(DraftSchedulerTest, ADraftLeftFromBeforeASaveIsResolvedByTheNextCleanSave) {
    edit("before the save");
    test::runTask(drafts.flush());
    // The user typed while a save ran: the next draft starts afresh...
    drafts.restart();
    // ...and the next save leaves the text clean before it is written.
    document.model().markSaved(document.model().snapshot(), *document.model().diskVersion());
    drafts.resolve(RecoveryDraft::Resolution::saved);
    settle();
    ASSERT_TRUE(onDisk());
    EXPECT_TRUE(onDisk()->isResolved()) << "a stale draft would come back at the next launch";
}

TEST_F(DraftSchedulerTest, ResolvingWithoutADraftWritesNothing) {
    drafts.resolve(RecoveryDraft::Resolution::closed);
    settle();
    EXPECT_FALSE(onDisk());
}

TEST(DraftWriter, KeepsTheHigherRevisionAndNeverWritesAResolvedDraftAgain) {
    test::LogCapture log;
    test::TempDir dir;
    DraftWriter writer("drafts-test");
    RecoveryDraft draft;
    draft.draftID = "0F0F0F0F-0000-4000-8000-000000000001";
    draft.encoding = "utf8";
    draft.lineEnding = "lf";
    const auto read = [&] { return *RecoveryDraft::decode(test::readFile(dir / (draft.draftID + ".json"))); };

    draft.content = "newer";
    draft.sourceRevision = 7;
    EXPECT_TRUE(writer.write(draft, 1, dir.path()));
    draft.content = "older";
    draft.sourceRevision = 5;
    EXPECT_FALSE(writer.write(draft, 1, dir.path()));
    EXPECT_EQ(read().content, "newer");

    draft.resolvedAt = Date(std::chrono::seconds(1'700'000'000));
    draft.resolution = RecoveryDraft::Resolution::closed;
    writer.resolve(draft, 1, dir.path());
    draft.resolvedAt.reset();
    draft.resolution.reset();
    draft.content = "late";
    draft.sourceRevision = 9;
    EXPECT_FALSE(writer.write(draft, 1, dir.path())) << "queued before the resolution";
    EXPECT_TRUE(read().isResolved());
    // Text edited after the resolution is a new draft, in the same file.
    EXPECT_TRUE(writer.write(draft, 2, dir.path()));
    EXPECT_EQ(read().content, "late");
}

TEST_F(DraftSchedulerTest, AnAppliedDraftCountsAsWrittenAndShowsItsNotice) {
    RecoveryDraft draft = drafts.makeDraft(document.model().snapshot(), clock.wallNow());
    draft.draftID = "0F0F0F0F-0000-4000-8000-000000000002";
    draft.content = "restored";
    const auto notice = drafts.applyDraft(draft);
    ASSERT_TRUE(notice);
    EXPECT_EQ(notice->kind(), ExternalIssueKind::recovered);
    EXPECT_EQ(drafts.draftID(), draft.draftID);
    EXPECT_EQ(document.model().sourceText(), "restored");
    EXPECT_TRUE(document.model().isDirty());
    EXPECT_EQ(document.model().recoveryState(), RecoveryState::restoredFromDraft);
    EXPECT_EQ(clock.pendingTimerCount(), 0u) << "no draft scheduled for the restored text";

    // In an untitled document, a draft that had a file shows the missing notice.
    FakeDocument untitled;
    DraftScheduler other(untitled, dir.path() / "Recovery", clock, writer);
    EXPECT_EQ(other.applyDraft(draft)->kind(), ExternalIssueKind::missing);
    EXPECT_TRUE(untitled.model().isMissing());
    draft.fileIdentity.reset();
    FakeDocument untitled2;
    DraftScheduler third(untitled2, dir.path() / "Recovery", clock, writer);
    EXPECT_EQ(third.applyDraft(draft)->kind(), ExternalIssueKind::recovered);
    draft.content.reset();
    EXPECT_FALSE(third.applyDraft(draft)) << "a draft without content is ignored";
}

TEST_F(DraftSchedulerTest, ADocumentTakesADraftOnlyWhenWritableAndItsFileIsUnchanged) {
    RecoveryDraft draft = drafts.makeDraft(document.model().snapshot(), clock.wallNow());
    EXPECT_TRUE(canTakeDraft(document.model(), draft));
    draft.originalDiskVersion->modificationDate += std::chrono::hours(1);
    EXPECT_TRUE(canTakeDraft(document.model(), draft)) << "a new date alone is no change";
    draft.originalDiskVersion->contentDigest = std::string(64, '0');
    EXPECT_FALSE(canTakeDraft(document.model(), draft)) << "the file changed since";

    draft.originalDiskVersion.reset();
    DocumentModel latin1;
    latin1.adopt(DocumentLoader::load(std::string("caf\xE9\n")));
    EXPECT_FALSE(canTakeDraft(latin1, draft));
    DocumentModel failed;
    LoadedDocument loaded;
    loaded.failure = DocumentLoadFailure::notFound();
    failed.adopt(loaded);
    EXPECT_FALSE(canTakeDraft(failed, draft));
}

}  // namespace
}  // namespace larkspin
