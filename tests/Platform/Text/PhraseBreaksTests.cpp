#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Platform/Text/PhraseBreaks.hpp"

namespace larkspin {
namespace {

std::vector<std::string> phrases(const std::string& text) {
    std::vector<std::string> kept;
    for (const auto& run : PhraseBreaks::keptTogether(text)) kept.push_back(text.substr(run.begin, run.end - run.begin));
    return kept;
}

// The phrases of a Chinese heading stay whole; a quoted name, Latin text and
// an over-long run of ideographs break as any text does.
TEST(PhraseBreaks, ChinesePhrasesStayWholeAndEverythingElseBreaksAsUsual) {
    EXPECT_EQ(phrases("“notes.md”有未保存的修改。关闭前要保存吗？"),
              (std::vector<std::string>{"有未保存的修改。", "关闭前要保存吗？"}));
    EXPECT_EQ(phrases("“笔记”无法打开，请重试"), (std::vector<std::string>{"无法打开，", "请重试"}));
    EXPECT_EQ(phrases("Larkspin 只打开 Markdown 文件"), std::vector<std::string>{});
    EXPECT_EQ(phrases(std::string(20, 'x')), std::vector<std::string>{});
    std::string longRun;
    for (int i = 0; i < 20; ++i) longRun += "字";
    EXPECT_EQ(phrases(longRun + "。短句"), (std::vector<std::string>{"短句"}));
    EXPECT_EQ(phrases("保存\xff吗？"), (std::vector<std::string>{"保存", "吗？"})) << "a bad byte ends a phrase";
}

}  // namespace
}  // namespace larkspin
