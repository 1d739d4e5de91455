#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <optional>

#include "Appearance/Theme.hpp"
#include "Platform/Glib/GObjectPtr.hpp"
#include "Reader/ReaderHost.hpp"

namespace larkspin {

// The reader's full-page status view, shown instead of the web view: a
// title, a detail, an optional action button and an optional read-only
// monospaced preview. Texts are plain text (never markup). Widget name
// "Orvik.documentStatus", accessible role group. Main thread.
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

    GtkWidget* titleLabel() const { return title_; }
    GtkWidget* detailLabel() const { return detail_; }
    GtkWidget* actionButton() const { return action_; }
    GtkWidget* previewScroller() const { return scroller_; }
    GtkTextView* previewText() const { return GTK_TEXT_VIEW(text_); }

private:
    static void onClicked(GtkButton*, gpointer data);

    GObjectPtr<GtkWidget> root_;
    GtkWidget* title_ = nullptr;
    GtkWidget* detail_ = nullptr;
    GtkWidget* action_ = nullptr;
    GtkWidget* scroller_ = nullptr;
    GtkWidget* text_ = nullptr;
    Content content_;
    std::function<void()> onAction_;
    std::optional<Theme> theme_;
};

}  // namespace larkspin
