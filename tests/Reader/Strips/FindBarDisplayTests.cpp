// The find strip against the real renderer page under Xvfb, with the reader
// view controller as its target: the page's own find through the bridge.

#include "Reader/Strips/FindBarController.hpp"
#include "Reader/Widgets/FindBarViewController.hpp"
#include "Reader/Strips/StripLayout.hpp"
#include "Reader/ReaderDisplaySupport.hpp"

namespace larkspin::test {
namespace {

// A press of the button as its "clicked" signal (activating a button waits
// for a timer before it clicks).
void click(GtkWidget* button) { g_signal_emit_by_name(button, "clicked"); }

std::string needles(int count) {
    std::string text = "# Hay\n\n";
    for (int n = 1; n <= count; ++n) text += "Paragraph " + std::to_string(n) + " hides a needle in its hay.\n\n";
    return text;
}

class FindBarDisplayTest : public ReaderDisplayTest {
protected:
    void SetUp() override {
        ReaderDisplayTest::SetUp();
        makeReader();
        bar = FindBarController::create(findView, reader);
        show(findView->widget());
        render(needles(4));
    }
    std::string counter() const { return gtk_label_get_text(GTK_LABEL(findView->countLabel())); }
    // Waits until the counter reads `text` (the page's answer has been drawn).
    ::testing::AssertionResult counterReads(const std::string& text) {
        if (waitFor([&] { return counter() == text; })) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "counter reads \"" << counter() << "\", not \"" << text << "\"";
    }
    // The page's highlights (its own find is tested with the page).
    int marks() { return script("return document.querySelectorAll('mark.md-find').length;").get<int>(); }
    void type(const char* text) { gtk_editable_set_text(GTK_EDITABLE(findView->searchField()), text); }
    void emit(const char* signal) { g_signal_emit_by_name(findView->searchField(), signal); }
    bool focusIsIn(GtkWidget* widget) const {
        GtkWidget* focus = gtk_window_get_focus(window);
        return focus && (focus == widget || gtk_widget_is_ancestor(focus, widget));
    }
    bool hasClass(GtkWidget* widget, const char* name) { return gtk_widget_has_css_class(widget, name); }

    std::shared_ptr<FindBarViewController> findView = FindBarViewController::create();
    std::shared_ptr<FindBarController> bar;
};

TEST_F(FindBarDisplayTest, CountsStepsMissesAndClosingAreThePages) {
    bar->show();
    EXPECT_TRUE(gtk_revealer_get_reveal_child(GTK_REVEALER(findView->widget())));
    EXPECT_TRUE(focusIsIn(findView->searchField()));
    EXPECT_EQ(counter(), "0 / 0");
    EXPECT_FALSE(gtk_widget_get_sensitive(findView->nextButton()));
    // 36 pixels with its hairline; field, counter and buttons centred, not clipped.
    GtkWidget* strip = findView->widget();
    GtkWidget* row = gtk_widget_get_parent(findView->searchField());
    ASSERT_TRUE(waitFor([&] {
        return gtk_revealer_get_child_revealed(GTK_REVEALER(strip)) && gtk_widget_get_height(row) > 0 &&
               gtk_widget_get_height(strip) == gtk_widget_get_height(gtk_widget_get_parent(row));
    }));
    EXPECT_TRUE(fitsCentred(strip, row,
                            {findView->searchField(), findView->countLabel(), findView->previousButton(),
                             findView->nextButton(), findView->doneButton()}));
    type("needle");
    ASSERT_TRUE(counterReads("1 / 4"));
    EXPECT_EQ(marks(), 4);
    EXPECT_FALSE(hasClass(findView->countLabel(), "error"));
    EXPECT_TRUE(gtk_widget_get_sensitive(findView->nextButton()) && gtk_widget_get_sensitive(findView->previousButton()));
    // Enter, Ctrl+G, Shift+Ctrl+G and the buttons step; steps wrap around.
    const std::vector<std::pair<std::function<void()>, std::string>> steps{
        {[&] { emit("activate"); }, "2 / 4"},       {[&] { emit("next-match"); }, "3 / 4"},
        {[&] { emit("previous-match"); }, "2 / 4"}, {[&] { click(findView->previousButton()); }, "1 / 4"},
        {[&] { click(findView->previousButton()); }, "4 / 4"}, {[&] { click(findView->nextButton()); }, "1 / 4"},
    };
    for (const auto& [step, reads] : steps) {
        step();
        ASSERT_TRUE(counterReads(reads));
    }

    // A miss: the counter turns red, nothing to step to, no marks left.
    type("haystack");
    ASSERT_TRUE(waitFor([&] { return hasClass(findView->countLabel(), "error"); }));
    EXPECT_EQ(counter(), "0 / 0");
    EXPECT_FALSE(gtk_widget_get_sensitive(findView->nextButton()));
    EXPECT_EQ(marks(), 0);

    // Esc closes, clears the page and gives it the focus; reopened, the
    // query is still there and the first step searches anew.
    type("needle");
    ASSERT_TRUE(counterReads("1 / 4"));
    emit("stop-search");
    EXPECT_FALSE(gtk_revealer_get_reveal_child(GTK_REVEALER(findView->widget())));
    EXPECT_TRUE(focusIsIn(GTK_WIDGET(view->webView())));
    ASSERT_TRUE(waitFor([&] { return marks() == 0; }));
    EXPECT_EQ(counter(), "0 / 0");
    bar->step(FindPayload::Direction::next);
    EXPECT_STREQ(gtk_editable_get_text(GTK_EDITABLE(findView->searchField())), "needle");
    ASSERT_TRUE(counterReads("1 / 4"));
    click(findView->doneButton());
    EXPECT_FALSE(bar->state().isVisible);
}

// An answer to older typing arrives while the field's newest text waits for
// its (always later) "search-changed": the typing stays.
TEST(FindBarViewDisplay, TypingIsNeverOverwrittenByAnOlderAnswer) {
    auto view = FindBarViewController::create();
    std::vector<std::string> typed;
    view->onQueryChange = [&](std::string text) { typed.push_back(std::move(text)); };
    GtkEditable* field = GTK_EDITABLE(view->searchField());
    const auto settle = [] { runMainLoopUntil([] { return false; }, 4); };

    int end = 0;
    gtk_editable_insert_text(field, "a", -1, &end);
    settle();
    gtk_editable_insert_text(field, "b", -1, &end);  // typed; not passed on yet
    FindBarState answered;
    answered.query = "a";
    view->render(answered);
    EXPECT_STREQ(gtk_editable_get_text(field), "ab");
    settle();
    EXPECT_EQ(typed, (std::vector<std::string>{"a", "ab"}));

    // A query from elsewhere (the selection) is shown, and not searched twice.
    FindBarState selected;
    selected.query = "word";
    view->render(selected);
    EXPECT_STREQ(gtk_editable_get_text(field), "word");
    settle();
    EXPECT_EQ(typed.size(), 2u);
}

}  // namespace
}  // namespace larkspin::test
