#include "Editor/Widgets/EditorViewController.hpp"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "Appearance/ThemeCatalog.hpp"
#include "Platform/UserDefaults.hpp"
#include "Support/MainLoop.hpp"
#include "Support/TempDir.hpp"

namespace larkspin {
namespace {

std::string bufferText(GtkTextBuffer* buffer) {
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    char* text = gtk_text_buffer_get_text(buffer, &start, &end, TRUE);
    std::string result = text;
    g_free(text);
    return result;
}

class EditorView : public testing::Test {
protected:
    void open(std::string text) {
        model.adopt({.source = std::move(text)});
        editor = std::make_unique<EditorViewController>(model, defaults, EditorTheme::from(ThemeCatalog::theme(ThemeID::porcelain)),
                                                        TypographySettings::defaults);
        window = gtk_window_new();
        gtk_window_set_default_size(GTK_WINDOW(window), 600, 400);
        gtk_window_set_child(GTK_WINDOW(window), editor->widget());
        gtk_window_present(GTK_WINDOW(window));
    }
    void TearDown() override {
        if (window) gtk_window_destroy(GTK_WINDOW(window));
        editor.reset();
    }
    GtkTextBuffer* buffer() { return editor->textView().buffer(); }
    bool hasRole(std::int64_t offset, HighlightRole role) {
        GtkTextTag* tag = gtk_text_tag_table_lookup(gtk_text_buffer_get_tag_table(buffer()),
                                                    ("larkspin-role-" + std::to_string(static_cast<int>(role))).c_str());
        GtkTextIter iter;
        gtk_text_buffer_get_iter_at_offset(buffer(), &iter, static_cast<int>(offset));
        return gtk_text_iter_has_tag(&iter, tag);
    }
    void typeAt(std::int64_t offset, const char* text) {
        GtkTextIter iter;
        gtk_text_buffer_get_iter_at_offset(buffer(), &iter, static_cast<int>(offset));
        gtk_text_buffer_place_cursor(buffer(), &iter);
        gtk_text_buffer_begin_user_action(buffer());
        gtk_text_buffer_insert_interactive_at_cursor(buffer(), text, -1, TRUE);
        gtk_text_buffer_end_user_action(buffer());
    }

    test::TempDir dir;
    UserDefaults defaults{dir / "prefs.json"};
    DocumentModel model;
    std::unique_ptr<EditorViewController> editor;
    GtkWidget* window = nullptr;
};

TEST_F(EditorView, EditsFlowBothWaysAndDiskTextIsNeverUndone) {
    open("# Title\nbody é\n");
    EXPECT_EQ(bufferText(buffer()), model.sourceText());
    const auto revision = model.sourceRevision();
    typeAt(14, "ü**x**");
    EXPECT_EQ(model.sourceText(), "# Title\nbody éü**x**\n");
    EXPECT_EQ(model.sourceRevision(), revision + 1);
    EXPECT_TRUE(hasRole(15, HighlightRole::strong));
    GtkTextIter start, end;
    gtk_text_buffer_get_iter_at_offset(buffer(), &start, 2);
    gtk_text_buffer_get_iter_at_offset(buffer(), &end, 7);
    gtk_text_buffer_delete_interactive(buffer(), &start, &end, TRUE);
    EXPECT_EQ(model.sourceText(), "# \nbody éü**x**\n");

    // An edit from elsewhere (a reload) reaches the buffer once, coloured,
    // and leaves nothing to undo across it.
    ASSERT_TRUE(model.replaceAll("```\ncode\n"));
    EXPECT_EQ(bufferText(buffer()), "```\ncode\n");
    EXPECT_TRUE(hasRole(5, HighlightRole::fencedCode));
    EXPECT_FALSE(gtk_text_buffer_get_can_undo(buffer()));
    typeAt(0, "a");
    gtk_text_buffer_undo(buffer());
    EXPECT_EQ(model.sourceText(), "```\ncode\n");
    EXPECT_EQ(bufferText(buffer()), model.sourceText());
}

TEST_F(EditorView, TextWithNulOpensReadOnlyWithANotice) {
    open(std::string("a\0b", 3));
    EXPECT_TRUE(editor->textView().isReadOnly());
    EXPECT_FALSE(gtk_text_view_get_editable(GTK_TEXT_VIEW(editor->textView().widget())));
    EXPECT_EQ(bufferText(buffer()), "a\xE2\x90\x80" "b");
    GtkWidget* notice = gtk_widget_get_first_child(editor->widget());
    EXPECT_TRUE(gtk_widget_get_visible(notice));
    editor->textView().insertTab();
    EXPECT_FALSE(editor->textView().insertPlainText("x"));
    EXPECT_EQ(model.sourceText(), std::string("a\0b", 3));

    ASSERT_TRUE(model.replaceAll("ab"));
    EXPECT_FALSE(editor->textView().isReadOnly());
    EXPECT_FALSE(gtk_widget_get_visible(notice));
    typeAt(2, "c");
    EXPECT_EQ(model.sourceText(), "abc");
}

TEST_F(EditorView, TabAndShiftTabShiftSelectedLinesAsOneUndoStep) {
    open("a\r\n  \nb\nc");
    EditorTextView& view = editor->textView();
    view.select({1, 6});  // from inside "a" into "b"
    view.insertTab();
    EXPECT_EQ(model.sourceText(), "    a\r\n  \n    b\nc");
    EXPECT_EQ(view.selectedRange(), (TextRange{0, 16}));
    view.insertBacktab();
    EXPECT_EQ(model.sourceText(), "a\r\n\nb\nc");  // leading spaces go from a blank line too
    gtk_text_buffer_undo(buffer());
    EXPECT_EQ(model.sourceText(), "    a\r\n  \n    b\nc");
    gtk_text_buffer_undo(buffer());
    ASSERT_EQ(model.sourceText(), "a\r\n  \nb\nc");
    // Nothing to outdent on the caret's line: no change and no undo step.
    view.select({0, 0});
    view.insertBacktab();
    EXPECT_EQ(model.sourceText(), "a\r\n  \nb\nc");
    EXPECT_FALSE(gtk_text_buffer_get_can_undo(buffer()));
    // Within one line: four spaces replace the selection.
    view.select({8, 1});
    view.insertTab();
    EXPECT_EQ(model.sourceText(), "a\r\n  \nb\n    ");
}

TEST_F(EditorView, PasteTakesPlainTextOnly) {
    open("x");
    GdkClipboard* clipboard = gtk_widget_get_clipboard(editor->textView().widget());
    GBytes* html = g_bytes_new_static("<b>rich</b>", 11);
    GdkContentProvider* providers[] = {gdk_content_provider_new_for_bytes("text/html", html),
                                       gdk_content_provider_new_typed(G_TYPE_STRING, "rich")};
    GdkContentProvider* both = gdk_content_provider_new_union(providers, 2);
    gdk_clipboard_set_content(clipboard, both);
    g_object_unref(both);
    g_bytes_unref(html);
    editor->textView().select({0, 1});
    g_signal_emit_by_name(editor->textView().widget(), "paste-clipboard");
    EXPECT_TRUE(test::runMainLoopUntil([&] { return model.sourceText() == "rich"; }));
    EXPECT_FALSE(editor->textView().insertPlainText(""));
}

TEST_F(EditorView, CompositionDefersColouringUntilItEnds) {
    open("text\n");
    GtkWidget* view = editor->textView().widget();
    g_signal_emit_by_name(view, "preedit-changed", "か");
    typeAt(0, "# ");
    EXPECT_FALSE(hasRole(0, HighlightRole::heading));
    g_signal_emit_by_name(view, "preedit-changed", "");
    EXPECT_TRUE(hasRole(0, HighlightRole::heading));
}

TEST_F(EditorView, LongTextsAreColouredFromIdleChunks) {
    std::string text;
    for (int i = 0; i < 8000; ++i) text += "plain line " + std::to_string(i) + " here\n";
    text += "## End\n";
    open(text);
    EXPECT_FALSE(editor->highlighter().isFullPassComplete());
    const std::int64_t heading = model.textStorage().length() - 7;
    EXPECT_FALSE(hasRole(heading, HighlightRole::heading));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return editor->highlighter().isFullPassComplete(); }, 20000));
    EXPECT_TRUE(hasRole(heading, HighlightRole::heading));
}

TEST_F(EditorView, EntersAtTheReadingLineAndReportsItBack) {
    std::string text;
    for (int i = 1; i <= 200; ++i) text += (i % 20 == 0 ? "## Heading " : "line ") + std::to_string(i) + "\n";
    open(text);
    const EditorPositioning positioning = editor->positionForEntering(100, false);
    EXPECT_EQ(positioning, (EditorPositioning{EditorPositioning::AnchorLine{100}}));
    editor->apply(positioning);
    const TextRange caret = editor->textView().selectedRange();
    EXPECT_EQ(caret.length, 0);
    EXPECT_EQ(editor->textView().lineForOffset(caret.location), 100);
    // Leaving keeps the selection; the next entry prefers it.
    editor->savedSelection = caret;
    EXPECT_EQ(editor->positionForEntering(3, false),
              (EditorPositioning{EditorPositioning::RestoredSelection{caret}}));
    EXPECT_EQ(editor->textView().offsetForLine(0), 0);
    EXPECT_EQ(editor->textView().offsetForLine(999), model.textStorage().length());
    EXPECT_EQ(editor->textView().lineForOffset(model.textStorage().length()), 201);
    EXPECT_EQ(editor->textView().lineForOffset(-4), 1);
}

TEST_F(EditorView, LineNumbersWidenOnlyTheLeftInset) {
    std::string text;
    for (int i = 0; i < 998; ++i) text += "x\n";  // 999 line starts
    open(text);
    GtkTextView* view = GTK_TEXT_VIEW(editor->textView().widget());
    // Where the text starts in the view: after the gutter and the view's margin.
    const auto textLeft = [&] {
        int x = 0;
        int y = 0;
        gtk_text_view_buffer_to_window_coords(view, GTK_TEXT_WINDOW_WIDGET, 0, 0, &x, &y);
        return x + gtk_text_view_get_left_margin(view);
    };
    ASSERT_TRUE(test::runMainLoopUntil([&] { return gtk_widget_get_mapped(GTK_WIDGET(view)); }));
    const int hiddenLeft = textLeft();
    EXPECT_EQ(gtk_text_view_get_left_margin(view), 14);
    const auto insetIs = [&](int inset) {
        return test::runMainLoopUntil([&] { return textLeft() - hiddenLeft + EditorLayout::textInset == inset; });
    };
    editor->setShowsLineNumbers(true);
    const double width = editor->gutterWidth();
    EXPECT_TRUE(insetIs(EditorLayout::leftInset(true, width)));
    EXPECT_EQ(gtk_text_view_get_right_margin(view), 14);
    EXPECT_EQ(defaults.boolean("editor.showLineNumbers"), true);
    // The thousandth line start adds a digit.
    typeAt(0, "y\n");
    EXPECT_GT(editor->gutterWidth(), width);
    EXPECT_TRUE(insetIs(EditorLayout::leftInset(true, editor->gutterWidth())));
    editor->setShowsLineNumbers(false);
    EXPECT_TRUE(insetIs(EditorLayout::textInset));
    EXPECT_TRUE(editor->gutter().visibleRows().empty());
}

TEST_F(EditorView, GutterNumbersTheLinesInViewAfterAScroll) {
    std::string text;
    for (int i = 1; i <= 400; ++i) text += "line " + std::to_string(i) + "\n";  // 401 lines, the last empty
    open(text);
    editor->setShowsLineNumbers(true);
    const LineNumberGutter& gutter = editor->gutter();
    GtkWidget* viewWidget = editor->textView().widget();
    GtkTextView* view = GTK_TEXT_VIEW(viewWidget);
    // Each number stands beside its own line: the text view finds that line
    // at the number's height.
    const auto check = [&](const std::vector<LineNumberGutter::Row>& rows) {
        ASSERT_FALSE(rows.empty());
        const int height = gtk_widget_get_height(gutter.widget());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            SCOPED_TRACE(rows[i].line);
            if (i > 0) {
                EXPECT_EQ(rows[i].line, rows[i - 1].line + 1);
            }
            EXPECT_LT(rows[i].y, height);
            double x = 0;
            double y = 0;
            ASSERT_TRUE(gtk_widget_translate_coordinates(gutter.widget(), viewWidget, 0,
                                                         rows[i].y + rows[i].height / 2.0, &x, &y));
            int bufferX = 0;
            int bufferY = 0;
            gtk_text_view_window_to_buffer_coords(view, GTK_TEXT_WINDOW_WIDGET, 0, static_cast<int>(y), &bufferX,
                                                  &bufferY);
            GtkTextIter iter;
            gtk_text_view_get_line_at_y(view, &iter, bufferY, nullptr);
            EXPECT_EQ(gtk_text_iter_get_line(&iter) + 1, rows[i].line);
        }
        // Only what the view shows: about a window's height of lines.
        EXPECT_LE(static_cast<int>(rows.size()), height / rows.front().height + 2);
    };
    ASSERT_TRUE(test::runMainLoopUntil([&] { return !gutter.visibleRows().empty(); }));
    const auto top = gutter.visibleRows();
    EXPECT_EQ(top.front().line, 1);
    check(top);
    // The whole text laid out (the view does it a part per turn) before it scrolls.
    GtkAdjustment* scroll = gtk_scrollable_get_vadjustment(GTK_SCROLLABLE(view));
    ASSERT_TRUE(test::runMainLoopUntil([&] { return gtk_adjustment_get_upper(scroll) >= 401.0 * top.front().height; }));

    // The caret on line 300, at the top with one line of context above it.
    editor->apply({EditorPositioning::AnchorLine{300}});
    ASSERT_TRUE(test::runMainLoopUntil([&] {
        const auto rows = gutter.visibleRows();
        return !rows.empty() && rows.front().line >= 299;
    }));
    const auto scrolled = gutter.visibleRows();
    EXPECT_EQ(scrolled.front().line, 299);
    check(scrolled);

    // At the end, the empty line after the last line break is numbered too.
    editor->apply({EditorPositioning::AnchorLine{401}});
    ASSERT_TRUE(test::runMainLoopUntil([&] {
        const auto rows = gutter.visibleRows();
        return !rows.empty() && rows.back().line == 401;
    }));
    check(gutter.visibleRows());
}

}  // namespace
}  // namespace larkspin
