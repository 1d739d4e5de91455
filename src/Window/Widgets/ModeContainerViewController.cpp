#include "Window/Widgets/ModeContainerViewController.hpp"

#include <gtk/gtk.h>

#include <string>

#include "Platform/Async/MainThread.hpp"

namespace larkspin {

ModeContainerViewController::ModeContainerViewController(GtkWidget* readerView)
    : stack_(GObjectPtr<GtkWidget>::adopt(gtk_stack_new())),
      reader_(GObjectPtr<GtkWidget>::retain(readerView)) {
    GtkStack* stack = GTK_STACK(stack_.get());
    gtk_stack_set_transition_type(stack, GTK_STACK_TRANSITION_TYPE_NONE);
    gtk_stack_set_hhomogeneous(stack, TRUE);
    gtk_stack_set_vhomogeneous(stack, TRUE);
    gtk_widget_set_hexpand(stack_.get(), TRUE);
    gtk_widget_set_vexpand(stack_.get(), TRUE);
    gtk_stack_add_named(stack, readerView, std::string(rawValue(DocumentMode::reading)).c_str());
    gtk_stack_set_visible_child(stack, readerView);
}

ModeContainerViewController::~ModeContainerViewController() = default;

GtkWidget* ModeContainerViewController::widget() const {
    return stack_.get();
}

GtkWidget* ModeContainerViewController::makeEditor(const std::function<GtkWidget*()>& make) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    if (editor_) return editor_.get();
    GtkWidget* editor = make();
    if (editor == nullptr) return nullptr;
    editor_ = GObjectPtr<GtkWidget>::retain(editor);
    gtk_stack_add_named(GTK_STACK(stack_.get()), editor,
                        std::string(rawValue(DocumentMode::editing)).c_str());
    // Adding a page never changes the visible one once there is one.
    gtk_stack_set_visible_child(GTK_STACK(stack_.get()), mode_ == DocumentMode::editing
                                                             ? editor_.get()
                                                             : reader_.get());
    return editor;
}

void ModeContainerViewController::show(DocumentMode mode) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    mode_ = editor_ ? mode : DocumentMode::reading;
    gtk_stack_set_visible_child(GTK_STACK(stack_.get()),
                                mode_ == DocumentMode::editing ? editor_.get() : reader_.get());
}

}  // namespace larkspin
