#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>

#include "Appearance/Theme.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

// The reader's full-page status view, shown instead of the web view and laid
// out as a GNOME status page: a symbolic icon for its kind, a title, a
// detail and an optional suggested-action button, centred in the view; with
// an optional read-only monospaced preview the icon is smaller, the texts sit
// at the top and the preview fills the rest. Everything lies in a scroller,
// so the view never asks for more height than its reader has. Texts are plain
// text (never markup). Widget name "Orvik.documentStatus", accessible role
// group. Main thread.
class DocumentStatusView {
public:
    using Content = DocumentStatusContent;

    DocumentStatusView();
    DocumentStatusView(const DocumentStatusView&) = delete;
    DocumentStatusView& operator=(const DocumentStatusView&) = delete;

    GtkWidget* widget() const { return root_.get(); }
    const Content& content() const { return content_; }

    // Shows `content`; the button calls `onAction`. Announces title and
    // detail to assistive technology.
    void configure(const Content& content, std::function<void()> onAction);
    // Colours from the theme (an invalid colour shows magenta).
    void applyTheme(const Theme& theme);
    const std::optional<Theme>& theme() const { return theme_; }

    // The icon for a content's kind: a document preview, a page that offers
    // to retry (the web content keeps failing), or a document that cannot be
    // shown at all.
    static const char* iconName(const Content& content);

    GtkWidget* icon() const { return icon_; }
    GtkWidget* titleLabel() const { return title_; }
    GtkWidget* detailLabel() const { return detail_; }
    GtkWidget* actionButton() const { return action_; }
    GtkWidget* previewScroller() const { return scroller_; }
    GtkTextView* previewText() const { return GTK_TEXT_VIEW(text_); }

private:
    static void onClicked(GtkButton*, gpointer data);

    GObjectPtr<GtkWidget> root_;
    GtkWidget* header_ = nullptr;
    GtkWidget* icon_ = nullptr;
    GtkWidget* title_ = nullptr;
    GtkWidget* detail_ = nullptr;
    GtkWidget* action_ = nullptr;
    GtkWidget* scroller_ = nullptr;
    GtkWidget* text_ = nullptr;
    Content content_;
    std::function<void()> onAction_;
    std::optional<Theme> theme_;
    SignalConnection actionClicked_;  // the button may outlive this object
};

}  // namespace larkspin
