#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "Window/TOCTree.hpp"

namespace larkspin {

namespace {

std::vector<BridgeHeading> headings(const std::vector<std::int64_t>& levels) {
    std::vector<BridgeHeading> out;
    for (std::size_t i = 0; i < levels.size(); ++i) {
        out.push_back(BridgeHeading{levels[i], "H" + std::to_string(i), "h" + std::to_string(i)});
    }
    return out;
}

// The tree as text: each root, then its children in brackets.
std::string shape(const TOCTree& tree, const std::vector<std::size_t>& nodes) {
    std::string text;
    for (const auto n : nodes) {
        if (!text.empty()) text += " ";
        text += std::to_string(n);
        if (!tree.nodes[n].children.empty()) text += "[" + shape(tree, tree.nodes[n].children) + "]";
    }
    return text;
}

TEST(TOCTree, NestsByLevelWithSkippedAndOutOfOrderLevels) {
    struct Case {
        std::vector<std::int64_t> levels;
        std::string shape;
    };
    const std::vector<Case> cases{
        {{1, 2, 3, 2, 1}, "0[1[2] 3] 4"},
        {{2, 1, 3}, "0 1[2]"},
        {{1, 3, 3, 2}, "0[1 2 3]"},
        {{3, 3, 1}, "0 1 2"},
        {{1, 1, 1}, "0 1 2"},
        {{0, 1, -1}, "0[1] 2"},
        {{}, ""},
    };
    for (const auto& c : cases) {
        const auto tree = TOCTree::build(headings(c.levels));
        EXPECT_EQ(shape(tree, tree.roots), c.shape) << testing::PrintToString(c.levels);
    }
}

TEST(TOCTree, RowTextsAndEmphasis) {
    struct Case {
        BridgeHeading heading;
        std::string text, tooltip, spoken;
        bool emphasized, secondary;
    };
    const std::vector<Case> cases{
        {{1, "  Intro \n", "a"}, "Intro", "Intro", "Intro，1 级标题", true, false},
        {{3, "Deep", "b"}, "Deep", "Deep", "Deep，3 级标题", false, false},
        {{4, "Deeper", "c"}, "Deeper", "Deeper", "Deeper，4 级标题", false, true},
        {{2, " \t ", "d"}, "（无文字标题）", "", "（无文字标题），2 级标题", false, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TOCRow::displayText(c.heading), c.text);
        EXPECT_EQ(TOCRow::tooltip(c.heading), c.tooltip);
        EXPECT_EQ(TOCRow::accessibilityLabel(c.heading), c.spoken);
        EXPECT_EQ(TOCRow::isEmphasized(c.heading), c.emphasized) << c.heading.level;
        EXPECT_EQ(TOCRow::isSecondary(c.heading), c.secondary) << c.heading.level;
    }
}

TEST(TOCOutline, RebuildsOnlyForANewListAndFollowsTheActiveHeading) {
    TOCOutline outline;
    EXPECT_FALSE(outline.showsEmptyState());  // nothing shown before the first list
    EXPECT_TRUE(outline.update({}));
    EXPECT_TRUE(outline.showsEmptyState());
    EXPECT_FALSE(outline.update({}));

    // Remembered before any row has it.
    EXPECT_EQ(outline.highlight("dup"), std::nullopt);
    auto list = headings({1, 2, 2});
    list[1].id = "dup";
    list[2].id = "dup";
    EXPECT_TRUE(outline.update(list));
    EXPECT_FALSE(outline.showsEmptyState());
    EXPECT_EQ(outline.selectedNode(), 1u);  // the first of two equal identifiers

    EXPECT_FALSE(outline.update(list));  // the same list after a re-render
    EXPECT_EQ(outline.highlight("h0"), 0u);
    EXPECT_EQ(outline.highlight("gone"), std::nullopt);
    EXPECT_EQ(outline.currentHeadingID(), "gone");

    list[0].text = "Renamed";
    EXPECT_TRUE(outline.update(list));
    EXPECT_EQ(outline.tree().nodes[0].heading.text, "Renamed");

    EXPECT_EQ(outline.userPicked(2), list[2]);
    EXPECT_EQ(outline.userPicked(3), std::nullopt);
}

}  // namespace
}  // namespace larkspin
