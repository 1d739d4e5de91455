#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Document/Saving/SavePipeline.hpp"
#include "Storage/DocumentLoader.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

namespace fs = std::filesystem;

// A document as the pipeline sees it: a model and a journal of the calls.
class FakeDocument final : public SaveClient {
public:
    DocumentModel& model() override { return model_; }
    std::optional<fs::path> fileURL() const override { return file; }
    std::string logID() const override { return "T"; }
    std::string displayName() const override { return "doc.md"; }
    void setExternalIssue(ExternalIssue issue) override { this->issue = std::move(issue); }
    void clearExternalIssue(ExternalIssueKinds kinds) override {
        if (issue && clears(kinds, issue->kind())) issue.reset();
    }
    void documentDidSave(const fs::path& target, SaveOperation operation, const DiskVersion&) override {
        journal.push_back("didSave");
        if (operation == SaveOperation::saveAs) file = target;
    }
    void resolveDraft(RecoveryDraft::Resolution) override { journal.push_back("resolveDraft"); }
    void restartDraft() override { journal.push_back("restartDraft"); }
    void scheduleDraftIfNeeded() override { journal.push_back("scheduleDraft"); }
    void saveDidEnd() override {
        journal.push_back(model_.isSaving() ? "saveDidEnd while saving" : "saveDidEnd");
    }

    void open(const fs::path& path) {
        file = path;
        model_.adopt(DocumentLoader::load(path));
    }

    std::optional<fs::path> file;
    std::optional<ExternalIssue> issue;
    std::vector<std::string> journal;

private:
    DocumentModel model_;
};

struct Answer {
    bool called = false;
    std::optional<SaveError> error;
};

SavePipeline::Completion record(const std::shared_ptr<Answer>& answer) {
    return [answer](std::optional<SaveError> error) {
        EXPECT_FALSE(answer->called) << "answered twice";
        answer->called = true;
        answer->error = std::move(error);
    };
}

bool waitFor(const std::shared_ptr<Answer>& answer) {
    return test::runMainLoopUntil([&] { return answer->called; });
}

// MARK: - Decisions

TEST(SaveDecision, ChoosesRefusalNothingOrWriteWithTheRightExpectedVersion) {
    test::TempDir dir;
    const auto file = dir.write("doc.md", "# Title\n");
    const DiskVersion onDisk = *DocumentLoader::load(file).diskVersion;
    const fs::path sameFile = dir.path() / "sub" / ".." / "doc.md";
    const fs::path elsewhere = dir.path() / "other.md";
    using K = SaveDecision::Kind;
    using Op = SaveOperation;

    struct Case {
        const char* name;
        std::function<void(DocumentModel&)> setUp;
        fs::path target;
        Op operation;
        K kind;
        bool expectsVersion;
    };
    const auto clean = [&](DocumentModel& m) { m.adopt(DocumentLoader::load(file)); };
    const auto dirty = [&](DocumentModel& m) { clean(m); m.replaceAll("# Edited\n"); };
    const std::vector<Case> cases = {
        {"clean own file: nothing to do", clean, file, Op::save, K::nothingToDo, false},
        {"same file through another spelling", clean, sameFile, Op::save, K::nothingToDo, false},
        {"clean but missing is written", [&](DocumentModel& m) { clean(m); m.noteMissing(true); }, file, Op::save,
         K::write, true},
        {"clean but in conflict is written", [&](DocumentModel& m) { clean(m); m.noteConflict(onDisk); }, file,
         Op::save, K::write, true},
        {"clean without a disk version is written",
         [&](DocumentModel& m) { m.adopt(DocumentLoader::load(std::string("# Title\n"))); }, file, Op::save,
         K::write, false},
        {"edited own file expects its version", dirty, file, Op::save, K::write, true},
        {"save as to the own path sends none", dirty, file, Op::saveAs, K::write, false},
        {"clean save as to the own path still writes", clean, file, Op::saveAs, K::write, false},
        {"save to sends none", dirty, file, Op::saveTo, K::write, false},
        {"plain save elsewhere sends none", dirty, elsewhere, Op::save, K::write, false},
        {"Latin-1 is refused",
         [&](DocumentModel& m) { m.adopt(DocumentLoader::load(std::string("caf\xE9\n"))); }, file, Op::save,
         K::refuse, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        DocumentModel model;
        c.setUp(model);
        const auto decision = decideSave(model, file, c.target, c.operation);
        EXPECT_EQ(decision.kind, c.kind);
        EXPECT_EQ(decision.expected.has_value(), c.expectsVersion);
        if (c.kind == K::refuse) {
            EXPECT_FALSE(decision.refusal.empty());
        }
    }
}

TEST(SaveDecision, ARestrictedModelIsRefusedWithItsOwnReason) {
    DocumentModel model;
    LoadedDocument loaded = DocumentLoader::load(std::string("text"));
    loaded.failure = DocumentLoadFailure::notFound();
    model.adopt(loaded);
    const auto decision = decideSave(model, fs::path("/x/doc.md"), "/x/doc.md", SaveOperation::save);
    EXPECT_EQ(decision.kind, SaveDecision::Kind::refuse);
    EXPECT_EQ(decision.refusal, *model.writabilityProblem());
}

// MARK: - The pipeline over a real file store

class SavePipelineTest : public ::testing::Test {
protected:
    void SetUp() override {
        file = dir.write("doc.md", "# Title\n");
        document.open(file);
    }

    std::shared_ptr<Answer> save(fs::path target, SaveOperation operation = SaveOperation::save) {
        auto answer = std::make_shared<Answer>();
        pipeline.save(std::move(target), operation, record(answer));
        return answer;
    }

    test::LogCapture log;
    test::TempDir dir;
    fs::path file;
    FakeDocument document;
    std::shared_ptr<FileStore> store = std::make_shared<FileStore>();
    SavePipeline pipeline{document, store};
};

TEST_F(SavePipelineTest, ASavedTextCleansTheModelClearsTheNoticeAndResolvesTheDraft) {
    document.issue = ExternalIssue::saveFailed("old");
    document.model().replaceAll("# New\n");
    auto answer = save(file);
    EXPECT_TRUE(document.model().isSaving());
    ASSERT_TRUE(waitFor(answer));
    EXPECT_FALSE(answer->error);
    EXPECT_EQ(test::readFile(file), "# New\n");
    EXPECT_FALSE(document.model().isDirty());
    EXPECT_FALSE(document.model().isSaving());
    EXPECT_FALSE(document.issue);
    EXPECT_EQ(document.journal, (std::vector<std::string>{"didSave", "resolveDraft", "saveDidEnd"}));
}

TEST_F(SavePipelineTest, OutcomesThatDoNotSaveKeepTheTextAndShowTheirNotice) {
    struct Case {
        const char* name;
        std::function<void()> disturb;
        SaveError::Kind kind;
        ExternalIssueKind issue;
        bool missing;
    };
    const std::vector<Case> cases = {
        {"changed by another program", [&] { std::ofstream(file) << "theirs\n"; }, SaveError::Kind::conflict,
         ExternalIssueKind::conflict, false},
        {"deleted", [&] { fs::remove(file); }, SaveError::Kind::conflict, ExternalIssueKind::missing, true},
        {"folder made read-only", [&] { fs::permissions(dir.path(), fs::perms::owner_read | fs::perms::owner_exec); },
         SaveError::Kind::failed, ExternalIssueKind::saveFailed, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::permissions(dir.path(), fs::perms::owner_all);
        std::ofstream(file) << "# Title\n";
        document.open(file);
        document.issue.reset();
        document.model().replaceAll("mine\n");
        c.disturb();
        auto answer = save(file);
        ASSERT_TRUE(waitFor(answer));
        fs::permissions(dir.path(), fs::perms::owner_all);
        if (::geteuid() == 0 && c.kind == SaveError::Kind::failed) continue;  // root writes anyway
        ASSERT_TRUE(answer->error);
        EXPECT_EQ(answer->error->kind, c.kind);
        EXPECT_FALSE(answer->error->description().empty());
        ASSERT_TRUE(document.issue);
        EXPECT_EQ(document.issue->kind(), c.issue);
        EXPECT_TRUE(document.model().isDirty());
        EXPECT_EQ(document.model().sourceText(), "mine\n");
        EXPECT_EQ(document.model().isMissing(), c.missing);
        EXPECT_FALSE(document.model().isSaving());
    }
}

TEST_F(SavePipelineTest, ASaveAskedForWhileOneRunsIsAnsweredByAFollowUpSave) {
    document.model().replaceAll("first\n");
    auto first = save(file);
    document.model().replaceAll("second\n");
    auto second = save(file);
    auto third = save(file);
    // Not answered before anything of theirs is written.
    EXPECT_FALSE(second->called);
    ASSERT_TRUE(waitFor(first));
    EXPECT_FALSE(first->error);
    EXPECT_FALSE(second->called) << "answered by the save of older text";
    EXPECT_TRUE(document.model().isSaving()) << "the follow-up runs";
    ASSERT_TRUE(waitFor(second));
    ASSERT_TRUE(waitFor(third));
    EXPECT_FALSE(second->error);
    EXPECT_FALSE(third->error);
    EXPECT_EQ(test::readFile(file), "second\n");
    EXPECT_FALSE(document.model().isDirty());
    // The first save left the text edited: the draft starts afresh.
    EXPECT_EQ(document.journal.at(1), "restartDraft");
}

TEST_F(SavePipelineTest, AQueuedSaveOfTextAlreadyWrittenIsDoneWithoutWriting) {
    document.model().replaceAll("only\n");
    auto first = save(file);
    auto second = save(file);
    ASSERT_TRUE(waitFor(first));
    ASSERT_TRUE(second->called);
    EXPECT_FALSE(second->error);
    EXPECT_FALSE(pipeline.isSaveRunning());
}

TEST_F(SavePipelineTest, RetryRunsTheFailedSaveAgainNotAPlainSave) {
    document.model().replaceAll("copy\n");
    const auto elsewhere = dir.path() / "later" / "copy.md";  // its folder does not exist yet
    auto failed = save(elsewhere, SaveOperation::saveAs);
    ASSERT_TRUE(waitFor(failed));
    ASSERT_TRUE(failed->error);
    ASSERT_EQ(failed->error->kind, SaveError::Kind::failed);
    ASSERT_TRUE(pipeline.failedSave());
    EXPECT_EQ(pipeline.failedSave()->operation, SaveOperation::saveAs);

    fs::create_directory(dir.path() / "later");
    auto retried = std::make_shared<Answer>();
    pipeline.retryFailedSave(record(retried));
    EXPECT_FALSE(document.issue) << "the notice goes before the save starts";
    ASSERT_TRUE(waitFor(retried));
    EXPECT_FALSE(retried->error);
    EXPECT_EQ(test::readFile(elsewhere), "copy\n");
    EXPECT_EQ(test::readFile(file), "# Title\n") << "the own file was not written";
    EXPECT_EQ(document.file, elsewhere);
    EXPECT_FALSE(pipeline.failedSave());
}

TEST_F(SavePipelineTest, SaveToWritesACopyAndLeavesTheDocumentEdited) {
    document.model().replaceAll("copy\n");
    const auto copy = dir.path() / "copy.md";
    auto answer = save(copy, SaveOperation::saveTo);
    ASSERT_TRUE(waitFor(answer));
    EXPECT_FALSE(answer->error);
    EXPECT_EQ(test::readFile(copy), "copy\n");
    EXPECT_TRUE(document.model().isDirty());
    EXPECT_EQ(document.file, file);
    EXPECT_EQ(document.journal, (std::vector<std::string>{"saveDidEnd", "scheduleDraft"}));
}

TEST_F(SavePipelineTest, RefusalsAndNothingToDoAnswerAtOnce) {
    auto clean = save(file);
    EXPECT_TRUE(clean->called);
    EXPECT_FALSE(clean->error);
    EXPECT_TRUE(log.contains("document", "no-op"));

    document.model().adopt(DocumentLoader::load(std::string("caf\xE9\n")));
    auto latin1 = save(file);
    ASSERT_TRUE(latin1->called);
    ASSERT_TRUE(latin1->error);
    EXPECT_EQ(latin1->error->kind, SaveError::Kind::notWritable);
    EXPECT_FALSE(document.model().isSaving());
}

}  // namespace
}  // namespace larkspin
