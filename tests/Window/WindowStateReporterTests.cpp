#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Support/LogCapture.hpp"
#include "Window/WindowStateReporter.hpp"

namespace larkspin {

namespace {

WindowStateEntry page(std::int64_t number, std::string name, std::vector<std::int64_t> group,
                      std::optional<std::int64_t> selected, bool edited = false) {
    WindowStateEntry entry;
    entry.number = number;
    entry.hasDocument = true;
    entry.displayName = std::move(name);
    entry.isEdited = edited;
    entry.groupPages = std::move(group);
    entry.selectedPage = selected;
    return entry;
}

TEST(WindowStateReporter, SummaryLine) {
    struct Case {
        const char* name;
        WindowStateSnapshot snapshot;
        std::string line;
    };
    WindowStateEntry titled;
    titled.number = 9;
    titled.title = "设置";
    WindowStateEntry bare;
    bare.number = 8;
    const std::vector<Case> cases{
        {"nothing open", {}, "文档数=0 标签组数=0 key=<无> front=<无> "},
        {"one untitled edited document",
         {1, {{5}}, {page(5, "", {5}, 5, true)}, 5, {5}},
         "文档数=1 标签组数=1 key=<未命名>* front=<未命名>* 组1[1]: [<未命名>*]"},
        {"two groups, selection marked, key and front",
         {3,
          {{1}, {2}, {3}},
          {page(1, "a.md", {1, 2}, 2), page(2, "b.md", {1, 2}, 2), page(3, "c.md", {}, std::nullopt)},
          1,
          {9, 3, 1}},
         "文档数=3 标签组数=2 key=a.md front=c.md 组1[2]: a.md > [b.md]; 组2[1]: c.md"},
        {"key and front without a document",
         {1, {{1}}, {page(1, "a.md", {1}, 1), titled, bare}, 8, {9, 8}},
         "文档数=1 标签组数=1 key=<无标题窗口> front=<无> 组1[1]: [a.md]"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(WindowStateReporter::summary(c.snapshot), c.line) << c.name;
    }

}

TEST(WindowStateReporter, LogsWithTheReason) {
    test::LogCapture logs;
    WindowStateReporter::log("启动", {});
    ASSERT_EQ(logs.records().size(), 1u);
    EXPECT_EQ(logs.records()[0].level, LogLevel::info);
    EXPECT_TRUE(logs.contains("document", "窗口状态（启动）："));
}

}  // namespace
}  // namespace larkspin
