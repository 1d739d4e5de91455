#include "App/AppActions.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "App/HelpLinks.hpp"
#include "App/RecentFiles.hpp"

namespace larkspin {
namespace {

class FakeDocuments final : public ShellDocuments {
public:
    std::set<DocumentCommand> allowed;
    std::vector<DocumentCommand> performed;

    std::size_t documentCount() const override { return 0; }
    std::size_t flushDraftsNow() override { return 0; }
    void flushEveryDraftAndWait() override {}
    void reviewBeforeQuit(std::function<void(bool)> done) override { done(true); }
    bool canPerform(DocumentCommand command) const override { return allowed.contains(command); }
    void perform(DocumentCommand command) override { performed.push_back(command); }
    WindowStateSnapshot windowState() const override { return {}; }
    SessionSnapshot sessionSnapshot(const std::vector<std::string>&) const override { return {}; }
    void setChangeHandler(std::function<void()>) override {}
};

TEST(AppActions, DocumentCommandsFollowTheKeyDocument) {
    const std::vector<std::pair<std::string_view, DocumentCommand>> commands{
        {AppActions::close, DocumentCommand::close},   {AppActions::save, DocumentCommand::save},
        {AppActions::saveAs, DocumentCommand::saveAs}, {AppActions::revert, DocumentCommand::revert},
        {AppActions::copy, DocumentCommand::copy},     {AppActions::selectAll, DocumentCommand::selectAll},
    };
    FakeDocuments documents;
    ShellCommands shell;
    shell.documents = &documents;
    const ActionTable table = AppActions::make(shell);
    for (const auto& [name, command] : commands) {
        SCOPED_TRACE(std::string(name));
        documents.allowed.clear();
        documents.performed.clear();
        EXPECT_FALSE(table.validate(name).enabled);
        EXPECT_TRUE(table.activate(name));
        EXPECT_TRUE(documents.performed.empty()) << "a disabled command does nothing";

        documents.allowed.insert(command);
        EXPECT_TRUE(table.validate(name).enabled);
        EXPECT_FALSE(table.validate(name).state.has_value()) << "no check mark";
        table.activate(name);
        EXPECT_EQ(documents.performed, std::vector<DocumentCommand>{command});
    }
}

TEST(AppActions, ApplicationCommandsAreEnabledWhenTheyCanRun) {
    int about = 0;
    std::vector<std::string> opened;
    ShellCommands shell;
    shell.about = [&] { ++about; };
    shell.openRecent = [&](std::string path) { opened.push_back(std::move(path)); };
    const ActionTable table = AppActions::make(shell);

    EXPECT_TRUE(table.validate(AppActions::about).enabled);
    // No settings window yet, no quit or help handler here: disabled.
    EXPECT_FALSE(table.validate(AppActions::settings).enabled);
    EXPECT_FALSE(table.validate(AppActions::help).enabled);
    // Without documents every document command is off.
    EXPECT_FALSE(table.validate(AppActions::save).enabled);

    table.activate(AppActions::about);
    EXPECT_EQ(about, 1);
    ASSERT_TRUE(table.find(AppActions::openRecent)->takesTarget);
    table.activate(AppActions::openRecent, std::string("/notes/a.md"));
    table.activate(AppActions::openRecent, std::string());
    table.activate(AppActions::openRecent, std::nullopt);
    EXPECT_EQ(opened, std::vector<std::string>{"/notes/a.md"});
}

TEST(HelpLinks, FollowsTheFirstLanguage) {
    using Names = std::vector<std::string_view>;
    EXPECT_EQ(HelpLinks::address(Names{"zh_CN.UTF-8", "zh_CN", "zh", "C"}), HelpLinks::faqChinese);
    EXPECT_EQ(HelpLinks::address(Names{"zh_TW"}), HelpLinks::faqChinese);
    EXPECT_EQ(HelpLinks::address(Names{"en_US", "zh", "C"}), HelpLinks::faqEnglish);
    EXPECT_EQ(HelpLinks::address(Names{"C"}), HelpLinks::faqEnglish);
    EXPECT_EQ(HelpLinks::address(Names{}), HelpLinks::faqEnglish);
}

TEST(RecentFiles, ListsReadableLocalFilesNewestFirst) {
    std::vector<RecentEntry> entries{
        {"/notes/old.md", "text/markdown", false, 10},
        {"/notes/new.md", "text/markdown", false, 30},
        {"/pictures/cat.png", "image/png", false, 40},         // not ours to open
        {"/notes/ours.bin", "application/octet-stream", true, 35},  // put there by us
        {"", "text/markdown", false, 50},                     // not a local file
        {"/notes/./new.md", "text/plain", false, 20},         // the same file again
        {"relative.md", "text/markdown", false, 60},
    };
    EXPECT_EQ(RecentFiles::menuEntries(entries),
              (std::vector<std::filesystem::path>{"/notes/ours.bin", "/notes/new.md", "/notes/old.md"}));

    std::vector<RecentEntry> many;
    for (int index = 0; index < 15; ++index) {
        many.push_back({"/notes/" + std::to_string(index) + ".md", "text/x-markdown", false, index});
    }
    const auto listed = RecentFiles::menuEntries(many);
    ASSERT_EQ(listed.size(), RecentFiles::limit);
    EXPECT_EQ(listed.front(), std::filesystem::path("/notes/14.md"));
}

}  // namespace
}  // namespace larkspin
