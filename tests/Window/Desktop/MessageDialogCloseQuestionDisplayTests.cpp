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
    explicit NamedDocument(std::string name = "notes.md") : name_(std::move(name)) {}
    std::string displayName() const override { return name_; }
    bool isEdited() const override { return true; }
    Task<void> flushDraft() override { co_return; }
    void save(std::function<void(std::optional<SaveError>)>) override {}
    void showTab() override {}
    void showCloseFailure(std::string) override {}
    void close() override {}

private:
    std::string name_;
};

// The label under `root` whose text holds `fragment`.
GtkLabel* labelHolding(GtkWidget* root, const std::string& fragment) {
    if (GTK_IS_LABEL(root) && std::string(gtk_label_get_text(GTK_LABEL(root))).find(fragment) != std::string::npos)
        return GTK_LABEL(root);
    for (GtkWidget* child = gtk_widget_get_first_child(root); child; child = gtk_widget_get_next_sibling(child)) {
        if (GtkLabel* found = labelHolding(child, fragment)) return found;
    }
    return nullptr;
}

bool isIdeograph(gunichar c) { return c >= 0x4E00 && c <= 0x9FFF; }

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

// The question's heading wraps over several lines for names of any length;
// no line of it starts inside a word, between two ideographs of a phrase
// ("关 / 闭前要保存吗？").
TEST(MessageDialogCloseQuestion, TheHeadingWrapsBetweenPhrasesNotInsideAWord) {
    GtkWindow* parent = GTK_WINDOW(gtk_window_new());
    gtk_window_present(parent);
    MessageDialogCloseQuestion question([parent](ClosingDocument&) { return parent; });
    for (const std::string name : {"notes.md", "季度报告.md", "a-somewhat-longer-name-of-a-file.md",
                                   "一份名字相当长的会议记录与行动项.md"}) {
        SCOPED_TRACE(name);
        NamedDocument document(name);
        question.ask(document, [](CloseAnswer) {});
        AdwMessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::runMainLoopUntil([&] { return (dialog = test::openMessageDialog()) != nullptr; }));
        GtkLabel* heading = labelHolding(GTK_WIDGET(dialog), "关闭前要保存吗");
        ASSERT_NE(heading, nullptr);
        ASSERT_TRUE(test::runMainLoopUntil([&] { return gtk_widget_get_width(GTK_WIDGET(heading)) > 0; }));
        PangoLayout* layout = gtk_label_get_layout(heading);
        const char* text = pango_layout_get_text(layout);
        EXPECT_GT(pango_layout_get_line_count(layout), 1) << "the heading wraps";
        for (GSList* line = pango_layout_get_lines_readonly(layout); line; line = line->next) {
            const int start = static_cast<PangoLayoutLine*>(line->data)->start_index;
            if (start == 0) continue;
            const gunichar before = g_utf8_get_char(g_utf8_find_prev_char(text, text + start));
            const gunichar first = g_utf8_get_char(text + start);
            EXPECT_FALSE(isIdeograph(before) && isIdeograph(first) &&
                         std::string(text).find("”") < static_cast<std::size_t>(start))
                << "a line starts inside a word: …" << std::string(text + start);
        }
        test::pressMessageButton(dialog, "cancel");
        ASSERT_TRUE(test::runMainLoopUntil([] { return test::openMessageDialog() == nullptr; }));
    }
    gtk_window_destroy(parent);
}

}  // namespace
}  // namespace larkspin
