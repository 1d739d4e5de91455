#include "Document/NoticeContent.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace larkspin {
namespace {

using Tone = NoticeBarContent::Tone;

struct Button {
    std::string title;
    bool destructive;
    std::string runs;
    bool operator==(const Button&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Button& button) {
    return out << button.title << (button.destructive ? "!" : "") << "→" << button.runs;
}

// Each handler records its own name, so a button's wiring shows in the table.
std::vector<Button> buttons(const ExternalIssue& issue, NoticeContext context, Tone* tone,
                            std::string* message, ExternalIssueKind* kind) {
    std::string ran;
    NoticeHandlers handlers;
    handlers.reloadDiscarding = [&] { ran = "reloadDiscarding"; };
    handlers.keepMine = [&] { ran = "keepMine"; };
    handlers.acceptExternal = [&] { ran = "acceptExternal"; };
    handlers.sampleAgain = [&] { ran = "sampleAgain"; };
    handlers.relocate = [&] { ran = "relocate"; };
    handlers.retrySave = [&] { ran = "retrySave"; };
    handlers.dismissRecovered = [&] { ran = "dismissRecovered"; };
    handlers.saveElsewhere = [&] { ran = "saveElsewhere"; };
    const NoticeBarContent content = noticeContent(issue, context, handlers);
    *tone = content.tone;
    *message = content.message;
    *kind = content.kind;
    std::vector<Button> result;
    for (const auto& action : content.actions) {
        ran.clear();
        action.handler();
        result.push_back({action.title, action.isDestructive, ran});
    }
    return result;
}

TEST(NoticeContent, EachIssueHasItsToneMessageAndButtons) {
    const DiskVersion version{"a1", 3, {}, "00"};
    const NoticeContext cleanFile{true, false};
    const NoticeContext dirtyFile{true, true};
    const NoticeContext noFile{false, false};
    const Button saveCopy{"另存副本…", false, "saveElsewhere"};
    const Button saveAs{"另存为…", false, "saveElsewhere"};
    struct Case {
        const char* name;
        ExternalIssue issue;
        NoticeContext context;
        Tone tone;
        std::string message;
        std::vector<Button> buttons;
        ExternalIssueKind kind;
    };
    const std::vector<Case> cases = {
        {"conflict", ExternalIssue::conflict(version), dirtyFile, Tone::warning,
         "文件在磁盘上已被其他程序修改，你有未保存的改动。",
         {{"重新载入", true, "reloadDiscarding"}, {"保留我的", false, "keepMine"}, saveAs},
         ExternalIssueKind::conflict},
        {"external change", ExternalIssue::externalChanged(version), cleanFile, Tone::info,
         "文件在磁盘上已被其他程序修改。", {{"重新载入", false, "acceptExternal"}},
         ExternalIssueKind::externalChanged},
        {"unreadable", ExternalIssue::unreadable(DocumentLoadFailure::readError("EIO")), cleanFile,
         Tone::error,
         "源文件暂时无法读取（" + DocumentLoadFailure::readError("EIO").title() + "），文本已保留。",
         {{"重试", false, "sampleAgain"}, saveCopy}, ExternalIssueKind::unreadable},
        {"permission", ExternalIssue::unreadable(DocumentLoadFailure::permissionDenied()), dirtyFile,
         Tone::error, "没有权限读取源文件，文本已保留。可重新授权，或另存到别处。",
         {{"重新授权…", false, "relocate"}, saveAs}, ExternalIssueKind::permission},
        {"save failed", ExternalIssue::saveFailed("磁盘已满"), dirtyFile, Tone::error,
         "保存失败，原文件未改动，你的修改仍在编辑器里。磁盘已满",
         {{"重试", false, "retrySave"}, saveAs}, ExternalIssueKind::saveFailed},
        {"save failed after the file was replaced", ExternalIssue::saveFailed("读回不符", true), dirtyFile,
         Tone::error,
         "保存后校验没有通过：原文件已被替换，但读回的内容与写入的不一致。你的修改仍在编辑器里，"
         "请再保存一次或另存为。读回不符",
         {{"重试", false, "retrySave"}, saveAs}, ExternalIssueKind::saveFailed},
        {"missing without a file", ExternalIssue::missing(), noFile, Tone::error,
         "这份内容的源文件已不存在，需要另存。", {saveAs}, ExternalIssueKind::missing},
        // A recovered draft set aside from a file that is still there says why.
        {"set aside: changed", ExternalIssue::missing(DraftSetAside::sourceChanged), noFile, Tone::error,
         "源文件在这份草稿之后已被改动，恢复的内容放在这里以免覆盖，需要另存。", {saveAs},
         ExternalIssueKind::missing},
        {"set aside: read-only", ExternalIssue::missing(DraftSetAside::sourceReadOnly), noFile,
         Tone::error,
         "源文件现在不能以可编辑方式打开（只读、无法读取或过大），恢复的内容放在这里，需要另存。",
         {saveAs}, ExternalIssueKind::missing},
        {"set aside: taken", ExternalIssue::missing(DraftSetAside::sourceTaken), noFile, Tone::error,
         "源文件已恢复了另一份草稿，这份内容放在这里，需要另存。", {saveAs}, ExternalIssueKind::missing},
        {"missing, clean", ExternalIssue::missing(), cleanFile, Tone::error,
         "源文件已被删除或移走。原内容仍显示在这里，可另存副本。",
         {saveCopy, {"重新定位…", false, "relocate"}}, ExternalIssueKind::missing},
        {"missing, dirty", ExternalIssue::missing(), dirtyFile, Tone::error,
         "源文件已被删除或移走，你的修改仍在编辑器里，需要另存或重新定位。",
         {saveAs, {"重新定位…", false, "relocate"}}, ExternalIssueKind::missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Tone tone;
        std::string message;
        ExternalIssueKind kind;
        EXPECT_EQ(buttons(c.issue, c.context, &tone, &message, &kind), c.buttons);
        EXPECT_EQ(tone, c.tone);
        EXPECT_EQ(message, c.message);
        EXPECT_EQ(kind, c.kind);
    }
}

TEST(NoticeContent, TheRecoveredNoticeCarriesTheDraftsDate) {
    const auto date = std::chrono::system_clock::from_time_t(1'700'000'000);
    Tone tone;
    std::string message;
    ExternalIssueKind kind;
    const auto result = buttons(ExternalIssue::recovered(date), {true, true}, &tone, &message, &kind);
    const std::string formatted = formatNoticeDate(date);
    ASSERT_FALSE(formatted.empty());
    EXPECT_EQ(message, "已恢复 " + formatted + " 未保存的修改（来自本地恢复草稿），尚未写回文件。");
    EXPECT_EQ(tone, Tone::info);
    EXPECT_EQ(kind, ExternalIssueKind::recovered);
    EXPECT_EQ(result, (std::vector<Button>{{"知道了", false, "dismissRecovered"}}));
}

}  // namespace
}  // namespace larkspin
