#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <string>

#include "Platform/Glib/GObjectPtr.hpp"
#include "Platform/Glib/SignalConnection.hpp"
#include "Reader/Widgets/ReaderWidgetStyle.hpp"

namespace larkspin {

// The reader's one-line banner above the page, as tall as the strips above
// it (the shade line under it included): an information icon, a message, one
// action button and a close button. It does not remove
// itself: its owner decides (usually from `onDismiss`). Plain text only.
// Widget name "Orvik.resourceBanner", accessible role group. Main thread.
class ResourceBannerView {
public:
    static constexpr int height = ReaderWidgetStyle::stripHeight;

    ResourceBannerView();
    ResourceBannerView(const ResourceBannerView&) = delete;
    ResourceBannerView& operator=(const ResourceBannerView&) = delete;

    GtkWidget* widget() const { return root_.get(); }

    void configure(const std::string& message, const std::string& actionTitle,
                   std::function<void()> onAction, std::function<void()> onDismiss);

    GtkWidget* icon() const { return icon_; }
    GtkWidget* label() const { return label_; }
    GtkWidget* actionButton() const { return action_; }
    GtkWidget* closeButton() const { return close_; }

private:
    static void onActionClicked(GtkButton*, gpointer data);
    static void onCloseClicked(GtkButton*, gpointer data);

    GObjectPtr<GtkWidget> root_;
    GtkWidget* icon_ = nullptr;
    GtkWidget* label_ = nullptr;
    GtkWidget* action_ = nullptr;
    GtkWidget* close_ = nullptr;
    std::function<void()> onAction_;
    std::function<void()> onDismiss_;
    // Last, so the buttons stop calling in before anything else goes.
    SignalConnection actionClicked_;
    SignalConnection closeClicked_;
};

}  // namespace larkspin
