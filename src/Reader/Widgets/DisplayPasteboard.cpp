// The process's pasteboard over the display's clipboard.

#include <gtk/gtk.h>

#include "Reader/PasteboardService.hpp"

namespace larkspin {

namespace {

// The clipboard of whatever display is the default at the time of the call.
class DisplayClipboard final : public PasteboardService::Pasteboard {
public:
    void clearContents() override {
        if (GdkClipboard* clipboard = current()) gdk_clipboard_set_content(clipboard, nullptr);
    }
    bool setString(const std::string& text) override {
        GdkClipboard* clipboard = current();
        if (clipboard == nullptr) return false;
        GdkContentProvider* provider = gdk_content_provider_new_typed(G_TYPE_STRING, text.c_str());
        const bool ok = gdk_clipboard_set_content(clipboard, provider);
        g_object_unref(provider);
        return ok;
    }

private:
    static GdkClipboard* current() {
        GdkDisplay* display = gdk_display_get_default();
        return display != nullptr ? gdk_display_get_clipboard(display) : nullptr;
    }
};

}  // namespace

std::shared_ptr<PasteboardService::Pasteboard> PasteboardService::displayClipboard() {
    return std::make_shared<DisplayClipboard>();
}

}  // namespace larkspin
