// Every button of every notice the notice bar shows, as the program builds a
// page (its document controller, the document page, the real notice bar
// widget and the desktop's dialogs): each is there exactly when it should be,
// can be pressed, and pressing it does what it says.
#include <adwaita.h>
#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <chrono>
#include <fstream>
#include <functional>
#include <iostream>
#include <string>
#include <vector>

#include "Document/StandardizedPath.hpp"
#include "Model/DocumentPreferences.hpp"
#include "Reader/Strips/NoticeBarController.hpp"
#include "Reader/Widgets/NoticeBarViewController.hpp"
#include "Support/Display/DocumentControllerDisplay.hpp"
#include "Support/Display/MessageDialogs.hpp"
#include "Window/Widgets/DocumentPage.hpp"

namespace larkspin {
namespace {

// The file chooser on screen (the native chooser's own dialog when no portal
// is used); null when none is.
GtkWindow* openFileChooser() {
    return test::visibleToplevel([](GtkWindow* window) { return GTK_IS_FILE_CHOOSER(window); });
}

G_GNUC_BEGIN_IGNORE_DEPRECATIONS
void cancelFileChooser(GtkWindow* chooser) {
    gtk_dialog_response(GTK_DIALOG(chooser), GTK_RESPONSE_CANCEL);
}
G_GNUC_END_IGNORE_DEPRECATIONS

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string buttonLabel(GtkWidget* button) {
    const char* label = gtk_button_get_label(GTK_BUTTON(button));
    return label ? label : "";
}

class NoticeBarSurface : public test::DocumentControllerDisplayTest {
protected:
    void SetUp() override {
        DocumentControllerDisplayTest::SetUp();
        // Changes on disk are asked about, never reloaded behind the test's
        // back: only a button reloads.
        defaults.setString(DocumentPreferences::externalChangePolicyKey, "ask");
        makeController(controllerDependencies());
    }
    void TearDown() override {
        if (HasFailure()) {
            for (const auto& record : logs.records()) std::cerr << record.category << ": " << record.message << "\n";
        }
        // A dialog left open by a failed step goes too.
        if (GtkWindow* chooser = openFileChooser()) cancelFileChooser(chooser);
        if (AdwMessageDialog* dialog = test::openMessageDialog()) test::pressMessageButton(dialog, "cancel");
        DocumentControllerDisplayTest::TearDown();
    }

    Document& openRendered(const std::filesystem::path& path) {
        const auto opened = await(controller->openDocument(path, true));
        auto* document = dynamic_cast<Document*>(opened.document.get());
        EXPECT_NE(document, nullptr);
        EXPECT_TRUE(test::waitFor([&] { return document && document->renderCount() >= 1; })) << "no render";
        return *document;
    }
    static DocumentPage& pageOf(Document& document) { return *dynamic_cast<DocumentPage*>(document.window()); }
    static NoticeBarViewController& barOf(Document& document) {
        return *std::dynamic_pointer_cast<NoticeBarViewController>(pageOf(document).noticeBar()->view());
    }
    // The bar's buttons as the user sees them: shown ones, by label.
    static std::vector<std::string> labels(Document& document) {
        std::vector<std::string> result;
        for (GtkWidget* button : barOf(document).buttons()) {
            if (gtk_widget_get_visible(button)) result.push_back(buttonLabel(button));
        }
        return result;
    }
    // Clicks the shown button labelled `label`; false when there is none or
    // it cannot be pressed.
    static bool press(Document& document, const std::string& label) {
        for (GtkWidget* button : barOf(document).buttons()) {
            if (!gtk_widget_get_visible(button) || buttonLabel(button) != label) continue;
            if (!gtk_widget_is_sensitive(button)) return false;
            g_signal_emit_by_name(button, "clicked");
            return true;
        }
        return false;
    }
    static void writeFile(const std::filesystem::path& path, const std::string& text) {
        std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
    }
};

// What a button must do: wait for its effect (and clear up after it).
using Effect = std::function<void(Document&, const std::filesystem::path&)>;

void asksWhereToSave(Document&, const std::filesystem::path&) {
    GtkWindow* chooser = nullptr;
    ASSERT_TRUE(test::waitFor([&] { return (chooser = openFileChooser()) != nullptr; })) << "no save panel";
    EXPECT_STREQ(gtk_window_get_title(chooser), "另存为");
    EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)), GTK_FILE_CHOOSER_ACTION_SAVE);
    cancelFileChooser(chooser);
    ASSERT_TRUE(test::waitFor([] { return openFileChooser() == nullptr; }));
}

void asksForTheSourceFile(Document&, const std::filesystem::path&) {
    GtkWindow* chooser = nullptr;
    ASSERT_TRUE(test::waitFor([&] { return (chooser = openFileChooser()) != nullptr; })) << "no open panel";
    EXPECT_EQ(gtk_file_chooser_get_action(GTK_FILE_CHOOSER(chooser)), GTK_FILE_CHOOSER_ACTION_OPEN);
    EXPECT_NE(std::string(gtk_window_get_title(chooser)).find("的源文件位置"), std::string::npos);
    cancelFileChooser(chooser);
    ASSERT_TRUE(test::waitFor([] { return openFileChooser() == nullptr; }));
}

void asksBeforeDiscarding(Document& document, const std::filesystem::path&) {
    AdwMessageDialog* dialog = nullptr;
    ASSERT_TRUE(test::waitFor([&] { return (dialog = test::openMessageDialog()) != nullptr; }))
        << "unsaved text would go without a question";
    test::pressMessageButton(dialog, "cancel");
    ASSERT_TRUE(test::waitFor([] { return test::openMessageDialog() == nullptr; }));
    EXPECT_TRUE(document.isEdited()) << "a cancel keeps the text";
}

void reloadsTheFile(Document& document, const std::filesystem::path& path) {
    EXPECT_TRUE(test::waitFor([&] { return document.model().sourceText() == fileText(path); }))
        << "not reloaded";
    EXPECT_TRUE(test::waitFor([&] { return !document.externalIssue(); }));
}

void clearsTheNotice(Document& document, const std::filesystem::path&) {
    EXPECT_TRUE(test::waitFor([&] { return !document.externalIssue(); })) << "the notice stayed";
}

void savesTheFile(Document& document, const std::filesystem::path& path) {
    EXPECT_TRUE(test::waitFor([&] { return !document.isEdited(); })) << "not saved";
    EXPECT_EQ(fileText(path), document.model().sourceText());
    EXPECT_TRUE(test::waitFor([&] { return !document.externalIssue(); }));
}

void keepsTheTextAndClears(Document& document, const std::filesystem::path&) {
    EXPECT_FALSE(document.externalIssue());
    EXPECT_TRUE(document.isEdited());
}

TEST_F(NoticeBarSurface, EveryButtonOfEveryNoticeIsThereAndReachesItsEffect) {
    const DiskVersion elsewhere{"ab", 4, {}, "ff"};
    struct Button {
        std::string label;
        Effect effect;
    };
    struct Notice {
        const char* name;
        std::function<ExternalIssue(Document&)> issue;
        bool edited;  // unsaved text before the notice
        std::vector<Button> buttons;
    };
    const std::vector<Notice> notices = {
        {"conflict", [&](Document&) { return ExternalIssue::conflict(elsewhere); }, true,
         {{"重新载入", asksBeforeDiscarding}, {"保留我的", keepsTheTextAndClears}, {"另存为…", asksWhereToSave}}},
        {"external change", [&](Document&) { return ExternalIssue::externalChanged(elsewhere); }, false,
         {{"重新载入", reloadsTheFile}}},
        {"unreadable", [](Document&) { return ExternalIssue::unreadable(DocumentLoadFailure::readError("EIO")); },
         false, {{"重试", clearsTheNotice}, {"另存副本…", asksWhereToSave}}},
        {"permission", [](Document&) { return ExternalIssue::unreadable(DocumentLoadFailure::permissionDenied()); },
         false, {{"重新授权…", asksForTheSourceFile}, {"另存副本…", asksWhereToSave}}},
        {"save failed", [](Document&) { return ExternalIssue::saveFailed("磁盘已满"); }, true,
         {{"重试", savesTheFile}, {"另存为…", asksWhereToSave}}},
        {"recovered", [](Document&) { return ExternalIssue::recovered(std::chrono::system_clock::now()); }, true,
         {{"知道了", keepsTheTextAndClears}}},
        {"missing, clean", [](Document&) { return ExternalIssue::missing(); }, false,
         {{"另存副本…", asksWhereToSave}, {"重新定位…", asksForTheSourceFile}}},
        {"missing, edited", [](Document&) { return ExternalIssue::missing(); }, true,
         {{"另存为…", asksWhereToSave}, {"重新定位…", asksForTheSourceFile}}},
    };
    int file = 0;
    for (const Notice& notice : notices) {
        for (const Button& button : notice.buttons) {
            SCOPED_TRACE(std::string(notice.name) + " / " + button.label);
            // A fresh document for each button: one press must not prepare
            // the next.
            const auto path = dir.write("walk" + std::to_string(++file) + ".md", "# Walk\n\nas on disk\n");
            Document& document = openRendered(path);
            if (notice.edited) {
                ASSERT_TRUE(document.model().replaceAll("# Walk\n\nunsaved\n"));
            }
            document.setExternalIssue(notice.issue(document));
            ASSERT_TRUE(gtk_revealer_get_reveal_child(GTK_REVEALER(barOf(document).widget())));
            std::vector<std::string> expected;
            for (const Button& each : notice.buttons) expected.push_back(each.label);
            EXPECT_EQ(labels(document), expected);
            if (notice.name == std::string("external change")) writeFile(path, "# Walk\n\nchanged on disk\n");
            ASSERT_TRUE(press(document, button.label)) << "not there, or not enabled";
            button.effect(document, path);
            // The tab goes, with the document.
            closeGroupWindows();
        }
    }
}

}  // namespace
}  // namespace larkspin
