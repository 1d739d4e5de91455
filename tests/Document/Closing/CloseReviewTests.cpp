#include <gtest/gtest.h>

#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Document/Closing/CloseReview.hpp"
#include "Platform/Async/MainThread.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"

namespace larkspin {
namespace {

using Journal = std::shared_ptr<std::vector<std::string>>;

class FakeDocument final : public ClosingDocument {
public:
    FakeDocument(std::string name, bool edited, Journal journal)
        : name(std::move(name)), edited(edited), journal(std::move(journal)) {}

    std::string displayName() const override { return name; }
    bool isEdited() const override { return edited; }
    Task<void> flushDraft() override {
        journal->push_back(name + " flush");
        co_return;
    }
    void save(std::function<void(std::optional<SaveError>)> done) override {
        journal->push_back(name + " save");
        if (!saveError) edited = stillEditedAfterSave;
        MainThread::post([done, error = saveError] { done(error); });
    }
    void showTab() override { journal->push_back(name + " showTab"); }
    void showCloseFailure(std::string message) override { journal->push_back(name + " failure " + message); }
    void close() override { journal->push_back(name + " close"); }

    std::string name;
    bool edited;
    std::optional<SaveError> saveError;
    bool stillEditedAfterSave = false;
    Journal journal;
};

// Answers in order, on a later turn.
class ScriptedQuestion final : public CloseQuestion {
public:
    explicit ScriptedQuestion(Journal journal) : journal(std::move(journal)) {}
    void ask(ClosingDocument& document, std::function<void(CloseAnswer)> answer) override {
        journal->push_back(document.displayName() + " asked");
        const CloseAnswer next = answers.front();
        answers.pop_front();
        MainThread::post([answer, next] { answer(next); });
    }
    std::deque<CloseAnswer> answers;
    Journal journal;
};

struct Result {
    bool called = false;
    bool value = false;
};

class CloseReviewTest : public ::testing::Test {
protected:
    std::shared_ptr<FakeDocument> document(std::string name, bool edited = true) {
        return std::make_shared<FakeDocument>(std::move(name), edited, journal);
    }
    std::function<void(bool)> record() {
        return [r = result](bool value) {
            r->called = true;
            r->value = value;
        };
    }
    bool finish() { return test::runMainLoopUntil([&] { return result->called; }); }

    test::LogCapture log;
    Journal journal = std::make_shared<std::vector<std::string>>();
    std::shared_ptr<Result> result = std::make_shared<Result>();
    ScriptedQuestion question{journal};
    CloseReview review{question};
};

TEST_F(CloseReviewTest, ClosingOneDocumentFollowsTheAnswer) {
    const std::string notSaved = "未能保存，文档未关闭";
    struct Case {
        const char* name;
        bool edited;
        std::optional<CloseAnswer> answer;
        std::optional<SaveError> saveError;
        bool typedDuringSave;
        bool closed;
        std::vector<std::string> journal;
    };
    const std::vector<Case> cases = {
        {"not edited", false, std::nullopt, std::nullopt, false, true, {"d flush", "d close"}},
        {"save succeeds", true, CloseAnswer::save, std::nullopt, false, true,
         {"d flush", "d showTab", "d asked", "d save", "d close"}},
        {"save fails", true, CloseAnswer::save, SaveError::failed(SaveFailure::replace("disk full")), false, false,
         {"d flush", "d showTab", "d asked", "d save", "d showTab", "d failure " + notSaved}},
        {"save meets a conflict", true, CloseAnswer::save, SaveError::conflict(std::nullopt), false, false,
         {"d flush", "d showTab", "d asked", "d save", "d showTab", "d failure " + notSaved}},
        {"saved but typed meanwhile", true, CloseAnswer::save, std::nullopt, true, false,
         {"d flush", "d showTab", "d asked", "d save", "d showTab", "d failure " + notSaved}},
        {"refused as read-only", true, CloseAnswer::save, SaveError::notWritable("只读"), false, false,
         {"d flush", "d showTab", "d asked", "d save", "d showTab", "d failure 只读"}},
        {"don't save", true, CloseAnswer::dontSave, std::nullopt, false, true,
         {"d flush", "d showTab", "d asked", "d close"}},
        {"cancel", true, CloseAnswer::cancel, std::nullopt, false, false, {"d flush", "d showTab", "d asked"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        journal->clear();
        result = std::make_shared<Result>();
        auto doc = document("d", c.edited);
        doc->saveError = c.saveError;
        doc->stillEditedAfterSave = c.typedDuringSave;
        if (c.answer) question.answers.push_back(*c.answer);
        review.reviewClose(doc, record());
        ASSERT_TRUE(finish());
        EXPECT_EQ(result->value, c.closed);
        EXPECT_EQ(*journal, c.journal);
        EXPECT_FALSE(review.isReviewing());
    }
}

TEST_F(CloseReviewTest, QuitAsksEachEditedDocumentAndACancelStopsIt) {
    auto a = document("a");
    auto clean = document("c", false);
    auto b = document("b");
    question.answers = {CloseAnswer::dontSave, CloseAnswer::cancel};
    review.reviewQuit({a, clean, b}, record());
    ASSERT_TRUE(finish());
    EXPECT_FALSE(result->value);
    EXPECT_EQ(*journal, (std::vector<std::string>{"a flush", "a showTab", "a asked", "c flush", "b flush",
                                                  "b showTab", "b asked"}))
        << "nothing is closed when the quit stops";
}

TEST_F(CloseReviewTest, QuitClosesEverythingOnceAllAreAnswered) {
    auto a = document("a");
    auto b = document("b");
    question.answers = {CloseAnswer::save, CloseAnswer::dontSave};
    review.reviewQuit({a, b}, record());
    ASSERT_TRUE(finish());
    EXPECT_TRUE(result->value);
    EXPECT_EQ(*journal, (std::vector<std::string>{"a flush", "a showTab", "a asked", "a save", "b flush",
                                                  "b showTab", "b asked", "a close", "b close"}));
}

TEST_F(CloseReviewTest, ASecondReviewWhileOneRunsIsRefused) {
    question.answers = {CloseAnswer::cancel};
    review.reviewClose(document("a"), record());
    auto second = std::make_shared<Result>();
    review.reviewQuit({document("b")}, [second](bool v) {
        second->called = true;
        second->value = v;
    });
    EXPECT_TRUE(second->called);
    EXPECT_FALSE(second->value);
    ASSERT_TRUE(finish());
}

}  // namespace
}  // namespace larkspin
