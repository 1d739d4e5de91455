#include "Web/Desktop/PasteboardService.hpp"

#include <gtk/gtk.h>
#include <pango/pango.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "Platform/Log.hpp"
#include "Platform/Text/Utf8.hpp"

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

PasteboardService::PasteboardService(std::shared_ptr<Pasteboard> pasteboard)
    : pasteboard_(std::move(pasteboard)) {}

std::shared_ptr<PasteboardService::Pasteboard> PasteboardService::displayClipboard() {
    return std::make_shared<DisplayClipboard>();
}

bool PasteboardService::write(std::string_view text, std::string_view kind) const {
    pasteboard_->clearContents();
    const bool ok = pasteboard_->setString(std::string(text));
    AppLog::actions.info("copyText kind=%{public}s chars=%ld ok=%{bool}d", kind,
                         characterCount(text), ok);
    return ok;
}

std::int64_t PasteboardService::characterCount(std::string_view text) {
    const auto countCodePoints = [](std::string_view piece) {
        std::int64_t count = 0;
        for (const char c : piece) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
        return count;
    };
    if (!utf8::isValid(text)) return countCodePoints(text);
    // Pango finds the cluster boundaries but stops at a NUL, which is a
    // character of its own: count the pieces between NULs, and each NUL.
    std::int64_t clusters = 0;
    for (std::size_t start = 0;;) {
        const std::size_t nul = std::min(text.find('\0', start), text.size());
        const std::string_view piece = text.substr(start, nul - start);
        if (piece.size() > static_cast<std::size_t>(std::numeric_limits<int>::max())) {
            clusters += countCodePoints(piece);
        } else if (!piece.empty()) {
            std::vector<PangoLogAttr> attrs(static_cast<std::size_t>(countCodePoints(piece)) + 1);
            pango_get_log_attrs(piece.data(), static_cast<int>(piece.size()), -1,
                                pango_language_from_string("und"), attrs.data(),
                                static_cast<int>(attrs.size()));
            for (std::size_t i = 1; i < attrs.size(); ++i) clusters += attrs[i].is_cursor_position;
        }
        if (nul == text.size()) return clusters;
        ++clusters;
        start = nul + 1;
    }
}

}  // namespace larkspin
