#pragma once

#include <optional>
#include <string>
#include <string_view>

typedef struct _GtkWidget GtkWidget;

namespace larkspin {

// The one place through which the program speaks a short text to assistive
// technology. GTK 4.8 has no announcement API: the text is kept as the last
// announcement, logged, and set as the accessible description of the widget
// that announces it, which screen readers read out when it changes. Main
// thread.
namespace AccessibilityAnnouncer {

// How urgent an announcement is (its priority levels).
enum class Priority : int { low = 10, medium = 50, high = 90 };

// Trims white space and line breaks at both ends; an empty result announces
// nothing and keeps the last announcement. `from` may be null.
void announce(std::string_view text, Priority priority, GtkWidget* from = nullptr);

// The text of the last announcement, if any.
std::optional<std::string> lastAnnouncement();

void resetForTesting();

}  // namespace AccessibilityAnnouncer
}  // namespace larkspin
