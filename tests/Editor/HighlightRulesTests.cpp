#include "Editor/HighlightRules.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspin {
namespace {

using R = HighlightRole;

struct RuleCase {
    const char* name;
    std::string line;
    std::vector<LineSpan> spans;
};

class LineRules : public testing::TestWithParam<RuleCase> {};

TEST_P(LineRules, GivesTheSpansInOrder) {
    EXPECT_EQ(HighlightRules::lineSpans(GetParam().line), GetParam().spans) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Markdown, LineRules,
    testing::Values(
        RuleCase{"heading", "## Title *x*", {{R::heading, 0, 12}}},
        RuleCase{"heading alone", "#", {{R::heading, 0, 1}}},
        RuleCase{"hash then letter", "#tag", {}},
        RuleCase{"seven hashes", "####### no", {}},
        RuleCase{"indented four is no heading", "    # no", {}},
        RuleCase{"quote with code", "> a `b`", {{R::quote, 0, 7}, {R::quoteMarker, 0, 1}, {R::inlineCode, 4, 7}}},
        RuleCase{"quote is not a list", "> - x", {{R::quote, 0, 5}, {R::quoteMarker, 0, 1}}},
        RuleCase{"hyphen list", "- item", {{R::listMarker, 0, 1}}},
        RuleCase{"numbered with parenthesis", "  12) item", {{R::listMarker, 0, 5}}},
        RuleCase{"hyphen then text", "-item", {}},
        RuleCase{"marker alone without space", "-", {}},
        RuleCase{"strong then emphasis", "**a** _b_", {{R::strong, 0, 5}, {R::emphasis, 6, 9}}},
        RuleCase{"code inside strong", "**a `c` b**", {{R::strong, 0, 11}, {R::inlineCode, 4, 7}}},
        RuleCase{"link with destination", "[t](u)", {{R::link, 0, 6}, {R::linkDestination, 4, 5}}},
        RuleCase{"image link", "![a](b.png)", {{R::link, 0, 11}, {R::linkDestination, 5, 10}}},
        RuleCase{"link without destination", "[t]()", {{R::link, 0, 5}}},
        RuleCase{"spans are bytes", "é **b**", {{R::strong, 3, 8}}},
        RuleCase{"list then link", "* [a](b)", {{R::listMarker, 0, 1}, {R::link, 2, 8}, {R::linkDestination, 6, 7}}},
        RuleCase{"invalid UTF-8 colours nothing", std::string("**a\xff**"), {}},
        RuleCase{"empty", "", {}}),
    [](const testing::TestParamInfo<RuleCase>& info) { return "case" + std::to_string(info.index); });

TEST(FenceLine, RecognisesMarkers) {
    struct Case {
        const char* line;
        bool fence;
    };
    for (const Case c : {Case{"```", true}, Case{"~~~", true}, Case{"```cpp", true}, Case{"   ````", true},
                         Case{"    ```", false}, Case{"``", false}, Case{"~`~", false}, Case{"", false},
                         Case{"x```", false}}) {
        EXPECT_EQ(HighlightRules::isFenceLine(c.line), c.fence) << c.line;
    }
}

}  // namespace
}  // namespace larkspin
