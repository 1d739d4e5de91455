#include "App/LaunchRestores.hpp"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace larkspin {
namespace {

// An activation is answered at once only when nothing is restoring; one
// that came during the restores is answered once, when the last of them
// ends, whichever order they end in.
TEST(LaunchRestores, AnActivationDuringTheRestoresIsAnsweredOnceWhenBothHaveRun) {
    enum Step { activate, sessionBegins, sessionEnds, draftsEnd };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        // What each step answered: "now" (an activation answered at once),
        // "held" (an activation held), "due" (the held one is due after the
        // step), "" (nothing).
        std::vector<std::string> answers;
    };
    const std::vector<Case> cases{
        {"drafts only", {activate, draftsEnd, activate}, {"held", "due", "now"}},
        {"session ends last", {sessionBegins, activate, draftsEnd, sessionEnds}, {"", "held", "", "due"}},
        {"drafts end last", {sessionBegins, activate, sessionEnds, draftsEnd}, {"", "held", "", "due"}},
        {"two activations, one answer",
         {sessionBegins, activate, activate, draftsEnd, sessionEnds, draftsEnd},
         {"", "held", "held", "", "due", ""}},
        {"none during the restores", {sessionBegins, draftsEnd, sessionEnds, activate}, {"", "", "", "now"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        LaunchRestores<int> restores;
        std::vector<std::string> answers;
        for (Step step : c.steps) {
            std::string answer;
            switch (step) {
            case activate: answer = restores.activate() ? "now" : "held"; break;
            case sessionBegins: restores.sessionBegins(); break;
            case sessionEnds: (void)restores.sessionEnded(); break;
            case draftsEnd: restores.draftsEnded(); break;
            }
            if (step != activate && restores.takeHeldActivation()) answer = "due";
            answers.push_back(answer);
        }
        EXPECT_EQ(answers, c.answers);
        EXPECT_FALSE(restores.takeHeldActivation());
    }
}

// The last document shown while the session was restored comes in front of
// the session's windows; one shown before or after it, or gone since, does
// not.
TEST(LaunchRestores, TheLastDocumentShownDuringTheSessionRestoreComesInFront) {
    auto before = std::make_shared<int>(1);
    auto first = std::make_shared<int>(2);
    auto last = std::make_shared<int>(3);
    auto after = std::make_shared<int>(4);

    LaunchRestores<int> restores;
    restores.shown(before);
    restores.sessionBegins();
    restores.shown(first);
    restores.shown(last);
    EXPECT_EQ(restores.sessionEnded(), last);
    restores.shown(after);
    EXPECT_EQ(restores.sessionEnded(), nullptr);

    LaunchRestores<int> gone;
    gone.sessionBegins();
    gone.shown(std::make_shared<int>(5));
    EXPECT_EQ(gone.sessionEnded(), nullptr);
}

}  // namespace
}  // namespace larkspin
