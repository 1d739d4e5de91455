// The page's yes-or-no questions under Xvfb: the discard question and the
// mixed line endings question, both through MessageQuestion.

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
#include "Window/Desktop/DiscardConfirmation.hpp"
#include "Window/Desktop/EditingQuestions.hpp"

namespace larkspin {
namespace {

TEST(MessageQuestion, OnlyTheYesButtonSaysYesAndEnterAndEscCancel) {
    test::LogCapture logs;
    GtkWindow* parent = GTK_WINDOW(gtk_window_new());
    gtk_window_present(parent);
    struct Asked {
        std::string what;
        std::function<Task<bool>()> ask;
        const char* yes;
        std::string labels;  // yes, then cancel
        AdwResponseAppearance yesLooks;
    };
    const std::vector<Asked> questions{
        {"discard",
         [parent] {
             return DiscardConfirmation::ask(parent, {"放弃修改？", "未保存的修改会丢失。", "放弃", "取消"});
         },
         "discard", "放弃/取消", ADW_RESPONSE_DESTRUCTIVE},
        {"mixed line endings", [parent] { return EditingQuestions::confirmMixedLineEndings(parent); },
         "continue", "继续编辑/取消", ADW_RESPONSE_DEFAULT},
    };
    for (const Asked& asked : questions) {
        const std::vector<std::pair<std::string, std::function<void(AdwMessageDialog*)>>> ways{
            {"yes", [&](AdwMessageDialog* d) { test::pressMessageButton(d, asked.yes); }},
            {"取消", [](AdwMessageDialog* d) { test::pressMessageButton(d, "cancel"); }},
            {"Esc", [](AdwMessageDialog* d) { gtk_window_close(GTK_WINDOW(d)); }},
        };
        for (const auto& [how, act] : ways) {
            SCOPED_TRACE(asked.what + ", " + how);
            auto outcome = test::startTask(asked.ask());
            AdwMessageDialog* dialog = nullptr;
            ASSERT_TRUE(test::runMainLoopUntil([&] { return (dialog = test::openMessageDialog()) != nullptr; }));
            EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), parent);
            EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
            EXPECT_EQ(std::string(adw_message_dialog_get_response_label(dialog, asked.yes)) + "/" +
                          adw_message_dialog_get_response_label(dialog, "cancel"),
                      asked.labels);
            EXPECT_EQ(adw_message_dialog_get_response_appearance(dialog, asked.yes), asked.yesLooks);
            EXPECT_EQ(std::string(adw_message_dialog_get_default_response(dialog)) + "/" +
                          adw_message_dialog_get_close_response(dialog),
                      "cancel/cancel");
            EXPECT_FALSE(outcome->finished) << "the question waits for its answer";

            act(dialog);
            ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; }));
            ASSERT_FALSE(outcome->error);
            EXPECT_EQ(outcome->value, std::optional(how == "yes"));
            ASSERT_TRUE(test::runMainLoopUntil([] { return test::openMessageDialog() == nullptr; }));
        }
    }
    gtk_window_destroy(parent);
}

}  // namespace
}  // namespace larkspin
