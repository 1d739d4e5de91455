// The link opener's desktop services under Xvfb: the confirmation dialog and
// GIO's default application.

#include <adwaita.h>
#include <gio/gio.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "App/Desktop/GioApplicationLauncher.hpp"
#include "App/Desktop/MessageDialogConfirmation.hpp"
#include "Document/Links/LinkTargetCheck.hpp"
#include "Support/Display/MessageDialogs.hpp"
#include "Support/LogCapture.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

TEST(MessageDialogConfirmation, OnlyTheOpenButtonSaysYes) {
    test::LogCapture logs;
    GtkWindow* parent = GTK_WINDOW(gtk_window_new());
    gtk_window_present(parent);
    MessageDialogConfirmation confirmation([parent] { return parent; });
    const OpenConfirmation::Question question{"用默认应用打开「<b>x</b>.pdf」？",
                                              "这个链接指向的不是 Markdown 文件。\n\n所在文件夹：/a & b",
                                              "打开", "取消"};
    struct Answer {
        std::string how;
        std::function<void(AdwMessageDialog*)> answer;
        bool yes, broken;  // broken: no answer at all
    };
    const std::vector<Answer> answers{
        // A button: its response, then the dialog closes (which answers again).
        {"打开", [](AdwMessageDialog* d) { test::pressMessageButton(d, "open"); }, true, false},
        {"取消", [](AdwMessageDialog* d) { test::pressMessageButton(d, "cancel"); }, false, false},
        {"Esc or the window's close", [](AdwMessageDialog* d) { gtk_window_close(GTK_WINDOW(d)); },
         false, false},
        {"destroyed", [](AdwMessageDialog* d) { gtk_window_destroy(GTK_WINDOW(d)); }, false, true},
    };
    for (const auto& a : answers) {
        auto outcome = test::startTask(confirmation.confirm(question));
        AdwMessageDialog* dialog = nullptr;
        ASSERT_TRUE(test::runMainLoopUntil([&] { return (dialog = test::openMessageDialog()) != nullptr; }))
            << a.how;
        EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), parent);
        EXPECT_TRUE(gtk_window_get_modal(GTK_WINDOW(dialog)));
        EXPECT_STREQ(adw_message_dialog_get_heading(dialog), question.heading.c_str());
        EXPECT_STREQ(adw_message_dialog_get_body(dialog), question.body.c_str());
        EXPECT_FALSE(adw_message_dialog_get_heading_use_markup(dialog) || adw_message_dialog_get_body_use_markup(dialog));
        EXPECT_EQ(std::string(adw_message_dialog_get_response_label(dialog, "open")) +
                      adw_message_dialog_get_response_label(dialog, "cancel"), "打开取消");
        // Enter answers the default response, Esc the close response.
        EXPECT_EQ(std::string(adw_message_dialog_get_default_response(dialog)) +
                      adw_message_dialog_get_close_response(dialog), "cancelcancel");
        EXPECT_FALSE(outcome->finished) << "the question waits for its answer";

        a.answer(dialog);
        ASSERT_TRUE(test::runMainLoopUntil([&] { return outcome->finished; })) << a.how;
        EXPECT_EQ(bool(outcome->error), a.broken) << a.how;
        EXPECT_EQ(outcome->value, a.broken ? std::nullopt : std::optional(a.yes)) << a.how;
        ASSERT_TRUE(test::runMainLoopUntil([] { return test::openMessageDialog() == nullptr; })) << a.how;
    }
    gtk_window_destroy(parent);
}

TEST(GioApplicationLauncher, ARefusalCarriesTheSystemsReason) {
    GAppInfo* handler = g_app_info_get_default_for_type("application/octet-stream", FALSE);
    if (handler) {
        g_object_unref(handler);
        GTEST_SKIP() << "this desktop opens any binary file; nothing to refuse";
    }
    test::TempDir dir;
    const auto file = dir.write("blob.larkspin-unknown", std::string("\x00\x01\x02\x03\xFF", 5));
    GioApplicationLauncher launcher;
    const auto result = test::runTask(launcher.launch(LinkTargetCheck::fileURI(file)), 20000);
    EXPECT_FALSE(result.launched);
    EXPECT_FALSE(result.error.empty());
}

}  // namespace
}  // namespace larkspin
