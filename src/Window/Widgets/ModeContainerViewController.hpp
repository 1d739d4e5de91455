#pragma once

#include <functional>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Window/DocumentMode.hpp"

typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// The content of a document page: a stack holding the reader's view (page
// "reading") and, once editing mode was first entered, the editor's view
// (page "editing"), showing exactly one of them, without a transition. The
// reader is always there; the editor is made on the first switch to editing
// and kept for the page's life. Header bars do not overlap content on GTK, so
// there is no cover for a title-bar area above the editor. Main thread.
class ModeContainerViewController {
public:
    // `readerView` is the reader's widget (its web view or its container).
    explicit ModeContainerViewController(GtkWidget* readerView);
    ~ModeContainerViewController();
    ModeContainerViewController(const ModeContainerViewController&) = delete;
    ModeContainerViewController& operator=(const ModeContainerViewController&) = delete;

    // The stack, to put in the page.
    GtkWidget* widget() const;
    GtkWidget* readerView() const { return reader_.get(); }
    // The editor's widget; null until makeEditor.
    GtkWidget* editorView() const { return editor_.get(); }
    // The mode last shown.
    DocumentMode mode() const { return mode_; }

    // The editor's widget: made by `make` the first time (and added to the
    // stack, not shown), the same one afterwards without calling `make`.
    GtkWidget* makeEditor(const std::function<GtkWidget*()>& make);
    // Shows the mode's view. Without an editor the container stays in
    // reading mode whatever is asked.
    void show(DocumentMode mode);

private:
    GObjectPtr<GtkWidget> stack_;
    GObjectPtr<GtkWidget> reader_;
    GObjectPtr<GtkWidget> editor_;
    DocumentMode mode_ = DocumentMode::reading;
};

}  // namespace larkspin
