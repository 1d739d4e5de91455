// The close review's question under Xvfb.

#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "Support/Display/MessageDialogs.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Window/Desktop/MessageDialogCloseQuestion.hpp"

namespace larkspin {
namespace {

class NamedDocument final : public ClosingDocument {
public:
    std::string displayName() const override { return "notes.md"; }
    bool isEdited() const override { return true; }
    Task<void> flushDraft() override { co_return; }
    void save(std::function<void(std::optional<SaveError>)>) override {}
    void showTab() override {}
    void showCloseFailure(std::string) override {}
    void close() override {}
};

TEST(MessageDialogCloseQuestion, EachWayOutGivesOneAnswer) {
    test::LogCapture logs;
    GtkWindow* parent = GTK_WINDOW(gtk_window_new());
    gtk_window_present(parent);
    MessageDialogCloseQuestion question([parent](ClosingDocument&) { return parent; });
    NamedDocument document;
    struct Way {
        const char* how;
        std::function<void(AdwMessageDialog*)> act;
        CloseAnswer expected;
    };
    const std::vector<Way> ways{
        {"保存", [](AdwMessageDialog* d) { test::pressMessageButton(d, "save"); }, CloseAnswer::save},
        {"不保存", [](AdwMessageDialog* d) { test::pressMessageButton(d, "discard"); }, CloseAnswer::dontSave},
        {"取消", [](AdwMessageDialog* d) { test::pressMessageButton(d, "cancel"); }, CloseAnswer::cancel},
        {"Esc", [](AdwMessageDialog* d) { gtk_window_close(GTK_WINDOW(d)); }, CloseAnswer::cancel},
        {"destroyed", [](AdwMessageDialog* d) { gtk_window_destroy(GTK_WINDOW(d)); }, CloseAnswer::cancel},
    };
    for (const auto& way : ways) {
        SCOPED_TRACE(way.how);
        std::vector<CloseAnswer> answers;
        question.ask(document, [&answers](CloseAnswer a) { answers.push_back(a); });
        AdwMessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::runMainLoopUntil([&] { return (dialog = test::openMessageDialog()) != nullptr; }));
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), parent);
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        EXPECT_STREQ(adw_message_dialog_get_heading(dialog), "“notes.md”有未保存的修改。关闭前要保存吗？");
        EXPECT_EQ(std::string(adw_message_dialog_get_response_label(dialog, "save")) + "/" +
                      adw_message_dialog_get_response_label(dialog, "discard") + "/" +
                      adw_message_dialog_get_response_label(dialog, "cancel"),
                  "保存/不保存/取消");
        EXPECT_STREQ(adw_message_dialog_get_close_response(dialog), "cancel");
        EXPECT_EQ(adw_message_dialog_get_response_appearance(dialog, "discard"), ADW_RESPONSE_DESTRUCTIVE);
        EXPECT_TRUE(answers.empty());

        way.act(dialog);
        ASSERT_TRUE(test::runMainLoopUntil([] { return test::openMessageDialog() == nullptr; }));
        ASSERT_TRUE(test::runMainLoopUntil([&] { return !answers.empty(); }));
        EXPECT_EQ(answers, std::vector<CloseAnswer>{way.expected});
    }
    gtk_window_destroy(parent);
}

}  // namespace
}  // namespace larkspin
