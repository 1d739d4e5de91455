#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "Window/SessionPlanner.hpp"

namespace larkspin {

namespace {

SessionTab tab(std::string path, std::int64_t token, std::int64_t index, bool selected) {
    return SessionTab{std::move(path), TabRestorationInfo{token, index, selected}};
}

TEST(SessionPlanner, BuildsEachGroupsFinalLayout) {
    struct Case {
        const char* name;
        SessionSnapshot session;
        std::set<std::string> existing;
        std::set<std::string> open;
        SessionPlan plan;
    };
    const std::set<std::string> all{"/a", "/b", "/c", "/d"};
    using Groups = std::vector<SessionGroup>;
    using Plans = std::vector<PlannedGroup>;
    using Paths = std::vector<std::string>;
    auto session = [](Groups groups) { return SessionSnapshot{std::move(groups)}; };
    auto result = [](Plans groups, Paths missing = {}, Paths open = {}) {
        return SessionPlan{std::move(groups), std::move(missing), std::move(open)};
    };
    const std::vector<Case> cases{
        {"indices 2, 0, 1 in one group, the saved selection kept",
         session({{900, 700, {tab("/c", 5, 2, false), tab("/a", 5, 0, false), tab("/b", 5, 1, true)}}}),
         all, {}, result({{900, 700, {"/a", "/b", "/c"}, 1}})},
        {"groups in ascending token order, sizes from their group",
         session({{1000, 800, {tab("/a", 7, 0, true)}}, {1200, 900, {tab("/b", 3, 0, true)}}}),
         all, {}, result({{1200, 900, {"/b"}, 0}, {1000, 800, {"/a"}, 0}})},
        {"equal indices keep the file's order; no selection picks the first",
         session({{1000, 800, {tab("/b", 1, 0, false), tab("/a", 1, 0, false)}}}),
         all, {}, result({{1000, 800, {"/b", "/a"}, 0}})},
        {"a vanished selected file: the first remaining is selected",
         session({{1000, 800, {tab("/a", 1, 0, false), tab("/gone", 1, 1, true), tab("/c", 1, 2, false)}}}),
         all, {}, result({{1000, 800, {"/a", "/c"}, 0}}, {"/gone"})},
        {"open files and repeats are not opened twice; an emptied group goes",
         session({{1000, 800, {tab("/a", 1, 0, true), tab("/b", 1, 1, false)}},
                  {1000, 800, {tab("/a", 2, 0, true)}}}),
         all, {"/b"}, result({{1000, 800, {"/a"}, 0}}, {}, {"/b", "/a"})},
        {"pages without a place open alone, after the groups",
         session({{1000, 800, {SessionTab{"/d", std::nullopt}, tab("/a", 9, 0, false)}}}),
         all, {}, result({{1000, 800, {"/a"}, 0}, {1000, 800, {"/d"}, 0}})},
        {"sizes the window cannot take",
         session({{0, -5, {tab("/a", 1, 0, true)}}, {100, 1e9, {tab("/b", 2, 0, true)}}}),
         all, {}, result({{1180, 820, {"/a"}, 0}, {760, 16384, {"/b"}, 0}})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto plan = SessionPlanner::plan(c.session, c.existing, c.open);
        EXPECT_EQ(plan.groups, c.plan.groups);
        EXPECT_EQ(plan.missing, c.plan.missing);
        EXPECT_EQ(plan.alreadyOpen, c.plan.alreadyOpen);
    }
}

}  // namespace
}  // namespace larkspin
