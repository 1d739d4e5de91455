#include "Appearance/Desktop/AccessibilityAnnouncer.hpp"

#include <gtk/gtk.h>

#include "Platform/Text/TextTrimming.hpp"
#include "Platform/Log.hpp"
#include "Platform/Async/MainThread.hpp"

namespace larkspin::AccessibilityAnnouncer {

namespace {

std::optional<std::string>& last() {
    static std::optional<std::string> value;
    return value;
}

}  // namespace

void announce(std::string_view text, Priority priority, GtkWidget* from) {
    LARKSPIN_ASSERT_MAIN_THREAD();
    std::string trimmed = trimmedWhitespace(text);
    if (trimmed.empty()) return;
    last() = std::move(trimmed);
    AppLog::actions.info("无障碍播报 priority=%ld：%{private}s", static_cast<int>(priority),
                         *last());
    if (from != nullptr) {
        gtk_accessible_update_property(GTK_ACCESSIBLE(from), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                       last()->c_str(), -1);
    }
}

std::optional<std::string> lastAnnouncement() {
    return last();
}

void resetForTesting() {
    last().reset();
}

}  // namespace larkspin::AccessibilityAnnouncer
