#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include "Window/Widgets/ModeContainerViewController.hpp"

namespace larkspin {
namespace {

TEST(ModeContainerDisplay, SwitchesBetweenReaderAndEditorOnceThereIsOne) {
    GtkWidget* reader = gtk_label_new("reader");
    ModeContainerViewController container(reader);
    GtkWindow* window = GTK_WINDOW(gtk_window_new());
    gtk_window_set_child(window, container.widget());
    gtk_window_present(window);
    GtkStack* stack = GTK_STACK(container.widget());
    EXPECT_EQ(gtk_stack_get_transition_type(stack), GTK_STACK_TRANSITION_TYPE_NONE);
    EXPECT_EQ(gtk_stack_get_visible_child(stack), reader);
    // No editor yet: editing is not reachable.
    container.show(DocumentMode::editing);
    EXPECT_EQ(container.mode(), DocumentMode::reading);
    EXPECT_EQ(gtk_stack_get_visible_child(stack), reader);
    EXPECT_EQ(container.editorView(), nullptr);
    int made = 0;
    const auto factory = [&made] { return ++made, gtk_label_new("editor"); };
    GtkWidget* editor = container.makeEditor(factory);
    EXPECT_EQ(gtk_stack_get_visible_child(stack), reader) << "made, not shown";
    EXPECT_EQ(container.makeEditor(factory), editor);
    EXPECT_EQ(made, 1) << "the editor is made once";
    container.show(DocumentMode::editing);
    EXPECT_EQ(container.mode(), DocumentMode::editing);
    EXPECT_EQ(gtk_stack_get_visible_child(stack), editor);
    EXPECT_STREQ(gtk_stack_get_visible_child_name(stack), "editing");
    container.show(DocumentMode::reading);
    EXPECT_EQ(container.mode(), DocumentMode::reading);
    EXPECT_STREQ(gtk_stack_get_visible_child_name(stack), "reading");

    gtk_window_destroy(window);
    EXPECT_EQ(documentModeFromRaw("editing"), DocumentMode::editing);
    EXPECT_EQ(documentModeFromRaw("Editing"), std::nullopt);
}

}  // namespace
}  // namespace larkspin
