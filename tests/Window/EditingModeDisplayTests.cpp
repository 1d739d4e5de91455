#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <algorithm>
#include <list>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "Appearance/AppearanceController.hpp"
#include "Appearance/TypographyController.hpp"
#include "Document/Document.hpp"
#include "Document/FakeDocumentKeeper.hpp"
#include "Editor/Widgets/EditorViewController.hpp"
#include "Platform/UserDefaults.hpp"
#include "Reader/Strips/FindBarController.hpp"
#include "Reader/ReaderDisplaySupport.hpp"
#include "Support/MainLoop.hpp"
#include "Support/Display/MessageDialogs.hpp"
#include "Support/Display/RecordingFileManager.hpp"
#include "Support/Display/TestPageOwner.hpp"
#include "Support/Display/TestWindowServices.hpp"
#include "Window/Widgets/DocumentPage.hpp"
#include "Window/Widgets/TabGroupWindow.hpp"

namespace larkspin {
namespace {

// Editing mode with the build switch turned on for the test.
class EditingModeDisplay : public test::ReaderDisplayTest {
protected:
    void SetUp() override {
        ReaderDisplayTest::SetUp();
        ModeSwitch::setSourceEditingForTesting(true);
    }
    void TearDown() override {
        if (group) gtk_window_destroy(group);
        MainThread::drainForTesting();
        readerController.reset();
        readerView.reset();
        document.reset();
        ModeSwitch::setSourceEditingForTesting(false);
        ReaderDisplayTest::TearDown();
    }

    DocumentPage& makePage(LoadedDocument loaded) {
        Document::Services services;
        services.draftWriter = pageServices.draftWriter;
        services.observesFile = false;
        document = Document::create(services, std::make_shared<test::FakeDocumentKeeper>(), std::filesystem::path("/notes/edit.md"));
        document->model().adopt(std::move(loaded));
        readerView = std::make_shared<ReaderView>(*factory);
        ReaderEnvironment environment;
        fillEnvironment(environment);
        auto page = std::make_unique<DocumentPage>(document, readerView, environment, pageServices.value(),
                                                   ThemeCatalog::theme(ThemeID::porcelain),
                                                   test::RecordingFileManager().port(), pageOwner);
        DocumentPage& made = *page;
        readerController = made.readerController();
        TabGroupWindow& window = TabGroupWindow::create(pageServices.tabGroups, nullptr, pageServices.sessionChanges);
        group = window.window();
        g_object_add_weak_pointer(G_OBJECT(group), reinterpret_cast<gpointer*>(&group));
        gtk_window_present(group);
        window.add(std::move(page));
        return made;
    }
    // The switch into editing; a dialog it opens on the page's window is
    // answered with `response` (its text kept in `dialogBodies`).
    bool enter(DocumentPage& page, bool editHere = false, const char* response = "cancel") {
        auto outcome = test::startTask(page.enterEditing(editHere, "用户切换"));
        AdwMessageDialog* dialog = nullptr;
        EXPECT_TRUE(test::waitFor([&] {
            return outcome->finished || (dialog = test::openMessageDialog()) != nullptr;
        }));
        // A refusal is told after the switch has answered.
        if (!dialog) dialog = test::openMessageDialog();
        if (dialog) {
            EXPECT_EQ(gtk_window_get_transient_for(GTK_WINDOW(dialog)), group) << "not on the page's window";
            dialogBodies.emplace_back(adw_message_dialog_get_body(dialog));
            test::pressMessageButton(dialog, response);
            EXPECT_TRUE(test::waitFor([&] { return outcome->finished && !test::openMessageDialog(); }));
        }
        return outcome->value.value_or(false);
    }
    void render(DocumentPage& page) {
        const int before = document->renderCount();
        page.readerController()->loadView();
        page.readerController()->render(document->model().sourceText());
        ASSERT_TRUE(test::waitFor([&] { return document->renderCount() > before; })) << "no rendered reply";
    }

    UserDefaults defaults{dir.path() / "preferences.json"};
    test::TestWindowServices pageServices{defaults};
    std::shared_ptr<Document> document;
    std::shared_ptr<ReaderView> readerView;
    std::shared_ptr<ReaderViewController> readerController;
    GtkWindow* group = nullptr;
    std::shared_ptr<test::TestPageOwner> pageOwner = std::make_shared<test::TestPageOwner>();
    std::vector<std::string> dialogBodies;
};

std::string longDocument() {
    std::string text = "# First\n\n";
    for (int i = 0; i < 120; ++i) text += "Paragraph " + std::to_string(i) + " of filler text.\n\n";
    text += "## Second\n\nneedle one\n\n";
    for (int i = 0; i < 60; ++i) text += "Tail " + std::to_string(i) + ".\n\n";
    return text + "needle two\n";
}

TEST_F(EditingModeDisplay, EntersAtTheReadingPositionAndLeavesAtTheSameLine) {
    DocumentPage& page = makePage({.source = longDocument()});
    render(page);
    // Read down to the second heading.
    auto scrolled = test::startTask(page.readerController()->scrollToHeading("second"));
    ASSERT_TRUE(test::waitFor([&] { return scrolled->finished; }));

    ASSERT_TRUE(enter(page));
    EXPECT_EQ(page.modeContainer().mode(), DocumentMode::editing);
    EditorViewController* editor = page.editor();
    ASSERT_NE(editor, nullptr);
    const auto anchor = page.readerController()->readingAnchor();
    ASSERT_TRUE(anchor && anchor->hasBlock());
    EditorTextView& view = editor->textView();
    const std::int64_t caretLine = view.lineForOffset(view.selectedRange().location);
    EXPECT_EQ(caretLine, anchor->sourceRange.start);
    EXPECT_GT(caretLine, 100);

    // An outline pick while editing puts the caret on the heading's line.
    const std::string text = longDocument();
    const auto secondLine = std::count(text.begin(), text.begin() + static_cast<long>(text.find("## Second")), '\n') + 1;
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(page.outline().selection()), 0, TRUE);
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(page.outline().selection()), 1, TRUE);
    EXPECT_EQ(view.lineForOffset(view.selectedRange().location), secondLine);
    EXPECT_EQ(page.modeContainer().mode(), DocumentMode::editing);

    // Typing reaches the document's model.
    const auto revision = document->model().sourceRevision();
    ASSERT_TRUE(view.insertPlainText("x"));
    EXPECT_EQ(document->model().sourceRevision(), revision + 1);

    const std::int64_t leavingLine = view.lineForOffset(view.selectedRange().location);
    const int before = document->renderCount();
    page.enterReading("用户切换");
    EXPECT_EQ(page.modeContainer().mode(), DocumentMode::reading);
    EXPECT_EQ(editor->savedSelection, view.selectedRange());
    ASSERT_TRUE(test::waitFor([&] { return document->renderCount() > before; }));
    ASSERT_TRUE(test::waitFor([&] { return page.readerController()->diagnostics().lastScrolledToSource.has_value(); }));
    EXPECT_EQ(page.readerController()->diagnostics().lastScrolledToSource->line, leavingLine);

    // The next entry prefers the kept selection; the editor is the same one.
    ASSERT_TRUE(enter(page));
    EXPECT_EQ(page.editor(), editor);
    EXPECT_EQ(editor->lastPositioning(),
              (EditorPositioning{EditorPositioning::RestoredSelection{*editor->savedSelection}}));
}

// Entering at the first line shows the text from its very top, the editor's
// top inset included; so does a pick of the first heading while editing.
TEST_F(EditingModeDisplay, TheFirstLineEntersWithTheTopInsetInView) {
    DocumentPage& page = makePage({.source = longDocument()});
    render(page);
    ASSERT_TRUE(enter(page));
    EditorViewController* editor = page.editor();
    ASSERT_NE(editor, nullptr);
    EditorTextView& view = editor->textView();
    ASSERT_EQ(view.lineForOffset(view.selectedRange().location), 1);
    GtkAdjustment* scroll =
        gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view.widget()));
    ASSERT_TRUE(test::waitFor([&] { return !editor->isSettlingScroll(); }));
    EXPECT_EQ(gtk_adjustment_get_value(scroll), 0);

    gtk_adjustment_set_value(scroll, 400);
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(page.outline().selection()), 1, TRUE);
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(page.outline().selection()), 0, TRUE);
    EXPECT_EQ(view.lineForOffset(view.selectedRange().location), 1);
    ASSERT_TRUE(test::waitFor([&] { return !editor->isSettlingScroll(); }));
    EXPECT_EQ(gtk_adjustment_get_value(scroll), 0);
}

// Undo back to the text last read leaves the document unchanged; redo
// changes it again. Only the way back to that very text counts.
TEST_F(EditingModeDisplay, UndoingBackToTheSavedTextLeavesTheDocumentUnchanged) {
    DocumentPage& page = makePage({.source = "# Title\n\nSome text.\n"});
    render(page);
    ASSERT_TRUE(enter(page));
    EditorTextView& view = page.editor()->textView();
    ASSERT_FALSE(document->isEdited());
    ASSERT_TRUE(view.insertPlainText("x"));
    EXPECT_TRUE(document->isEdited());
    auto undo = [&](const char* action) {
        ASSERT_TRUE(gtk_widget_activate_action(view.widget(), action, nullptr)) << action;
    };
    undo("text.undo");
    EXPECT_EQ(document->model().sourceText(), "# Title\n\nSome text.\n");
    EXPECT_FALSE(document->isEdited()) << "revision " << document->model().sourceRevision()
                                       << ", saved " << document->model().lastSavedRevision();
    undo("text.redo");
    EXPECT_TRUE(document->isEdited());
    undo("text.undo");
    EXPECT_FALSE(document->isEdited());

    // Typed, then the same text typed back by hand: still changed.
    ASSERT_TRUE(view.insertPlainText("y"));
    view.select({view.selectedRange().location - 1, 1});
    ASSERT_TRUE(gtk_text_buffer_delete_selection(view.buffer(), TRUE, TRUE));
    EXPECT_EQ(document->model().sourceText(), "# Title\n\nSome text.\n");
    EXPECT_TRUE(document->isEdited());
}

// Several thousand lines, a "## Section n" heading every 50 lines.
std::string sectionedDocument() {
    std::string text;
    for (int section = 1; section <= 100; ++section) {
        text += "## Section " + std::to_string(section) + "\n\n";
        for (int i = 0; i < 24; ++i) {
            text += "Line " + std::to_string(i) + " of section " + std::to_string(section) + ".\n\n";
        }
    }
    return text;
}
std::int64_t sectionLine(int section) { return 1 + (section - 1) * 50; }

// The line at the top of what the editor shows.
std::int64_t topLine(EditorViewController& editor) {
    GtkTextView* view = GTK_TEXT_VIEW(editor.textView().widget());
    GdkRectangle visible;
    gtk_text_view_get_visible_rect(view, &visible);
    GtkTextIter iter;
    gtk_text_view_get_line_at_y(view, &iter, visible.y, nullptr);
    return gtk_text_iter_get_line(&iter) + 1;
}

TEST_F(EditingModeDisplay, LongDocumentEntersWithTheReadLineAtTheTopAndLeavesAtTheSameHeading) {
    DocumentPage& page = makePage({.source = sectionedDocument()});
    render(page);
    auto scrolled = test::startTask(page.readerController()->scrollToHeading("section-70"));
    ASSERT_TRUE(test::waitFor([&] { return scrolled->finished; }));
    ASSERT_TRUE(scrolled->value && scrolled->value->found);

    // Straight away: the new editor has measured none of its lines yet.
    ASSERT_TRUE(enter(page));
    EditorViewController* editor = page.editor();
    ASSERT_NE(editor, nullptr);
    EditorTextView& view = editor->textView();
    EXPECT_EQ(view.lineForOffset(view.selectedRange().location), sectionLine(70));
    ASSERT_TRUE(test::waitFor([&] { return !editor->isSettlingScroll(); }));
    // The heading with one line of context above it.
    EXPECT_NEAR(topLine(*editor), sectionLine(70) - 1, 1);

    // An outline pick while editing lands the same way.
    gtk_selection_model_select_item(GTK_SELECTION_MODEL(page.outline().selection()), 39, TRUE);
    EXPECT_EQ(view.lineForOffset(view.selectedRange().location), sectionLine(40));
    ASSERT_TRUE(test::waitFor([&] { return !editor->isSettlingScroll(); }));
    EXPECT_NEAR(topLine(*editor), sectionLine(40) - 1, 1);

    // Leaving: the page comes back at the same heading.
    const int before = document->renderCount();
    page.enterReading("用户切换");
    ASSERT_TRUE(test::waitFor([&] { return document->renderCount() > before; }));
    ASSERT_TRUE(test::waitFor([&] { return page.readerController()->diagnostics().lastScrolledToSource.has_value(); }));
    const ScrolledToSourcePayload landed = *page.readerController()->diagnostics().lastScrolledToSource;
    EXPECT_TRUE(landed.found);
    EXPECT_EQ(landed.sourceStart, sectionLine(40));
    auto anchor = test::startTask(page.readerController()->captureReadingAnchor());
    ASSERT_TRUE(test::waitFor([&] { return anchor->finished; }));
    ASSERT_TRUE(anchor->value && *anchor->value && (*anchor->value)->hasBlock());
    EXPECT_EQ((*anchor->value)->sourceRange.start, sectionLine(40));
}

TEST_F(EditingModeDisplay, FindInEditingModeSearchesTheSource) {
    DocumentPage& page = makePage({.source = longDocument()});
    ASSERT_TRUE(enter(page));
    const std::shared_ptr<FindBarController>& bar = page.findBar();
    bar->show();
    bar->queryChanged("NEEDLE");
    ASSERT_TRUE(test::waitFor([&] { return bar->state().matchCount == 2; }));
    EXPECT_EQ(bar->state().activeIndex, 0);
    bar->step(FindPayload::Direction::next);
    ASSERT_TRUE(test::waitFor([&] { return bar->state().activeIndex == 1; }));
    const TextRange selected = page.editor()->textView().selectedRange();
    EXPECT_EQ(selected.length, 6);
    EXPECT_GT(selected.location, page.editor()->textView().offsetForLine(200));
    bar->step(FindPayload::Direction::next);
    ASSERT_TRUE(test::waitFor([&] { return bar->state().activeIndex == 0; }));  // wraps
}

TEST_F(EditingModeDisplay, RefusesReadOnlyAndAsksOnceAboutMixedLineEndings) {
    {
        DocumentPage& page = makePage({.source = "caf\xC3\xA9", .encoding = DocumentTextEncoding::latin1});
        EXPECT_FALSE(enter(page, false, "ok"));
        EXPECT_EQ(page.modeContainer().mode(), DocumentMode::reading);
        ASSERT_EQ(dialogBodies.size(), 1u) << "the refusal was not shown";
        EXPECT_EQ(page.lastModeRefusal(), dialogBodies[0]);
        EXPECT_EQ(page.editor(), nullptr);
    }
    gtk_window_destroy(group);
    MainThread::drainForTesting();

    dialogBodies.clear();
    DocumentPage& page = makePage({.source = "a\r\nb\n", .lineEnding = LineEnding::mixed});
    EXPECT_FALSE(enter(page, false, "cancel"));
    EXPECT_EQ(page.lastModeRefusal(), ModeSwitch::declinedMixedLineEndings());
    EXPECT_TRUE(enter(page, false, "continue"));
    EXPECT_FALSE(page.lastModeRefusal());
    page.enterReading("用户切换");
    EXPECT_TRUE(enter(page));
    EXPECT_EQ(dialogBodies.size(), 2u) << "asked again after the user said yes";
}

// The window's keys, each as "trigger=action".
std::vector<std::string> windowKeys(GtkWindow* window) {
    std::vector<std::string> keys;
    GListModel* shortcuts = G_LIST_MODEL(TabGroupWindow::of(window)->shortcuts());
    for (unsigned index = 0; index < g_list_model_get_n_items(shortcuts); ++index) {
        auto* shortcut = GTK_SHORTCUT(g_list_model_get_item(shortcuts, index));
        char* trigger = gtk_shortcut_trigger_to_string(gtk_shortcut_get_trigger(shortcut));
        GtkShortcutAction* action = gtk_shortcut_get_action(shortcut);
        keys.push_back(std::string(trigger) + "=" +
                       (GTK_IS_NAMED_ACTION(action) ? gtk_named_action_get_action_name(GTK_NAMED_ACTION(action)) : ""));
        g_free(trigger);
        g_object_unref(shortcut);
    }
    return keys;
}

// Runs the window's shortcut for `accelerator` the way a key press does.
bool press(GtkWindow* window, const std::string& accelerator) {
    GListModel* shortcuts = G_LIST_MODEL(TabGroupWindow::of(window)->shortcuts());
    for (unsigned index = 0; index < g_list_model_get_n_items(shortcuts); ++index) {
        auto* shortcut = GTK_SHORTCUT(g_list_model_get_item(shortcuts, index));
        char* trigger = gtk_shortcut_trigger_to_string(gtk_shortcut_get_trigger(shortcut));
        const bool match = accelerator == trigger;
        g_free(trigger);
        const bool done = match && gtk_shortcut_action_activate(gtk_shortcut_get_action(shortcut),
                                                                GTK_SHORTCUT_ACTION_EXCLUSIVE, GTK_WIDGET(window),
                                                                nullptr);
        g_object_unref(shortcut);
        if (match) return done;
    }
    return false;
}

TEST_F(EditingModeDisplay, WindowActionsEnterAndLeaveEditingAndShowLineNumbers) {
    DocumentPage& page = makePage({.source = longDocument()});
    render(page);
    GActionGroup* actions = G_ACTION_GROUP(group);
    const auto enabled = [&](const char* name) { return g_action_group_get_action_enabled(actions, name); };
    EXPECT_TRUE(enabled("toggle-editing"));
    EXPECT_TRUE(enabled("edit-here"));

    // Shift+Ctrl+E into editing, and back.
    ASSERT_TRUE(press(group, "<Shift><Control>e"));
    ASSERT_TRUE(test::waitFor([&] { return page.modeContainer().mode() == DocumentMode::editing; }));
    ASSERT_NE(page.editor(), nullptr);
    EXPECT_FALSE(enabled("edit-here"));
    EXPECT_FALSE(page.editor()->showsLineNumbers());
    g_action_group_activate_action(actions, "toggle-line-numbers", nullptr);
    EXPECT_TRUE(page.editor()->showsLineNumbers());
    EXPECT_EQ(defaults.boolean("editor.showLineNumbers"), true);
    GVariant* state = g_action_group_get_action_state(actions, "toggle-line-numbers");
    ASSERT_NE(state, nullptr);
    EXPECT_TRUE(g_variant_get_boolean(state));
    g_variant_unref(state);
    // Edit here does nothing while editing.
    g_action_group_activate_action(actions, "edit-here", nullptr);
    g_action_group_activate_action(actions, "toggle-editing", nullptr);
    EXPECT_EQ(page.modeContainer().mode(), DocumentMode::reading);
    EXPECT_TRUE(enabled("edit-here"));

    // Alt+Shift+Ctrl+E edits at the reading position.
    ASSERT_TRUE(press(group, "<Shift><Control><Alt>e"));
    ASSERT_TRUE(test::waitFor([&] { return page.modeContainer().mode() == DocumentMode::editing; }));
    ASSERT_TRUE(page.editor()->lastPositioning());
    EXPECT_TRUE(std::holds_alternative<EditorPositioning::EditHere>(page.editor()->lastPositioning()->value))
        << page.editor()->lastPositioning()->description();
}

// The editor takes the theme and typography in force from the services the
// page is given, and follows their changes from there.
TEST_F(EditingModeDisplay, TheEditorFollowsTheServicesAppearanceAndTypography) {
    pageServices.appearance.select(ThemeID::graphite);
    DocumentPage& page = makePage({.source = "# Title\n\ntext\n"});
    render(page);
    ASSERT_TRUE(press(group, "<Shift><Control>e"));
    ASSERT_TRUE(test::waitFor([&] { return page.modeContainer().mode() == DocumentMode::editing; }));
    EditorViewController* editor = page.editor();
    ASSERT_NE(editor, nullptr);
    EXPECT_EQ(editor->theme().themeID, ThemeID::graphite);

    pageServices.appearance.select(ThemeID::porcelain);
    EXPECT_EQ(editor->theme().themeID, ThemeID::porcelain);
    const int size = editor->fontSize();
    pageServices.typography.increaseFontSize();
    EXPECT_GT(editor->fontSize(), size);
}

TEST_F(EditingModeDisplay, OffInTheShippedBuild) {
    ModeSwitch::setSourceEditingForTesting(false);
    EXPECT_FALSE(ModeSwitch::sourceEditing);
    DocumentPage& page = makePage({.source = "# a\n"});
    EXPECT_FALSE(enter(page));
    EXPECT_EQ(page.modeContainer().mode(), DocumentMode::reading);
    EXPECT_EQ(page.editor(), nullptr);
    // No action or key of the window leads into editing.
    for (const char* name : {"toggle-editing", "edit-here", "toggle-line-numbers"}) {
        EXPECT_FALSE(g_action_group_has_action(G_ACTION_GROUP(group), name)) << name;
    }
    for (const auto& key : windowKeys(group)) {
        EXPECT_EQ(key.find("editing"), std::string::npos) << key;
        EXPECT_EQ(key.find("edit-here"), std::string::npos) << key;
    }
    EXPECT_FALSE(windowKeys(group).empty());
}

}  // namespace
}  // namespace larkspin
